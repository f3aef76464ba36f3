#!/usr/bin/env bash
# scripts/fuzz.sh [SECONDS] [--coverage]
# Fuzzes longer than the test run does: builds the libFuzzer tree
# (build/fuzz: clang, ASan, UBSan) and runs every target for SECONDS (default
# 600), all at once, from the seed corpus in fuzz/corpus/, the kept findings
# in fuzz/regressions/ and what earlier runs found (kept in
# build/fuzz/fuzz-work/<target>/corpus). Prints runs, coverage counters and
# corpus size per target; a finding is saved under
# build/fuzz/fuzz-work/<target>/findings/ and makes the script fail.
# --coverage then reports the line and branch coverage that the whole corpus
# reaches in the code under test (llvm-profdata and llvm-cov of the clang's
# release, which scripts/setup.sh installs).
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEPHRA_BUILD:-$top/build}
seconds=600
coverage=0
for arg in "$@"; do
  case $arg in
    --coverage) coverage=1 ;;
    *) seconds=$arg ;;
  esac
done

"$top/scripts/setup.sh" || exit 1
configure() {  # configure DIR [cmake options...]
  local dir=$1; shift
  CC=clang CXX=clang++ cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEPHRA_LIBFUZZER=ON "$@" \
    >/dev/null && cmake --build "$dir" -j "$(nproc)" >/dev/null || exit 1
}
configure "$build/fuzz"
targets=$(cd "$build/fuzz/fuzz" && find . -type f -name 'fuzz_*' -perm -u+x | sort)

status=0
pids=()
for t in $targets; do
  name=$(basename "$t")
  "$top/scripts/run-fuzzer.sh" "$build/fuzz/fuzz/$t" "$seconds" "$build/fuzz/fuzz-work/${name#fuzz_}" \
    "$top/fuzz/corpus/${name#fuzz_}" "$top/fuzz/regressions/${name#fuzz_}" &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done

if [ $coverage -eq 1 ]; then
  # The tools must read the profiles of the clang that built the tree.
  llvm=$(readlink -f "$(command -v clang)" | sed -nE 's|^/usr/lib/llvm-([0-9]+)/.*|\1|p')
  profdata=$(command -v "llvm-profdata-$llvm" || true)
  cov=$(command -v "llvm-cov-$llvm" || true)
  if [ -z "$llvm" ] || [ -z "$profdata" ] || [ -z "$cov" ]; then
    echo "fuzz: --coverage needs llvm-profdata and llvm-cov of clang's release (llvm-${llvm:-N}: scripts/setup.sh)" >&2
    exit 1
  fi
  configure "$build/fuzz-coverage" -DZEPHRA_FUZZ_COVERAGE=ON
  for t in $targets; do
    name=$(basename "$t")
    short=${name#fuzz_}
    out=$build/fuzz-coverage/profile-$short
    rm -rf "$out" && mkdir -p "$out"
    LLVM_PROFILE_FILE="$out/%p.profraw" "$build/fuzz-coverage/fuzz/$t" -runs=0 \
      "$build/fuzz/fuzz-work/$short/corpus" "$top/fuzz/corpus/$short" "$top/fuzz/regressions/$short" >/dev/null 2>&1
    "$profdata" merge -sparse "$out"/*.profraw -o "$out/merged.profdata"
    echo "== coverage of the code under test by $name's corpus"
    "$cov" report "$build/fuzz-coverage/fuzz/$t" -instr-profile="$out/merged.profdata" \
      "$top/bundle/format/bundle_scan.cpp" "$top/bundle/format/bundle_index.cpp" "$top/bundle/format/lzss.cpp" |
      awk '/\.cpp|^TOTAL/ { sub(".*/", "", $1); printf "  %-18s lines %4d of %4d (%s)   branches %4d of %4d (%s)\n", $1, $8 - $9, $8, $10, $11 - $12, $11, $13 }'
  done
fi
exit $status
