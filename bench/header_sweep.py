#!/usr/bin/env python3
"""Flips every header bit of a few small real-world archives once and counts who notices.

Usage: bench/header_sweep.py [BUILD_DIR] [--keep DIR] [--archives NAME ...]

Six archives of two small entries each are written the way bench/real_world_corpus.py writes its
corpus: Info-ZIP zip (default, and forced zip64), 7zz deflate, bsdtar, Python's zipfile to a stream
that cannot seek (data descriptors), and the aligned package. Each archive is parsed here into a
map of its header fields (local headers, central headers, end record, zip64 end record and locator,
data descriptors); the compressed data is left alone. Every bit of every mapped byte is flipped once,
one mutant per bit, and each archive's mutants are written to a folder of their own. Vellum runs
unattended once per folder (its errors.txt names the mutants it calls bad); unzip -tqq, 7zz t and
bsdtar -xOf run once per mutant from a small pool, and Python's zipfile testzip once per folder
over all its mutants. A tool detects a mutant when it calls it bad (a non-zero exit status). Each
folder also holds the unchanged archive: when a tool calls that bad, the archive's mutants are left
out of that tool's counts, since its verdicts on them say nothing.

Each field class has a kind: "needed" when readers need the value to find, decode or check an entry,
or it is a copy that must agree with another; "malformed" when no reader needs the value but the
flip leaves a record that is not well formed (a reserved flag bit, a broken extra-field layout,
non-zero alignment padding); "cosmetic" when nothing a reader needs changes (times, attributes,
version fields, the payload of informational extra fields): not detecting those is no miss.
"""

import argparse
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile
from collections import defaultdict
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import real_world_corpus as corpus  # noqa: E402

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PEERS = ["unzip -tqq", "7zz t", "bsdtar -xOf"]

FLAG_NEEDED = {0, 3, 6}  # encryption, data descriptor, strong encryption
FLAG_COSMETIC = {1, 2, 11}  # compression hints, UTF-8 names (the names here are ASCII)


# Archives to sweep.

def small_tree(folder):
    files = {"a.txt": b"a small text file, a small text file, a small text file\n",
             "b.bin": random.Random(3).randbytes(40)}
    corpus.write_tree(folder, files)
    return sorted(files)


def make_archives(folder):
    """Writes the archives to sweep into folder; returns [(label, path)]."""
    made = []
    with tempfile.TemporaryDirectory(prefix="vellum-sweep-tree-") as tree:
        names = small_tree(tree)

        def tool(label, command):
            if shutil.which(command[0]) is None:
                print(f"{command[0]} is missing: {label} is skipped", file=sys.stderr)
                return
            path = os.path.join(folder, label + ".zip")
            corpus.stamp(tree)
            result = corpus.run([part.replace("{out}", path) for part in command] + names, cwd=tree)
            if result.returncode == 0:
                made.append((label, path))

        tool("zip-default", ["zip", "-q", "{out}"])
        tool("zip-zip64", ["zip", "-q", "-fz", "{out}"])
        tool("7zz-deflate", ["7zz", "a", "-bso0", "-bsp0", "-tzip", "-mm=Deflate", "{out}"])
        tool("bsdtar-default", ["bsdtar", "--format", "zip", "-cf", "{out}"])
        items = [(name, open(os.path.join(tree, name), "rb").read()) for name in names]
        path = os.path.join(folder, "python-stream.zip")
        with open(path, "wb") as file:
            corpus.write_with_zipfile(corpus.Unseekable(file), items, zipfile.ZIP_DEFLATED)
        made.append(("python-stream", path))
        plain = os.path.join(folder, "plain.zip")
        with zipfile.ZipFile(plain, "w") as archive:
            archive.writestr(corpus.entry_info("AndroidManifest.xml", zipfile.ZIP_DEFLATED), items[0][1])
            archive.writestr(corpus.entry_info("res/b.bin", zipfile.ZIP_STORED), items[1][1])
        path = os.path.join(folder, "aligned-package.zip")
        padding = corpus.align(plain, path)
        os.unlink(plain)
        if not any(padding):
            raise RuntimeError("the aligned package needs no padding: change its names")
        made.append(("aligned-package", path))
    return made


# The field map.

