#!/usr/bin/env bash
# Extraction speed under Wine: the job's two routes against CopyFileA of the
# same bytes; the ten rows with the check record and, side by side in the same
# run, without it (a copy of the benchmark packed with --no-check); and the
# time from the launcher's start to the installer's start for the demo bundle,
# split into extraction and the dialog's fixed pauses, with the launcher's file
# size and its peak private bytes during those runs.
# Expects built trees (scripts/build.sh); makes the demo payload and packs it
# when <build>/demo does not have it yet. Extra arguments go to the benchmark
# (--rounds N).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEPHRA_BUILD:-$top/build}
demo=$build/demo
. "$top/scripts/wine-session.sh"
# The shipped i686 build where Wine can run it here, else the x86-64 one.
tree=$build/win64
zephra_wine_runs_i686 >/dev/null && tree=$build/win32
echo "extraction benchmark of $(basename "$tree")"
bench=$tree/bench/extraction

if [ ! -f "$demo/payload/SUMS" ]; then
  python3 "$top/demo/make_payload.py" --programs "$tree/payload" --out "$demo/payload"
fi
pack() {  # pack STUB OUTPUT [pack options]
  local stub=$1 out=$2; shift 2
  "$build/host/bundletool" pack -q --any-layout --stub "$stub" -m "$top/tools/bundletool/shipped.manifest" \
    --base "$demo/payload" -o "$out" "$@" >/dev/null
}
pack "$tree/launcher.exe" "$bench/zephra_trial.exe"
pack "$bench/extraction_bench.exe" "$bench/extraction_bench_bundled.exe"
pack "$bench/extraction_bench.exe" "$bench/extraction_bench_unchecked.exe" --no-check

zephra_wine_session "$demo/wine"  # the demo's prefix
"$top/scripts/wine-run" "$bench/extraction_bench_bundled.exe" --launcher "$(winpath "$bench/zephra_trial.exe")" \
  --stub "$(winpath "$tree/launcher.exe")" --unchecked "$(winpath "$bench/extraction_bench_unchecked.exe")" "$@"
