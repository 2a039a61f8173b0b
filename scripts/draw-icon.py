#!/usr/bin/env python3
"""Draws the program icon (resources/scourix.ico): a blue shield with a white
magnifying glass, at 16, 32 and 48 pixels, 32-bit colour with an AND mask so
that older systems show it too. Run it again after changing the drawing."""
import math
import struct
import sys


def shield(x, y):
    """Inside the shield outline, in unit coordinates (0..1)."""
    if y < 0.08 or y > 0.95 or x < 0.1 or x > 0.9:
        return False
    if y < 0.55:
        return True
    # lower part narrows to a point at the bottom centre
    half = 0.4 * (0.95 - y) / 0.4
    return abs(x - 0.5) <= half


def pixel(x, y):
    """RGBA of the unit point (x, y)."""
    if not shield(x, y):
        return (0, 0, 0, 0)
    # magnifying glass: ring and handle
    cx, cy, r = 0.45, 0.42, 0.19
    d = math.hypot(x - cx, y - cy)
    if r - 0.065 <= d <= r:
        return (255, 255, 255, 255)
    hx, hy = x - (cx + r * 0.62), y - (cy + r * 0.62)
    along = (hx + hy) / math.sqrt(2)
    across = abs(hx - hy) / math.sqrt(2)
    if 0 <= along <= 0.22 and across <= 0.055:
        return (255, 255, 255, 255)
    if d < r - 0.065:
        return (150, 200, 255, 255)
    shade = int(140 - 90 * y)
    edge = 0.045
    inner = shield(x - edge, y) and shield(x + edge, y) and shield(x, y - edge) and shield(x, y + edge)
    return (20, shade // 2 + 30, 200, 255) if inner else (10, 30, 110, 255)


def image(size):
    rows = []
    for py in range(size - 1, -1, -1):  # bottom-up
        row = b""
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(4):
                for sx in range(4):
                    c = pixel((px + (sx + 0.5) / 4) / size, (py + (sy + 0.5) / 4) / size)
                    for i in range(4):
                        acc[i] += c[i]
            r, g, b, a = (v // 16 for v in acc)
            row += bytes((b, g, r, a))
        rows.append(row)
    xor = b"".join(rows)
    mask_row_bytes = ((size + 31) // 32) * 4
    mask = b""
    for py in range(size - 1, -1, -1):
        bits = 0
        row = bytearray(mask_row_bytes)
        for px in range(size):
            alpha = xor[((size - 1 - py) * size + px) * 4 + 3]
            if alpha < 128:
                row[px // 8] |= 0x80 >> (px % 8)
        mask += bytes(row)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + mask


def main(path):
    sizes = (16, 32, 48)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/scourix.ico")
