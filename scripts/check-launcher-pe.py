#!/usr/bin/env python3
"""check-launcher-pe.py LAUNCHER.exe i386|amd64

Checks a built launcher without running it: a GUI program of the named
machine (PE32 for i386, PE32+ for amd64) that imports only DLLs Windows
always takes from its system folder, with no delay-load imports, carrying
its dialogs (101, 102), its icon group (110), a manifest that names the
same architecture, and the marker by which bundletool knows it
(common/launcher_marker.h) with the digest of common/entry_rows.def's rows. Prints one line saying what it found; exits 1 with the
faults otherwise. scripts/test.sh runs it on every launcher it builds, so
the i686 one is checked on hosts that cannot run it.
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import entry_rows  # noqa: E402

MACHINES = {"i386": (0x14C, 0x10B, "PE32", "x86"), "amd64": (0x8664, 0x20B, "PE32+", "amd64")}
# The DLLs of the system folder that a program of this kind may import
# (tests/common/dll_search_test.cpp holds the same list for the running check).
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll", "shell32.dll", "ole32.dll"}
RT_ICON_GROUP, RT_DIALOG, RT_MANIFEST = 14, 5, 24
# common/launcher_marker.h: the magic, version 1, and FNV-1a over each row's
# name, its NUL and its ENTRY_EXTRACT and ENTRY_STREAMED bits (entry_flags.h)
# as four little-endian bytes.
MARKER_MAGIC = b"ZQX-LAUNCHER-ET\0"
ROW_FLAGS = {"ENTRY_EXTRACT": 0x04, "ENTRY_STREAMED": 0x08}


def entry_table_digest():
    digest = 2166136261
    for name, _, flags in entry_rows.rows():
        bits = sum(ROW_FLAGS.get(flag, 0) for flag in flags)
        for byte in name.encode("ascii") + b"\0" + struct.pack("<I", bits):
            digest = ((digest ^ byte) * 16777619) & 0xFFFFFFFF
    return digest


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        (self.nt,) = struct.unpack_from("<I", data, 0x3C)
        if data[self.nt:self.nt + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, self.nt + 4)
        self.optional = self.nt + 24
        (self.magic,) = struct.unpack_from("<H", data, self.optional)
        (self.subsystem,) = struct.unpack_from("<H", data, self.optional + 68)
        directories = self.optional + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        table = self.optional + optional_size
        self.sections = [struct.unpack_from("<IIII", data, table + 40 * i + 8) for i in range(sections)]

    def offset(self, rva):
        for virtual_size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw + rva - address
        raise ValueError(f"address {rva:#x} lies in no section")

    def string(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def imports(self):
        rva, _ = self.directories[1]
        at, names = self.offset(rva), []
        while True:
            name_rva = struct.unpack_from("<I", self.data, at + 12)[0]
            if name_rva == 0:
                return names
            names.append(self.string(name_rva).lower())
            at += 20

    def resources(self):
        """{(type id, name id): bytes} of the resource tree's numeric entries."""
        rva, _ = self.directories[2]
        base, found = self.offset(rva), {}

        def entries(at):
            named, numbered = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + numbered):
                yield struct.unpack_from("<II", self.data, at + 16 + 8 * i)

        for type_id, types in entries(base):
            for name_id, names in entries(base + (types & 0x7FFFFFFF)):
                for _, leaf in entries(base + (names & 0x7FFFFFFF)):
                    data_rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    at = self.offset(data_rva)
                    found[(type_id, name_id)] = self.data[at:at + size]
        return found


def main():
    path, kind = sys.argv[1], sys.argv[2]
    machine, magic, format_name, manifest_arch = MACHINES[kind]
    pe = Pe(open(path, "rb").read())
    faults = []
    if (pe.machine, pe.magic) != (machine, magic):
        faults.append(f"machine {pe.machine:#x} with optional header {pe.magic:#x}, not {format_name} for {kind}")
    if pe.subsystem != 2:
        faults.append(f"subsystem {pe.subsystem}, not the GUI (2)")
    dlls = pe.imports()
    others = sorted(set(dlls) - SYSTEM_DLLS)
    if others:
        faults.append("imports DLLs outside the system folder's: " + ", ".join(others))
    if pe.directories[13][1] != 0:
        faults.append("has delay-load imports")
    resources = pe.resources()
    for key, what in [((RT_DIALOG, 101), "dialog 101"), ((RT_DIALOG, 102), "dialog 102"),
                      ((RT_ICON_GROUP, 110), "icon group 110"), ((RT_MANIFEST, 1), "manifest")]:
        if key not in resources:
            faults.append("lacks its " + what)
    manifest = resources.get((RT_MANIFEST, 1), b"")
    if f'processorArchitecture="{manifest_arch}"'.encode() not in manifest:
        faults.append(f'its manifest does not name processorArchitecture="{manifest_arch}"')
    at = pe.data.find(MARKER_MAGIC)
    if at < 0:
        faults.append("carries no marker for bundletool (common/launcher_marker.h)")
    elif struct.unpack_from("<II", pe.data, at + 16) != (1, entry_table_digest()):
        version, digest = struct.unpack_from("<II", pe.data, at + 16)
        faults.append(f"its marker (version {version}, digest {digest:#010x}) is not version 1 with the digest "
                      f"{entry_table_digest():#010x} of common/entry_rows.def")
    if faults:
        print(f"{path}: " + "; ".join(faults))
        return 1
    print(f"{format_name} GUI for {kind}, system DLLs only ({', '.join(sorted(set(dlls)))}), "
          f"resources (dialogs 101 and 102, icon group 110), manifest for {manifest_arch}, "
          f"marker of entry table {entry_table_digest():#010x}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (OSError, ValueError, struct.error, IndexError) as error:
        print(f"{sys.argv[1]}: not a readable launcher: {error}")
        sys.exit(1)
