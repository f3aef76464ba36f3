#!/usr/bin/env bash
# Runs every test: installs what is missing, builds both trees, then runs the
# host tests natively and the Windows tests under Wine on an X display.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEPHRA_BUILD:-$top/build}

"$top/scripts/setup.sh"
"$top/scripts/build.sh"

. "$top/scripts/xvfb-env.sh"
zephra_start_xvfb
export WINEPREFIX=$build/win32/wine
"$top/scripts/wine-prefix" "$WINEPREFIX"
trap 'WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null; [ -n "${ZEPHRA_XVFB_PID:-}" ] && kill $ZEPHRA_XVFB_PID 2>/dev/null; true' EXIT

status=0
echo "== host tests"
(cd "$build/host" && ctest --output-on-failure -j "$(nproc)") || status=1
echo "== Windows tests under Wine"
(cd "$build/win32" && ctest --output-on-failure -j "$(nproc)") || status=1
exit $status
