#!/usr/bin/env bash
# The whole journey on this machine: installs what is missing, builds the
# trees, makes the demo payload, packs it behind the launcher and runs the
# launcher under Wine inside a virtual desktop (on Xvfb when there is no
# display), taking screenshots while it runs. Then reports what happened:
# the entries written, the installer's start, the removal, the exit code.
#
# Everything lands in <build>/demo: payload/ (the ten files and their sums),
# zephra_trial.exe (the launcher with its bundle), shots/ (screenshots),
# report.txt (what the stand-in installer found), wine/ (the demo's own Wine
# prefix, so the test prefix keeps its settings).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEPHRA_BUILD:-$top/build}
demo=$build/demo

"$top/scripts/setup.sh"
"$top/scripts/build.sh"

# The shipped i686 launcher where Wine can run it here, else the x86-64 build
# of the same source, each with the stand-in programs of its own build.
. "$top/scripts/wine-session.sh"
if why=$(zephra_wine_runs_i686); then
  tree=$build/win32
  echo "== the i686 launcher (build/win32), under WoW64 in a 64-bit Wine prefix"
else
  tree=$build/win64
  echo "== the x86-64 launcher (build/win64): the i686 one cannot run here, $why"
fi

echo "== demo payload"
python3 "$top/demo/make_payload.py" --programs "$tree/payload" --out "$demo/payload"
"$build/host/bundletool" pack -q --stub "$tree/launcher.exe" \
  -m "$top/tools/bundletool/shipped.manifest" --base "$demo/payload" -o "$demo/zephra_trial.exe"
"$build/host/bundletool" list "$demo/zephra_trial.exe"

echo "== running the launcher under Wine"
zephra_wine_session "$demo/wine"

temp_windows=$(wine cmd /c 'echo %TEMP%' </dev/null 2>/dev/null | tr -d '\r')
temp_unix=$(winepath -u "$temp_windows" 2>/dev/null)
temp_unix=${temp_unix%/}
rm -rf "$demo/shots" "$demo/report.txt" "$temp_unix/ZEQXPC"
mkdir -p "$demo/shots"
printf '[standin]\r\nreport=%s\r\nwindow_ms=4000\r\n' "$(winpath "$demo/report.txt")" > "$demo/standin.ini"
export ZEPHRA_STANDIN_CONTROL=$(winpath "$demo/standin.ini")

started=$(date +%s%N)
set +e
timeout 300 wine "$demo/zephra_trial.exe" </dev/null >/dev/null 2>&1 &
launcher=$!
# Screenshots until the launcher ends; consecutive identical ones are dropped.
n=0 last=
while kill -0 $launcher 2>/dev/null; do
  shot=$(printf '%s/shots/shot-%03d.png' "$demo" $n)
  if import -window root "$shot" 2>/dev/null; then
    sum=$(md5sum < "$shot")
    if [ "$sum" = "$last" ]; then rm -f "$shot"; else last=$sum; n=$((n + 1)); fi
  fi
  sleep 0.1
done
wait $launcher
code=$?
set -e
elapsed=$(( ($(date +%s%N) - started) / 1000000 ))

echo "== what happened"
python3 - "$demo" "$temp_unix" "$code" "$elapsed" "$temp_windows" "$(basename "$tree")/launcher.exe" <<'PY'
import os, sys
demo, temp, code, elapsed, temp_windows, launcher = sys.argv[1:7]
code = int(code)
expected = {}
for line in open(os.path.join(demo, "payload", "SUMS"), encoding="ascii"):
    name, size, crc = line.split()
    expected[name] = (int(size), crc)
report_path = os.path.join(demo, "report.txt")
lines = open(report_path, encoding="cp932").read().splitlines() if os.path.exists(report_path) else []
facts = {}
for line in lines:
    key, _, rest = line.partition(" ")
    facts.setdefault(key, []).append(rest)

print(f"launcher: {launcher}")
print(f"launcher exit code: {code}" + ("" if code == 0 else "  (expected 0)"))
if not lines:
    print("installer started: no (it wrote no report)")
else:
    print(f"installer started: yes, as {facts['self'][0]}")
    argc = facts.get("argc", ["?"])[0]
    print(f"  command line: {facts['command_line'][0]}  ({'no arguments' if argc == '1' else f'argc {argc}'})")
    print(f"  installer mutex: {facts['mutex'][0]}")
good = 0
for rest in facts.get("file", []):
    parts = rest.split()
    name = parts[0]
    want = expected[name]
    if parts[1] == "missing":
        state = "missing"
    else:
        ok = (int(parts[1]), parts[2]) == want
        good += ok
        state = f"{int(parts[1]):>10} bytes  CRC {parts[2]}  " + ("matches the payload" if ok else f"DIFFERS (payload {want})")
        if parts[3] == "readonly":
            state += ", read-only"
    print(f"  {name:<18} {state}")
print(f"entries written: {good} of {len(expected)} as packed")
left = os.path.join(temp, "ZEQXPC")
shown = temp_windows.rstrip("\\") + "\\ZEQXPC"
if os.path.exists(left):
    print(f"files removed: NO, {shown} holds {sorted(os.listdir(left))}")
else:
    print(f"files removed: yes, {shown} is gone")
shots = sorted(f for f in os.listdir(os.path.join(demo, "shots")) if f.endswith(".png"))
print(f"screenshots: {len(shots)} in {os.path.join(demo, 'shots')}")
print(f"run time: {int(elapsed) / 1000:.1f} s (the installer's window stays 4 s of it)")
sys.exit(0 if code == 0 and good == len(expected) and not os.path.exists(left) else 1)
PY
