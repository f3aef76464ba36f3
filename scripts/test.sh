#!/usr/bin/env bash
# Runs every test: installs what is missing, builds every tree, then runs the
# host tests natively, under AddressSanitizer and UBSan and as libFuzzer
# programs, and the Windows suite under Wine in 64-bit prefixes on an X
# display: on the x86-64 build on every host, and on the i686 build (the
# shipped one, under WoW64 as on users' 64-bit Windows) where the host runs
# 32-bit x86 code and 32-bit Wine is installed. Where it does not, the i686
# launcher is checked statically. The last lines say which builds ran and how
# many tests each passed.
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

logs=$build/test-logs
mkdir -p "$logs"
status=0 passed_all=0 failed_all=0
summary=()

# suite NAME LOG COMMAND...
# Runs one ctest suite with its output shown and kept in LOG, and adds its
# counts from ctest's closing line to the summary.
suite() {
  local name=$1 log=$2 code=0
  shift 2
  echo "== $name"
  "$@" 2>&1 | tee "$log" || code=$?
  local counts total failed
  counts=$(grep -oE '[0-9]+ tests failed out of [0-9]+' "$log" | tail -1 || true)
  if [ -z "$counts" ]; then
    summary+=("$name: did not run to the end (exit $code)")
    failed_all=$((failed_all + 1))
  else
    failed=${counts%% *} total=${counts##* }
    summary+=("$name: $((total - failed)) of $total passed")
    passed_all=$((passed_all + total - failed)) failed_all=$((failed_all + failed))
  fi
  [ $code -eq 0 ] || status=1
}

ctest_in() { (cd "$1" && shift && ctest --output-on-failure -j "$(nproc)" "$@"); }

suite "host" "$logs/host.log" ctest_in "$build/host"
suite "host under ASan+UBSan" "$logs/host-asan.log" ctest_in "$build/host-asan"
suite "fuzzers (libFuzzer, ASan+UBSan)" "$logs/fuzz.log" ctest_in "$build/fuzz"
cat "$build"/fuzz/fuzz-work/*/summary 2>/dev/null || true

# A Windows case that fails fails the run: none is tried again. (A start
# that Wine's loader fails is retried by the test support, as a start, not as
# a test: scripts/wine-env.sh says why such starts fail.)
. "$top/scripts/wine-env.sh"
suite "Windows x86-64 (build/win64, 64-bit Wine)" "$logs/win64.log" \
  "$top/scripts/windows-tests.sh" "$build/win64"
if i386=$(zephra_wine_runs_i686); then
  suite "Windows i686 (build/win32, WoW64 in 64-bit Wine)" "$logs/win32.log" \
    "$top/scripts/windows-tests.sh" "$build/win32"
else
  echo "== Windows i686: not run under Wine: $i386"
  summary+=("Windows i686 (build/win32): not run, $i386")
fi

# Every launcher built, without running it: the i686 one is checked so even
# where it cannot run. Then what its link kept: its size within the budget,
# none of the runtime it does without.
for tree in win32:i386 win64:amd64; do
  if found=$(python3 "$top/scripts/check-launcher-pe.py" "$build/${tree%%:*}/launcher.exe" "${tree#*:}"); then
    summary+=("build/${tree%%:*}/launcher.exe checked statically: $found")
  else
    summary+=("build/${tree%%:*}/launcher.exe FAILED its static check: $found")
    status=1 failed_all=$((failed_all + 1))
  fi
  if found=$(cd "$build/.." && python3 "$top/scripts/check-launcher-runtime.py" \
             "$(basename "$build")/${tree%%:*}/launcher.exe" "${tree#*:}"); then
    summary+=("$found")
  else
    summary+=("FAILED its runtime check: $found")
    status=1 failed_all=$((failed_all + 1))
  fi
done

# The shipped launcher, built once more from a copy of the sources in
# another folder: the same bytes (no Wine needed, so on every host).
if found=$(python3 "$top/tests/launcher/reproducible_launcher.py" "$build/win32/launcher.exe" "$top" "$build/win32" \
           --rebuild "$top/cmake/mingw-i686.cmake"); then
  summary+=("$found")
else
  summary+=("build/win32/launcher.exe is NOT reproducible: $found")
  status=1 failed_all=$((failed_all + 1))
fi

echo
echo "== summary"
printf '%s\n' "${summary[@]}"
echo "total: $passed_all passed, $failed_all failed"
exit $status
