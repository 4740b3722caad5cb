#!/usr/bin/env python3
"""Times one big compressed entry: Vellum beside the peers' own testers of the same stream.

Writes word-like text (the same bytes on every run) compressed with bzip2 (by lbzip2, a single
stream of 900 kB blocks) and xz (by xz -T2, blocks of 6 MiB unless --xz-block-mib says otherwise), each as the only entry of a zip and as
a bare .bz2 or .xz file. Tools run as whole processes, one run of each per round, so that a machine
whose speed drifts slows them alike; the table gives the fastest and the median wall seconds and the
median CPU seconds (user + system) and CPU/wall.

Usage: bench/big_entry.py [--build DIR] [--before DIR] [--runs N] [--mib N] [--xz-block-mib N]
                          [--keep DIR] [--only bzip2|xz]
"""

import argparse
import os
import random
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare import timed  # noqa: E402

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PIECE = 16 << 20


def write_text(path, mib):
    """mib MiB of words drawn from a fixed vocabulary; 16 MiB pieces, each drawn afresh."""
    generator = random.Random(7)
    letters = "etaoinshrdlucmfwypvbgkjqxz"
    words = ["".join(generator.choices(letters, k=generator.randint(1, 10))) for _ in range(20000)]
    crc = 0
    with open(path, "wb") as file:
        for _ in range(max(1, mib * (1 << 20) // PIECE)):
            piece = " ".join(generator.choices(words, k=PIECE // 5)).encode()[:PIECE]
            crc = zlib.crc32(piece, crc)
            file.write(piece)
    return crc, os.path.getsize(path)


def write_zip(path, name, method, stream_path, crc, size):
    """A zip of one entry whose data is the stream in stream_path, as it is."""
    compressed = os.path.getsize(stream_path)
    encoded = name.encode()
    version = 63 if method == 95 else 46
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, version, 0, method, 0, 0x21, crc, compressed, size,
                        len(encoded), 0) + encoded
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, version, version, 0, method, 0, 0x21, crc,
                          compressed, size, len(encoded), 0, 0, 0, 0, 0, 0) + encoded
    with open(path, "wb") as file, open(stream_path, "rb") as stream:
        file.write(local)
        shutil.copyfileobj(stream, file, 1 << 24)
        offset = file.tell()
        file.write(central)
        file.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central), offset, 0))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.environ.get("BUILD_DIR", os.path.join(TOP, "build")))
    parser.add_argument("--before", help="a build folder of another version, timed as 'vellum before'")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--mib", type=int, default=256)
    parser.add_argument("--xz-block-mib", type=int, default=6)
    parser.add_argument("--keep", help="write the files here and keep them (kept files are used again)")
    parser.add_argument("--only", choices=["bzip2", "xz"], help="time one of the two methods")
    options = parser.parse_args()
    work = options.keep or tempfile.mkdtemp(prefix="vellum-big-")
    os.makedirs(work, exist_ok=True)
    text = os.path.join(work, "text")
    try:
        if not (os.path.exists(os.path.join(work, "bzip2.zip")) and os.path.exists(os.path.join(work, "xz.zip"))):
            crc, size = write_text(text, options.mib)
            subprocess.run(["lbzip2", "-9", "-n2", "-k", "-f", text], check=True)
            subprocess.run(["xz", "-6", "-T2", f"--block-size={options.xz_block_mib}MiB", "-k", "-f", text],
                           check=True)
            write_zip(os.path.join(work, "bzip2.zip"), "text", 12, text + ".bz2", crc, size)
            write_zip(os.path.join(work, "xz.zip"), "text", 95, text + ".xz", crc, size)
            os.unlink(text)
        size = struct.unpack("<I", open(os.path.join(work, "xz.zip"), "rb").read(26)[22:26])[0]
        vellums = [("vellum", os.path.join(options.build, "vellum"))]
        if options.before:
            vellums.append(("vellum before", os.path.join(options.before, "vellum")))
        suites = {
            "bzip2": [(name, [program, "--no-ledger", "bzip2.zip"]) for name, program in vellums] + [
                ("lbzip2 -t -n2", ["lbzip2", "-t", "-n2", "text.bz2"]),
                ("7zz t", ["7zz", "t", "bzip2.zip"]),
            ],
            "xz": [(name, [program, "--no-ledger", "xz.zip"]) for name, program in vellums] + [
                ("xz -t -T2", ["xz", "-t", "-T2", "text.xz"]),
                ("7zz t", ["7zz", "t", "xz.zip"]),
            ],
        }
        if options.only:
            suites = {options.only: suites[options.only]}
        for suite, commands in suites.items():
            stream = os.path.getsize(os.path.join(work, "text." + ("bz2" if suite == "bzip2" else "xz")))
            print(f"\n{suite}: one entry of {size / (1 << 20):.0f} MiB, {stream / (1 << 20):.1f} MiB compressed,"
                  f" {options.runs} rounds")
            samples = {name: [] for name, _ in commands}
            for _ in range(options.runs):
                for name, command in commands:
                    samples[name].append(timed(command, work))
            print(f"load average before the rounds: {os.getloadavg()[0]:.2f}")
            print(f"{'tool':<16}{'wall min':>10}{'wall med':>10}{'cpu med':>10}{'cpu/wall':>10}{'MiB/s':>8}")
            for name, _ in commands:
                walls = [sample.wall for sample in samples[name]]
                cpus = [sample.user + sample.system for sample in samples[name]]
                median = statistics.median(walls)
                print(f"{name:<16}{min(walls):>10.2f}{median:>10.2f}{statistics.median(cpus):>10.2f}"
                      f"{statistics.median(cpus) / median:>10.2f}{size / (1 << 20) / median:>8.0f}")
    finally:
        if not options.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
