#!/usr/bin/env bash
# run-fuzzer.sh TARGET SECONDS WORKDIR SEED_FOLDER... [-- LIBFUZZER_FLAGS...]
# Runs one libFuzzer target for SECONDS, starting from the seed folders (read
# only) and the inputs it found before in WORKDIR/corpus (kept between runs).
# A finding (crash, failed check, sanitizer report, an input running over 10 s
# or taking over 2 GB) is saved in WORKDIR/findings/ and fails the run. Prints
# one summary line: runs, coverage, corpus size.
set -uo pipefail
target=${1:?usage: run-fuzzer.sh TARGET SECONDS WORKDIR SEED_FOLDER...}
seconds=${2:?}
work=${3:?}
shift 3
seeds=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  [ -d "$1" ] && seeds+=("$1")
  shift
done
[ "${1:-}" = -- ] && shift
mkdir -p "$work/corpus" "$work/findings"
log=$work/last-run.log
name=$(basename "$target")

"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
          -print_final_stats=1 -artifact_prefix="$work/findings/" "$@" \
          "$work/corpus" "${seeds[@]}" >"$log" 2>&1
status=$?

runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
done_line=$(grep -E '^#[0-9]+.*(DONE|cov:)' "$log" | tail -1)
cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$done_line")
features=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$done_line")
corpus=$(find "$work/corpus" -type f | wc -l)
echo "$name: ${runs:-?} runs in ${seconds} s (${speed:-?}/s), coverage ${cov:-?} edges, ${features:-?} features, corpus ${corpus} inputs" |
  tee "$work/summary"

if [ $status -ne 0 ]; then
  echo "$name: FINDING (exit $status); the input is kept in $work/findings/:" >&2
  ls -l "$work/findings" >&2
  tail -60 "$log" >&2
  echo "Once fixed, keep it as a regression input: copy it into fuzz/regressions/${name#fuzz_}/." >&2
  exit 1
fi
