#!/usr/bin/env bash
# signed_launcher.sh setup|cleanup OUT BUNDLETOOL LAUNCHER PROGRAMS
#
# A packed launcher signed at test time, for the launcher scenarios: OUT
# receives payload/ (the five stand-in programs of PROGRAMS, the read-me and
# four data files), zephra_signed.exe (the five programs signed by
# osslsigncode with a certificate made here by openssl, LAUNCHER packed by
# BUNDLETOOL with the shipped manifest and --require-signed-programs, then
# signed in turn), and the reports of `osslsigncode verify` and `bundletool
# verify` on it, each with its exit status on its last line, and
# zephra_stripped.exe, the signed launcher with its signature removed again
# by osslsigncode (which keeps the zero padding signing put before the
# table; the packed size is made to need one), with the report of `bundletool
# verify` on it. The commands are
# those of README.md ("Signing a packed launcher"), packing at the fast level
# to save time. A ctest fixture runs this before the
# scenarios; it writes OUT/ready when everything was made, or OUT/skipped
# with the reason when osslsigncode or openssl is missing (the set-up
# installs both), or OUT/failed when a step failed. Always exits 0.
set -u
action=${1:?usage: signed_launcher.sh setup|cleanup OUT BUNDLETOOL LAUNCHER PROGRAMS}
out=${2:?}
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)

rm -rf "$out"
[ "$action" = cleanup ] && exit 0
bundletool=${3:?} launcher=${4:?} programs=${5:?}
mkdir -p "$out/payload"

fail() {
  echo "$*" > "$out/failed"
  echo "signed_launcher: $*"
  exit 0
}
for tool in osslsigncode openssl; do
  if ! command -v $tool >/dev/null; then
    echo "$tool is not installed (scripts/setup.sh installs it)" > "$out/skipped"
    exit 0
  fi
done
[ -x "$bundletool" ] || fail "$bundletool is not built (scripts/build.sh builds it)"

payload=$out/payload
# The entry table's files: the stand-in programs, the demo read-me, and data
# files of several 4096-byte pieces each, the same on every run.
python3 - "$top" "$programs" "$payload" <<'PY' || fail "cannot write the payload (are the stand-in programs built?)"
import random, shutil, sys
top, programs, payload = sys.argv[1:4]
sys.path.insert(0, top + "/scripts")
import entry_rows
for seed, (name, _, _) in enumerate(entry_rows.rows()):
    if name.endswith(".exe"):
        shutil.copy(f"{programs}/{name}", f"{payload}/{name}")
    elif name.endswith(".txt"):
        shutil.copy(f"{top}/demo/readme_traial.txt.in", f"{payload}/{name}")
    else:
        with open(f"{payload}/{name}", "wb") as f:
            f.write(random.Random(seed).randbytes(60000 + 40000 * seed))
PY

packed=$out/zephra_trial.exe
signed=$out/zephra_signed.exe
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$out/key.pem" -out "$out/cert.pem" -days 2 -subj /CN=test \
  > "$out/openssl.txt" 2>&1 || fail "openssl req failed: $(cat "$out/openssl.txt")"
for program in "$payload"/*.exe; do
  osslsigncode sign -certs "$out/cert.pem" -key "$out/key.pem" -n "ZEPHRA QX trial" -in "$program" \
    -out "$program.signed" > "$out/sign.txt" 2>&1 || fail "osslsigncode sign $program failed: $(cat "$out/sign.txt")"
  mv "$program.signed" "$program"
done
pack() {
  "$bundletool" pack -q -l fast --require-signed-programs --stub "$launcher" \
    -m "$top/tools/bundletool/shipped.manifest" --base "$payload" \
    -o "$packed" > "$out/pack.txt" 2>&1 || fail "bundletool pack failed: $(cat "$out/pack.txt")"
}
pack
# Signing pads to an 8-byte boundary: a read-me one byte longer makes a
# packed size that needs a padding (the read-me is stored as it is).
if [ $(($(stat -c %s "$packed") % 8)) -eq 0 ]; then
  readme=$(python3 -c "import sys; sys.path.insert(0, '$top/scripts'); import entry_rows
print([n for n, _, _ in entry_rows.rows() if n.endswith('.txt')][0])")
  printf '\n' >> "$payload/$readme"
  pack
fi
osslsigncode sign -certs "$out/cert.pem" -key "$out/key.pem" -n "ZEPHRA QX trial" -in "$packed" -out "$signed" \
  > "$out/sign.txt" 2>&1 || fail "osslsigncode sign failed: $(cat "$out/sign.txt")"

osslsigncode verify -CAfile "$out/cert.pem" -in "$signed" > "$out/osslsigncode-verify.txt" 2>&1
echo "exit $?" >> "$out/osslsigncode-verify.txt"
"$bundletool" verify "$signed" > "$out/bundletool-verify.txt" 2>&1
echo "exit $?" >> "$out/bundletool-verify.txt"

stripped=$out/zephra_stripped.exe
osslsigncode remove-signature -in "$signed" -out "$stripped" > "$out/strip.txt" 2>&1 ||
  fail "osslsigncode remove-signature failed: $(cat "$out/strip.txt")"
padding=$(($(stat -c %s "$stripped") - $(stat -c %s "$packed")))
[ "$padding" -ge 1 ] && [ "$padding" -le 7 ] ||
  fail "removing the signature left $padding bytes after the bundle, not a padding of 1 to 7"
"$bundletool" verify "$stripped" > "$out/bundletool-verify-stripped.txt" 2>&1
echo "exit $?" >> "$out/bundletool-verify-stripped.txt"
touch "$out/ready"
exit 0
