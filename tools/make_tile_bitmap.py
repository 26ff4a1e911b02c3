#!/usr/bin/env python3
"""Draws the logon tile's built-in picture: resources/wardtile.bmp, 128 x 128, 24-bit.

A blue field with a white network port whose eight contacts are lit green: the
workstation's port on the authenticated VLAN. Run it again after changing the drawing;
the result is committed so that a build needs no Python.
"""
import os
import struct
import sys

SIZE = 128


def pixel(x, y):
    # A vertical blue gradient.
    shade = y / (SIZE - 1)
    background = (int(40 + 30 * shade), int(90 + 40 * shade), int(170 + 50 * shade))
    # The port's body: a white frame 76 x 56 with a dark opening.
    left, top, right, bottom = 26, 34, 102, 90
    if left <= x < right and top <= y < bottom:
        if x < left + 6 or x >= right - 6 or y < top + 6 or y >= bottom - 6:
            return (245, 245, 245)
        # The latch notch at the bottom of the opening.
        if 52 <= x < 76 and y >= bottom - 18:
            return (245, 245, 245)
        # Eight contacts along the top of the opening.
        if top + 10 <= y < top + 24 and (x - (left + 12)) % 7 < 4 and left + 12 <= x < left + 12 + 8 * 7:
            return (80, 220, 110)
        return (25, 30, 45)
    # A cable leaving the port downwards.
    if 56 <= x < 72 and y >= bottom:
        return (230, 230, 230)
    return background


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "resources", "wardtile.bmp")
    # Bottom-up rows of blue, green, red; 128 * 3 bytes a row needs no padding.
    image = bytes(c for y in range(SIZE - 1, -1, -1) for x in range(SIZE) for c in reversed(pixel(x, y)))
    file_header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(image), 0, 0, 14 + 40)
    info_header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 24, 0, len(image), 2835, 2835, 0, 0)
    with open(out, "wb") as f:
        f.write(file_header + info_header + image)


if __name__ == "__main__":
    main()
