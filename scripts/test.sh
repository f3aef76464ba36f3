#!/usr/bin/env bash
# Runs every test: installs what is missing, builds both trees, then runs the
# host tests natively and the Windows tests under Wine on an X display.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEPHRA_BUILD:-$top/build}

"$top/scripts/setup.sh"
"$top/scripts/build.sh"
# The host code once more under AddressSanitizer and UBSan: the bundle scan,
# the decoder and the tool meet hostile input in their tests and fuzz drivers.
cmake -S "$top" -B "$build/host-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEPHRA_SANITIZE=ON >/dev/null
cmake --build "$build/host-asan" -j "$(nproc)"
# The fuzz targets as libFuzzer programs (clang, ASan, UBSan): every seed and
# kept finding, then ZEPHRA_FUZZ_SECONDS (default 30) of fuzzing per target.
CC=clang CXX=clang++ cmake -S "$top" -B "$build/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEPHRA_LIBFUZZER=ON \
  -DZEPHRA_FUZZ_SECONDS="${ZEPHRA_FUZZ_SECONDS:-30}" >/dev/null
cmake --build "$build/fuzz" -j "$(nproc)"

status=0
echo "== host tests"
(cd "$build/host" && ctest --output-on-failure -j "$(nproc)") || status=1
echo "== host tests under AddressSanitizer and UBSan"
(cd "$build/host-asan" && ctest --output-on-failure -j "$(nproc)") || status=1
echo "== fuzzers (libFuzzer under AddressSanitizer and UBSan)"
(cd "$build/fuzz" && ctest --output-on-failure -j "$(nproc)") || status=1
cat "$build"/fuzz/fuzz-work/*/summary 2>/dev/null

. "$top/scripts/wine-session.sh"
zephra_wine_session "$build/win32/wine"
# Keeps the prefix's desktop open for the whole run (tests/support/desktop_keeper.cpp).
setsid "$top/scripts/wine-run" "$build/win32/desktop_keeper.exe" </dev/null >/dev/null 2>&1 &
echo "== Windows tests under Wine"
(cd "$build/win32" && ctest --output-on-failure -j "$(nproc)") || status=1
exit $status
