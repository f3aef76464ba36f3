#!/usr/bin/env python3
"""reproducible_launcher.py LAUNCHER SOURCE_DIR BUILD_DIR [--rebuild TOOLCHAIN_FILE]

Checks that the shipped launcher carries nothing of the machine or the
moment it was built: the PE file header's TimeDateStamp is zero (linked with
--no-insert-timestamp), no debug directory carries a time stamp, and neither
the source folder, the build folder nor the home folder occurs in the file
(in 8-bit or UTF-16 text), as __FILE__ strings would put them there without
-ffile-prefix-map.

With --rebuild it also proves the point: the launcher is built a second time
from a copy of the sources in another folder, into another build folder, with
the given toolchain file, and must come out byte for byte the same.
Exits 1 naming every fault found.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile


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


def trace_faults(data, source, build):
    # Folders only: they are what a build writes into a program. A user's or
    # host's name by itself is no trace (it turns up by chance in any
    # program: "user" in __setusermatherr, "main" in __getmainargs).
    faults = []
    folders = {"the source folder": os.path.realpath(source), "the build folder": os.path.realpath(build),
               "the home folder": os.path.expanduser("~")}
    for what, text in folders.items():
        if not text or text == "/":
            continue
        for encoding in ("utf-8", "utf-16-le"):
            if text.encode(encoding) in data:
                faults.append(f"{what} ({text}) occurs in it ({encoding})")
    return faults


def source_files(source):
    """The files of the source tree a clean checkout has: git's tracked and
    untracked-but-not-ignored files, or everything outside build folders."""
    try:
        listed = subprocess.run(["git", "-C", source, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                                check=True, capture_output=True).stdout
        return [name for name in listed.decode().split("\0") if name and os.path.isfile(os.path.join(source, name))]
    except (OSError, subprocess.CalledProcessError):
        files = []
        for folder, subfolders, names in os.walk(source):
            subfolders[:] = [s for s in subfolders if s not in (".git", "build")]
            files += [os.path.relpath(os.path.join(folder, n), source) for n in names]
        return files


def rebuild_faults(data, source, build, toolchain):
    work = tempfile.mkdtemp(prefix="reproducible-", dir=os.path.realpath(build))
    try:
        copy, tree = os.path.join(work, "source elsewhere"), os.path.join(work, "build elsewhere")
        for name in source_files(source):
            os.makedirs(os.path.dirname(os.path.join(copy, name)), exist_ok=True)
            shutil.copy2(os.path.join(source, name), os.path.join(copy, name))
        toolchain = os.path.join(copy, os.path.relpath(os.path.realpath(toolchain), os.path.realpath(source)))
        steps = [["cmake", "-S", copy, "-B", tree, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                  f"-DCMAKE_TOOLCHAIN_FILE={toolchain}"],
                 ["cmake", "--build", tree, "-j", str(os.cpu_count() or 1), "--target", "launcher"]]
        for step in steps:
            done = subprocess.run(step, capture_output=True, text=True)
            if done.returncode != 0:
                return [f"the second build failed: {' '.join(step)}\n{done.stdout[-2000:]}{done.stderr[-2000:]}"]
        with open(os.path.join(tree, "launcher.exe"), "rb") as f:
            again = f.read()
        if again == data:
            return []
        first = next((i for i in range(min(len(data), len(again))) if data[i] != again[i]), min(len(data), len(again)))
        return [f"a build from a copy of the sources in another folder differs: {len(data)} and {len(again)} bytes, "
                f"first at offset {first:#x}"]
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    args = sys.argv[1:]
    toolchain = None
    if "--rebuild" in args:
        at = args.index("--rebuild")
        toolchain = args[at + 1]
        del args[at:at + 2]
    launcher, source, build = args
    with open(launcher, "rb") as f:
        data = f.read()
    faults = pe_faults(data) + trace_faults(data, source, build)
    if toolchain and not faults:
        faults += rebuild_faults(data, source, build, toolchain)
    for fault in faults:
        print(f"{launcher}: {fault}")
    if faults:
        return 1
    print(f"{launcher}: no time stamp, no trace of the build machine" +
          (", the same bytes when built from another folder" if toolchain else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
