#!/usr/bin/env python3
"""Draws the uninstaller's icon and writes it as uninst.ico.

Five images: 16x16 in 16 and in 256 colours, 32x32 in 16 and in 256
colours, 48x48 in 256 colours, each a classic BMP icon image (palette, colour
bits, AND mask). A 256-colour image keeps in its palette only the colours it
uses (biClrUsed), which the images' 8 bits a pixel index: the palettes of
the three would otherwise take 3 KB of the executable.

The artwork: a blue program tile whose lines of content fade out towards the
right, and a red round badge with a white bar, on a transparent ground.
Every pixel is the average of 4x4 samples, so edges are smooth in 256
colours; the 16-colour images take the nearest of the standard VGA colours.

Usage: make_icon.py [OUT.ico] [--preview DIR]   (--preview also writes PPMs)
"""
import math
import os
import struct
import sys

# Palette of the 16-colour images: the standard VGA colours.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]

SAMPLES = 4


def inside_rounded(u, v, left, top, right, bottom, radius):
    cx = min(max(u, left + radius), right - radius)
    cy = min(max(v, top + radius), bottom - radius)
    return (u - cx) ** 2 + (v - cy) ** 2 <= radius ** 2


def sample(u, v, size):
    """Colour at one point of the unit square, or None where it is transparent."""
    line = 1.0 / size  # one pixel, in unit coordinates
    # the badge, drawn over the tile
    bx, by, br = 0.70, 0.70, 0.28
    d = math.hypot(u - bx, v - by)
    if d <= br:
        if abs(v - by) <= max(0.055, line) and abs(u - bx) <= br * 0.62:
            return (255, 255, 255)
        if d >= br - max(0.05, line):
            return (128, 0, 0)
        shade = int(40 * (v - (by - br)) / (2 * br))
        return (230 - shade, 20, 20)
    # a transparent ring around the badge keeps it apart from the tile
    if d <= br + max(0.045, line):
        return None
    left, top, right, bottom = 0.04, 0.06, 0.82, 0.86
    if not inside_rounded(u, v, left, top, right, bottom, 0.14):
        return None
    if not inside_rounded(u, v, left + max(0.05, line), top + max(0.05, line),
                          right - max(0.05, line), bottom - max(0.05, line), 0.10):
        return (0, 0, 128)  # the tile's dark rim
    # the title bar
    if v < top + 0.2:
        return (0, 64, 192)
    # lines of content that fade out to the right: the program going away
    for row in (0.36, 0.52, 0.68):
        if abs(v - row) <= max(0.04, line / 2) and left + 0.12 <= u <= right - 0.1:
            fade = (u - left - 0.12) / (right - left - 0.22)
            if fade < 0.35 or (fade < 0.75 and int(u * size) % 2 == 0):
                return (255, 255, 255)
            return (96, 160, 240)
    return (64, 128, 224)


def pixel(x, y, size):
    """Average of SAMPLES x SAMPLES points of the pixel; None when mostly transparent."""
    total, covered = [0, 0, 0], 0
    for i in range(SAMPLES):
        for j in range(SAMPLES):
            c = sample((x + (i + 0.5) / SAMPLES) / size, (y + (j + 0.5) / SAMPLES) / size, size)
            if c is not None:
                covered += 1
                total = [t + k for t, k in zip(total, c)]
    if covered * 2 < SAMPLES * SAMPLES:
        return None
    return tuple(t // covered for t in total)


def palette256():
    colours = list(VGA)
    for r in range(6):
        for g in range(6):
            for b in range(6):
                colours.append((r * 51, g * 51, b * 51))
    colours += [(i * 10, i * 10, i * 10) for i in range(256 - len(colours))]
    return colours[:256]


def nearest(colours, c):
    return min(range(len(colours)), key=lambda i: sum((a - b) ** 2 for a, b in zip(colours[i], c)))


def draw(size, bits):
    """The image as rows (top-down) of palette indexes or None, and its palette."""
    colours = VGA if bits == 4 else palette256()
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            c = pixel(x, y, size)
            row.append(None if c is None else nearest(colours, c))
        rows.append(row)
    return rows, colours


def image(size, bits):
    drawn, colours = draw(size, bits)
    if bits == 8:  # only the colours used, in the palette's order
        used = sorted({i for row in drawn for i in row if i is not None} | {0})
        index = {old: new for new, old in enumerate(used)}
        drawn = [[None if i is None else index[i] for i in row] for row in drawn]
        colours = [colours[i] for i in used]
    rows, mask_rows = [], []
    for y in reversed(range(size)):  # BMP rows go bottom-up
        indexes = [0 if i is None else i for i in drawn[y]]
        mask = [1 if i is None else 0 for i in drawn[y]]
        if bits == 4:
            row = bytes((indexes[i] << 4) | indexes[i + 1] for i in range(0, size, 2))
        else:
            row = bytes(indexes)
        rows.append(row + b"\0" * (-len(row) % 4))
        m = bytes(sum(mask[i + j] << (7 - j) for j in range(8) if i + j < size)
                  for i in range(0, size, 8))
        mask_rows.append(m + b"\0" * (-len(m) % 4))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0,
                         len(b"".join(rows)) + len(b"".join(mask_rows)), 0, 0, len(colours), 0)
    pal = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in colours)
    return header + pal + b"".join(rows) + b"".join(mask_rows), len(colours)


def preview(size, bits, path):
    """A PPM of the image on a light grey ground, for looking at the artwork."""
    drawn, colours = draw(size, bits)
    out = bytearray(b"P6 %d %d 255\n" % (size, size))
    for row in drawn:
        for i in row:
            out += bytes((224, 224, 224) if i is None else colours[i])
    with open(path, "wb") as f:
        f.write(out)


FORMATS = [(16, 4), (16, 8), (32, 4), (32, 8), (48, 8)]


def main(argv):
    out = "uninst.ico"
    preview_dir = None
    args = list(argv)
    while args:
        a = args.pop(0)
        if a == "--preview":
            preview_dir = args.pop(0)
        else:
            out = a
    images = [image(s, b) for s, b in FORMATS]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, bits), (blob, ncolours) in zip(FORMATS, images):
        data += struct.pack("<BBBBHHII", size, size, ncolours if bits < 8 else 0, 0, 1, bits,
                            len(blob), offset)
        offset += len(blob)
    data += b"".join(blob for blob, _ in images)
    with open(out, "wb") as f:
        f.write(data)
    if preview_dir:
        os.makedirs(preview_dir, exist_ok=True)
        for size, bits in FORMATS:
            preview(size, bits, os.path.join(preview_dir, "icon-%d-%dbit.ppm" % (size, bits)))


if __name__ == "__main__":
    main(sys.argv[1:])
