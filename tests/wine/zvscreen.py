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
  zvscreen.py bar SHOT X Y W H PERCENT
      checks the transfer page's bar, W x H pixels at (X, Y) on the screen, as
      it stands at PERCENT: a sunken one-pixel frame, and along its middle row
      segments of H / 2 pixels one colour, starting at 1 and every H / 2 + 2
      pixels for as long as a segment ends left of W * PERCENT / 100; the
      rest inside the frame is the face colour.
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


def check_bar(shot, x, y, w, h, percent):
    s, filled = h // 2, w * percent // 100
    want = []
    start = 1
    while start + s < filled:
        want.append((start, s))
        start += s + 2
    row = y + h // 2
    face = shot.pixel(x + w - 2, row)
    ok = True
    if want:
        segment = shot.pixel(x + 1, row)
        if segment == face:
            print(f"the first segment at x = 1 has the face colour {face}")
            return False
        runs, run_start = [], None
        for cx in range(1, w - 1):
            inside = shot.pixel(x + cx, row) == segment
            if inside and run_start is None:
                run_start = cx
            if not inside and run_start is not None:
                runs.append((run_start, cx - run_start))
                run_start = None
        if run_start is not None:
            runs.append((run_start, w - 1 - run_start))
        if runs != want:
            print(f"segments (start, width) {runs}, expected {want}")
            ok = False
        others = {shot.pixel(x + cx, row) for cx in range(1, w - 1)} - {segment, face}
    else:
        others = {shot.pixel(x + cx, row) for cx in range(1, w - 1)} - {face}
    if others:
        print(f"colours other than the segments' and the face's inside the bar: {sorted(others)}")
        ok = False
    # The sunken frame: shadow above and left, highlight below and right.
    shadow, highlight = shot.pixel(x + w // 2, y), shot.pixel(x + w // 2, y + h - 1)
    edges = [("left", shot.pixel(x, row), shadow), ("right", shot.pixel(x + w - 1, row), highlight)]
    for what, got, expected in edges:
        if got != expected:
            print(f"the {what} edge is {got}, expected {expected}")
            ok = False
    if shadow == face or highlight == face or shadow == highlight:
        print(f"frame colours shadow {shadow}, highlight {highlight}, face {face}: not a sunken frame")
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
    if command == "bar":
        return 0 if check_bar(shot, *numbers) else 1
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
