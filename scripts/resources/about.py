"""The About window's picture: a night storm over the hills, and a strip of parchment.

It is painted in full colour, then reduced to the 256 colours of an 8-bit bitmap."""

import math
import random

from .canvas import segment_distance
from .formats import bmp8_bytes

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
