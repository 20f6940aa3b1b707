#!/usr/bin/python3
"""Pixel statistics for rectangles of a binary PPM (P6, maxval 255) screenshot.

usage: boxes.py SHOT.ppm ORIGIN_X ORIGIN_Y NAME=LEFT,TOP,WIDTH,HEIGHT ...

Boxes are relative to ORIGIN. For each box one line is printed:
    NAME red=N colours=N
red counts pixels that are exactly (255,0,0): anti-aliased glyph edges are
blends, so only the solid strokes of text drawn in pure red are counted.
colours counts distinct colours; a box with one colour has nothing drawn in it.
"""
import sys


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pos += 1  # the single whitespace byte after maxval
    if fields[0] != b"P6" or int(fields[3]) != 255:
        sys.exit(f"boxes.py: {path}: not an 8-bit binary PPM")
    width, height = int(fields[1]), int(fields[2])
    pixels = data[pos:pos + width * height * 3]
    if len(pixels) != width * height * 3:
        sys.exit(f"boxes.py: {path}: truncated")
    return width, height, pixels


def main(argv):
    if len(argv) < 5:
        sys.exit(__doc__)
    width, height, pixels = read_ppm(argv[1])
    ox, oy = int(argv[2]), int(argv[3])
    for spec in argv[4:]:
        name, rect = spec.split("=", 1)
        left, top, w, h = (int(v) for v in rect.split(","))
        x0, y0 = ox + left, oy + top
        if x0 < 0 or y0 < 0 or x0 + w > width or y0 + h > height:
            sys.exit(f"boxes.py: box {name} lies outside the {width}x{height} screenshot")
        red = 0
        colours = set()
        for y in range(y0, y0 + h):
            row = pixels[(y * width + x0) * 3:(y * width + x0 + w) * 3]
            for i in range(0, len(row), 3):
                px = row[i:i + 3]
                colours.add(px)
                if px == b"\xff\x00\x00":
                    red += 1
        print(f"{name} red={red} colours={len(colours)}")


if __name__ == "__main__":
    main(sys.argv)
