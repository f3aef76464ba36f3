#!/usr/bin/env python3
"""draw_icon.py OUTPUT.ico

Draws the program icon and writes it as an icon file with four images:
16 x 16 and 32 x 32, each in 16 colours (4 bits per pixel, the standard
16-colour palette) and in 256 colours (8 bits per pixel, a 6 x 6 x 6 colour
cube and a grey ramp). The picture is a box with a downward arrow above it:
files going into place.

Everything is computed from the shapes below; the same script always writes
the same bytes. The output is written to a temporary file and renamed.
"""
import os
import struct
import sys

# ---- The picture, in unit coordinates (0..1 across and down).

def ink_at(u, v):
    """The ink at a point of the unit square, or None where transparent."""
    # Arrow: a shaft and a head pointing down onto the box.
    if 0.40 <= u <= 0.60 and 0.04 <= v <= 0.34:
        return "arrow"
    if 0.30 <= v <= 0.56:
        half = 0.30 * (0.56 - v) / 0.26
        if abs(u - 0.5) <= half:
            return "arrow"
    # Box: a lid band over the body.
    if 0.10 <= u <= 0.90 and 0.50 <= v <= 0.62:
        return "lid"
    if 0.14 <= u <= 0.86 and 0.62 < v <= 0.94:
        return "box"
    return None


def ink_map(size):
    """Inks sampled at pixel centres, top row first, with each shape's edge
    pixels turned into that shape's outline ink."""
    grid = [[ink_at((x + 0.5) / size, (y + 0.5) / size) for x in range(size)] for y in range(size)]
    out = [row[:] for row in grid]
    for y in range(size):
        for x in range(size):
            ink = grid[y][x]
            if ink is None:
                continue
            family = "arrow" if ink == "arrow" else "box"
            for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                nx, ny = x + dx, y + dy
                other = grid[ny][nx] if 0 <= nx < size and 0 <= ny < size else None
                if other is None:
                    out[y][x] = family + "_edge"
                    break
    return out


# ---- Palettes.

VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# Inks as indices of the 16-colour palette.
INK16 = {"arrow": 10, "arrow_edge": 2, "lid": 3, "box": 11, "box_edge": 0}


def palette256():
    colours = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    colours += [(round(i * 255 / 41),) * 3 for i in range(1, 41)]
    assert len(colours) == 256
    return colours


def ink_rgb(ink, v):
    """The 256-colour picture's true colour for an ink at height v: the
    surfaces are lit from above, lighter at their top."""
    shade = 1.15 - 0.3 * v
    base = {
        "arrow": (60, 190, 70), "arrow_edge": (20, 90, 30),
        "lid": (170, 115, 50), "box": (225, 170, 95), "box_edge": (90, 55, 20),
    }[ink]
    return tuple(max(0, min(255, round(c * shade))) for c in base)


def nearest(palette, colour):
    best, best_distance = 0, None
    for index, (r, g, b) in enumerate(palette):
        d = (r - colour[0]) ** 2 + (g - colour[1]) ** 2 + (b - colour[2]) ** 2
        if best_distance is None or d < best_distance:
            best, best_distance = index, d
    return best


# ---- The icon file.

def image(size, bits):
    """One icon image: BITMAPINFOHEADER, palette, colour bits and the
    transparency mask, both bottom row first, rows padded to 4 bytes."""
    inks = ink_map(size)
    if bits == 4:
        palette = VGA16
        indices = [[0 if ink is None else INK16[ink] for ink in row] for row in inks]
    else:
        palette = palette256()
        indices = [[0 if ink is None else nearest(palette, ink_rgb(ink, (y + 0.5) / size)) for ink in row]
                   for y, row in enumerate(inks)]

    colour_stride = (size * bits + 31) // 32 * 4
    mask_stride = (size + 31) // 32 * 4
    colour_bits = bytearray()
    mask_bits = bytearray()
    for y in reversed(range(size)):
        row = bytearray(colour_stride)
        mask = bytearray(mask_stride)
        for x in range(size):
            index = indices[y][x]
            if bits == 4:
                row[x // 2] |= index << (4 if x % 2 == 0 else 0)
            else:
                row[x] = index
            if inks[y][x] is None:
                mask[x // 8] |= 0x80 >> (x % 8)
        colour_bits += row
        mask_bits += mask

    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0,
                         len(colour_bits) + len(mask_bits), 0, 0, 0, 0)
    quads = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + quads + bytes(colour_bits) + bytes(mask_bits)


def icon_file():
    formats = [(16, 4), (32, 4), (16, 8), (32, 8)]
    images = [image(size, bits) for size, bits in formats]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for (size, bits), data in zip(formats, images):
        colours = 16 if bits == 4 else 0
        entries += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bits, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(images)


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: draw_icon.py OUTPUT.ico\n")
        sys.exit(1)
    target = sys.argv[1]
    temporary = target + ".tmp"
    try:
        with open(temporary, "wb") as f:
            f.write(icon_file())
        os.replace(temporary, target)
    except OSError as error:
        sys.stderr.write("draw_icon.py: %s: cannot write: %s\n" % (target, error.strerror))
        sys.exit(1)


if __name__ == "__main__":
    main()