class FieldMap:
    """Each header byte's field: offset -> (record, field, kind, start of the field)."""

    def __init__(self, data):
        self.data = data
        self.fields = {}
        self.payload = []  # (start, end) of compressed data

    def add(self, start, length, record, field, kind):
        for offset in range(start, start + length):
            if offset in self.fields:
                raise ValueError(f"byte {offset} is in two fields")
            self.fields[offset] = (record, field, kind, start)

    def record(self, start, record, layout):
        """Maps consecutive fields at start from (name, length, kind); returns their values by name."""
        values = {}
        for name, length, kind in layout:
            self.add(start, length, record, name, kind)
            values[name] = int.from_bytes(self.data[start:start + length], "little")
            start += length
        return values

    def classify(self, offset, bit):
        record, field, kind, start = self.fields[offset]
        if field == "flags":
            number = (offset - start) * 8 + bit
            if number in FLAG_NEEDED:
                return record, "flags: bits 0, 3, 6", "needed"
            if number in FLAG_COSMETIC:
                return record, "flags: bits 1, 2, 11", "cosmetic"
            return record, "flags: reserved bits", "malformed"
        return record, field, kind


N, C, M = "needed", "cosmetic", "malformed"
LOCAL = [("signature", 4, N), ("version needed", 2, C), ("flags", 2, N), ("method", 2, N),
         ("time/date", 4, C), ("crc", 4, N), ("sizes", 8, N), ("name length", 2, N), ("extra length", 2, N)]
CENTRAL = [("signature", 4, N), ("version made by", 2, C), ("version needed", 2, C), ("flags", 2, N),
           ("method", 2, N), ("time/date", 4, C), ("crc", 4, N), ("sizes", 8, N), ("name length", 2, N),
           ("extra length", 2, N), ("comment length", 2, N), ("disk start", 2, N),
           ("internal attributes", 2, C), ("external attributes", 4, C), ("local offset", 4, N)]
END = [("signature", 4, N), ("disk number", 2, N), ("directory's disk", 2, N), ("entries on this disk", 2, N),
       ("total entries", 2, N), ("directory size", 4, N), ("directory offset", 4, N), ("comment length", 2, N)]
ZIP64_END = [("signature", 4, N), ("record size", 8, N), ("version made by", 2, C), ("version needed", 2, C),
             ("disk number", 4, N), ("directory's disk", 4, N), ("entries on this disk", 8, N),
             ("total entries", 8, N), ("directory size", 8, N), ("directory offset", 8, N)]
LOCATOR = [("signature", 4, N), ("zip64 end record's disk", 4, N), ("zip64 end record offset", 8, N),
           ("total disks", 4, N)]
RECORDS = ["local header", "central header", "data descriptor", "zip64 end record", "zip64 locator",
           "end record"]


def map_extra(fields, start, length, record):
    """Maps an extra-field area; returns the zip64 field's payload offset and length, if any."""
    data = fields.data
    position, end, zip64 = start, start + length, None
    while end - position >= 4:
        ident, size = struct.unpack_from("<HH", data, position)
        if position + 4 + size > end:
            break
        if ident == 0x0001:
            fields.add(position, 4 + size, record, "extra: zip64 field", N)
            zip64 = (position + 4, size)
        else:
            fields.add(position, 4, record, "extra: ids and sizes", M)
            fields.add(position + 4, size, record, "extra: other payload (times, owners)", C)
        position += 4 + size
    if position < end:
        fields.add(position, end - position, record, "extra: zero padding", M)
    return zip64


def zip64_values(data, zip64, wanted):
    """Reads the zip64 extra field's 8-byte values for the saturated fields named in wanted."""
    values, position = {}, zip64[0] if zip64 else None
    for name in wanted:
        if zip64 and position + 8 <= zip64[0] + zip64[1]:
            values[name] = struct.unpack_from("<Q", data, position)[0]
            position += 8
    return values


