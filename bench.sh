#!/usr/bin/env bash
# Installs what is missing, builds in Release into build-bench/, makes the
# benchmark's data set once (kept in build-bench/bench-data) and prints the
# benchmark table. The real program is started on a virtual X server, the
# shop's server is a PostgreSQL 15 of the benchmark's own on 127.0.0.1.
#   ./bench.sh                 every row
#   ./bench.sh --only server   the rows of the server
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DPELLORY_BENCH=ON >/dev/null
cmake --build build-bench --target pellory_bench -j"$(nproc)"
xvfb-run -a -s "-screen 0 1280x1024x24" build-bench/bin/pellory_bench build-bench/bench-data "$@"
