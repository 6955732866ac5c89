#!/usr/bin/env python3
"""Draws Dozerin's icons: a lightning bolt in the colour of each state (cyan idle, yellow margin,
red busy) and the program icon, each in every size the notification area and the shell use from
100 % to 400 % scaling (16 to 64 pixels) with an alpha channel, written as .ico files into
res/icons/, and the same images as PNG files (res/icons/png/) for the Linux program. Run it again after changing a shape or a colour, and commit the results."""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "res", "icons")

# The bolt, in a unit square (x to the right, y down).
BOLT = [(0.63, 0.02), (0.17, 0.56), (0.46, 0.56), (0.34, 0.98), (0.83, 0.41), (0.54, 0.41), (0.72, 0.02)]

SUBSAMPLES = 6
SIZES = (16, 20, 24, 32, 40, 48, 64)
# The program icon also goes into the desktop's icon theme, up to 256 pixels.
THEME_SIZES = (128, 256)


def inside(poly, x, y):
    hit = False
    n = len(poly)
    for i in range(n):
        x1, y1 = poly[i]
        x2, y2 = poly[(i + 1) % n]
        if (y1 > y) != (y2 > y) and x < (x2 - x1) * (y - y1) / (y2 - y1) + x1:
            hit = not hit
    return hit


def edge_distance(poly, x, y):
    best = math.inf
    n = len(poly)
    for i in range(n):
        x1, y1 = poly[i]
        x2, y2 = poly[(i + 1) % n]
        dx, dy = x2 - x1, y2 - y1
        t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy)))
        best = min(best, math.hypot(x - (x1 + t * dx), y - (y1 + t * dy)))
    return best


def rounded_square_inside(x, y, radius=0.18):
    cx = min(max(x, radius), 1 - radius)
    cy = min(max(y, radius), 1 - radius)
    return 0 <= x <= 1 and 0 <= y <= 1 and math.hypot(x - cx, y - cy) <= radius


def render(size, fill, outline, background=None):
    """Returns rows of (r, g, b, a), top row first."""
    # The outline stays about a pixel wide at small sizes and grows slowly with the icon.
    border = max(0.8, min(2.2, size / 26)) / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SUBSAMPLES):
                for sx in range(SUBSAMPLES):
                    x = (px + (sx + 0.5) / SUBSAMPLES) / size
                    y = (py + (sy + 0.5) / SUBSAMPLES) / size
                    colour = None
                    if background and rounded_square_inside(x, y):
                        colour = background
                    # The bolt shrinks a little inside the program icon's square.
                    bx, by = (x, y) if not background else ((x - 0.12) / 0.76, (y - 0.12) / 0.76)
                    ins = inside(BOLT, bx, by)
                    d = edge_distance(BOLT, bx, by)
                    if ins and d > border:
                        colour = fill
                    elif ins or d < border * 0.6:
                        colour = outline
                    if colour:
                        for i in range(3):
                            acc[i] += colour[i]
                        acc[3] += 255
            n = SUBSAMPLES * SUBSAMPLES
            alpha = acc[3] / n
            if alpha == 0:
                row.append((0, 0, 0, 0))
            else:
                cover = acc[3] / 255
                row.append(tuple(int(round(acc[i] / cover)) for i in range(3)) + (int(round(alpha)),))
        rows.append(row)
    return rows


def ico(images):
    """images: list of (size, rows). Returns the bytes of an .ico file with 32-bit images."""
    header = struct.pack("<HHH", 0, 1, len(images))
    entries = b""
    blobs = b""
    offset = 6 + 16 * len(images)
    for size, rows in images:
        bih = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
        mask_row_bytes = ((size + 31) // 32) * 4
        mask = b""
        for row in reversed(rows):
            bits = bytearray(mask_row_bytes)
            for x, (_, _, _, a) in enumerate(row):
                if a == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bytes(bits)
        blob = bih + pixels + mask
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        blobs += blob
        offset += len(blob)
    return header + entries + blobs


def png(rows):
    """The bytes of a PNG file of one RGBA image."""
    size = len(rows)
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


ICONS = {
    "state_idle.ico": dict(fill=(0, 200, 235), outline=(0, 70, 110)),
    "state_margin.ico": dict(fill=(255, 212, 0), outline=(120, 80, 0)),
    "state_busy.ico": dict(fill=(235, 30, 30), outline=(100, 0, 0)),
    "dozerin.ico": dict(fill=(255, 220, 40), outline=(90, 60, 0), background=(30, 70, 160)),
}


def main():
    os.makedirs(os.path.join(OUT, "png"), exist_ok=True)
    for name, style in ICONS.items():
        images = [(size, render(size, **style)) for size in SIZES]
        for size, rows in images:
            with open(os.path.join(OUT, "png", "%s-%d.png" % (name[:-4], size)), "wb") as f:
                f.write(png(rows))
        if name == "dozerin.ico":
            for size in THEME_SIZES:
                with open(os.path.join(OUT, "png", "dozerin-%d.png" % size), "wb") as f:
                    f.write(png(render(size, **style)))
        data = ico(images)
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
        print("wrote", os.path.normpath(os.path.join(OUT, name)), len(data), "bytes")


if __name__ == "__main__":
    main()
