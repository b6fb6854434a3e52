#!/usr/bin/env python3
"""Reads screenshots of the updater (binary PPM, as `import` writes them) and
checks the backdrop's gradient and the frame's place on them.

  zvscreen.py pixel SHOT X Y
      prints "R G B" of one pixel.
  zvscreen.py gradient SHOT LEFT TOP HEIGHT COLUMN...
      checks every row of the given columns (client coordinates) of a backdrop
      whose client area starts at (LEFT, TOP) on the screen and is HEIGHT rows
      high: row y must be (0, 0, 255 - 255 * y // HEIGHT). Exits 1 on the
      first rows that differ, after printing them.
  zvscreen.py frame SHOT LEFT TOP HEIGHT X Y W H
      checks that the rectangle (X, Y) W x H (client coordinates) is where the
      gradient stops: along the middle row and column of the rectangle the
      pixels just outside it are the gradient's and its edge pixels are not.
"""
import sys


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            while data[pos:pos + 1] not in (b"\n", b""):
                pos += 1
            continue
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    if fields[0] != b"P6" or int(fields[3]) != 255:
        raise ValueError(f"{path}: not an 8-bit binary PPM")
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[pos + 1:pos + 1 + width * height * 3]


class Shot:
    def __init__(self, path):
        self.width, self.height, self.data = read_ppm(path)

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])


def gradient(y, height):
    return (0, 0, 255 - (255 * y) // height)


def check_gradient(shot, left, top, height, columns):
    bad = []
    for column in columns:
        for y in range(height):
            got = shot.pixel(left + column, top + y)
            if got != gradient(y, height):
                bad.append((column, y, got, gradient(y, height)))
    for column, y, got, want in bad[:10]:
        print(f"column {column} row {y}: {got}, expected {want}")
    if bad:
        print(f"{len(bad)} pixels differ from the gradient")
    return not bad


def check_frame(shot, left, top, height, x, y, w, h):
    ok = True

    def is_gradient(cx, cy):
        return shot.pixel(left + cx, top + cy) == gradient(cy, height)

    row, column = y + h // 2, x + w // 2
    cases = [
        ("left of the frame", x - 1, row, True), ("frame's left edge", x, row, False),
        ("frame's right edge", x + w - 1, row, False), ("right of the frame", x + w, row, True),
        ("above the frame", column, y - 1, True), ("frame's top edge", column, y, False),
        ("frame's bottom edge", column, y + h - 1, False), ("below the frame", column, y + h, True),
    ]
    for what, cx, cy, want in cases:
        if cx < 0 or cy < 0 or cy >= height:
            continue
        if is_gradient(cx, cy) != want:
            print(f"{what} at ({cx}, {cy}): {shot.pixel(left + cx, top + cy)}, "
                  f"{'expected' if want else 'not expected'} gradient {gradient(cy, height)}")
            ok = False
    return ok


def main(argv):
    command, shot = argv[1], Shot(argv[2])
    numbers = [int(a) for a in argv[3:]]
    if command == "pixel":
        print(*shot.pixel(*numbers))
        return 0
    if command == "gradient":
        left, top, height, *columns = numbers
        return 0 if check_gradient(shot, left, top, height, columns) else 1
    if command == "frame":
        return 0 if check_frame(shot, *numbers) else 1
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
