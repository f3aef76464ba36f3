#!/usr/bin/env bash
# windows-tests.sh TREE [CTEST ARGS...]
# Runs the Windows suite of one built tree (build/win64 or build/win32) under
# Wine, in that tree's own 64-bit prefix, on an X display, with the desktop
# keeper (tests/support/desktop_keeper.cpp) open for the whole run. Extra
# arguments go to ctest (-R PATTERN, --repeat ...).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
tree=$(realpath "${1:?usage: windows-tests.sh TREE [CTEST ARGS...]}")
shift
. "$top/scripts/wine-session.sh"
zephra_wine_session "$tree/wine"
setsid "$top/scripts/wine-run" "$tree/desktop_keeper.exe" </dev/null >/dev/null 2>&1 &
cd "$tree" && ctest --output-on-failure -j "$(nproc)" "$@"
