#!/usr/bin/env python3
"""The bundle's entries as common/entry_rows.def lists them, for the scripts
that need them: the demo payload, the fuzz corpus and the signing fixture.

  entry_rows.py           one line per row: NAME memory|streamed
  entry_rows.py --names   the names alone

As a module: rows() gives (name, folder prefix, set of flag names) in row
order.
"""
import os
import re
import sys

DEF = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common", "entry_rows.def")
ROW = re.compile(r'^ENTRY_ROW\("([^"]+)",\s*"((?:[^"\\]|\\.)*)",\s*([A-Z_| ]+)\)\s*$')


def rows():
    found = []
    with open(DEF, encoding="utf-8") as text:
        for number, line in enumerate(text, 1):
            if not line.startswith("ENTRY_ROW"):
                continue
            match = ROW.match(line.strip())
            if not match:
                sys.exit(f"entry_rows: {DEF}:{number}: not a row of the form ENTRY_ROW(\"name\", \"prefix\", FLAGS)")
            flags = {flag.strip() for flag in match.group(3).split("|")}
            found.append((match.group(1), match.group(2).replace("\\\\", "\\"), flags))
    if not found:
        sys.exit(f"entry_rows: {DEF}: no rows")
    return found


def main():
    for name, _, flags in rows():
        print(name if sys.argv[1:] == ["--names"] else f"{name} {'streamed' if 'ENTRY_STREAMED' in flags else 'memory'}")


if __name__ == "__main__":
    main()
