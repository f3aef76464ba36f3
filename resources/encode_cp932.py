#!/usr/bin/env python3
"""encode_cp932.py INPUT OUTPUT

Converts a resource script from UTF-8 to code page 932 for windres -c 932.

windres runs the script through the C preprocessor and reads backslash
escapes in its strings, so a double-byte character whose second byte is 0x5C
(a backslash in ASCII, as in the CP932 form of some kanji) would be taken
apart. Such a character is refused with its line number rather than compiled
into a wrong text. The output is written to a temporary file and renamed, so
it is either complete or absent.
"""
import os
import sys


def fail(message):
    sys.stderr.write("encode_cp932.py: %s\n" % message)
    sys.exit(1)


def main():
    if len(sys.argv) != 3:
        fail("usage: encode_cp932.py INPUT OUTPUT")
    source, target = sys.argv[1], sys.argv[2]
    if os.path.abspath(source) == os.path.abspath(target):
        fail("%s: the output would overwrite the input" % source)
    try:
        with open(source, "rb") as f:
            raw = f.read()
    except OSError as error:
        fail("%s: cannot read: %s" % (source, error.strerror))
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as error:
        fail("%s: not UTF-8 at byte %d" % (source, error.start))

    encoded = bytearray()
    for number, line in enumerate(text.splitlines(keepends=True), 1):
        for char in line:
            try:
                data = char.encode("cp932")
            except UnicodeEncodeError:
                fail("%s:%d: %r has no code page 932 form" % (source, number, char))
            if len(data) == 2 and data[1] == 0x5C:
                fail("%s:%d: %r ends in byte 0x5C, which windres reads as a backslash" % (source, number, char))
            encoded += data

    temporary = target + ".tmp"
    try:
        with open(temporary, "wb") as f:
            f.write(bytes(encoded))
        os.replace(temporary, target)
    except OSError as error:
        fail("%s: cannot write: %s" % (target, error.strerror))


if __name__ == "__main__":
    main()
