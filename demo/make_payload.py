#!/usr/bin/env python3
"""Writes the demo payload: the ten files the launcher's bundle carries.

    make_payload.py --programs DIR --out DIR

DIR given to --programs holds the five stand-in programs of a Windows build
(<build>/win32/payload or <build>/win64/payload: i_autorun.exe, autorun.exe, setup.exe, unsetup.exe,
zephra.exe). The output folder receives the ten payload files and SUMS, a list
of each file's size and CRC-32 ("name size crc" per line) that the demo
compares with what the stand-in installer reports.

Everything is deterministic: the same programs give the same bytes on every
machine (the pseudo-random parts come from fixed seeds). Sizes follow the
shipped bundle: the game program decodes to about 9.7 MB, the four data files
are tens of megabytes together and hold the three largest entries.
"""
import argparse
import os
import random
import shutil
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "scripts"))
import entry_rows  # noqa: E402  the launcher's entry table, from its one source

# The entries in the launcher's order; the programs among them are the
# stand-ins the win32 build makes.
ENTRY_ORDER = [name for name, _, _ in entry_rows.rows()]
PROGRAMS = [name for name in ENTRY_ORDER if name.endswith(".exe")]

ZEPHRA_SIZE = 9_700_000
MB = 1 << 20


def program_like(size, seed):
    """size bytes that compress the way code and its tables do: recurring
    instruction-like phrases, string tables and zero padding between noise."""
    rng = random.Random(seed)
    phrases = [b"\x55\x8b\xec\x83\xec", b"\x8b\x45\x08\x50\xe8", b"\xc3\xcc\xcc\xcc",
               b"\x6a\x00\x6a\x00\xff\x15", b"\x89\x45\xfc\x8b\x4d\xfc", b"\x00" * 16,
               "ゼフラ".encode("cp932"), b"ZEPHRA_QX_", b"map%03d.dat\x00", b"\xff\xff\xff\xff"]
    out = bytearray()
    while len(out) < size:
        pick = rng.randrange(10)
        if pick < 3:
            out += rng.randbytes(rng.randrange(8, 96))
        elif pick < 9:
            out += rng.choice(phrases) * rng.randrange(1, 4)
        else:
            out += b"\x00" * rng.randrange(32, 512)
    return bytes(out[:size])


def data_file(tag, size, record, seed):
    """A game data archive: an 16-byte header, a table of contents of fixed-size
    records, then the records' bodies (noise, as packed audio or images are)."""
    rng = random.Random(seed)
    count = size // record
    header = tag.ljust(8, b"\0") + struct.pack("<II", count, record)
    toc = b"".join(struct.pack("<II", i * record, record) for i in range(count))
    body_size = size - len(header) - len(toc)
    return header + toc + rng.randbytes(body_size)


def readme():
    with open(os.path.join(HERE, "readme_traial.txt.in"), encoding="utf-8") as source:
        text = source.read()
    return text.replace("\n", "\r\n").encode("cp932")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--programs", required=True, help="folder with the five stand-in programs")
    parser.add_argument("--out", required=True, help="folder that receives the payload")
    args = parser.parse_args()

    for name in PROGRAMS:
        path = os.path.join(args.programs, name)
        if not os.path.isfile(path):
            sys.exit(f"make_payload: {path}: missing (build the Windows trees first: scripts/build.sh)")
    os.makedirs(args.out, exist_ok=True)

    contents = {}
    for name in PROGRAMS:
        with open(os.path.join(args.programs, name), "rb") as program:
            contents[name] = program.read()
    # The game program: the stand-in with an overlay behind its image, which
    # keeps it a valid program while it reaches the size of the real one.
    stub = contents["zephra.exe"]
    contents["zephra.exe"] = stub + program_like(ZEPHRA_SIZE - len(stub), seed=4)
    contents["readme_traial.txt"] = readme()
    contents["system.dat"] = data_file(b"ZQXSYS", 3 * MB, 4096, seed=5)
    contents["inst_bgm.dat"] = data_file(b"ZQXBGM", 22 * MB, 1 << 20, seed=7)
    contents["inst_se.dat"] = data_file(b"ZQXSE", 12 * MB, 65536, seed=8)
    contents["inst_voice_jp.dat"] = data_file(b"ZQXVOICE", 18 * MB, 262144, seed=9)

    if sorted(contents) != sorted(ENTRY_ORDER):
        sys.exit(f"make_payload: the recipes here make {sorted(contents)}, the entry table lists {sorted(ENTRY_ORDER)}")
    sums = []
    for name in ENTRY_ORDER:
        data = contents[name]
        # Written under a temporary name and moved, so an interrupted run never
        # leaves a short file that a later pack would take for the real one.
        final = os.path.join(args.out, name)
        with open(final + ".part", "wb") as out:
            out.write(data)
        os.replace(final + ".part", final)
        sums.append(f"{name} {len(data)} {zlib.crc32(data):08X}\n")
    with open(os.path.join(args.out, "SUMS"), "w", encoding="ascii") as out:
        out.writelines(sums)


if __name__ == "__main__":
    main()
