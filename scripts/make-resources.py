#!/usr/bin/env python3
"""Draws, synthesises and writes every picture, sound and the manual that Vellum ships.

Everything is made here from code, with the standard library only, and the output is the same bytes
on every run: the random generators all start from fixed seeds. The files land in ui/resources/
beside this script's repository root, where they are kept under version control so that building
the program never needs Python. How each one is made lives in the resources package beside this
script: canvas and formats hold the drawing surface and the file formats, pictures and about the
pictures, icons the icon theme's sizes, sounds the sounds and manual the manual, both as text and as a web page.

    scripts/make-resources.py [--preview FOLDER]

With --preview, enlarged copies of the pictures are also written to FOLDER for a visual check.
"""

import argparse
import os

from resources.about import about_picture
from resources.formats import canvas_ico, canvas_png, write_wave
from resources.icons import THEME_SIZES, icon_svg, scaled_icon_png
from resources.manual import MANUAL, manual_html
from resources.pictures import animation_frames, application_icon, clown_face, pointing_hand
from resources.preview import canvas_colour, preview
from resources.sounds import error_sound, thunder_sound

OUTPUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ui", "resources")


def write_file(name, data):
    with open(os.path.join(OUTPUT, name), "wb") as out:
        out.write(data)


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
    # The icon theme's copies; its 32 x 32 one is vellum.png itself.
    for size in THEME_SIZES:
        if size != icon.size:
            write_file(f"vellum-{size}.png", scaled_icon_png(icon, size))
    write_file("vellum.svg", icon_svg(icon).encode("utf-8"))
    write_file("about-icon.ico", canvas_ico(icon))

    about, indices, palette = about_picture()
    write_file("about.bmp", about)

    write_wave(os.path.join(OUTPUT, "error.wav"), error_sound())
    write_wave(os.path.join(OUTPUT, "thunder.wav"), thunder_sound())
    write_file("Vellum.hlp", MANUAL.encode("utf-8"))
    write_file("Vellum.html", manual_html(MANUAL).encode("utf-8"))

    if arguments.preview:
        os.makedirs(arguments.preview, exist_ok=True)
        for name, canvas in pictures.items():
            preview(os.path.join(arguments.preview, name + ".png"), 32, 32, canvas_colour(canvas), 10)
        preview(os.path.join(arguments.preview, "about.png"), 352, 241,
                lambda x, y: palette[indices[y][x]], 2)


if __name__ == "__main__":
    main()
