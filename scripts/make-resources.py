#!/usr/bin/env python3
"""Draws, synthesises and writes every picture, sound and the manual that Vellum ships.

Everything is made here from code, with the standard library only, and the output is the same bytes
on every run: the random generators all start from fixed seeds. The files land in ui/resources/
beside this script's repository root, where they are kept under version control so that building
the program never needs Python.

    scripts/make-resources.py [--preview FOLDER]

With --preview, enlarged copies of the pictures are also written to FOLDER for a visual check.
"""

import argparse
import math
import os
import random
import struct
import wave
import zlib

OUTPUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ui", "resources")

# ---------------------------------------------------------------------------------------------
# The 16-colour palette and a small pixel canvas
# ---------------------------------------------------------------------------------------------

# The standard 16-colour VGA palette in the order Windows uses for 4-bit icons and bitmaps.
VGA = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GRAY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)
CLEAR = 16  # Not a colour: the pixel is transparent.

# One letter per colour, for pictures drawn as rows of text.
LETTERS = {
    ".": CLEAR, "K": BLACK, "m": MAROON, "g": GREEN, "o": OLIVE, "n": NAVY, "p": PURPLE, "t": TEAL,
    "s": SILVER, "d": GRAY, "R": RED, "L": LIME, "Y": YELLOW, "B": BLUE, "F": FUCHSIA, "A": AQUA,
    "W": WHITE,
}


