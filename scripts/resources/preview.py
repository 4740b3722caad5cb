"""Enlarged copies of the pictures, for looking at them while drawing."""

from .canvas import CLEAR, VGA
from .formats import png_bytes


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
