#!/usr/bin/env python3
"""Fails when a source file includes a project header from a layer above or
beside its own.

The layers, bottom up; a folder may include itself and the folders listed
for it, nothing else of the project:

  common/          shared types and helpers (Windows)      -
  resources/       resource ids                            -
  bundle/format/   the bundle layout and codec (portable)  -
  ui/              windows, dialogs, synchronisation       common
  bundle/          the bundle's Windows side               common, bundle/format
  extract/         the extraction job and its dialog       common, resources, ui, bundle
  launcher/        the entry and main flow                 everything below
  installer/       the stand-in installer (payload)        common, bundle/format
  tools/           host tools                              bundle/format, common (the entry table)

tests/, fuzz/ and bench/ stand on top and may include anything. An include
without a folder ("pack.h") names a file beside the includer and must exist
there.

  check-includes.py [SOURCE_ROOT]     exit 0 when every include is allowed
"""
import os
import re
import sys

LAYERS = {
    "common": [],
    "resources": [],
    "bundle/format": [],
    "ui": ["common"],
    "bundle": ["common", "bundle/format"],
    "extract": ["common", "resources", "ui", "bundle", "bundle/format"],
    "launcher": ["common", "resources", "ui", "bundle", "bundle/format", "extract"],
    "installer": ["common", "bundle/format"],
    "tools": ["bundle/format", "common"],
}
ON_TOP = ("tests", "fuzz", "bench")
SUFFIXES = (".h", ".cpp", ".def", ".rc.in")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def layer_of(path):
    """The layer a path (relative to the root, with slashes) belongs to."""
    best = None
    for layer in LAYERS:
        if path == layer or path.startswith(layer + "/"):
            if best is None or len(layer) > len(best):
                best = layer
    return best


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    problems = []
    checked = 0
    for folder in LAYERS:
        for here, dirs, files in os.walk(os.path.join(root, folder)):
            dirs[:] = [d for d in dirs if layer_of(os.path.relpath(os.path.join(here, d), root)) == folder]
            for name in sorted(files):
                if not name.endswith(SUFFIXES):
                    continue
                source = os.path.join(here, name)
                relative = os.path.relpath(source, root).replace(os.sep, "/")
                checked += 1
                with open(source, encoding="utf-8", errors="replace") as text:
                    for number, line in enumerate(text, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        target = match.group(1)
                        if "/" not in target:
                            if not os.path.exists(os.path.join(here, target)):
                                problems.append(f"{relative}:{number}: \"{target}\" is not beside it; name its folder")
                            continue
                        if target.split("/", 1)[0] in ON_TOP:
                            problems.append(f"{relative}:{number}: includes \"{target}\" from {target.split('/')[0]}/")
                            continue
                        to = layer_of(target)
                        if to is None:
                            problems.append(f"{relative}:{number}: includes \"{target}\", which is in no layer")
                        elif to != folder and to not in LAYERS[folder]:
                            allowed = ", ".join(LAYERS[folder]) or "nothing of the project"
                            problems.append(f"{relative}:{number}: includes \"{target}\" ({to}/); "
                                            f"{folder}/ may include only {allowed}")
    for problem in problems:
        print(problem)
    print(f"check-includes: {checked} files, {len(problems)} includes pointing up or across")
    return 1 if problems or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
