#!/usr/bin/env python3
"""Draws wardtray's icon 106 (16x16 and 32x32, 16 colours) and its built-in logon
picture 109 (128x128, 24 bits per pixel): a green port plug on a dark blue shield.
Run from this folder; it rewrites wardtray.ico and wardtray_logon.bmp."""
import struct

# The standard 16-colour palette, as R, G, B.
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
DARK_BLUE, GREEN, WHITE, BRIGHT_GREEN = 4, 2, 15, 10


def shape(x, y, size):
    """Palette index at (x, y) from the top left, or None for transparent."""
    u, v = (x + 0.5) / size, (y + 0.5) / size
    # Shield: straight top half, tapering to a point at the bottom.
    half = 0.44 if v < 0.55 else 0.44 * max(0.0, (1.0 - v) / 0.45)
    if not (0.06 <= v <= 0.97 and abs(u - 0.5) <= half):
        return None
    # Plug: a white body with two green pins.
    if 0.34 <= u <= 0.66 and 0.42 <= v <= 0.70:
        return WHITE
    if (0.38 <= u <= 0.45 or 0.55 <= u <= 0.62) and 0.22 <= v < 0.42:
        return BRIGHT_GREEN
    if 0.46 <= u <= 0.54 and 0.70 < v <= 0.84:
        return GREEN
    return DARK_BLUE


def icon_image(size):
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    xor_rows, and_rows = [], []
    for y in reversed(range(size)):
        indexes = [shape(x, y, size) for x in range(size)]
        row = bytearray()
        for x in range(0, size, 2):
            row.append(((indexes[x] or 0) << 4) | (indexes[x + 1] or 0))
        xor_rows.append(bytes(row) + b'\0' * ((-len(row)) % 4))
        mask = bytearray((size + 7) // 8)
        for x, index in enumerate(indexes):
            if index is None:
                mask[x // 8] |= 0x80 >> (x % 8)
        and_rows.append(bytes(mask) + b'\0' * ((-len(mask)) % 4))
    return header + palette + b''.join(xor_rows) + b''.join(and_rows)


def write_icon(path):
    images = [icon_image(16), icon_image(32)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((16, 32), images):
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


def write_bitmap(path, size=128):
    rows = []
    for y in reversed(range(size)):
        row = bytearray()
        for x in range(size):
            index = shape(x, y, size)
            r, g, b = (255, 255, 255) if index is None else PALETTE[index]
            row += bytes((b, g, r))
        rows.append(bytes(row))
    pixels = b''.join(rows)
    info = struct.pack('<IiiHHIIiiII', 40, size, size, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(path, 'wb') as f:
        f.write(header + info + pixels)


if __name__ == '__main__':
    write_icon('wardtray.ico')
    write_bitmap('wardtray_logon.bmp')
