"""The 32 x 32 pictures: the program's icon, the frames of its animation and two mouse pointers."""

import math

from .canvas import (BLACK, BLUE, GRAY, GREEN, LIME, MAROON, NAVY, OLIVE, RED, SILVER, WHITE, YELLOW,
                     Canvas, picture)


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
