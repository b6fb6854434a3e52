#!/usr/bin/env python3
"""Draws the updater's two pictures.

  make_pictures.py OUTDIR

writes OUTDIR/zvupdate_picture.bmp, the tall picture on the left of the
wizard's frame (bitmap 200: 178 x 390 pixels, 8 bits per pixel with a full
256-entry colour table), and OUTDIR/zvupdate.ico, the program's icon (icon
800: one 32 x 32 image of 16 colours).

Everything is computed from the shapes below: no randomness, no input files,
only the standard library, so every run gives the same bytes.

The picture keeps entries 0 to 9 and 246 to 255 of its colour table for the
twenty static colours of a 256-colour display and draws with the 236 entries
between them only, so it looks the same whether or not a palette display
replaces those twenty with its own.
"""
import math
import os
import struct
import sys

PICTURE_WIDTH = 178
PICTURE_HEIGHT = 390
ICON_SIZE = 32

# The twenty colours a palette display keeps for itself, at the places it
# keeps them (0 to 9 and 246 to 255).
STATIC_LOW = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128),
    (128, 0, 128), (0, 128, 128), (192, 192, 192), (192, 220, 192), (166, 202, 240),
]
STATIC_HIGH = [
    (255, 251, 240), (160, 160, 164), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


# ----------------------------------------------------------------------------
# Shapes as signed distances (negative inside), in pixels.

def clamp(value, low=0.0, high=1.0):
    return low if value < low else high if value > high else value


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else clamp(((px - ax) * dx + (py - ay) * dy) / length2)
    ex, ey = px - (ax + t * dx), py - (ay + t * dy)
    return math.sqrt(ex * ex + ey * ey)


def rounded_box_distance(px, py, cx, cy, half_w, half_h, radius):
    qx = abs(px - cx) - (half_w - radius)
    qy = abs(py - cy) - (half_h - radius)
    outside = math.sqrt(max(qx, 0.0) ** 2 + max(qy, 0.0) ** 2)
    return outside + min(max(qx, qy), 0.0) - radius


def coverage(distance):
    """Share of a pixel inside a shape whose edge is `distance` from its centre."""
    return clamp(0.5 - distance)


class Canvas:
    """An RGB picture of floats, drawn on by blending shapes over it."""

    def __init__(self, width, height, colour_at):
        self.width = width
        self.height = height
        self.pixels = [colour_at(x + 0.5, y + 0.5) for y in range(height) for x in range(width)]

    def blend(self, x, y, colour, alpha):
        if alpha <= 0.0:
            return
        i = y * self.width + x
        self.pixels[i] = mix(self.pixels[i], colour, alpha)

    def paint(self, box, distance_at, colour_at, opacity=1.0):
        """Blends a shape over the pixels of `box` (x0, y0, x1, y1)."""
        x0, y0, x1, y1 = box
        for y in range(max(0, int(y0)), min(self.height, int(math.ceil(y1)))):
            for x in range(max(0, int(x0)), min(self.width, int(math.ceil(x1)))):
                px, py = x + 0.5, y + 0.5
                a = coverage(distance_at(px, py)) * opacity
                if a > 0.0:
                    self.blend(x, y, colour_at(px, py), a)


def strokes_distance(strokes, radius):
    """Distance to a union of round-ended strokes of one width."""
    def distance_at(px, py):
        return min(segment_distance(px, py, *s) for s in strokes) - radius
    return distance_at


def strokes_box(strokes, margin):
    xs = [v for s in strokes for v in (s[0], s[2])]
    ys = [v for s in strokes for v in (s[1], s[3])]
    return (min(xs) - margin, min(ys) - margin, max(xs) + margin, max(ys) + margin)


# ----------------------------------------------------------------------------
# Letters drawn as strokes in a unit box (x to the right, y downwards).

def arc(cx, cy, rx, ry, start, end, steps=10):
    points = []
    for k in range(steps + 1):
        angle = math.radians(start + (end - start) * k / steps)
        points.append((cx + rx * math.cos(angle), cy + ry * math.sin(angle)))
    return [(points[k] + points[k + 1]) for k in range(steps)]


def line(*points):
    return [(points[k] + points[k + 1]) for k in range(len(points) - 1)]


GLYPHS = {
    "Z": line((0, 0), (1, 0), (0, 1), (1, 1)),
    "A": line((0, 1), (0.5, 0), (1, 1)) + line((0.22, 0.64), (0.78, 0.64)),
    "R": line((0, 1), (0, 0), (0.55, 0)) + arc(0.55, 0.26, 0.42, 0.26, -90, 90)
         + line((0.55, 0.52), (0, 0.52)) + line((0.5, 0.52), (1, 1)),
    "V": line((0, 0), (0.5, 1), (1, 0)),
    "E": line((1, 0), (0, 0), (0, 1), (1, 1)) + line((0, 0.5), (0.8, 0.5)),
    "L": line((0, 0), (0, 1), (1, 1)),
    "U": line((0, 0), (0, 0.6)) + arc(0.5, 0.6, 0.5, 0.4, 180, 0) + line((1, 0.6), (1, 0)),
    "P": line((0, 1), (0, 0), (0.55, 0)) + arc(0.55, 0.27, 0.45, 0.27, -90, 90)
         + line((0.55, 0.54), (0, 0.54)),
    "D": line((0.45, 0), (0, 0), (0, 1), (0.45, 1)) + arc(0.45, 0.5, 0.55, 0.5, 90, -90),
    "T": line((0, 0), (1, 0)) + line((0.5, 0), (0.5, 1)),
}


def word_strokes(word, left, top, letter_width, letter_height, spacing):
    strokes = []
    x = left
    for letter in word:
        for ax, ay, bx, by in GLYPHS[letter]:
            strokes.append((x + ax * letter_width, top + ay * letter_height,
                            x + bx * letter_width, top + by * letter_height))
        x += letter_width + spacing
    return strokes


def word_width(word, letter_width, spacing):
    return len(word) * letter_width + (len(word) - 1) * spacing


# ----------------------------------------------------------------------------
# The picture.

def draw_picture():
    w, h = PICTURE_WIDTH, PICTURE_HEIGHT
    top_colour = (58, 118, 196)
    middle_colour = (24, 62, 132)
    bottom_colour = (8, 22, 60)

    def background(px, py):
        t = py / h
        base = mix(top_colour, middle_colour, t / 0.55) if t < 0.55 else \
            mix(middle_colour, bottom_colour, (t - 0.55) / 0.45)
        # A soft light behind the emblem.
        dx, dy = (px - w * 0.5) / 150.0, (py - 118.0) / 170.0
        glow = clamp(1.0 - math.sqrt(dx * dx + dy * dy)) ** 2
        return mix(base, (120, 175, 235), 0.38 * glow)

    canvas = Canvas(w, h, background)

    # Large faint circles, like light on glass.
    for cx, cy, r, opacity in ((170, 30, 78, 0.07), (4, 350, 96, 0.06), (150, 300, 40, 0.05)):
        canvas.paint((cx - r - 1, cy - r - 1, cx + r + 1, cy + r + 1),
                     lambda px, py, cx=cx, cy=cy, r=r: math.hypot(px - cx, py - cy) - r,
                     lambda px, py: (235, 245, 255), opacity)

    # Two gentle ribbons across the lower part.
    def ribbon(base, amplitude, phase, thickness, opacity):
        def distance_at(px, py):
            centre = base + amplitude * math.sin(px / w * 2.2 * math.pi + phase)
            return abs(py - centre) - thickness
        canvas.paint((0, base - amplitude - thickness - 2, w, base + amplitude + thickness + 2),
                     distance_at, lambda px, py: (150, 200, 250), opacity)

    ribbon(300, 14, 0.3, 10, 0.10)
    ribbon(318, 11, 1.4, 6, 0.12)
    ribbon(334, 9, 2.6, 3, 0.16)

    # The emblem: a white tile with a soft shadow and a blue Z.
    cx, cy, half, radius = w / 2.0, 118.0, 42.0, 17.0
    def shadow(px, py):
        # Fades out over 9 pixels beyond the tile's edge, lowered by 6.
        spread = rounded_box_distance(px, py, cx, cy + 6, half, half, radius) / 9.0
        return max(spread, 0.0) - 0.5

    canvas.paint((cx - half - 14, cy - half - 8, cx + half + 14, cy + half + 22),
                 shadow, lambda px, py: (4, 14, 40), 0.30)
    canvas.paint((cx - half - 1, cy - half - 1, cx + half + 1, cy + half + 1),
                 lambda px, py: rounded_box_distance(px, py, cx, cy, half, half, radius),
                 lambda px, py: mix((255, 255, 255), (214, 228, 246), clamp((py - (cy - half)) / (2 * half))))
    z = 21.0
    bars = line((cx - z, cy - z), (cx + z, cy - z)) + line((cx - z, cy + z), (cx + z, cy + z))
    diagonal = line((cx + z, cy - z), (cx - z, cy + z))
    canvas.paint(strokes_box(bars, 8), strokes_distance(bars, 5.5),
                 lambda px, py: mix((28, 84, 176), (16, 52, 130), clamp((py - (cy - z)) / (2 * z))))
    canvas.paint(strokes_box(diagonal, 8), strokes_distance(diagonal, 5.0),
                 lambda px, py: mix((52, 150, 226), (30, 104, 196), clamp((py - (cy - z)) / (2 * z))))

    # The name, and what this program does with it.
    name_w, name_h, name_gap = 12.5, 18.0, 5.5
    left = (w - word_width("ZARVEL", name_w, name_gap)) / 2.0
    name = word_strokes("ZARVEL", left, 196.0, name_w, name_h, name_gap)
    canvas.paint(strokes_box(name, 4), strokes_distance(name, 1.7), lambda px, py: (255, 255, 255))

    tag_w, tag_h, tag_gap = 6.5, 9.0, 5.0
    left = (w - word_width("UPDATE", tag_w, tag_gap)) / 2.0
    tag = word_strokes("UPDATE", left, 231.0, tag_w, tag_h, tag_gap)
    canvas.paint(strokes_box(tag, 3), strokes_distance(tag, 1.1), lambda px, py: (176, 208, 244))

    # A short rule between the two words.
    rule = line((w / 2.0 - 22, 222.0), (w / 2.0 + 22, 222.0))
    canvas.paint(strokes_box(rule, 3), strokes_distance(rule, 0.6), lambda px, py: (120, 170, 230))
    return canvas


# ----------------------------------------------------------------------------
# Colour reduction: median cut over the distinct colours, weighted by use.

def to_bytes(colour):
    return tuple(int(round(clamp(c, 0, 255))) for c in colour)


def median_cut(counts, box_count):
    """Splits the colours of `counts` (colour -> uses) into at most box_count
    boxes; returns the boxes as lists of colours."""
    boxes = [sorted(counts)]
    while len(boxes) < box_count:
        # Split the box with the widest channel range, weighted by its use.
        best, best_score, best_channel = None, 0, 0
        for index, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for channel in range(3):
                values = [c[channel] for c in box]
                spread = max(values) - min(values)
                score = spread * sum(counts[c] for c in box) ** 0.5
                if score > best_score:
                    best, best_score, best_channel = index, score, channel
        if best is None:
            break
        box = sorted(boxes[best], key=lambda c: (c[best_channel], c))
        total = sum(counts[c] for c in box)
        running, cut = 0, 1
        for k, c in enumerate(box[:-1]):
            running += counts[c]
            if running * 2 >= total:
                cut = k + 1
                break
        boxes[best:best + 1] = [box[:cut], box[cut:]]
    return boxes


def reduce_colours(pixels, colour_count):
    """Returns (palette, indexes) with at most colour_count colours."""
    colours = [to_bytes(p) for p in pixels]
    counts = {}
    for c in colours:
        counts[c] = counts.get(c, 0) + 1
    boxes = median_cut(counts, colour_count)
    palette = []
    for box in boxes:
        total = sum(counts[c] for c in box)
        palette.append(tuple(int(round(sum(c[i] * counts[c] for c in box) / total)) for i in range(3)))
    # Each distinct colour goes to the nearest palette colour.
    nearest = {}
    for c in counts:
        nearest[c] = min(range(len(palette)),
                         key=lambda k: ((c[0] - palette[k][0]) ** 2 + (c[1] - palette[k][1]) ** 2
                                        + (c[2] - palette[k][2]) ** 2, k))
    return palette, [nearest[c] for c in colours]


# ----------------------------------------------------------------------------
# File forms.

def bitmap_info_header(width, height, bit_count, image_size, colours_used):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bit_count, 0, image_size,
                       2835, 2835, colours_used, 0)


