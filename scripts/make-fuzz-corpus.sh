#!/usr/bin/env bash
# Regenerates the fuzzers' seed corpora in fuzz/corpus/ from files in this
# repository, packed by the host bundletool: whole bundles for
# fuzz_bundle_reader, and the raw compressed blocks cut out of them for
# fuzz_block_decoder. The result is the same on every run; the seeds are
# kept small so that the fuzzers mutate them quickly.
#   scripts/make-fuzz-corpus.sh          (needs build/host/bundletool)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEPHRA_BUILD:-$top/build}
tool=$build/host/bundletool
[ -x "$tool" ] || { echo "make-fuzz-corpus: build $tool first (scripts/build.sh)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
readers=$top/fuzz/corpus/bundle_reader
blocks=$top/fuzz/corpus/block_decoder
rm -rf "$readers" "$blocks"
mkdir -p "$readers" "$blocks" "$work/src"

# Sources: a small program image for the stub, Japanese and English text, and
# bytes that do not compress (a PNG's).
{ printf 'MZ'; head -c 94 /dev/zero; } > "$work/stub"
head -c 1400 "$top/demo/readme_traial.txt.in" > "$work/src/readme_traial.txt"
head -c 900 "$top/tools/bundletool/README.md" > "$work/src/notes.txt"
head -c 600 "$top/docs/progress-dialog.png" > "$work/src/picture.bin"
head -c 12000 "$top/extract/message_table.cpp" > "$work/src/messages.txt"
python3 -c 'import sys; x = 1; sys.stdout.buffer.write(bytes((x := x * 1103515245 + 12345 & 0x7FFFFFFF) >> 16 & 255 for _ in range(9000)))' > "$work/src/noise.bin"
printf 'abababababababababababababababababab' > "$work/src/repeats.txt"
: > "$work/src/empty.dat"
for n in i_autorun autorun setup unsetup zephra; do printf 'MZ%s\0\0\0\0%s' "$n" "$n$n$n" > "$work/src/$n.exe"; done
for n in system inst_bgm inst_se inst_voice_jp; do printf '%s data %s' "$n" "$n" > "$work/src/$n.dat"; done

pack() {  # pack OUTPUT [pack arguments...]
  local out=$1; shift
  "$tool" pack -q --stub "$work/stub" -o "$readers/$out" "$@" >/dev/null
}
cd "$work/src"
pack shipped-layout.bin -m "$top/tools/bundletool/shipped.manifest" --base "$work/src"
pack three-entries.bin -c readme_traial.txt -s picture.bin -s empty.dat
pack shadowed-name.bin --allow-duplicates -s a.txt=repeats.txt -c a.txt=notes.txt -s b.txt=empty.dat
pack long-name.bin -s "$(printf 'n%.0s' $(seq 259))=repeats.txt"
pack japanese-name.bin -c "読んでね.txt=readme_traial.txt" -s "表.dat=repeats.txt"
pack fast-level.bin --level fast --key 0 -c notes.txt -c repeats.txt -c empty.dat
pack no-entries.bin
# Entries of more than one 4096-byte piece.
pack pieces.bin -s noise.bin -c messages.txt

# The raw blocks (header and XORed stream) of every compressed entry, as the
# launcher's worker hands them to the decoder.
python3 - "$readers" "$blocks" <<'PY'
import os, struct, sys
readers, blocks = sys.argv[1:]
seen = set()
for bundle in sorted(os.listdir(readers)):
    data = open(os.path.join(readers, bundle), 'rb').read()
    p = len(data) - 4
    record = 0
    while struct.unpack_from('<I', data, p)[0] == 1978:
        size, = struct.unpack_from('<i', data, p - 4)
        length, = struct.unpack_from('<i', data, p - 8)
        name_at = p - 8 - length
        start = name_at - size
        block = data[start:name_at]
        record += 1
        if block.startswith(b'compress v1.0') and block not in seen:
            seen.add(block)
            stem = os.path.splitext(bundle)[0]
            out = '%s-%d.block' % (stem, record)
            open(os.path.join(blocks, out), 'wb').write(block)
        p = start - 4
PY
ls -l "$readers" "$blocks" | awk 'NR > 1 && NF > 4 { n++; s += $5 } END { printf "make-fuzz-corpus: %d files, %d bytes\n", n, s }'
