#!/usr/bin/env python3
"""check-launcher-runtime.py LAUNCHER.exe i386|amd64 [--top N]

Checks what the shipped launcher carries, from the link map the build writes
beside it (LAUNCHER.map): that none of the runtime it does without was linked
back in, and that the file stays within its size budget. What was linked is
read from the map's memory map, which lists only the input sections kept in
the output (after --gc-sections), with the archive member each came from.

Kept out, each recognised by the archive members and symbols that make it:
  - libstdc++ and the C++ exception runtime: every member of libstdc++.a
    (all of it is built with exceptions; the launcher provides what it needs
    of it, launcher/cxx_runtime.cpp), the unwinder (libgcc_eh.a), the
    personality routine, __cxa_throw;
  - the demangler of the terminate handler (cp-demangle.o, __cxa_demangle);
  - winpthread (libpthread.a, libwinpthread.a; pthread_* symbols);
  - mingw's C99 printf (mingw_pformat.o, the __mingw_*printf family and the
    floating-point conversion of gdtoa), which any snprintf brings while
    libstdc++'s headers set __USE_MINGW_ANSI_STDIO.

Prints one line saying what it found and exits 0, or names every fault and
exits 1. --top N also lists the N largest contributors to the file, by
object or archive member. scripts/test.sh runs it on both launchers and puts
the line in its summary; the Windows suite runs it on its own tree's.
"""
import os
import re
import sys

# The file size each launcher must stay within: 72 KiB for the shipped i686
# one; 96 KiB for its x86-64 twin, whose code is larger and which keeps its
# unwind tables.
BUDGETS = {"i386": 73728, "amd64": 98304}

# (what, archive members, symbols): a kept input section from a member whose
# "library(member)" matches, or a symbol whose name matches, is a fault.
KEPT_OUT = [
    ("the demangler", re.compile(r"libstdc\+\+\.a\(cp-demangle\.o\)"), re.compile(r"__cxa_demangle")),
    ("libstdc++ with its exception runtime", re.compile(r"libstdc\+\+\.a\(|libgcc_eh\.a\("),
     re.compile(r"__gxx_personality|_Unwind_|__cxa_throw|__cxa_begin_catch|__cxa_allocate_exception")),
    ("winpthread", re.compile(r"lib(win)?pthread\.a\("), re.compile(r"^_?pthread_")),
    ("mingw's C99 printf", re.compile(r"libmingwex\.a\([^)]*(mingw_pformat|mingw_[a-z]*printf|gdtoa|dtoa)"),
     re.compile(r"__mingw_pformat|__mingw_[a-z]*printf")),
]

# Output sections that take no room in the file, or that -s drops.
NOT_IN_FILE = re.compile(r"^(\.bss|/DISCARD/|\.z?debug_|\.stab)")

SECTION = re.compile(r"^(\S+)(\s+0x[0-9a-f]+\s+0x[0-9a-f]+.*)?$")
INPUT = re.compile(r"^ (\S+)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$")
CONTINUED = re.compile(r"^\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$")
SYMBOL = re.compile(r"^\s+0x[0-9a-f]+\s+(\S.*)$")


def origin(path):
    """'libstdc++.a(eh_personality.o)' for a member, the file's name otherwise."""
    member = re.search(r"([^/]+\.a\([^)]*\))$", path)
    return member.group(1) if member else os.path.basename(path)


def read_map(text):
    """[(output section, origin, size)] of kept input sections, and [(origin, symbol)]."""
    memory = text.split("Linker script and memory map", 1)
    if len(memory) != 2:
        raise ValueError("no memory map in it")
    kept, symbols = [], []
    output, pending, last = None, None, None
    for line in memory[1].splitlines():
        if not line.strip():
            continue
        if line[0] not in " *":
            section = SECTION.match(line)
            output = section.group(1) if section else None
            pending = last = None
            continue
        if output is None or NOT_IN_FILE.match(output):
            continue
        found = INPUT.match(line)
        if found and found.group(1) != "*fill*":
            last = origin(found.group(3))
            kept.append((output, last, int(found.group(2), 16)))
            continue
        if pending is not None:
            found = CONTINUED.match(line)
            if found:
                last = origin(found.group(2))
                kept.append((output, last, int(found.group(1), 16)))
            pending = None
            continue
        if re.match(r"^ \S+$", line) and not line.startswith(" *"):
            pending = line.strip()  # a long section name; its numbers follow on the next line
            continue
        found = SYMBOL.match(line)
        if found and last is not None and "=" not in found.group(1):
            symbols.append((last, found.group(1)))
    return kept, symbols


def faults_of(kept, symbols):
    faults, seen = [], set()
    for what, members, names in KEPT_OUT:
        found = {o for _, o, size in kept if size and members.search(o)} - seen
        hits = sorted(found)
        hits += sorted({f"{s} (in {o})" for o, s in symbols if names.search(s) and o not in seen | found})
        seen |= found
        if hits:
            shown = ", ".join(hits[:6]) + (f" and {len(hits) - 6} more" if len(hits) > 6 else "")
            faults.append(f"{what} is linked: {shown}")
    return faults


def main():
    args = sys.argv[1:]
    top = 0
    if "--top" in args:
        at = args.index("--top")
        top = int(args[at + 1])
        del args[at:at + 2]
    if len(args) != 2 or args[1] not in BUDGETS:
        sys.exit(__doc__.splitlines()[0])
    launcher, kind = args
    budget = BUDGETS[kind]
    map_path = os.path.splitext(launcher)[0] + ".map"
    try:
        size = os.path.getsize(launcher)
        with open(map_path, encoding="utf-8", errors="replace") as f:
            kept, symbols = read_map(f.read())
    except (OSError, ValueError) as error:
        print(f"{launcher}: cannot be checked: {error}")
        return 1
    faults = faults_of(kept, symbols)
    # A map read wrongly would show nothing linked, and so nothing wrong.
    if sum(n for _, _, n in kept) < size // 2:
        faults.append(f"{map_path} accounts for less than half of the file: not read as a link map of it")
    if size > budget:
        faults.insert(0, f"{size:,} bytes, over its budget of {budget:,}")
    if top:
        totals = {}
        for _, o, n in kept:
            totals[o] = totals.get(o, 0) + n
        for o, n in sorted(totals.items(), key=lambda item: -item[1])[:top]:
            print(f"  {n:8,}  {o}")
    if faults:
        print(f"{launcher}: " + "; ".join(faults))
        return 1
    print(f"{launcher}: {size:,} bytes (budget {budget:,}); none of " +
          ", ".join(what for what, _, _ in KEPT_OUT) + " linked")
    return 0


if __name__ == "__main__":
    sys.exit(main())
