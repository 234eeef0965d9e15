#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR) with the given build type.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
build_type=${1:-RelWithDebInfo}
# A compiler cache, where the machine has one, spares rebuilding what several
# checkouts of the tree share.
launcher=()
command -v ccache >/dev/null &&
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE="$build_type" "${launcher[@]}" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
