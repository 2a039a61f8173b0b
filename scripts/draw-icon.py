#!/usr/bin/env python3
"""Draws the program icon (resources/scourix.ico): a blue shield with a white
magnifying glass, in the sizes Windows uses from 16 to 256 pixels: 32-bit
colour with an AND mask (so that older systems show it too), 256-colour
versions for old displays, and the 256-pixel image as PNG. Run it again after
changing the drawing."""
import math
import struct
import sys
import zlib


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


def render(size):
    """Rows of RGBA tuples, top row first, 4x4 supersampled."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(4):
                for sx in range(4):
                    c = pixel((px + (sx + 0.5) / 4) / size, (py + (sy + 0.5) / 4) / size)
                    for i in range(4):
                        acc[i] += c[i]
            row.append(tuple(v // 16 for v in acc))
        rows.append(row)
    return rows


def and_mask(rows):
    """1 where transparent, rows bottom-up, each padded to 32 bits."""
    size = len(rows)
    row_bytes = ((size + 31) // 32) * 4
    mask = b""
    for row in reversed(rows):
        bits = bytearray(row_bytes)
        for px, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[px // 8] |= 0x80 >> (px % 8)
        mask += bytes(bits)
    return mask


def dib_header(size, bits, image_bytes, colours=0):
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, image_bytes, 0, 0, colours, 0)


def image32(size):
    """32-bit colour with alpha (XP and later), AND mask for the systems before."""
    rows = render(size)
    xor = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask = and_mask(rows)
    return dib_header(size, 32, len(xor) + len(mask)) + xor + mask


# 256 colours for Windows 95 to 2000 at 256-colour displays: a 6x6x6 cube.
PALETTE = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]


def image8(size):
    rows = render(size)
    palette = b"".join(bytes((b, g, r, 0)) for (r, g, b) in PALETTE) + bytes(4 * (256 - len(PALETTE)))
    row_bytes = (size + 3) // 4 * 4
    xor = b""
    for row in reversed(rows):
        line = bytearray(row_bytes)
        for px, (r, g, b, a) in enumerate(row):
            if a >= 128:
                line[px] = (r * 5 + 127) // 255 * 36 + (g * 5 + 127) // 255 * 6 + (b * 5 + 127) // 255
        xor += bytes(line)
    mask = and_mask(rows)
    return dib_header(size, 8, len(xor) + len(mask), 256) + palette + xor + mask


def png(size):
    """Vista and later take the 256-pixel image as PNG."""
    rows = render(size)
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


# (pixels, bits per pixel): what Windows asks for at the usual DPI settings.
IMAGES = [(16, 8), (32, 8), (48, 8), (16, 32), (20, 32), (24, 32), (32, 32), (40, 32), (48, 32), (64, 32), (256, 32)]


def main(path):
    images = [png(s) if s == 256 else image8(s) if bits == 8 else image32(s) for s, bits in IMAGES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (s, bits), data in zip(IMAGES, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/scourix.ico")
