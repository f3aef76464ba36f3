#!/usr/bin/env bash
# Extraction speed under Wine: the job's two routes against CopyFileA of the
# same bytes, and the time from the launcher's start to the installer's start
# for the demo bundle, split into extraction and the dialog's fixed pauses.
# Expects built trees (scripts/build.sh); makes the demo payload and packs it
# when <build>/demo does not have it yet. Extra arguments go to the benchmark
# (--rounds N).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEPHRA_BUILD:-$top/build}
demo=$build/demo
bench=$build/win32/bench/extraction

if [ ! -f "$demo/payload/SUMS" ]; then
  python3 "$top/demo/make_payload.py" --programs "$build/win32/payload" --out "$demo/payload"
fi
pack() {
  "$build/host/bundletool" pack -q --stub "$1" -m "$top/tools/bundletool/shipped.manifest" \
    --base "$demo/payload" -o "$2" >/dev/null
}
pack "$build/win32/launcher.exe" "$bench/zephra_trial.exe"
pack "$bench/extraction_bench.exe" "$bench/extraction_bench_bundled.exe"

. "$top/scripts/wine-session.sh"
zephra_wine_session "$demo/wine"  # the demo's prefix
"$top/scripts/wine-run" "$bench/extraction_bench_bundled.exe" --launcher "$(winpath "$bench/zephra_trial.exe")" "$@"
