#!/usr/bin/env python3
"""reproducible_launcher.py LAUNCHER SOURCE_DIR BUILD_DIR

Checks that the shipped launcher carries nothing of the machine or the
moment it was built, which is what makes two builds of one commit in
different folders byte-identical: the PE file header's TimeDateStamp is zero
(linked with --no-insert-timestamp), no debug directory carries a time stamp,
and neither the source folder, the build folder, the home folder, the user's
name nor the host's name occurs in the file (in 8-bit or UTF-16 text), as
__FILE__ strings would put them there without -ffile-prefix-map.
Exits 1 naming every fault found.
"""
import getpass
import os
import socket
import struct
import sys


def pe_faults(data):
    if data[:2] != b"MZ":
        return ["not a PE image"]
    nt = struct.unpack_from("<I", data, 0x3C)[0]
    if data[nt:nt + 4] != b"PE\0\0":
        return ["no PE signature"]
    faults = []
    sections, stamp = struct.unpack_from("<HI", data, nt + 6)
    if stamp != 0:
        faults.append(f"the PE file header's TimeDateStamp is {stamp:#x}, not 0 (link with --no-insert-timestamp)")
    optional = nt + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    debug_rva, debug_size = struct.unpack_from("<II", data, directories + 6 * 8)
    if debug_size:
        table = optional + struct.unpack_from("<H", data, nt + 20)[0]
        for i in range(sections):
            _, vsize, va, raw_size, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            if va <= debug_rva < va + max(vsize, raw_size):
                at = raw + debug_rva - va
                for k in range(debug_size // 28):
                    if struct.unpack_from("<I", data, at + 28 * k + 4)[0] != 0:
                        faults.append("a debug directory entry carries a time stamp")
    return faults


def main():
    launcher, source, build = sys.argv[1:4]
    with open(launcher, "rb") as f:
        data = f.read()
    faults = pe_faults(data)
    traces = {"the source folder": os.path.realpath(source), "the build folder": os.path.realpath(build),
              "the home folder": os.path.expanduser("~")}
    for what, value in (("the user's name", getpass.getuser()), ("the host's name", socket.gethostname())):
        if len(value) >= 4:  # shorter names occur by chance in any binary
            traces[what] = value
    for what, text in traces.items():
        if not text or text == "/":
            continue
        for encoding in ("utf-8", "utf-16-le"):
            if text.encode(encoding) in data:
                faults.append(f"{what} ({text}) occurs in it ({encoding})")
    for fault in faults:
        print(f"{launcher}: {fault}")
    if faults:
        return 1
    print(f"{launcher}: no time stamp, no trace of the build machine")
    return 0


if __name__ == "__main__":
    sys.exit(main())
