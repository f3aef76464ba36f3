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

# Sources: the headers of a small PE image for the stub (so that a signature
# can be recorded in it), Japanese and English text, and bytes that do not
# compress (a PNG's).
python3 - "$work/stub" <<'PY'
import struct, sys
image = bytearray(0x40 + 24 + 224)
image[0:2] = b'MZ'
struct.pack_into('<I', image, 0x3C, 0x40)
image[0x40:0x44] = b'PE\0\0'
struct.pack_into('<H', image, 0x40 + 4 + 16, 224)   # SizeOfOptionalHeader
struct.pack_into('<H', image, 0x58, 0x10B)          # PE32
struct.pack_into('<I', image, 0x58 + 92, 16)        # NumberOfRvaAndSizes
open(sys.argv[1], 'wb').write(image)
PY
head -c 1400 "$top/demo/readme_traial.txt.in" > "$work/src/readme_traial.txt"
head -c 900 "$top/tools/bundletool/README.md" > "$work/src/notes.txt"
head -c 600 "$top/docs/progress-dialog.png" > "$work/src/picture.bin"
head -c 12000 "$top/extract/message_table.cpp" > "$work/src/messages.txt"
python3 -c 'import sys; x = 1; sys.stdout.buffer.write(bytes((x := x * 1103515245 + 12345 & 0x7FFFFFFF) >> 16 & 255 for _ in range(9000)))' > "$work/src/noise.bin"
printf 'abababababababababababababababababab' > "$work/src/repeats.txt"
: > "$work/src/empty.dat"
# Small files under the entry table's names (the read-me is made above).
for name in $(python3 "$top/scripts/entry_rows.py" --names); do
  n=${name%.*}
  case $name in
    *.exe) printf 'MZ%s\0\0\0\0%s' "$n" "$n$n$n" > "$work/src/$name" ;;
    *.dat) printf '%s data %s' "$n" "$n" > "$work/src/$name" ;;
  esac
done

pack() {  # pack OUTPUT [pack arguments...]
  local out=$1; shift
  "$tool" pack -q --any-layout --stub "$work/stub" -o "$readers/$out" "$@" >/dev/null
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
# A bundle as older tools wrote it, without the check record.
pack no-check.bin --no-check -c notes.txt -s repeats.txt

# Made from packed seeds: a signed launcher (padding and a certificate table
# behind the bundle, recorded in directory entry 4), and check records that
# are cut short or name an entry the bundle lacks.
python3 - "$readers" <<'PY'
import os, struct, sys, zlib
readers = sys.argv[1]
def read(name): return bytearray(open(os.path.join(readers, name), 'rb').read())
def write(name, data): open(os.path.join(readers, name), 'wb').write(data)

signed = read('three-entries.bin')
signed += bytes(-len(signed) % 8)
table = struct.pack('<IHH', 80, 0x0200, 0x0002) + bytes(range(72))
struct.pack_into('<II', signed, 0x58 + 96 + 4 * 8, len(signed), len(table))
write('signed.bin', signed + table)

def with_record(data, record):
    # The last record is the check record: replace its data.
    size, = struct.unpack_from('<i', data, len(data) - 8)
    length, = struct.unpack_from('<i', data, len(data) - 12)
    name_at = len(data) - 12 - length
    start = name_at - size
    return data[:start] + record + data[name_at:len(data) - 8] + struct.pack('<iI', len(record), 1978)

packed = read('pieces.bin')
size, = struct.unpack_from('<i', packed, len(packed) - 8)
length, = struct.unpack_from('<i', packed, len(packed) - 12)
record = packed[len(packed) - 12 - length - size:len(packed) - 12 - length]
write('record-short.bin', with_record(packed, record[:-6]))
body = record[:-4]
count, = struct.unpack_from('<I', body, 4)
ghost = b'ghost.txt\0'
body = body[:4] + struct.pack('<I', count + 1) + body[8:] + struct.pack('<I', len(ghost)) + ghost + struct.pack('<I', 0x12345678)
write('record-names-absent.bin', with_record(packed, body + struct.pack('<I', zlib.crc32(body))))
PY

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
# Streams whose group of seven longest references and one more item starts
# 144 to 149 output bytes before the end, past the first 4096, with stray
# bytes behind (tests/support/lzss_test_codec.h, StreamEndingAtTheOutputMargin,
# says why): as raw streams (two bytes of D, then the stream) and as blocks.
python3 - "$blocks" <<'PY'
import os, struct, sys
blocks = sys.argv[1]
def margin_stream(before, left, distance):
    s, out = bytearray(), 0
    def literals(count):
        nonlocal out
        for _ in range(0, count, 8):
            s.append(0xFF)
            for _ in range(8):
                s.append((out * 7 + 3) & 0xFF)
                out += 1
    literals(before)
    s.append(0x00)
    for _ in range(8):
        q = (4078 + out - distance) & 4095
        s += bytes((q & 0xFF, (q >> 8) << 4 | 15))
        out += 18
    if out < before + left:
        literals(before + left - out)
    return bytes(s + bytes(48)), before + left
for left, distance in ((144, 5), (146, 100), (149, 5), (149, 4096)):
    stream, size = margin_stream(4096, left, distance)
    name = os.path.join(blocks, 'margin-%d-%d' % (left, distance))
    open(name + '.bin', 'wb').write(struct.pack('<H', size) + stream)
    key = 0xA5
    open(name + '.block', 'wb').write(b'compress v1.0\0\0' + bytes((key,)) + struct.pack('<I', size) +
                                      bytes(b ^ key for b in stream))
PY
ls -l "$readers" "$blocks" | awk 'NR > 1 && NF > 4 { n++; s += $5 } END { printf "make-fuzz-corpus: %d files, %d bytes\n", n, s }'
