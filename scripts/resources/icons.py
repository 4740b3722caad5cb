"""The program's icon at the sizes a desktop's icon theme asks for, made from the 32 x 32 picture.

Each size is resampled by area: every output pixel averages the part of the picture it covers,
weighted by opacity, so whole multiples (128 = 4 x 32) keep the pixels sharp, 16 halves them evenly,
and 48 blends only the pixels that fall between two. The scalable icon draws the same pixels as
squares, one rectangle per run of a colour along a row.
"""

from .canvas import CLEAR, VGA
from .formats import png_bytes

THEME_SIZES = (16, 32, 48, 128)


def _coverage(out_index, scale, length):
    """The source pixels an output pixel covers, each with the share of it that falls inside."""
    start, end = out_index * scale, (out_index + 1) * scale
    first, shares = int(start), []
    for source in range(first, min(length, int(end) + 1)):
        share = min(end, source + 1) - max(start, source)
        if share > 1e-9:
            shares.append((source, share))
    return shares


def scaled_icon_png(canvas, size):
    """An RGBA PNG of the canvas resampled to size x size."""
    scale = canvas.size / size
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            red = green = blue = alpha = area = 0.0
            for sy, wy in _coverage(y, scale, canvas.size):
                for sx, wx in _coverage(x, scale, canvas.size):
                    weight = wx * wy
                    area += weight
                    colour = canvas.pixels[sy][sx]
                    if colour == CLEAR:
                        continue
                    r, g, b = VGA[colour]
                    red, green, blue, alpha = red + r * weight, green + g * weight, blue + b * weight, alpha + weight
            if alpha == 0:
                row += [0, 0, 0, 0]
            else:
                row += [round(red / alpha), round(green / alpha), round(blue / alpha), round(255 * alpha / area)]
        rows.append(row)
    return png_bytes(size, size, rows, 6)


def icon_svg(canvas):
    """The picture as an SVG of crisp squares, for the theme's scalable folder."""
    shapes = []
    for y, row in enumerate(canvas.pixels):
        x = 0
        while x < canvas.size:
            colour, run = row[x], 1
            while x + run < canvas.size and row[x + run] == colour:
                run += 1
            if colour != CLEAR:
                shapes.append('<rect x="%d" y="%d" width="%d" height="1" fill="#%02x%02x%02x"/>'
                              % ((x, y, run) + VGA[colour]))
            x += run
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d" '
            'shape-rendering="crispEdges">\n%s\n</svg>\n'
            % (canvas.size, canvas.size, canvas.size, canvas.size, "\n".join(shapes)))
