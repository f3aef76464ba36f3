#!/usr/bin/env bash
# Configures and builds the three trees: build/host (native), build/win64
# (mingw-w64 x86-64: the same source, whose Windows suite runs on any 64-bit
# host) and build/win32 (mingw-w64 i686: the shipped launcher). Where Wine
# cannot run i686 programs here, only the launcher and bundletool.exe are
# built in build/win32, for the launcher's static check and the release:
# its test programs could not run. ZEPHRA_WIN32_ALL=1
# builds them all the same. Extra arguments go to every cmake configure step.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEPHRA_BUILD:-$top/build}
jobs=$(nproc)
. "$top/scripts/wine-env.sh"

configure() {  # configure TREE TOOLCHAIN [cmake arguments]
  local tree=$1 toolchain=$2
  shift 2
  cmake -S "$top" -B "$build/$tree" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        ${toolchain:+-DCMAKE_TOOLCHAIN_FILE="$top/cmake/$toolchain"} "$@" >/dev/null
}

configure host "" "$@"
cmake --build "$build/host" -j "$jobs"
configure win64 mingw-x86_64.cmake "$@"
cmake --build "$build/win64" -j "$jobs"
configure win32 mingw-i686.cmake "$@"
if [ "${ZEPHRA_WIN32_ALL:-0}" = 1 ] || zephra_wine_runs_i686 >/dev/null; then
  cmake --build "$build/win32" -j "$jobs"
else
  echo "build.sh: build/win32: the launcher and bundletool.exe only (the release's), as Wine cannot run i686" \
       "programs here ($(zephra_wine_runs_i686))"
  cmake --build "$build/win32" -j "$jobs" --target launcher bundletool
fi
