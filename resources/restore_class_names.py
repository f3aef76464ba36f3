#!/usr/bin/env python3
"""restore_class_names.py INPUT.res OUTPUT.res

windres writes the class name of every CONTROL statement in capital letters
("MSCTLS_PROGRESS32"). The platform looks classes up without regard to case,
so the dialog works either way, but the templates are to carry the names as
written. This walks every dialog template (resource type 5, extended form) of
a .res file and gives each class name the spelling listed in CLASS_NAMES;
names are the same length in either case, so nothing else moves.

Fails, naming the file and the problem, on anything it cannot walk; the
output is written to a temporary file and renamed.
"""
import os
import struct
import sys

CLASS_NAMES = {"MSCTLS_PROGRESS32": "msctls_progress32"}

RT_DIALOG = 5


class Malformed(Exception):
    pass


def align(offset, step):
    return (offset + step - 1) // step * step


def read_id(data, offset, end):
    """Skips a resource id or name field (0xFFFF + ordinal, or a NUL-ended
    UTF-16 string); returns (value, next offset)."""
    if offset + 2 > end:
        raise Malformed("field runs past its record")
    if struct.unpack_from("<H", data, offset)[0] == 0xFFFF:
        if offset + 4 > end:
            raise Malformed("ordinal runs past its record")
        return struct.unpack_from("<H", data, offset + 2)[0], offset + 4
    start = offset
    while True:
        if offset + 2 > end:
            raise Malformed("string without its end")
        if struct.unpack_from("<H", data, offset)[0] == 0:
            return data[start:offset].decode("utf-16-le"), offset + 2
        offset += 2


def fix_dialog(data, start, end):
    """Rewrites the class names of one DLGTEMPLATEEX held in data[start:end]."""
    if end - start < 26:
        raise Malformed("dialog shorter than its header")
    version, signature = struct.unpack_from("<HH", data, start)
    if version != 1 or signature != 0xFFFF:
        raise Malformed("dialog is not an extended template")
    style = struct.unpack_from("<I", data, start + 12)[0]
    count = struct.unpack_from("<H", data, start + 16)[0]
    offset = start + 26
    for _ in range(3):  # menu, class, title
        _, offset = read_id(data, offset, end)
    if style & 0x40:  # DS_SETFONT: point size, weight, italic, charset, face
        offset += 6
        _, offset = read_id(data, offset, end)
    for _ in range(count):
        offset = align(offset - start, 4) + start
        offset += 24  # help id, extended style, style, x, y, cx, cy, id
        class_start = offset
        name, offset = read_id(data, offset, end)
        if isinstance(name, str) and name in CLASS_NAMES:
            fixed = CLASS_NAMES[name].encode("utf-16-le")
            data[class_start:class_start + len(fixed)] = fixed
        _, offset = read_id(data, offset, end)  # text
        if offset + 2 > end:
            raise Malformed("control without its creation data size")
        extra = struct.unpack_from("<H", data, offset)[0]
        offset += 2 + extra
        if offset > end:
            raise Malformed("control runs past the dialog")


def fix(data):
    offset = 0
    while offset < len(data):
        if offset + 8 > len(data):
            raise Malformed("resource header cut short at byte %d" % offset)
        size, header = struct.unpack_from("<II", data, offset)
        if header < 16 or offset + header + size > len(data):
            raise Malformed("resource at byte %d runs past the end" % offset)
        kind, _ = read_id(data, offset + 8, offset + header)
        if kind == RT_DIALOG:
            fix_dialog(data, offset + header, offset + header + size)
        offset = align(offset + header + size, 4)


def main():
    if len(sys.argv) != 3:
        sys.stderr.write("usage: restore_class_names.py INPUT.res OUTPUT.res\n")
        sys.exit(1)
    source, target = sys.argv[1], sys.argv[2]
    if os.path.abspath(source) == os.path.abspath(target):
        sys.stderr.write("restore_class_names.py: %s: the output would overwrite the input\n" % source)
        sys.exit(1)
    try:
        with open(source, "rb") as f:
            data = bytearray(f.read())
        fix(data)
        temporary = target + ".tmp"
        with open(temporary, "wb") as f:
            f.write(bytes(data))
        os.replace(temporary, target)
    except OSError as error:
        sys.stderr.write("restore_class_names.py: %s\n" % error)
        sys.exit(1)
    except (Malformed, UnicodeDecodeError, struct.error) as error:
        sys.stderr.write("restore_class_names.py: %s: %s\n" % (source, error))
        sys.exit(1)


if __name__ == "__main__":
    main()
