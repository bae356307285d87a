#!/usr/bin/env python3
"""Writes app/resources/HAND-M.CUR, the program's hand pointer: a 32x32 Windows cursor
(an icon directory of type 2 with one 32-bit BMP image) drawn from the picture below.
'#' is the black outline, '.' the white fill, anything else transparent. The hot spot is the
tip of the index finger."""
import struct
import sys

PICTURE = """
     ##
    #..#
    #..#
    #..#
    #..#
    #..###
    #..#..###
    #..#..#..##
 ## #..#..#..#.#
#..##........#..#
#...#...........#
 #..............#
  #.............#
  #.............#
   #............#
   #...........#
    #..........#
    #.........#
     #........#
     #........#
     ##########
"""
HOTSPOT = (5, 0)
SIZE = 32


def pixels():
    rows = PICTURE.strip("\n").split("\n")
    grid = [[(0, 0, 0, 0)] * SIZE for _ in range(SIZE)]
    for y, row in enumerate(rows):
        for x, ch in enumerate(row):
            if ch == "#":
                grid[y][x] = (0, 0, 0, 255)
            elif ch == ".":
                grid[y][x] = (255, 255, 255, 255)
    return grid


def cursor_bytes():
    grid = pixels()
    # BMP rows run bottom-up, pixels as BGRA; the AND mask (1 bit a pixel, rows padded to
    # 32 bits) marks transparent pixels.
    xor = b"".join(bytes((b, g, r, a)) for row in reversed(grid) for (r, g, b, a) in row)
    mask = b""
    for row in reversed(grid):
        bits = 0
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits |= 1 << (31 - x)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(mask),
                         0, 0, 0, 0)
    image = header + xor + mask
    directory = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, HOTSPOT[0], HOTSPOT[1], len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "app/resources/HAND-M.CUR"
    with open(out, "wb") as f:
        f.write(cursor_bytes())
