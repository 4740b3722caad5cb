#!/usr/bin/env python3
"""Times Vellum's unattended run beside other zip testers on the same generated corpora.

Every corpus is written by bench/make_bench_tree under a temporary folder, the same bytes on every
run; the page cache is warmed before timing, and each tool is run as a whole process. The table
gives the median of the runs: seconds, MiB/s of uncompressed data, archives/s, peak resident
memory, and how many times faster than the fastest peer (above 1 is faster).

Usage: bench/compare.py [--build DIR] [--runs N] [--corpus NAME ...] [--keep DIR]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPORA = ["large", "stored", "small", "folders", "huge"]


def archives_in(folder):
    found = []
    for base, _, files in os.walk(folder):
        found.extend(os.path.join(base, name) for name in files if name.lower().endswith(".zip"))
    return sorted(found)


def uncompressed_bytes(archives):
    total = 0
    for path in archives:
        with zipfile.ZipFile(path) as archive:
            total += sum(info.file_size for info in archive.infolist())
    return total


def warm(archives):
    for path in archives:
        with open(path, "rb") as file:
            while file.read(1 << 24):
                pass


def timed(command, cwd):
    """Runs command under /usr/bin/time; returns (seconds, peak KiB)."""
    report = tempfile.NamedTemporaryFile(delete=False)
    report.close()
    start = time.perf_counter()
    subprocess.run(["/usr/bin/time", "-o", report.name, "-f", "%M"] + command, cwd=cwd,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    seconds = time.perf_counter() - start
    with open(report.name) as file:
        lines = [line for line in file.read().split() if line.isdigit()]
    os.unlink(report.name)
    return seconds, int(lines[-1]) if lines else 0


def tools(corpus, folder, work):
    """The commands to time for one corpus: Vellum first, then its peers."""
    vellum = [os.path.join(work, "vellum"), folder]
    if corpus == "folders":
        return [("vellum", vellum), ("find -type d", ["find", folder, "-type", "d"])]
    each = "find \"$1\" -name '*.zip' -print0 | xargs -0 -n 1 "
    return [
        ("vellum", vellum),
        ("unzip -tqq", ["sh", "-c", each + "unzip -tqq", "-", folder]),
        ("7zz t", ["7zz", "t", "-an", "-air!" + os.path.join(folder, "*.zip")]),
        ("bsdtar -xOf", ["sh", "-c", "find \"$1\" -name '*.zip' -exec sh -c "
                         "'for f; do bsdtar -xOf \"$f\" >/dev/null; done' - {} +", "-", folder]),
        ("python zipfile", [sys.executable, "-c",
                            "import sys, zipfile, pathlib\n"
                            "for p in sorted(pathlib.Path(sys.argv[1]).rglob('*.zip')):\n"
                            "    zipfile.ZipFile(p).testzip()", folder]),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.environ.get("BUILD_DIR", os.path.join(TOP, "build")))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--huge-runs", type=int, default=3)
    parser.add_argument("--corpus", nargs="*", default=CORPORA, choices=CORPORA)
    parser.add_argument("--keep", help="write the corpora here and keep them (reused when present)")
    options = parser.parse_args()

    generator = os.path.join(options.build, "bench", "make_bench_tree")
    program = os.path.join(options.build, "vellum")
    for needed in (generator, program):
        if not os.access(needed, os.X_OK):
            sys.exit(f"{needed} is missing: build first (scripts/build.sh)")

    work = tempfile.mkdtemp(prefix="vellum-bench-")
    corpora = options.keep or os.path.join(work, "corpora")
    try:
        # Vellum writes its reports beside itself: a copy keeps them out of the build.
        shutil.copy2(program, os.path.join(work, "vellum"))
        print(f"{'corpus':8} {'tool':15} {'seconds':>9} {'MiB/s':>9} {'archives/s':>11} {'peak MiB':>9} "
              f"{'x fastest peer':>15}")
        for corpus in options.corpus:
            folder = os.path.join(corpora, corpus)
            if not os.path.isdir(folder):
                subprocess.run([generator, corpus, folder], check=True)
            archives = archives_in(folder)
            data = uncompressed_bytes(archives)
            warm(archives)
            runs = options.huge_runs if corpus == "huge" else options.runs
            results = []
            for name, command in tools(corpus, folder, work):
                if shutil.which(command[0]) is None and not os.access(command[0], os.X_OK):
                    continue
                timed(command, work)  # once more to warm what the tool itself reads
                samples = [timed(command, work) for _ in range(runs)]
                seconds = statistics.median(sample[0] for sample in samples)
                peak = max(sample[1] for sample in samples)
                results.append((name, seconds, peak))
            fastest_peer = min(seconds for name, seconds, _ in results if name != "vellum")
            for name, seconds, peak in results:
                rate = f"{data / 1048576 / seconds:9.0f}" if data else f"{'-':>9}"
                per_archive = f"{len(archives) / seconds:11.0f}" if archives else f"{'-':>11}"
                print(f"{corpus:8} {name:15} {seconds:9.3f} {rate} {per_archive} {peak / 1024:9.1f} "
                      f"{fastest_peer / seconds:15.2f}", flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
