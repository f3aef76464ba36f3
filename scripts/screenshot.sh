#!/usr/bin/env bash
# screenshot.sh [--dpi N] [--cp1252] [OUTPUT.png]
# Takes a picture of the progress dialog while it extracts the demo payload:
# runs the dialog under Wine inside a virtual desktop (which draws window
# captions) on a private Xvfb display, grabs the screen repeatedly, and keeps
# a frame from the middle of the extraction, cropped to the dialog. Default
# output: docs/progress-dialog.png.
#
# Here the whole payload is written in a fraction of a second, too quickly to
# be caught part way, so the picture comes from the progress dialog's test
# host (tests/extract/dialog_host.cpp) with the demo bundle appended:
# the same dialog, template and worker as the launcher's, with a pause before
# each entry.
#
# Uses the builds under $ZEPHRA_BUILD (default <repo>/build), building the
# targets it needs; everything else lands in <build>/screenshot, with a Wine
# prefix of its own so that the test prefix keeps its settings. --dpi N sets
# that prefix's display resolution to N dots per inch (96 is the default;
# 144 is 150 %), in a prefix of its own; default output then
# docs/progress-dialog-<N>dpi.png. --cp1252 runs it under a Western system
# code page (LC_ALL=en_US.UTF-8, GetACP 1252), in a prefix of its own, to show
# the Japanese texts drawn right there too; default output then
# docs/progress-dialog-cp1252.png.
#
# The i686 tree is used where this host runs 32-bit programs
# (scripts/can-run-i386), else the x86-64 one.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEPHRA_BUILD:-$top/build}
dpi= codepage=
while [ $# -gt 0 ]; do
  case $1 in
    --dpi) dpi=${2:?screenshot.sh: --dpi needs a number}; shift 2 ;;
    --cp1252) codepage=cp1252; shift ;;
    *) break ;;
  esac
done
suffix=${dpi:+-${dpi}dpi}${codepage:+-$codepage}
output=$(realpath -m "${1:-$top/docs/progress-dialog$suffix.png}")
tree=win32
"$top/scripts/can-run-i386" >/dev/null 2>&1 || tree=win64
work=$build/screenshot

for tool in Xvfb xdpyinfo import convert wine python3; do
  command -v $tool >/dev/null || { echo "screenshot.sh: $tool is missing" >&2; exit 1; }
done
[ -f "$build/host/CMakeCache.txt" ] && [ -f "$build/$tree/CMakeCache.txt" ] ||
  { echo "screenshot.sh: no builds under $build (run scripts/build.sh)" >&2; exit 1; }
cmake --build "$build/host" -j 2 --target bundletool >/dev/null
cmake --build "$build/$tree" -j 2 --target progress_dialog_host standin_installer standin_autorun standin_setup \
  standin_unsetup standin_zephra >/dev/null

rm -rf "$work/frames" "$work/payload" "$work/dest"
mkdir -p "$work/frames"
python3 "$top/demo/make_payload.py" --programs "$build/$tree/payload" --out "$work/payload" >/dev/null
"$build/host/bundletool" pack -q --any-layout --stub "$build/$tree/tests/extract/progress_dialog_host.exe" \
  -m "$top/tools/bundletool/shipped.manifest" --base "$work/payload" -o "$work/dialog_with_bundle.exe" >/dev/null

. "$top/scripts/wine-session.sh"
unset DISPLAY  # always a private display: nothing else may be on the picture
zephra_wine_session "$work/wine$suffix"
# The session's environment says Japanese; Wine reads the code page from it
# when each process starts.
if [ -n "$codepage" ]; then export LC_ALL=en_US.UTF-8; fi
if [ -n "$dpi" ]; then
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f </dev/null >/dev/null 2>&1
  wineserver -k  # the desktop and the services take the resolution when they start
  wineserver -w
fi

mkdir -p "$work/dest"
timeout 300 wine explorer /desktop=shot,1024x768 "$work/dialog_with_bundle.exe" "$(winpath "$work/dest")\\" \
  "$(winpath "$work/report.txt")" slow 400 </dev/null >/dev/null 2>&1 &
dialog=$!
n=0
while kill -0 $dialog 2>/dev/null && [ $n -lt 600 ]; do
  import -window root "$(printf '%s/frames/frame-%04d.png' "$work" $n)" 2>/dev/null && n=$((n + 1))
  sleep 0.1
done
wait $dialog || true

# Frames that show the dialog have many colours; the bare desktop has few.
# Keep the middle one of those, which catches the bar part way.
dialog_frames=()
for frame in "$work"/frames/frame-*.png; do
  [ -e "$frame" ] || continue
  if [ "$(convert "$frame" -format %k info:)" -gt 8 ]; then dialog_frames+=("$frame"); fi
done
[ ${#dialog_frames[@]} -gt 0 ] || { echo "screenshot.sh: the dialog never showed" >&2; exit 1; }
chosen=${dialog_frames[$(( ${#dialog_frames[@]} / 2 ))]}

# Crop to the dialog: everything that differs from the desktop's colour.
geometry=$(convert "$chosen" -trim -format '%wx%h%O' info:)
background=$(convert "$chosen" -format '%[pixel:p{0,0}]' info:)
mkdir -p "$(dirname "$output")"
convert "$chosen" -crop "$geometry" +repage -bordercolor "$background" -border 12 -strip "$output"
rm -rf "$work/dest"
echo "$output: from $(basename "$chosen"), ${#dialog_frames[@]} of $n frames showed the dialog"
