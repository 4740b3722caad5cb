#!/usr/bin/env python3
"""Times Vellum's unattended run beside other zip testers on the same generated corpora.

Every corpus is written by bench/make_bench_tree under a temporary folder, the same bytes on every
run; the page cache is warmed before timing, and each tool is run as a whole process. The tools are
run in turn, one run of each per round, so that a machine whose speed drifts slows them alike. The
table gives the median of the runs: wall, user and system seconds, MiB/s of uncompressed data,
archives/s, peak resident memory, and how many times faster than the fastest peer (above 1 is
faster).

Vellum is timed as it runs by default, recording each verdict in a ledger (a private one here), as
"vellum no ledger" (--no-ledger) and as "vellum --due 30", which after the first run finds nothing
due: the walk and a ledger look-up for each archive.

--before DIR adds the program of another build folder (an earlier commit) as "vellum before".
--syscalls adds, for each Vellum and the floor tester, the system calls per archive (one more run
under strace -f -c) and the context switches per archive (voluntary plus involuntary, from
/usr/bin/time). On small and tiny the floor tester (bench/floor_tester.cpp: one read per archive,
end record, directory, local headers, inflate and CRC on two threads) is timed too: the least work
a tester must do.

Corpora: large, stored, small, tiny (20,000 archives of one 5-byte entry: what an archive costs
besides its data, given as CPU microseconds per archive), folders, huge, and files (1,000,000 empty
files that are not archives, against find looking for the same archives; only when asked for).

Usage: bench/compare.py [--build DIR] [--before DIR] [--runs N] [--corpus NAME ...] [--tools NAME ...]
                        [--syscalls] [--keep DIR]
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
CORPORA = ["large", "stored", "small", "tiny", "folders", "huge", "files"]
DEFAULT_CORPORA = ["large", "stored", "small", "tiny", "folders", "huge"]
# Not peers: the program, an earlier build of it, and the least work a tester must do
# (bench/floor_tester.cpp), which the program is measured against.
OWN = ("vellum", "vellum no ledger", "vellum --due 30", "vellum before", "floor tester")


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


class Sample:
    """One whole run of a tool as the kernel accounted for it."""

    def __init__(self, wall, user, system, peak_kib, switches):
        self.wall = wall
        self.user = user
        self.system = system
        self.peak_kib = peak_kib
        self.switches = switches


def timed(command, cwd):
    """Runs command under /usr/bin/time and returns its Sample."""
    report = tempfile.NamedTemporaryFile(delete=False)
    report.close()
    start = time.perf_counter()
    subprocess.run(["/usr/bin/time", "-o", report.name, "-f", "%U %S %M %w %c"] + command, cwd=cwd,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    wall = time.perf_counter() - start
    with open(report.name) as file:
        fields = file.read().split("\n")[-2].split()
    os.unlink(report.name)
    user, system = float(fields[0]), float(fields[1])
    return Sample(wall, user, system, int(fields[2]), int(fields[3]) + int(fields[4]))


def system_calls(command, cwd):
    """How many system calls command makes, every thread counted (strace -f -c)."""
    report = tempfile.NamedTemporaryFile(delete=False)
    report.close()
    subprocess.run(["strace", "-f", "-c", "-o", report.name] + command, cwd=cwd,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    with open(report.name) as file:
        total = [line for line in file if line.rstrip().endswith("total")]
    os.unlink(report.name)
    return int(total[-1].split()[3]) if total else 0


def tools(corpus, folder, work, before, floor):
    """The commands to time for one corpus: Vellum first, then the floor tester, then its peers.

    Vellum runs three ways: recording every verdict in a ledger of its own (as it does by default),
    without a ledger, and testing only what is due, which after the first run is nothing: what
    walking and looking each archive up costs."""
    program = os.path.join(work, "vellum")
    ledger = os.path.join(work, "ledger.sqlite")
    vellums = [("vellum", [program, "--ledger", ledger, folder]),
               ("vellum no ledger", [program, "--no-ledger", folder]),
               ("vellum --due 30", [program, "--due", "30", "--ledger", ledger, folder])]
    if before:
        vellums.append(("vellum before", [os.path.join(work, "before", "vellum"), folder]))
    if corpus in ("small", "tiny"):
        vellums.append(("floor tester", [floor, folder]))
    if corpus == "folders":
        return vellums + [("find -type d", ["find", folder, "-type", "d"])]
    if corpus == "files":
        return vellums + [("find -iname", ["find", folder, "-iname", "*.zip"])]
    each = "find \"$1\" -name '*.zip' -print0 | xargs -0 -n 1 "
    return vellums + [
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
    parser.add_argument("--before", help="a build folder of another version, timed as 'vellum before'")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--huge-runs", type=int, default=3)
    parser.add_argument("--corpus", nargs="*", default=DEFAULT_CORPORA, choices=CORPORA)
    parser.add_argument("--tools", nargs="*", help="time only these tools (names as in the table)")
    parser.add_argument("--syscalls", action="store_true",
                        help="count system calls and context switches per archive for Vellum")
    parser.add_argument("--keep", help="write the corpora here and keep them (reused when present)")
    options = parser.parse_args()

    generator = os.path.join(options.build, "bench", "make_bench_tree")
    program = os.path.join(options.build, "vellum")
    needed = [generator, program] + ([os.path.join(options.before, "vellum")] if options.before else [])
    for path in needed:
        if not os.access(path, os.X_OK):
            sys.exit(f"{path} is missing: build first (scripts/build.sh)")

    work = tempfile.mkdtemp(prefix="vellum-bench-")
    corpora = options.keep or os.path.join(work, "corpora")
    try:
        # Vellum writes its reports beside itself: a copy keeps them out of the build.
        shutil.copy2(program, os.path.join(work, "vellum"))
        if options.before:
            os.mkdir(os.path.join(work, "before"))
            shutil.copy2(os.path.join(options.before, "vellum"), os.path.join(work, "before", "vellum"))
        # The window module goes beside each program, for a `vellum FOLDER` run on a display; an
        # older build has none.
        for build, copy in ((options.build, work), (options.before, os.path.join(work, "before"))):
            module = os.path.join(build, "libvellum-window.so") if build else ""
            if module and os.path.exists(module):
                shutil.copy2(module, copy)
        print(f"{'corpus':8} {'tool':15} {'seconds':>8} {'user':>7} {'sys':>7} {'MiB/s':>7} "
              f"{'archives/s':>10} {'peak MiB':>8} {'x fastest peer':>14}", flush=True)
        extra = []
        for corpus in options.corpus:
            folder = os.path.join(corpora, corpus)
            if not os.path.isdir(folder):
                subprocess.run([generator, corpus, folder], check=True)
            archives = archives_in(folder)
            data = uncompressed_bytes(archives)
            warm(archives)
            runs = options.huge_runs if corpus == "huge" else options.runs
            floor = os.path.abspath(os.path.join(options.build, "bench", "floor_tester"))
            chosen = [(name, command) for name, command in tools(corpus, folder, work, options.before, floor)
                      if (options.tools is None or name in options.tools)
                      and (shutil.which(command[0]) is not None or os.access(command[0], os.X_OK))]
            for _, command in chosen:
                timed(command, work)  # once more to warm what the tool itself reads
            samples = {name: [] for name, _ in chosen}
            for _ in range(runs):
                for name, command in chosen:
                    samples[name].append(timed(command, work))
            results = []
            for name, command in chosen:
                taken = samples[name]
                median = {field: statistics.median(getattr(sample, field) for sample in taken)
                          for field in ("wall", "user", "system", "switches")}
                peak = max(sample.peak_kib for sample in taken)
                results.append((name, command, median, peak))
            peers = [median["wall"] for name, _, median, _ in results if name not in OWN]
            fastest_peer = min(peers) if peers else None
            for name, command, median, peak in results:
                seconds = median["wall"]
                rate = f"{data / 1048576 / seconds:7.0f}" if data else f"{'-':>7}"
                per_archive = f"{len(archives) / seconds:10.0f}" if archives else f"{'-':>10}"
                against = f"{fastest_peer / seconds:14.2f}" if fastest_peer else f"{'-':>14}"
                print(f"{corpus:8} {name:15} {seconds:8.3f} {median['user']:7.2f} {median['system']:7.2f} "
                      f"{rate} {per_archive} {peak / 1024:8.1f} {against}", flush=True)
                if name not in OWN:
                    continue
                count = max(len(archives), 1)
                notes = []
                if corpus == "tiny":
                    notes.append(f"{(median['user'] + median['system']) * 1e6 / count:.1f} CPU µs")
                if options.syscalls and archives:
                    calls = system_calls(command, work)
                    notes.append(f"{calls / count:.2f} system calls")
                    notes.append(f"{median['switches'] / count:.2f} context switches")
                if notes:
                    extra.append(f"{corpus:8} {name:15} per archive: " + ", ".join(notes))
        if extra:
            print()
            for line in extra:
                print(line)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