def colour_table(colours):
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in colours)


def picture_bmp():
    canvas = draw_picture()
    palette, indexes = reduce_colours(canvas.pixels, 256 - len(STATIC_LOW) - len(STATIC_HIGH))
    palette += [(0, 0, 0)] * (236 - len(palette))
    table = STATIC_LOW + palette + STATIC_HIGH
    first = len(STATIC_LOW)

    w, h = canvas.width, canvas.height
    stride = (w + 3) & ~3
    rows = []
    for y in range(h - 1, -1, -1):  # bottom-up
        row = bytes(first + indexes[y * w + x] for x in range(w))
        rows.append(row + bytes(stride - w))
    pixels = b"".join(rows)
    dib = bitmap_info_header(w, h, 8, len(pixels), 256) + colour_table(table) + pixels
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(dib), 0, 0, 14 + 40 + 256 * 4)
    return file_header + dib


def draw_icon():
    """Returns 32 x 32 (colour, opaque) pairs: a blue tile with a white Z."""
    size, samples = ICON_SIZE, 4
    centre, half, radius = size / 2.0, 15.5, 6.0
    z = 7.0
    bars = line((centre - z, centre - z), (centre + z, centre - z)) + \
        line((centre - z, centre + z), (centre + z, centre + z))
    diagonal = line((centre + z, centre - z), (centre - z, centre + z))
    face = (192, 192, 192)
    result = []
    for y in range(size):
        for x in range(size):
            colour, inside = [0.0, 0.0, 0.0], 0
            for sy in range(samples):
                for sx in range(samples):
                    px, py = x + (sx + 0.5) / samples, y + (sy + 0.5) / samples
                    if rounded_box_distance(px, py, centre, centre, half, half, radius) > 0:
                        sample = face
                    else:
                        inside += 1
                        sample = mix((52, 124, 212), (16, 50, 128), py / size)
                        if min(segment_distance(px, py, *s) for s in bars) <= 2.4:
                            sample = (255, 255, 255)
                        elif min(segment_distance(px, py, *s) for s in diagonal) <= 2.1:
                            sample = (206, 232, 252)
                    for i in range(3):
                        colour[i] += sample[i]
            n = samples * samples
            result.append((tuple(c / n for c in colour), inside * 2 >= n))
    return result