def field_map(data):
    fields = FieldMap(data)
    end = data.rindex(b"PK\x05\x06")
    values = fields.record(end, "end record", END)
    if values["comment length"]:
        fields.add(end + 22, values["comment length"], "end record", "comment", C)
    count, directory = values["total entries"], values["directory offset"]
    if end >= 20 and data[end - 20:end - 16] == b"PK\x06\x07":
        locator = fields.record(end - 20, "zip64 locator", LOCATOR)
        record = locator["zip64 end record offset"]
        zip64_end = fields.record(record, "zip64 end record", ZIP64_END)
        count, directory = zip64_end["total entries"], zip64_end["directory offset"]
    position = directory
    for _ in range(count):
        central = fields.record(position, "central header", CENTRAL)
        name_start = position + 46
        fields.add(name_start, central["name length"], "central header", "name", N)
        extra_start = name_start + central["name length"]
        zip64 = map_extra(fields, extra_start, central["extra length"], "central header")
        if central["comment length"]:
            fields.add(extra_start + central["extra length"], central["comment length"], "central header",
                       "comment", C)
        compressed = central["sizes"] & 0xFFFFFFFF
        uncompressed = central["sizes"] >> 32
        local_offset = central["local offset"]
        wanted = [name for name, value in (("uncompressed", uncompressed), ("compressed", compressed),
                                           ("offset", local_offset)) if value == 0xFFFFFFFF]
        big = zip64_values(data, zip64, wanted)
        compressed = big.get("compressed", compressed)
        local_offset = big.get("offset", local_offset)
        position = extra_start + central["extra length"] + central["comment length"]

        local = fields.record(local_offset, "local header", LOCAL)
        name_start = local_offset + 30
        fields.add(name_start, local["name length"], "local header", "name", N)
        local_zip64 = map_extra(fields, name_start + local["name length"], local["extra length"], "local header")
        data_start = name_start + local["name length"] + local["extra length"]
        fields.payload.append((data_start, data_start + compressed))
        if local["flags"] & 0x8:
            descriptor = data_start + compressed
            if data[descriptor:descriptor + 4] == b"PK\x07\x08":
                fields.add(descriptor, 4, "data descriptor", "signature", N)
                descriptor += 4
            size = 8 if local_zip64 else 4
            fields.add(descriptor, 4, "data descriptor", "crc", N)
            fields.add(descriptor + 4, 2 * size, "data descriptor", "sizes", N)
    covered = set(fields.fields)
    for start, stop in fields.payload:
        covered.update(range(start, stop))
    loose = [offset for offset in range(len(data)) if offset not in covered]
    if loose:
        raise ValueError(f"{len(loose)} bytes belong to no field, from offset {loose[0]}")
    return fields


# Running the tools.

def peer_detects(command, timeout=30):
    try:
        return subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, env=corpus.ENV, timeout=timeout).returncode != 0
    except subprocess.TimeoutExpired:
        return True


PYTHON_BATCH = """
import os, sys, zipfile
for name in sorted(os.listdir(sys.argv[1])):
    try:
        with zipfile.ZipFile(os.path.join(sys.argv[1], name)) as archive:
            bad = archive.testzip() is not None
    except Exception:
        bad = True
    if bad:
        print(name)
"""


def python_bad(folder):
    result = subprocess.run([sys.executable, "-c", PYTHON_BATCH, folder], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=corpus.ENV, check=False)
    return {os.path.join(folder, name) for name in result.stdout.decode().split()}


def commands(path):
    return {"unzip -tqq": ["unzip", "-tqq", path], "7zz t": ["7zz", "t", "-bso0", "-bsp0", path],
            "bsdtar -xOf": ["bsdtar", "-xOf", path]}


