"""The 16-colour palette and a small pixel canvas that the 32 x 32 pictures are drawn on."""

import math

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
