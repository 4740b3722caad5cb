#!/usr/bin/env python3
"""Times Vellum's own PPMd and Deflate64 decoders beside 7-Zip, and beside Vellum's Deflate.

One text is written (words of a made-up language, drawn with a Zipf law as in real prose, so that a
PPMd model keeps meeting new contexts), and 7zz packs it into three one-entry zips: PPMd
(-m0=PPMd, 7-Zip's default order and model size, or the ones asked for), Deflate64 and Deflate.
Each archive is tested by whole processes, Vellum (`vellum ARCHIVE`) and `7zz t`, run in turn
round after round so that a machine whose speed drifts slows them alike. The table gives the
minimum and median wall seconds, the median CPU seconds and the peak resident memory of each.

--before DIR adds the program of another build folder as "vellum before", run in the same rounds.

Usage: bench/own_codecs.py [--build DIR] [--before DIR] [--runs N] [--ppmd-mib N] [--deflate-mib N]
                           [--ppmd-options -mo=8:mem=16m] [--only ppmd|deflate64|deflate ...]
                           [--keep DIR]
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare import timed  # noqa: E402

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Fresh text is made up to this size and repeated beyond it: far more than a Deflate window sees,
# and more than a default PPMd model holds before it restarts.
FRESH_BYTES = 48 << 20


def made_up_words(chooser, count):
    syllables = ["ka", "lo", "mi", "ne", "tu", "ra", "es", "on", "dy", "ch", "st", "ar", "il", "ve", "qu"]
    words = set()
    while len(words) < count:
        words.add("".join(chooser.choice(syllables) for _ in range(chooser.randint(1, 4))))
    return sorted(words)


def write_text(path, size):
    chooser = random.Random(1994)
    words = made_up_words(chooser, 30000)
    weights = [1.0 / (rank + 1) for rank in range(len(words))]
    cumulative = []
    total = 0.0
    for weight in weights:
        total += weight
        cumulative.append(total)
    pieces = []
    length = 0
    while length < min(size, FRESH_BYTES):
        sentence = chooser.choices(words, cum_weights=cumulative, k=chooser.randint(4, 24))
        line = " ".join(sentence).capitalize() + (".\n" if chooser.random() < 0.2 else ". ")
        pieces.append(line)
        length += len(line)
    fresh = "".join(pieces).encode()[: min(size, FRESH_BYTES)]
    with open(path, "wb") as out:
        written = 0
        while written < size:
            part = fresh[: size - written]
            out.write(part)
            written += len(part)


def make_archives(folder, ppmd_mib, deflate_mib, ppmd_options):
    os.makedirs(folder, exist_ok=True)
    made = {}
    for name, mib, method in (("ppmd", ppmd_mib, ["-m0=PPMd"] + ppmd_options),
                              ("deflate64", deflate_mib, ["-m0=Deflate64"]),
                              ("deflate", deflate_mib, ["-m0=Deflate"])):
        archive = os.path.join(folder, f"{name}-{mib}mib.zip")
        if not os.path.exists(archive):
            text = os.path.join(folder, f"text-{mib}mib.txt")
            if not os.path.exists(text):
                write_text(text, mib << 20)
            subprocess.run(["7zz", "a", "-tzip", "-bd", "-bso0", archive + ".part", text] + method,
                           check=True, cwd=folder)
            os.rename(archive + ".part", archive)
        made[name] = archive
    return made


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.environ.get("BUILD_DIR", os.path.join(TOP, "build")))
    parser.add_argument("--before", help="a build folder of another version, timed as 'vellum before'")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--ppmd-mib", type=int, default=256)
    parser.add_argument("--deflate-mib", type=int, default=1024)
    parser.add_argument("--ppmd-options", nargs="*", default=[],
                        help="7zz switches for the PPMd entry, for example -mmem=64m -mo=8")
    parser.add_argument("--only", nargs="*", choices=["ppmd", "deflate64", "deflate"])
    parser.add_argument("--keep", help="write the text and archives here and keep them (reused when present)")
    options = parser.parse_args()

    programs = [("vellum", os.path.join(options.build, "vellum"))]
    if options.before:
        programs.append(("vellum before", os.path.join(options.before, "vellum")))
    for _, path in programs:
        if not os.access(path, os.X_OK):
            sys.exit(f"{path} is missing: build first (scripts/build.sh)")

    work = tempfile.mkdtemp(prefix="vellum-codecs-")
    try:
        archives = make_archives(options.keep or os.path.join(work, "data"), options.ppmd_mib,
                                 options.deflate_mib, options.ppmd_options)
        # Vellum writes its reports beside itself: copies keep them out of the builds.
        commands = []
        for name, path in programs:
            folder = os.path.join(work, name.replace(" ", "-"))
            os.mkdir(folder)
            shutil.copy2(path, os.path.join(folder, "vellum"))
            commands.append((name, lambda archive, folder=folder: [os.path.join(folder, "vellum"), archive]))
        commands.append(("7zz t", lambda archive: ["7zz", "t", "-bd", archive]))

        print(f"{'entry':10} {'tool':14} {'min s':>7} {'median s':>8} {'CPU s':>7} {'peak MiB':>8} "
              f"{'MiB/s':>6}", flush=True)
        for method, archive in archives.items():
            if options.only and method not in options.only:
                continue
            with open(archive, "rb") as file:
                while file.read(1 << 24):
                    pass
            size_mib = options.ppmd_mib if method == "ppmd" else options.deflate_mib
            samples = {name: [] for name, _ in commands}
            for _ in range(options.runs):
                for name, command in commands:
                    samples[name].append(timed(command(archive), work))
            for name, _ in commands:
                taken = samples[name]
                walls = [sample.wall for sample in taken]
                cpu = statistics.median(sample.user + sample.system for sample in taken)
                peak = max(sample.peak_kib for sample in taken) / 1024
                print(f"{method:10} {name:14} {min(walls):7.2f} {statistics.median(walls):8.2f} {cpu:7.2f} "
                      f"{peak:8.1f} {size_mib / min(walls):6.0f}", flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
