#!/usr/bin/env python3
"""Draws the dialog program's two icons and writes them as .ico files (32-bit colour with alpha,
at 16, 24, 32 and 48 pixels):

  app/res/velinor.ico   the program's icon: a receiver's signal arcs and a satellite
  app/res/warning.ico   the warning sign beside the page's cable warning

Run from anywhere: python3 scripts/make-icons.py. Needs nothing beyond Python 3. The shapes are
described in a 0..1 square and sampled 4x4 per pixel, so every size is drawn, not scaled."""

import math
import os
import struct

SIZES = (16, 24, 32, 48)
SUBSAMPLES = 4


def inside_rounded_square(x, y, margin, radius):
    # Distance outside a square of [margin, 1 - margin] with corners of `radius`.
    cx = min(max(x, margin + radius), 1 - margin - radius)
    cy = min(max(y, margin + radius), 1 - margin - radius)
    return math.hypot(x - cx, y - cy) <= radius


def inside_triangle(x, y, top, left, right):
    def side(a, b, p):
        return (b[0] - a[0]) * (p[1] - a[1]) - (b[1] - a[1]) * (p[0] - a[0])

    p = (x, y)
    d1, d2, d3 = side(top, right, p), side(right, left, p), side(left, top, p)
    negative = d1 < 0 or d2 < 0 or d3 < 0
    positive = d1 > 0 or d2 > 0 or d3 > 0
    return not (negative and positive)


def velinor_colour(x, y):
    """The program icon: a blue tile, three white signal arcs from the lower left corner and an
    orange satellite in the upper right. Colours are (r, g, b, a) with a in 0..1."""
    if not inside_rounded_square(x, y, 0.04, 0.16):
        return None
    ox, oy = 0.2, 0.8  # the antenna, where the arcs start
    r = math.hypot(x - ox, y - oy)
    angle = math.atan2(oy - y, x - ox)
    if 0.0 <= angle <= math.pi / 2:
        for radius in (0.22, 0.40, 0.58):
            if abs(r - radius) <= 0.055:
                return (255, 255, 255, 1.0)
    if r <= 0.09:
        return (255, 255, 255, 1.0)
    sx, sy = 0.76, 0.24
    if abs(x - sx) <= 0.08 and abs(y - sy) <= 0.08:
        return (245, 140, 30, 1.0)  # the satellite's body
    if abs(y - sy) <= 0.03 and 0.56 <= x <= 0.96:
        return (250, 200, 80, 1.0)  # its panels
    return (31, 78, 140, 1.0)


def warning_colour(x, y):
    """The warning sign: a yellow triangle with a dark rim and a black exclamation mark."""
    top, left, right = (0.5, 0.04), (0.02, 0.94), (0.98, 0.94)
    if not inside_triangle(x, y, top, left, right):
        return None
    inner = (0.5, 0.16), (0.12, 0.87), (0.88, 0.87)
    if not inside_triangle(x, y, *inner):
        return (60, 45, 10, 1.0)
    if abs(x - 0.5) <= 0.06 and 0.34 <= y <= 0.66:
        return (0, 0, 0, 1.0)
    if math.hypot(x - 0.5, y - 0.76) <= 0.065:
        return (0, 0, 0, 1.0)
    return (255, 204, 0, 1.0)


def render(shape, size):
    """Rows of (r, g, b, a) bytes, top row first, with coverage as alpha."""
    rows = []
    n = SUBSAMPLES
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0.0
            for sy in range(n):
                for sx in range(n):
                    c = shape((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    if c:
                        r, g, b, a = r + c[0] * c[3], g + c[1] * c[3], b + c[2] * c[3], a + c[3]
            if a > 0:
                row.append((round(r / a), round(g / a), round(b / a), round(255 * a / (n * n))))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def icon_image(rows):
    """One icon image: BITMAPINFOHEADER, bottom-up BGRA pixels, then the 1-bit AND mask."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + pixels + bytes(mask)


def write_icon(path, shape):
    images = [icon_image(render(shape, size)) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "app", "res")
    os.makedirs(folder, exist_ok=True)
    write_icon(os.path.join(folder, "velinor.ico"), velinor_colour)
    write_icon(os.path.join(folder, "warning.ico"), warning_colour)


if __name__ == "__main__":
    main()