class Canvas:
    """A 32 x 32 grid of palette indices, transparent until drawn on."""

    def __init__(self, size=32):
        self.size = size
        self.pixels = [[CLEAR] * size for _ in range(size)]

    def copy(self):
        other = Canvas(self.size)
        other.pixels = [row[:] for row in self.pixels]
        return other

    def put(self, x, y, colour):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.pixels[y][x] = colour

    def get(self, x, y):
        return self.pixels[y][x]

    def rect(self, left, top, right, bottom, fill, outline=None):
        """Fills the rectangle with corners (left, top) and (right, bottom), both included."""
        for y in range(top, bottom + 1):
            for x in range(left, right + 1):
                edge = x in (left, right) or y in (top, bottom)
                self.put(x, y, outline if edge and outline is not None else fill)

    def line(self, x0, y0, x1, y1, colour):
        """Bresenham's line, both ends included."""
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        error = dx + dy
        while True:
            self.put(x0, y0, colour)
            if x0 == x1 and y0 == y1:
                return
            twice = 2 * error
            if twice >= dy:
                error += dy
                x0 += sx
            if twice <= dx:
                error += dx
                y0 += sy

    def polygon(self, points, fill, outline=None):
        """Fills every pixel whose centre lies inside the polygon, then traces its edges."""
        top = max(0, math.floor(min(y for _, y in points)))
        bottom = min(self.size - 1, math.ceil(max(y for _, y in points)))
        for y in range(top, bottom + 1):
            centre = y + 0.5
            crossings = []
            for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
                if (ay <= centre < by) or (by <= centre < ay):
                    crossings.append(ax + (centre - ay) * (bx - ax) / (by - ay))
            crossings.sort()
            for start, end in zip(crossings[0::2], crossings[1::2]):
                for x in range(math.ceil(start - 0.5), math.floor(end - 0.5) + 1):
                    self.put(x, y, fill)
        if outline is not None:
            corners = [(round(x), round(y)) for x, y in points]
            for (ax, ay), (bx, by) in zip(corners, corners[1:] + corners[:1]):
                self.line(ax, ay, bx, by, outline)

    def ellipse(self, cx, cy, rx, ry, fill, outline=None):
        """Fills the pixels whose centres lie inside the ellipse; the outline is its rim of pixels."""
        inside = set()
        for y in range(self.size):
            for x in range(self.size):
                u, v = (x + 0.5 - cx) / rx, (y + 0.5 - cy) / ry
                if u * u + v * v <= 1.0:
                    inside.add((x, y))
        for x, y in inside:
            rim = any((x + ox, y + oy) not in inside for ox, oy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
            self.put(x, y, outline if rim and outline is not None else fill)

    def thick_line(self, points, radius, colour):
        """Strokes a polyline with a round pen of the given radius."""
        for (ax, ay), (bx, by) in zip(points, points[1:]):
            for y in range(self.size):
                for x in range(self.size):
                    if segment_distance(x + 0.5, y + 0.5, ax, ay, bx, by) <= radius:
                        self.put(x, y, colour)

    def stamp(self, rows, left=0, top=0):
        """Copies a picture written as rows of letters; a full stop leaves the pixel as it was."""
        for y, row in enumerate(rows):
            for x, letter in enumerate(row):
                if letter != ".":
                    self.put(left + x, top + y, LETTERS[letter])

    def colours_used(self):
        return {c for row in self.pixels for c in row if c != CLEAR}


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length = dx * dx + dy * dy
    t = 0.0 if length == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def picture(rows):
    """A canvas from 32 rows of 32 letters; the rows are checked so that a slip shows at once."""
    assert len(rows) == 32, len(rows)
    for number, row in enumerate(rows):
        assert len(row) == 32, (number, row)
    canvas = Canvas()
    canvas.stamp(rows)
    return canvas


# ---------------------------------------------------------------------------------------------
# File formats: PNG, ICO, BMP, WAV
# ---------------------------------------------------------------------------------------------


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png_bytes(width, height, rows, colour_type, palette=None, transparency=None):
    """A PNG with 8 bits per sample; rows are lists of samples, already interleaved."""
    raw = b"".join(b"\x00" + bytes(row) for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    chunks = png_chunk(b"IHDR", header)
    if palette is not None:
        chunks += png_chunk(b"PLTE", b"".join(bytes(c) for c in palette))
    if transparency is not None:
        chunks += png_chunk(b"tRNS", bytes(transparency))
    chunks += png_chunk(b"IDAT", zlib.compress(raw, 9))
    chunks += png_chunk(b"IEND", b"")
    return b"\x89PNG\r\n\x1a\n" + chunks


def canvas_png(canvas):
    """An indexed PNG: the 16 colours plus one fully transparent entry for the clear pixels."""
    alpha = [255] * 16 + [0]
    return png_bytes(canvas.size, canvas.size, canvas.pixels, 3, VGA + [(0, 0, 0)], alpha)


def canvas_ico(canvas):
    """An ICO holding one 4-bit image: its colour bitmap followed by the 1-bit AND mask."""
    size = canvas.size
    colour_rows, mask_rows = [], []
    for row in reversed(canvas.pixels):  # Bitmaps are stored bottom row first.
        indices = [0 if c == CLEAR else c for c in row]
        colour_rows.append(bytes((indices[x] << 4) | indices[x + 1] for x in range(0, size, 2)))
        bits = 0
        for c in row:
            bits = (bits << 1) | (1 if c == CLEAR else 0)
        mask_rows.append(bits.to_bytes(size // 8, "big").ljust(4 * ((size + 31) // 32), b"\x00"))
    image = b"".join(colour_rows) + b"".join(mask_rows)
    info = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0, len(image), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in VGA)
    body = info + palette + image
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(body), 22)
    return directory + body


def bmp8_bytes(width, height, indices, palette):
    """An uncompressed (BI_RGB) 8-bit Windows bitmap; indices is a list of rows, top row first."""
    stride = (width + 3) & ~3
    image = b"".join(bytes(row).ljust(stride, b"\x00") for row in reversed(indices))
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    offset = 14 + 40 + len(table)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(image), 2835, 2835, 256, 0)
    return struct.pack("<2sIHHI", b"BM", offset + len(image), 0, 0, offset) + info + table + image


def write_wave(path, samples, rate=22050):
    """Writes 16-bit mono PCM; samples are floats in -1..1."""
    frames = b"".join(struct.pack("<h", max(-32767, min(32767, round(s * 32767)))) for s in samples)
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(frames)


def write_file(name, data):
    with open(os.path.join(OUTPUT, name), "wb") as out:
        out.write(data)


# ---------------------------------------------------------------------------------------------
# The 32 x 32 pictures
# ---------------------------------------------------------------------------------------------


def draw_sheet(canvas, corners, lines=3):
    """A sheet of paper given by its four corners (clockwise from top left), with lines of text."""
    canvas.polygon(corners, WHITE, BLACK)
    (ax, ay), (bx, by), _, (dx, dy) = corners
    for number in range(lines):
        # Text lines run parallel to the top edge, inset from the sides.
        t = (number + 1.2) / (lines + 1.4)
        left = (ax + (dx - ax) * t + (bx - ax) * 0.2, ay + (dy - ay) * t + (by - ay) * 0.2)
        right = (ax + (dx - ax) * t + (bx - ax) * 0.8, ay + (dy - ay) * t + (by - ay) * 0.8)
        canvas.line(round(left[0]), round(left[1]), round(right[0]), round(right[1]), GRAY)


def tilted_sheet(cx, cy, width, height, degrees):
    """The corners of a sheet centred on (cx, cy) and turned clockwise by the given angle."""
    angle = math.radians(degrees)
    cos, sin = math.cos(angle), math.sin(angle)
    corners = []
    for ox, oy in ((-1, -1), (1, -1), (1, 1), (-1, 1)):
        x, y = ox * width / 2, oy * height / 2
        corners.append((cx + x * cos - y * sin, cy + x * sin + y * cos))
    return corners


def draw_folder_back(canvas, top):
    """The back of a manila folder with its tab; the front is drawn later over what it holds."""
    canvas.rect(2, top - 3, 11, top, OLIVE, BLACK)
    canvas.rect(1, top, 28, 28, OLIVE, BLACK)
    canvas.line(3, top, 10, top, OLIVE)
    canvas.line(3, top - 2, 10, top - 2, YELLOW)


def draw_folder_front(canvas, top):
    canvas.rect(1, top, 28, 28, YELLOW, BLACK)
    canvas.line(2, top + 1, 26, top + 1, WHITE)
    canvas.line(2, 27, 27, 27, OLIVE)
    canvas.line(27, top + 1, 27, 27, OLIVE)


def draw_zip(canvas, top, bottom):
    """A zip fastener down the middle of the folder with its slider and pull at the top."""
    for y in range(top + 4, bottom + 1):
        if y % 2:
            canvas.put(12, y, SILVER)
            canvas.put(13, y, SILVER)
            canvas.put(14, y, BLACK)
        else:
            canvas.put(14, y, BLACK)
            canvas.put(15, y, GRAY)
            canvas.put(16, y, GRAY)
    canvas.rect(12, top, 16, top + 3, SILVER, BLACK)
    canvas.rect(13, top + 3, 15, top + 7, WHITE, BLACK)
    canvas.put(14, top + 5, GRAY)


def draw_check(canvas, points):
    """A bold green tick with a dark rim and a bright edge, readable on any background."""
    canvas.thick_line(points, 2.45, BLACK)
    canvas.thick_line(points, 1.45, GREEN)
    lit = [(x - 0.9, y - 0.9) for x, y in points]
    canvas.thick_line(lit, 0.6, LIME)


def application_icon():
    canvas = Canvas()
    draw_folder_back(canvas, 7)
    draw_sheet(canvas, [(11, 1), (25, 1), (25, 14), (11, 14)])
    draw_sheet(canvas, [(4, 3), (19, 3), (19, 15), (4, 15)])
    draw_folder_front(canvas, 11)
    draw_zip(canvas, 11, 27)
    draw_check(canvas, [(15.5, 20.5), (20.5, 26.0), (30.0, 11.5)])
    return canvas


def animation_frames():
    """Frame 0 is the rest pose, a sheet sitting in the open archive; in frames 1 and 2 it leaps
    out to the left and to the right, and in frame 2 it carries its tick of approval."""
    poses = [
        (16.0, 13.0, 0, False),
        (10.0, 8.0, -24, False),
        (21.0, 8.0, 22, True),
    ]
    frames = []
    for cx, cy, degrees, ticked in poses:
        canvas = Canvas()
        draw_folder_back(canvas, 14)
        draw_sheet(canvas, tilted_sheet(cx, cy, 12, 14, degrees))
        if ticked:
            canvas.thick_line([(cx - 3.5, cy + 1.0), (cx - 1.0, cy + 3.5), (cx + 3.5, cy - 3.0)], 1.0, GREEN)
        canvas.rect(1, 18, 28, 28, YELLOW, BLACK)
        canvas.line(2, 19, 26, 19, WHITE)
        canvas.line(2, 27, 27, 27, OLIVE)
        canvas.line(27, 19, 27, 27, OLIVE)
        for y in range(21, 28):
            canvas.put(14, y, BLACK if y % 2 else GRAY)
        canvas.rect(13, 18, 15, 21, SILVER, BLACK)
        if degrees:
            # Motion streaks behind the flying sheet.
            side = 1 if degrees < 0 else -1
            for offset in (0, 4, 8):
                x = round(cx + side * 9)
                canvas.line(x, round(cy) - 4 + offset, x + side * 3, round(cy) - 3 + offset, GRAY)
        frames.append(canvas)
    return frames


HAND_ROWS = [
    "......KK........................",
    ".....KWWK.......................",
    ".....KWWK.......................",
    ".....KWWK.......................",
    ".....KWWK.......................",
    ".....KWWK.......................",
    ".....KWWKKK.....................",
    ".....KWWKWWKKK..................",
    ".....KWWKWWKWWKK................",
    ".....KWWKWWKWWKWWK..............",
    ".KK..KWWKWWKWWKWWK..............",
    "KWWK.KWWKWWKWWKWWK..............",
    "KWWWKKWWWWWWWWWWWK..............",
    ".KWWWKWWWWWWWWWWWK..............",
    "..KWWWWWWWWWWWWWWK..............",
    "..KWWWWWWWWWWWWWWK..............",
    "...KWWWWWWWWWWWWWK..............",
    "...KWWWWWWWWWWWWK...............",
    "....KWWWWWWWWWWWK...............",
    "....KWWWWWWWWWWWK...............",
    ".....KWWWWWWWWWK................",
    ".....KsssssssssK................",
    ".....KnnnnnnnnnK................",
    ".....KnnnnnnnnnK................",
    ".....KKKKKKKKKKK................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
]
HAND_HOT_SPOT = (6, 0)


def pointing_hand():
    return picture(HAND_ROWS)


CLOWN_HOT_SPOT = (16, 16)


def clown_face():
    canvas = Canvas()
    # Tufts of hair either side, then the face over them.
    for cx, cy in ((5.5, 15.0), (4.0, 20.0), (6.5, 24.0), (26.5, 15.0), (28.0, 20.0), (25.5, 24.0)):
        canvas.ellipse(cx, cy, 3.4, 3.4, RED, MAROON)
    canvas.ellipse(16.0, 18.0, 10.0, 11.5, WHITE, BLACK)
    # The pointed hat with its bobble.
    canvas.polygon([(16.0, 1.5), (8.5, 10.5), (23.5, 10.5)], BLUE, BLACK)
    canvas.line(9, 10, 23, 10, NAVY)
    canvas.put(14, 6, YELLOW)
    canvas.put(18, 8, YELLOW)
    canvas.put(13, 9, YELLOW)
    canvas.ellipse(16.0, 1.8, 1.9, 1.9, YELLOW, BLACK)
    # Eyes with painted crosses, the red nose and a wide grin.
    for x in (12, 20):
        canvas.line(x - 1, 12, x + 1, 12, BLUE)
        canvas.line(x, 11, x, 17, BLUE)
        canvas.rect(x - 1, 14, x, 15, BLACK)
    canvas.thick_line([(9.5, 21.5), (12.5, 25.0), (16.0, 26.0), (19.5, 25.0), (22.5, 21.5)], 1.05, RED)
    canvas.ellipse(16.0, 19.5, 2.6, 2.6, RED, MAROON)
    canvas.put(15, 18, WHITE)
    return canvas



# ---------------------------------------------------------------------------------------------
# The About window's picture: a night storm over the hills, and a strip of parchment
# ---------------------------------------------------------------------------------------------

ABOUT_WIDTH, ABOUT_HEIGHT = 800, 600
HORIZON = 190  # The hills' feet; the parchment strip lies just below.
PARCHMENT_TOP, PARCHMENT_BOTTOM = 199, 246


def smooth(t):
    return t * t * (3.0 - 2.0 * t)


def smoothstep(low, high, value):
    t = max(0.0, min(1.0, (value - low) / (high - low)))
    return smooth(t)


def mix(a, b, t):
    return tuple(p + (q - p) * t for p, q in zip(a, b))


class NoiseField:
    """Fractal value noise over the whole picture, worked out row by row for speed.

    Each octave is a lattice of random heights, blended smoothly between lattice points; the
    octaves halve in cell size and in weight, which gives cloud-like detail at every scale."""

    def __init__(self, seed, cell_width, cell_height, octaves, width, height):
        generator = random.Random(seed)
        self.octaves = []
        weight, total = 1.0, 0.0
        for _ in range(octaves):
            columns = int(width / cell_width) + 3
            lines = int(height / cell_height) + 3
            lattice = [[generator.random() for _ in range(columns)] for _ in range(lines)]
            cells = [x / cell_width for x in range(width)]
            column_index = [int(c) for c in cells]
            column_weight = [smooth(c - int(c)) for c in cells]
            self.octaves.append((lattice, cell_height, column_index, column_weight, weight))
            total += weight
            weight *= 0.5
            cell_width /= 2.0
            cell_height /= 2.0
        self.scale = 1.0 / total
        self.width = width

    def row(self, y):
        values = [0.0] * self.width
        for lattice, cell_height, column_index, column_weight, weight in self.octaves:
            position = y / cell_height
            line = int(position)
            t = smooth(position - line)
            upper, lower = lattice[line], lattice[line + 1]
            blended = [(u + (d - u) * t) * weight for u, d in zip(upper, lower)]
            values = [v + blended[i] + (blended[i + 1] - blended[i]) * w
                      for v, i, w in zip(values, column_index, column_weight)]
        return [v * self.scale for v in values]


def lightning_path(generator, start, end, roughness, depth):
    """A jagged bolt between two points by repeated midpoint displacement."""
    points = [start, end]
    for level in range(depth):
        refined = [points[0]]
        for (ax, ay), (bx, by) in zip(points, points[1:]):
            length = math.hypot(bx - ax, by - ay)
            shift = generator.uniform(-1.0, 1.0) * length * roughness
            # Displace across the segment, so the bolt zigzags rather than stretches.
            nx, ny = -(by - ay) / length, (bx - ax) / length
            refined.append(((ax + bx) / 2 + nx * shift, (ay + by) / 2 + ny * shift))
            refined.append((bx, by))
        points = refined
    return points


def lightning_distances():
    """For the pixels near the bolt, the distance to its nearest stroke, weighted so that the
    thinner side branches count as further away and so glow less."""
    generator = random.Random(1905)
    trunk = lightning_path(generator, (286.0, -4.0), (238.0, HORIZON - 4.0), 0.22, 6)
    branches = [
        (lightning_path(generator, trunk[22], (326.0, 116.0), 0.25, 5), 1.9),
        (lightning_path(generator, trunk[38], (200.0, 150.0), 0.25, 4), 2.3),
        (lightning_path(generator, trunk[12], (236.0, 60.0), 0.3, 4), 2.8),
    ]
    reach = 40
    distances = {}
    for points, weight in [(trunk, 1.0)] + branches:
        for (ax, ay), (bx, by) in zip(points, points[1:]):
            left, right = int(min(ax, bx)) - reach, int(max(ax, bx)) + reach
            top, bottom = max(0, int(min(ay, by)) - reach), min(ABOUT_HEIGHT - 1, int(max(ay, by)) + reach)
            for y in range(top, bottom + 1):
                for x in range(max(0, left), min(ABOUT_WIDTH - 1, right) + 1):
                    d = segment_distance(x + 0.5, y + 0.5, ax, ay, bx, by) * weight
                    if d < distances.get((x, y), reach):
                        distances[(x, y)] = d
    return distances, trunk[0]


def hill_line(seed, width, base, height, cell):
    """The top edge of a range of hills: one-dimensional smooth noise."""
    field = NoiseField(seed, cell, 1.0, 4, width, 2)
    return [base - height * v for v in field.row(0)]


def about_scene():
    """The picture as rows of (red, green, blue) floats."""
    width, height = ABOUT_WIDTH, ABOUT_HEIGHT
    clouds = NoiseField(11, 220.0, 70.0, 6, width, height + 2)
    billows = NoiseField(12, 60.0, 30.0, 4, width, height + 2)
    grain = NoiseField(13, 36.0, 9.0, 3, width, height + 2)
    bolt, source = lightning_distances()
    far_hills = hill_line(21, width, HORIZON - 14, 30, 140.0)
    near_hills = hill_line(22, width, HORIZON + 2, 18, 90.0)
    paper_top = hill_line(23, width, PARCHMENT_TOP + 2, 3, 40.0)
    paper_bottom = hill_line(24, width, PARCHMENT_BOTTOM, 3, 40.0)
    rain = random.Random(31)
    streaks = [(rain.uniform(0, width), rain.uniform(0, HORIZON), rain.uniform(8, 22)) for _ in range(900)]
    rain_light = {}
    for sx, sy, length in streaks:
        for step in range(int(length)):
            # Rain falls slanted to the left, lit faintly by the flash.
            rain_light[(int(sx - step * 0.35), int(sy + step))] = 0.05 + 0.04 * rain.random()

    rows = []
    for y in range(height):
        density_row, billow_row, grain_row = clouds.row(y), billows.row(y), grain.row(y)
        row = []
        for x in range(width):
            d = density_row[x]
            if y < paper_top[x]:
                # The sky: near black at the top, a deep storm blue down towards the hills.
                t = min(1.0, y / HORIZON)
                colour = mix((3, 4, 12), (20, 30, 78), t ** 1.3)
                flash = math.exp(-math.hypot(x - source[0], (y - source[1]) * 1.6) / 150.0)
                cover = d + 0.30 * (1.0 - t) - 0.12
                amount = smoothstep(0.42, 0.72, cover)
                if amount > 0.0:
                    shade = 0.25 + 0.75 * billow_row[x]
                    cloud = mix((12, 14, 26), (172, 180, 222), min(1.0, shade * (0.2 + 1.0 * flash)))
                    colour = mix(colour, cloud, amount)
                colour = mix(colour, (110, 130, 210), 0.18 * flash)
                lit = rain_light.get((x, y))
                if lit:
                    colour = mix(colour, (170, 185, 230), lit)
                if y >= far_hills[x]:
                    colour = mix((12, 14, 30), (20, 24, 46), grain_row[x])
                if y >= near_hills[x]:
                    colour = mix((4, 5, 12), (9, 10, 20), grain_row[x])
            elif y <= paper_bottom[x]:
                # The parchment: warm cream, mottled, browning towards its edges.
                edge = min(y - paper_top[x], paper_bottom[x] - y)
                colour = mix((226, 208, 166), (246, 236, 206), grain_row[x] * 0.7 + billow_row[x] * 0.3)
                colour = mix((150, 112, 62), colour, smoothstep(0.0, 7.0, edge))
                if edge < 1.0:
                    colour = mix((70, 48, 24), colour, edge)
            else:
                # The dark fields below, with the parchment's shadow just under it.
                colour = mix((6, 7, 14), (14, 16, 28), grain_row[x] * 0.6 + d * 0.4)
                colour = mix(colour, (0, 0, 0), 0.7 * math.exp(-(y - paper_bottom[x]) / 4.0))
            glow_distance = bolt.get((x, y))
            if glow_distance is not None:
                core = smoothstep(2.2, 0.4, glow_distance)
                glow = 0.55 * math.exp(-glow_distance / 3.0) + 0.22 * math.exp(-glow_distance / 14.0)
                colour = mix(colour, (150, 175, 255), min(1.0, glow))
                colour = mix(colour, (250, 252, 255), core)
            row.append(colour)
        rows.append(row)
    return rows


BAYER = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def quantise(rows, colours=256):
    """Reduces the picture to a 256-colour palette by median cut over a colour histogram.

    A light ordered dither before counting keeps the long sky gradient from banding; each
    histogram cell then takes the palette entry of the box it ended up in."""
    cells = []
    counts = {}
    for y, row in enumerate(rows):
        line = []
        for x, (r, g, b) in enumerate(row):
            offset = (BAYER[y % 4][x % 4] - 7.5) * 0.4
            key = tuple(max(0, min(255, int(c + offset + 0.5))) >> 1 for c in (r, g, b))
            counts[key] = counts.get(key, 0) + 1
            line.append(key)
        cells.append(line)

    boxes = [sorted(counts)]
    while len(boxes) < colours:
        # Split the box whose colours spread furthest, weighted by how many pixels it covers.
        best, best_score, best_axis = None, -1, 0
        for number, box in enumerate(boxes):
            if len(box) < 2:
                continue
            spans = [max(k[a] for k in box) - min(k[a] for k in box) for a in range(3)]
            axis = max(range(3), key=lambda a: spans[a])
            score = spans[axis] * math.sqrt(sum(counts[k] for k in box))
            if score > best_score:
                best, best_score, best_axis = number, score, axis
        if best is None:
            break
        box = sorted(boxes[best], key=lambda k: (k[best_axis], k))
        half, running, cut = sum(counts[k] for k in box) / 2.0, 0, 1
        for cut, key in enumerate(box, start=1):
            running += counts[key]
            if running >= half:
                break
        cut = max(1, min(len(box) - 1, cut))
        boxes[best:best + 1] = [box[:cut], box[cut:]]

    palette, lookup = [], {}
    for number, box in enumerate(boxes):
        total = sum(counts[k] for k in box)
        mean = [sum(k[a] * counts[k] for k in box) / total for a in range(3)]
        palette.append(tuple(min(255, int(m * 2 + 1.5)) for m in mean))
        for key in box:
            lookup[key] = number
    while len(palette) < colours:
        palette.append((0, 0, 0))
    return [[lookup[key] for key in line] for line in cells], palette



def about_picture():
    indices, palette = quantise(about_scene())
    return bmp8_bytes(ABOUT_WIDTH, ABOUT_HEIGHT, indices, palette), indices, palette


# ---------------------------------------------------------------------------------------------
# Sounds
# ---------------------------------------------------------------------------------------------

RATE = 22050


def square_tone(frequency, seconds, attack, release):
    """A square wave built from its odd harmonics below 5 kHz, so it buzzes without aliasing,
    shaped by a raised-cosine attack and release so that it starts and stops without a click."""
    count = int(seconds * RATE)
    harmonics = [k for k in range(1, 40, 2) if k * frequency < 5000]
    samples = []
    for n in range(count):
        t = n / RATE
        value = sum(math.sin(2 * math.pi * k * frequency * t) / k for k in harmonics) * 4 / math.pi
        envelope = 1.0
        if t < attack:
            envelope = 0.5 - 0.5 * math.cos(math.pi * t / attack)
        elif t > seconds - release:
            envelope = 0.5 + 0.5 * math.cos(math.pi * (t - (seconds - release)) / release)
        samples.append(value * envelope)
    return samples


def error_sound():
    """Two descending tones, D then G below it: about 0.45 s."""
    first = square_tone(587.33, 0.15, 0.006, 0.03)
    gap = [0.0] * int(0.03 * RATE)
    second = square_tone(392.0, 0.26, 0.006, 0.12)
    return [s * 0.42 for s in first + gap + second]


def low_pass(samples, cutoff, passes=1):
    """A one-pole low-pass filter applied the given number of times."""
    coefficient = 1.0 - math.exp(-2 * math.pi * cutoff / RATE)
    for _ in range(passes):
        state, filtered = 0.0, []
        for s in samples:
            state += coefficient * (s - state)
            filtered.append(state)
        samples = filtered
    return samples


def normalised(samples, peak=1.0):
    loudest = max(abs(s) for s in samples) or 1.0
    return [s * peak / loudest for s in samples]


def thunder_sound():
    """A thunder clap: a sharp crack of bright noise, a crackle of discharges, then a long low
    rumble that swells in a few rolls and dies away; 2.6 s, peaking at -3 dBFS."""
    generator = random.Random(1752)
    count = int(2.6 * RATE)
    noise = [generator.uniform(-1.0, 1.0) for _ in range(count)]

    # The crack: noise with its lows removed, gone within a tenth of a second.
    dull = low_pass(noise, 900.0)
    crack = [(n - d) * math.exp(-i / (0.045 * RATE)) for i, (n, d) in enumerate(zip(noise, dull))]

    # The crackle: short bursts at random moments, thinning out over the first half second.
    crackle = [0.0] * count
    for i in range(int(0.6 * RATE)):
        if generator.random() < 0.012 * math.exp(-i / (0.18 * RATE)):
            height = generator.uniform(0.4, 1.0) * generator.choice((-1, 1))
            for j in range(generator.randint(6, 40)):
                if i + j < count:
                    crackle[i + j] += height * noise[(i * 7 + j) % count] * math.exp(-j / 8.0)
    crackle = low_pass(crackle, 4000.0)

    # The rumble: deep filtered noise, rolling in a few swells under a long decay.
    rumble = normalised(low_pass(noise, 110.0, 3))
    deep = normalised(low_pass(noise[::-1], 45.0, 3))
    rolls = [(0.18, 0.12, 1.0), (0.55, 0.2, 0.8), (1.05, 0.25, 0.6), (1.6, 0.3, 0.35)]
    body = []
    for i in range(count):
        t = i / RATE
        swell = sum(h * math.exp(-((t - c) / w) ** 2) for c, w, h in rolls)
        envelope = (1.0 - math.exp(-t / 0.04)) * (0.35 * math.exp(-t / 0.9) + 0.65 * swell)
        body.append((0.7 * rumble[i] + 0.5 * deep[i]) * envelope)

    crack, crackle, body = normalised(crack), normalised(crackle), normalised(body)
    mixed = [0.55 * a + 0.35 * b + 0.9 * c for a, b, c in zip(crack, crackle, body)]
    fade = int(0.35 * RATE)
    for i in range(fade):
        mixed[count - fade + i] *= 0.5 + 0.5 * math.cos(math.pi * i / fade)
    return normalised(mixed, 10 ** (-3 / 20))


# ---------------------------------------------------------------------------------------------
# The manual
# ---------------------------------------------------------------------------------------------

MANUAL = """\
Vellum 1.05
===========

Vellum tests zip archives in bulk. Give it a folder, or a whole drive, and it
walks that folder and every folder below it, tests every zip archive it finds,
and writes down which ones are damaged. Nothing is ever written into the
archives or next to them: Vellum only reads them.


Starting Vellum
---------------

  vellum               opens the window; choose a folder with Browse.
  vellum FOLDER        tests FOLDER unattended: no window is needed, the
                       reports are written and Vellum exits.
  vellum --help        shows a short summary of the command line.
  vellum --version     shows the version.

A folder whose name looks like an option is given as ./--help.

An unattended run ends with an exit status that scripts can test:

  0   no bad archive was found,
  1   one or more bad archives were found,
  2   the folder does not exist or cannot be read.

Vellum keeps its sounds, this manual and its report files in its own folder,
so it must be installed in a folder of its own, never in the root folder.

Only one copy of Vellum runs at a time. Starting a second copy brings the
window of the first to the front, at its normal size, and the second copy
then quits.


The window
----------

Browse      chooses the folder to test and starts the run at once.
Cancel      stops the run. The Escape key does the same. The reports are
            still written, marked as aborted.

While a run goes on, the window shows:

  - the name of the archive being tested, with "Testing ..." beside it;
  - the counts line: how many archives were tested and how many were bad;
  - the animated picture, which moves while archives are being tested;
  - the progress bar: how far the test of the current archive has come;
  - the status panel at the bottom: the folder being searched.

When the window is minimised, its caption on the task bar shows the progress
of the current archive and its name, or "Searching..." while Vellum looks
for archives. When the run is over the window says "Done.".


The menus
---------

File
  Open log...      shows errors.log, the record of every run, in the
                   desktop's text viewer.
  Browse           the same as the Browse button.
  Exit...          stops any run (its reports are still written) and closes
                   Vellum.

Help
  Contents...      shows this manual.
  Web page...      opens the Vellum home page in the web browser:
                   https://www.vellum-tester.org/vellum/
  Send Email...    starts a message to vellum@vellum-tester.org.
  About...         shows the version of Vellum and who made it.


Which files are tested
----------------------

Vellum tests every file whose name ends in .zip, in any mix of capital and
small letters: *.zip, *.ZIP and *.Zip are all tested.

Folders whose name starts with a full stop (such as .cache or .git) are
skipped, with everything below them. Symbolic links to folders are not
followed, so no folder is tested twice and a link loop cannot trap the run.


What is tested
--------------

First the structure of the archive:

  - the end of central directory record is found and read, and so are the
    zip64 records when the archive uses them;
  - the central directory is read entry by entry;
  - every local header is checked against its central directory record:
    the name, the method and the encryption must agree, and so must the
    sizes and the CRC-32 unless a data descriptor carries them;
  - data descriptors, where present, are read and compared too;
  - every entry must lie inside the file, and no two entries may overlap;
  - no entry may claim to expand beyond any real compression ratio.

Then every entry is decompressed in full, and the CRC-32 and the size of what
comes out are checked against the values the archive records.

Entries that are encrypted, and entries packed with a method Vellum has no
decoder for, get the structure checks only. They are counted as good, since
nothing wrong was found, but their contents could not be verified.

An archive is bad as soon as one check fails.


The report files
----------------

Both reports are written in Vellum's own folder, with CR LF line ends so that
any text viewer shows them properly.

errors.txt is written again after every run that finds a bad archive, and is
then shown in the desktop's text viewer. It holds a header line, then one line
per bad archive:

  04-12-2024 21:07:45
  /home/ann/downloads/broken.zip
  /home/ann/downloads/old/half.zip

errors.log keeps one record for every run, the newest last. Each record is the
header line, the counts line, the folder the run started in, one line per bad
archive, and an empty line that closes the record:

  04-12-2024 21:07:45
   12 tested - 2 bad
  /home/ann/downloads
  /home/ann/downloads/broken.zip
  /home/ann/downloads/old/half.zip

The header line is the date and time as MM-DD-YYYY HH:MM:SS, followed by
" Aborted!" when the run was cancelled and by " Command line" when the run
was started unattended from the command line:

  04-12-2024 21:07:45 Aborted! Command line

When a run finds bad archives, Vellum also plays its error sound.


Questions
---------

Why was my archive judged bad?
  One of the checks above failed: most often a CRC-32 that does not match,
  which means the data was damaged; or an archive that was cut short while it
  was downloaded or copied, so its central directory is missing.

How can I see what is wrong inside a bad archive?
  Test it with another tool that names the failing entries, for example
  "unzip -t broken.zip" or "7z t broken.zip". Both list every entry with its
  result.

Can Vellum repair an archive?
  No. Vellum only reads archives. Keep a good copy, or fetch the archive again.

Why was an archive I know of not tested?
  Its folder may start with a full stop, it may be reached only through a
  symbolic link, or its name may not end in .zip.

An encrypted archive was counted as good. Is it?
  Its structure is sound, but Vellum cannot check its contents without the
  password. Test it with the password in another tool to be sure.

Where did errors.txt go?
  It is only written when a run finds a bad archive. errors.log has a record
  of every run.

Nothing happens when I start Vellum.
  Another copy is probably running; look for its window, which has just been
  brought to the front.
"""


# ---------------------------------------------------------------------------------------------
# Writing everything
# ---------------------------------------------------------------------------------------------


def preview(path, width, height, colour_at, scale):
    """An enlarged RGB copy of a picture, for looking at it."""
    rows = [[c for x in range(width * scale) for c in colour_at(x // scale, y // scale)]
            for y in range(height * scale)]
    with open(path, "wb") as out:
        out.write(png_bytes(width * scale, height * scale, rows, 2))


def canvas_colour(canvas):
    def colour_at(x, y):
        c = canvas.pixels[y][x]
        if c != CLEAR:
            return VGA[c]
        # A checkerboard shows where the picture is transparent.
        return (200, 200, 180) if ((x + y) % 2) else (235, 235, 210)
    return colour_at


def main():
    parser = argparse.ArgumentParser(description="Writes Vellum's pictures, sounds and manual.")
    parser.add_argument("--preview", metavar="FOLDER", help="also write enlarged copies of the pictures here")
    arguments = parser.parse_args()
    os.makedirs(OUTPUT, exist_ok=True)

    icon = application_icon()
    frames = animation_frames()
    hand, clown = pointing_hand(), clown_face()
    pictures = {"vellum": icon, "hand": hand, "clown": clown}
    pictures.update({f"files-{number}": frame for number, frame in enumerate(frames)})
    for name, canvas in pictures.items():
        assert len(canvas.colours_used()) <= 16
        write_file(name + ".png", canvas_png(canvas))
    write_file("vellum.ico", canvas_ico(icon))
    write_file("about-icon.ico", canvas_ico(icon))

    about, indices, palette = about_picture()
    write_file("about.bmp", about)

    write_wave(os.path.join(OUTPUT, "error.wav"), error_sound())
    write_wave(os.path.join(OUTPUT, "thunder.wav"), thunder_sound())
    write_file("Vellum.hlp", MANUAL.encode("utf-8"))

    if arguments.preview:
        os.makedirs(arguments.preview, exist_ok=True)
        for name, canvas in pictures.items():
            preview(os.path.join(arguments.preview, name + ".png"), 32, 32, canvas_colour(canvas), 10)
        preview(os.path.join(arguments.preview, "about.png"), 352, 241,
                lambda x, y: palette[indices[y][x]], 2)


if __name__ == "__main__":
    main()
