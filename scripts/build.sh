#!/usr/bin/env bash
# Configures and builds both trees: build/host (native) and build/win32
# (mingw-w64 i686). Extra arguments go to both cmake configure steps.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEPHRA_BUILD:-$top/build}
jobs=$(nproc)

cmake -S "$top" -B "$build/host" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build/host" -j "$jobs"
cmake -S "$top" -B "$build/win32" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" "$@" >/dev/null
cmake --build "$build/win32" -j "$jobs"
