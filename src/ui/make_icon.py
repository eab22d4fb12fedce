#!/usr/bin/env python3
"""Draws the uninstaller's icon and writes it as uninst.ico.

Five images: 16x16 and 32x32 in 16 and in 256 colours, 48x48 in 256 colours,
each a classic BMP icon image (palette, colour bits, AND mask).
The artwork: a box with an arrow leaving it, on a transparent ground.
"""
import struct
import sys

# Palette of the 16-colour images: the standard VGA colours.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def pixel(x, y, size):
    """Colour of one pixel of the drawing, or None where it is transparent."""
    u, v = x / size, y / size
    # the box: a dark-blue outline with a lighter body, lower part of the icon
    if 0.12 <= u <= 0.88 and 0.45 <= v <= 0.92:
        edge = u < 0.12 + 1.5 / size or u > 0.88 - 1.5 / size or v > 0.92 - 1.5 / size \
            or v < 0.45 + 1.5 / size
        return (0, 0, 128) if edge else (0, 128, 128)
    # the arrow: a red shaft and head pointing up and out of the box
    if 0.42 <= u <= 0.58 and 0.2 <= v < 0.62:
        return (255, 0, 0)
    if 0.08 <= v < 0.3 and abs(u - 0.5) <= (v - 0.08) * 1.2:
        return (255, 0, 0)
    return None


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


def image(size, bits):
    colours = VGA if bits == 4 else palette256()
    rows, mask_rows = [], []
    for y in reversed(range(size)):  # BMP rows go bottom-up
        indexes, mask = [], []
        for x in range(size):
            c = pixel(x, y, size)
            indexes.append(0 if c is None else nearest(colours, c))
            mask.append(1 if c is None else 0)
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


def main(out):
    formats = [(16, 4), (16, 8), (32, 4), (32, 8), (48, 8)]
    images = [image(s, b) for s, b in formats]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, bits), (blob, ncolours) in zip(formats, images):
        data += struct.pack("<BBBBHHII", size, size, ncolours % 256, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    data += b"".join(blob for blob, _ in images)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "uninst.ico")