def sweep(build, work, labels):
    """Returns the tools, then per field class (record, field, kind) and tool the mutants and the
    detected ones, then per archive the same over needed fields, and which tools called an original bad."""
    tools = ["vellum"] + [peer for peer in PEERS if shutil.which(peer.split()[0])] + ["python zipfile"]
    mutants_of = defaultdict(lambda: defaultdict(int))
    detected = defaultdict(lambda: defaultdict(int))
    archive_mutants = defaultdict(lambda: defaultdict(int))
    archive_detected = defaultdict(lambda: defaultdict(int))
    refused = defaultdict(list)  # label -> tools that call the unchanged archive bad
    originals = os.path.join(work, "originals")
    os.makedirs(originals)
    archives = [(label, path) for label, path in make_archives(originals) if not labels or label in labels]
    for label, path in archives:
        started = time.monotonic()
        with open(path, "rb") as file:
            data = file.read()
        fields = field_map(data)
        batch = os.path.join(work, label)
        os.makedirs(batch)
        # The unchanged archive goes in too: a tool that calls it bad says nothing about its mutants.
        original = os.path.join(batch, "original.zip")
        shutil.copyfile(path, original)
        mutants = {}
        for offset in sorted(fields.fields):
            for bit in range(8):
                mutant = bytearray(data)
                mutant[offset] ^= 1 << bit
                name = os.path.join(batch, f"{offset:05d}-{bit}.zip")
                with open(name, "wb") as file:
                    file.write(mutant)
                mutants[name] = fields.classify(offset, bit)
        verdicts = {"vellum": corpus.vellum_bad(build, batch), "python zipfile": python_bad(batch)}
        with ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
            jobs = {name: {peer: pool.submit(peer_detects, command)
                           for peer, command in commands(name).items() if peer in tools}
                    for name in [original] + list(mutants)}
            for peer in tools:
                if peer in PEERS:
                    verdicts[peer] = {name for name, job in jobs.items() if job[peer].result()}
        for tool in tools:
            if original in verdicts[tool]:
                refused[label].append(tool)
                continue
            for name, key in mutants.items():
                found = name in verdicts[tool]
                mutants_of[key][tool] += 1
                detected[key][tool] += found
                if key[2] == N:
                    archive_mutants[label][tool] += 1
                    archive_detected[label][tool] += found
        print(f"{label}: {len(data)} bytes, {len(mutants)} mutants, {time.monotonic() - started:.0f} s",
              file=sys.stderr, flush=True)
        shutil.rmtree(batch)
    return (tools, mutants_of, detected, archive_mutants, archive_detected, refused,
            [label for label, _ in archives])


def cell(found, total):
    return f"{found} / {total}" if total else "-"


def print_tables(tools, mutants_of, detected, archive_mutants, archive_detected, refused, labels):
    print(f"Header sweep over {', '.join(labels)}: every bit outside compressed data flipped once; "
          "each cell: detected / mutants\n")
    print("| record | field | kind | " + " | ".join(tools) + " |")
    print("|---|---|---|" + "---:|" * len(tools))
    order = {record: index for index, record in enumerate(RECORDS)}
    for key in sorted(mutants_of, key=lambda key: (order[key[0]], key[1])):
        cells = [cell(detected[key][tool], mutants_of[key][tool]) for tool in tools]
        kind = key[2] if key[2] == N else f"*{key[2]}*"
        print(f"| {key[0]} | {key[1]} | {kind} | " + " | ".join(cells) + " |")
    for kind in (N, M, C):
        keys = [key for key in mutants_of if key[2] == kind]
        cells = []
        for tool in tools:
            found = sum(detected[key][tool] for key in keys)
            total = sum(mutants_of[key][tool] for key in keys)
            cells.append(f"**{found} / {total} ({100 * found / max(total, 1):.1f} %)**")
        print(f"| **all** | **{kind} fields** | | " + " | ".join(cells) + " |")
    print("\nNeeded fields per archive (detected / mutants; 'bad' when the tool calls the unchanged "
          "archive bad, whose mutants are then left out of its counts):\n")
    print("| archive | " + " | ".join(tools) + " |")
    print("|---|" + "---:|" * len(tools))
    for label in labels:
        cells = ["bad" if tool in refused[label] else
                 cell(archive_detected[label][tool], archive_mutants[label][tool]) for tool in tools]
        print(f"| {label} | " + " | ".join(cells) + " |")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build", nargs="?", default=os.environ.get("BUILD_DIR", os.path.join(TOP, "build")))
    parser.add_argument("--keep", help="write the swept archives here and keep them")
    parser.add_argument("--archives", nargs="*", help="sweep only these (zip-default, 7zz-deflate, ...)")
    options = parser.parse_args()
    program = os.path.join(options.build, "vellum")
    if not os.access(program, os.X_OK):
        sys.exit(f"{program} is missing: build first (scripts/build.sh)")
    work = tempfile.mkdtemp(prefix="vellum-sweep-")
    try:
        results = sweep(options.build, work, options.archives)
        if options.keep:
            shutil.copytree(os.path.join(work, "originals"), options.keep, dirs_exist_ok=True)
        print_tables(*results)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
