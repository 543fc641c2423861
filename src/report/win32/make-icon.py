#!/usr/bin/env python3
"""Draws the program's icon (a report sheet with a table) and writes it as a
Windows .ico with 16, 32 and 48 pixel images: make-icon.py OUT.ico"""
import struct
import sys

NAVY = (128, 0, 0, 255)        # BGRA
BLUE = (200, 120, 40, 255)
PAPER = (255, 255, 255, 255)
GRID = (170, 170, 170, 255)
FOLD = (220, 220, 220, 255)
CLEAR = (0, 0, 0, 0)


def draw(size):
    """Rows of BGRA pixels, top row first."""
    px = [[CLEAR] * size for _ in range(size)]
    s = size / 16.0
    left, right = round(2 * s), round(14 * s) - 1
    top, bottom = round(1 * s), round(15 * s) - 1
    fold = max(2, round(3 * s))
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            if x - (right - fold) > y - top:  # the folded corner is cut off
                continue
            edge = x in (left, right) or y in (top, bottom) or x - (right - fold) == y - top
            px[y][x] = NAVY if edge else PAPER
    for y in range(top + 1, top + fold + 1):  # the fold itself
        for x in range(right - fold, right - fold + (y - top)):
            if x > left:
                px[y][x] = FOLD
    header = top + fold + max(1, round(1 * s))
    for y in range(header, header + max(2, round(2 * s))):
        for x in range(left + 1, right):
            px[y][x] = BLUE
    step = max(2, round(2 * s))
    for y in range(header + max(2, round(2 * s)) + step - 1, bottom, step):
        for x in range(left + 1, right):
            px[y][x] = GRID
    for x in (left + (right - left) // 3, left + 2 * (right - left) // 3):
        for y in range(header, bottom):
            if px[y][x] != BLUE:
                px[y][x] = GRID
    return px


def dib(size):
    px = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b''.join(bytes(p) for row in reversed(px) for p in row)
    mask_row = ((size + 31) // 32) * 4
    mask = b''
    for row in reversed(px):
        bits = bytearray(mask_row)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + colour + mask


def main():
    sizes = (16, 32, 48)
    images = [dib(n) for n in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], 'wb') as f:
        f.write(out + b''.join(images))


if __name__ == '__main__':
    main()