def icon_ico():
    pixels = draw_icon()
    opaque_colours = [c for c, opaque in pixels if opaque]
    palette, indexes = reduce_colours(opaque_colours, 15)
    palette += [(0, 0, 0)] * (15 - len(palette))
    table = [(0, 0, 0)] + palette  # entry 0 shows through the mask
    size = ICON_SIZE
    index_at, k = [], 0
    for colour, opaque in pixels:
        if opaque:
            index_at.append(1 + indexes[k])
            k += 1
        else:
            index_at.append(0)

    xor_rows, and_rows = [], []
    for y in range(size - 1, -1, -1):  # bottom-up
        row = index_at[y * size:(y + 1) * size]
        xor_rows.append(bytes((row[x] << 4) | row[x + 1] for x in range(0, size, 2)))
        mask = 0
        for x in range(size):
            mask = (mask << 1) | (0 if pixels[y * size + x][1] else 1)
        and_rows.append(struct.pack(">I", mask))
    xor_bits, and_bits = b"".join(xor_rows), b"".join(and_rows)
    image = bitmap_info_header(size, size * 2, 4, len(xor_bits) + len(and_bits), 16) + \
        colour_table(table) + xor_bits + and_bits
    directory = struct.pack("<HHH", 0, 1, 1) + \
        struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + image


def write_if_changed(path, data):
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return
    except FileNotFoundError:
        pass
    with open(path, "wb") as f:
        f.write(data)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_pictures.py OUTDIR")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_if_changed(os.path.join(out, "zvupdate_picture.bmp"), picture_bmp())
    write_if_changed(os.path.join(out, "zvupdate.ico"), icon_ico())


if __name__ == "__main__":
    main()
