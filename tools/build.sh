#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR) with the given build type.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
build_type=${1:-RelWithDebInfo}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE="$build_type" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
