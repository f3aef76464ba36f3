#!/usr/bin/env bash
# Configures and builds the three trees: build/host (native), build/win32
# (mingw-w64 i686: the shipped launcher) and build/win64 (mingw-w64 x86-64:
# the same source, whose Windows suite runs on any 64-bit host). Extra
# arguments go to every cmake configure step.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEPHRA_BUILD:-$top/build}
jobs=$(nproc)

cmake -S "$top" -B "$build/host" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build/host" -j "$jobs"
for tree in win64:x86_64 win32:i686; do
  cmake -S "$top" -B "$build/${tree%%:*}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-${tree#*:}.cmake" "$@" >/dev/null
  cmake --build "$build/${tree%%:*}" -j "$jobs"
done
