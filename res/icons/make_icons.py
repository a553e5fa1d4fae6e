#!/usr/bin/env python3
"""Writes the program's .ico files from the text grids beside this script.

Each grid is one character per pixel (see legend.txt, '.' is transparent);
each image becomes a 4-bit image with the standard 16-colour palette and an
AND mask. Run it after editing a grid and commit the .ico files with it, so
that the build itself needs no generator.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

# Each icon file and the grids of its images, largest first.
ICONS = {
    "app.ico": ["app32.txt", "app16.txt"],
    "subfolder.ico": ["subfolder.txt"],
    "pathfolder.ico": ["pathfolder.txt"],
}


def read_legend():
    """Returns the palette (RGB triples in index order) and the character map."""
    palette = [None] * 16
    index_of = {}
    with open(os.path.join(HERE, "legend.txt"), encoding="ascii") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            char, index, rgb, _name = line.split()
            index = int(index)
            palette[index] = (int(rgb[0:2], 16), int(rgb[2:4], 16), int(rgb[4:6], 16))
            index_of[char] = index
    if None in palette or len(index_of) != 16 or "." in index_of:
        sys.exit("legend.txt must name each of the 16 colours once")
    return palette, index_of


def read_grid(name, index_of):
    """Returns the rows of a grid as lists of palette indices (None: transparent)."""
    with open(os.path.join(HERE, name), encoding="ascii") as f:
        rows = [line.rstrip("\n") for line in f
                if line.strip() and not line.startswith("#")]
    size = len(rows)
    if size not in (16, 32):
        sys.exit("%s: %d rows, expected 16 or 32" % (name, size))
    pixels = []
    for number, row in enumerate(rows, 1):
        if len(row) != size:
            sys.exit("%s: row %d has %d pixels, expected %d" % (name, number, len(row), size))
        try:
            pixels.append([None if c == "." else index_of[c] for c in row])
        except KeyError as e:
            sys.exit("%s: row %d: unknown colour %s" % (name, number, e))
    return pixels


def padded(data):
    """Pads one bitmap row to a multiple of four bytes."""
    return data + b"\0" * (-len(data) % 4)


def image_bytes(pixels, palette):
    """Encodes one image as a header, palette, XOR bitmap and AND mask."""
    size = len(pixels)
    xor_rows, and_rows = [], []
    for row in reversed(pixels):  # bottom-up, as bitmaps are stored
        nibbles = [0 if p is None else p for p in row]
        xor_rows.append(padded(bytes((nibbles[i] << 4) | nibbles[i + 1]
                                     for i in range(0, size, 2))))
        bits = [1 if p is None else 0 for p in row]
        and_rows.append(padded(bytes(sum(bits[i + j] << (7 - j) for j in range(8))
                                     for i in range(0, size, 8))))
    xor, mask = b"".join(xor_rows), b"".join(and_rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + colours + xor + mask


def icon_file(images):
    """Joins encoded images into one .ico file."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _size, data in images)


def main():
    palette, index_of = read_legend()
    for ico, grids in ICONS.items():
        images = []
        for grid in grids:
            pixels = read_grid(grid, index_of)
            images.append((len(pixels), image_bytes(pixels, palette)))
        with open(os.path.join(HERE, ico), "wb") as f:
            f.write(icon_file(images))


if __name__ == "__main__":
    main()
