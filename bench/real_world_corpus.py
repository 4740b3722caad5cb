#!/usr/bin/env python3
"""Writes good zip archives the way real tools write them, then judges Vellum and its peers on them.

    bench/real_world_corpus.py FOLDER                 write the archives and FOLDER/manifest.json
    bench/real_world_corpus.py --judge BUILD FOLDER   test them with BUILD/vellum and the peers

Every creator on this machine archives the same small tree (text files, a binary file, a folder, an
empty folder, an empty file, a 1 MiB compressible file), all with fixed contents and a fixed
modification time: Info-ZIP zip (default, -0, -9, -e, a split set, streamed to a pipe, forced
zip64), 7zz with each zip method and both encryptions, bsdtar, Python's zipfile (each method, and
written to a stream that cannot seek, so data descriptors follow the data), an aligned package whose
local extra fields are padded with zero bytes so that data starts 4-aligned, a jar and an ODF-like
layout. A creator that is missing is skipped and named on standard error. Each archive is checked
once with unzip -t, Python's zipfile or 7zz t; the manifest lists its creator, options and check.
Encrypted archives use the password "vellum" and the peers are given it when judging. The bytes are
the same on every run except what a tool takes from the clock or the file system and no option
fixes: the change time bsdtar stores, the access time of folders zip stores, the time of an entry
streamed from standard input, and the salts of encryption.

Judging prints, per creator, how many archives each tool calls good and bad; every archive is good,
so every "bad" is a false alarm.
"""

import argparse
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
from concurrent.futures import ThreadPoolExecutor

PASSWORD = "vellum"
STAMP = "2021-03-04 05:06:08"  # even seconds: DOS times keep them exactly
STAMP_TUPLE = (2021, 3, 4, 5, 6, 8)
ENV = dict(os.environ, TZ="UTC", LC_ALL="C")
GROUPS = ["zip", "7zz", "bsdtar", "python", "aligned", "jar", "odf"]


def run(command, cwd=None, stdin=None, stdout=subprocess.DEVNULL):
    return subprocess.run(command, cwd=cwd, stdin=stdin, stdout=stdout, stderr=subprocess.PIPE,
                          env=ENV, check=False)


def source_files():
    """The tree every creator archives: relative path to contents (None for a folder)."""
    prose = "".join(f"Line {n} of a plain text file, with words that repeat a little.\n" for n in range(40))
    log = "".join(f"{n:08d} INFO worker {n % 7} finished step {n % 113} in {n % 997} ms\n"
                  for n in range(16000)).encode()[:1 << 20]
    return {
        "readme.txt": prose.encode(),
        "notes/": None,
        "notes/chapter1.txt": ("Chapter one.\n" * 200).encode(),
        "notes/chapter2.txt": "Zweites Kapitel: Größe, Übung, Straße.\n".encode() * 50,
        "empty-folder/": None,
        "empty.txt": b"",
        "data.bin": random.Random(11).randbytes(160 * 1024),
        "log.txt": log,
    }


def write_tree(folder, files):
    for name, data in files.items():
        path = os.path.join(folder, name)
        if data is None:
            os.makedirs(path, exist_ok=True)
        else:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as file:
                file.write(data)
    stamp(folder)


def stamp(folder):
    """Sets every time in the tree again: reading a file may have moved its access time."""
    paths = [os.path.join(base, name) for base, dirs, files in os.walk(folder) for name in dirs + files]
    run(["touch", "-d", STAMP] + sorted(paths) + [folder])


class Corpus:
    def __init__(self, folder, tree):
        self.folder = folder
        self.tree = tree
        self.entries = []
        self.skipped = set()

    def has(self, tool):
        if shutil.which(tool):
            return True
        if tool not in self.skipped:
            self.skipped.add(tool)
            print(f"{tool} is missing: its archives are skipped", file=sys.stderr)
        return False

    def path(self, group, name):
        os.makedirs(os.path.join(self.folder, group), exist_ok=True)
        return os.path.join(self.folder, group, name)

    def add(self, group, name, creator, options, command=None, encrypted=False, parts=()):
        path = self.path(group, name)
        self.entries.append({
            "file": os.path.relpath(path, self.folder), "group": group, "creator": creator,
            "options": options, "command": command, "encrypted": encrypted,
            "parts": [os.path.relpath(part, self.folder) for part in parts],
        })

    def tool(self, group, name, creator, options, command, encrypted=False):
        """Runs command in the tree, with {out} standing for the archive's path."""
        path = self.path(group, name)
        if os.path.exists(path):
            os.unlink(path)
        stamp(self.tree)
        result = run([part.replace("{out}", path) for part in command], cwd=self.tree)
        if result.returncode != 0 or not os.path.exists(path):
            print(f"{name}: {' '.join(command)} failed: {result.stderr.decode(errors='replace')}",
                  file=sys.stderr)
            return None
        shown = " ".join(part.replace("{out}", name) for part in command)
        self.add(group, name, creator, options, shown, encrypted)
        return path

    def piped(self, group, name, creator, options, command, stdin_file=None):
        """Runs command with its output to a pipe, the archive taken from the pipe."""
        path = self.path(group, name)
        stamp(self.tree)
        source = open(os.path.join(self.tree, stdin_file), "rb") if stdin_file else subprocess.DEVNULL
        feeder = subprocess.Popen(["cat"], stdin=source, stdout=subprocess.PIPE) if stdin_file else None
        result = run(command, cwd=self.tree, stdin=feeder.stdout if feeder else source,
                     stdout=subprocess.PIPE)
        if feeder:
            feeder.stdout.close()
            feeder.wait()
            source.close()
        if result.returncode != 0:
            print(f"{name}: {' '.join(command)} failed", file=sys.stderr)
            return
        with open(path, "wb") as file:
            file.write(result.stdout)
        shown = (f"cat {stdin_file} | " if stdin_file else "") + " ".join(command) + f" | cat > {name}"
        self.add(group, name, creator, options, shown)


CONTENT = ["readme.txt", "notes", "empty-folder", "empty.txt", "data.bin", "log.txt"]


def info_zip(corpus):
    if not corpus.has("zip"):
        return
    creator = "Info-ZIP zip"
    corpus.tool("zip", "zip-default.zip", creator, "default", ["zip", "-q", "-r", "{out}"] + CONTENT)
    corpus.tool("zip", "zip-store.zip", creator, "-0", ["zip", "-q", "-0", "-r", "{out}"] + CONTENT)
    corpus.tool("zip", "zip-best.zip", creator, "-9", ["zip", "-q", "-9", "-r", "{out}"] + CONTENT)
    corpus.tool("zip", "zip-encrypted.zip", creator, "-e (traditional encryption)",
                ["zip", "-q", "-r", "-P", PASSWORD, "{out}"] + CONTENT, encrypted=True)
    corpus.tool("zip", "zip-zip64.zip", creator, "-fz (forced zip64)",
                ["zip", "-q", "-fz", "-r", "{out}"] + CONTENT)
    corpus.tool("zip", "zip-no-extras.zip", creator, "-X (no extra fields)",
                ["zip", "-q", "-X", "-r", "{out}"] + CONTENT)
    # A split set: the walk tests only the .zip, the .z01 ... parts lie beside it.
    split = os.path.join(corpus.folder, "zip", "split")
    os.makedirs(split, exist_ok=True)
    path = corpus.tool("zip", "split/zip-split.zip", creator, "-s 64k (split set)",
                       ["zip", "-q", "-s", "64k", "-r", "{out}"] + CONTENT)
    if path:
        parts = sorted(os.path.join(split, name) for name in os.listdir(split) if name != "zip-split.zip")
        corpus.entries[-1]["parts"] = [os.path.relpath(part, corpus.folder) for part in parts]
    corpus.piped("zip", "zip-stdin.zip", creator, "streaming from standard input", ["zip", "-q", "-", "-"],
                 stdin_file="log.txt")
    corpus.piped("zip", "zip-to-pipe.zip", creator, "files written to a pipe", ["zip", "-q", "-r", "-"] + CONTENT)


def seven_zip(corpus):
    if not corpus.has("7zz"):
        return
    creator = "7-Zip 7zz"
    for method in ["Copy", "Deflate", "Deflate64", "BZip2", "LZMA", "PPMd"]:
        corpus.tool("7zz", f"7zz-{method.lower()}.zip", creator, f"-mm={method}",
                    ["7zz", "a", "-bso0", "-bsp0", "-tzip", f"-mm={method}", "{out}"] + CONTENT)
    for encryption in ["ZipCrypto", "AES256"]:
        corpus.tool("7zz", f"7zz-{encryption.lower()}.zip", creator, f"-mem={encryption} -p",
                    ["7zz", "a", "-bso0", "-bsp0", "-tzip", f"-mem={encryption}", f"-p{PASSWORD}", "{out}"]
                    + CONTENT, encrypted=True)
    # 7zz -v64k cuts one archive into byte ranges (NAME.zip.001 ...), not a split zip set.
    with tempfile.TemporaryDirectory() as scratch:
        stamp(corpus.tree)
        run(["7zz", "a", "-bso0", "-bsp0", "-tzip", "-v64k", os.path.join(scratch, "volumes.zip")] + CONTENT,
            cwd=corpus.tree)
        names = sorted(os.listdir(scratch))
        if any(name.startswith("volumes.zip.") for name in names):
            print(f"7zz -v64k writes {', '.join(names[:2])} ...: byte-range volumes, not a split zip set; "
                  "skipped", file=sys.stderr)


def bsdtar(corpus):
    if not corpus.has("bsdtar"):
        return
    creator = "bsdtar (libarchive)"
    corpus.tool("bsdtar", "bsdtar-default.zip", creator, "--format zip",
                ["bsdtar", "--format", "zip", "-cf", "{out}"] + CONTENT)
    corpus.tool("bsdtar", "bsdtar-store.zip", creator, "--format zip --options zip:compression=store",
                ["bsdtar", "--format", "zip", "--options", "zip:compression=store", "-cf", "{out}"] + CONTENT)


def tree_items(tree):
    """The tree's entries in a fixed order, as (archive name, contents or None for a folder)."""
    items = []
    for top in CONTENT:
        path = os.path.join(tree, top)
        if os.path.isdir(path):
            items.append((top + "/", None))
            for base, dirs, files in os.walk(path):
                dirs.sort()
                for name in sorted(dirs):
                    items.append((os.path.relpath(os.path.join(base, name), tree) + "/", None))
                for name in sorted(files):
                    with open(os.path.join(base, name), "rb") as file:
                        items.append((os.path.relpath(os.path.join(base, name), tree), file.read()))
        else:
            with open(path, "rb") as file:
                items.append((top, file.read()))
    return items


def entry_info(name, method):
    info = zipfile.ZipInfo(name, STAMP_TUPLE)
    info.compress_type = method
    info.external_attr = (0o40755 << 16 | 0x10) if name.endswith("/") else (0o100644 << 16)
    info.create_system = 3
    return info


def write_with_zipfile(target, items, method):
    with zipfile.ZipFile(target, "w") as archive:
        for name, data in items:
            archive.writestr(entry_info(name, zipfile.ZIP_STORED if data is None else method), data or b"")


class Unseekable:
    """A file that can only be written forward: zipfile then writes data descriptors."""

    def __init__(self, file):
        self.file = file

    def write(self, data):
        return self.file.write(data)

    def flush(self):
        self.file.flush()


def python_zipfile(corpus):
    creator = f"Python {sys.version.split()[0]} zipfile"
    items = tree_items(corpus.tree)
    for label, method in [("stored", zipfile.ZIP_STORED), ("deflated", zipfile.ZIP_DEFLATED),
                          ("bzip2", zipfile.ZIP_BZIP2), ("lzma", zipfile.ZIP_LZMA)]:
        name = f"python-{label}.zip"
        write_with_zipfile(corpus.path("python", name), items, method)
        corpus.add("python", name, creator, f"ZIP_{label.upper()}")
    name = "python-stream.zip"
    with open(corpus.path("python", name), "wb") as file:
        write_with_zipfile(Unseekable(file), items, zipfile.ZIP_DEFLATED)
    corpus.add("python", name, creator, "ZIP_DEFLATED written to a stream that cannot seek (data descriptors)")


def central_records(data):
    """The central headers of a one-disk archive without zip64 records: (offset, 46-byte record, rest)."""
    end = data.rindex(b"PK\x05\x06")
    count, _, position = struct.unpack_from("<HII", data, end + 10)
    records = []
    for _ in range(count):
        lengths = struct.unpack_from("<HHH", data, position + 28)
        records.append((position, data[position:position + 46], data[position + 46:position + 46 + sum(lengths)]))
        position += 46 + sum(lengths)
    return records


def align(source, target, boundary=4):
    """Rewrites a descriptor-free archive so that each entry's data starts on a multiple of boundary,
    padding the local extra field with zero bytes as zipalign does. Returns the padding used."""
    with open(source, "rb") as file:
        data = file.read()
    out = bytearray()
    central = bytearray()
    padding = []
    for _, record, rest in central_records(data):
        compressed_size, = struct.unpack_from("<I", record, 20)
        start, = struct.unpack_from("<I", record, 42)
        name_length, extra_length = struct.unpack_from("<HH", data, start + 26)
        header_end = start + 30 + name_length + extra_length
        name = data[start + 30:start + 30 + name_length]
        extra = data[start + 30 + name_length:header_end]
        offset = len(out)
        pad = -(offset + 30 + name_length + len(extra)) % boundary
        padding.append(pad)
        extra += bytes(pad)
        out += data[start:start + 28] + struct.pack("<H", len(extra)) + name + extra
        out += data[header_end:header_end + compressed_size]
        central += record[:42] + struct.pack("<I", offset) + rest
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(padding), len(padding), len(central), len(out), 0)
    with open(target, "wb") as file:
        file.write(bytes(out + central) + end)
    return padding


def aligned_package(corpus):
    creator = "Python zipfile, aligned as zipalign does"
    items = [("AndroidManifest.xml", b"<manifest package=\"org.example.vellum\"/>\n" * 3),
             ("classes.dex", random.Random(5).randbytes(3000)),
             ("res/", None),
             ("res/raw/a.txt", b"x"),
             ("resources.arsc", bytes(range(256)) * 8),
             ("res/drawable/icon.png", random.Random(6).randbytes(777)),
             ("lib/x86_64/libnative.so", bytes(4097))]
    with tempfile.TemporaryDirectory() as scratch:
        plain = os.path.join(scratch, "plain.zip")
        with zipfile.ZipFile(plain, "w") as archive:
            for name, data in items:
                stored = data is None or name.endswith((".arsc", ".png", ".so"))
                archive.writestr(entry_info(name, zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED),
                                 data or b"")
        name = "aligned-package.zip"
        padding = align(plain, corpus.path("aligned", name))
    corpus.add("aligned", name, creator,
               f"local extra padded with zero bytes to 4-byte data alignment (padding {padding})")


def jar(corpus):
    if not corpus.has("jar"):
        return
    path = corpus.tool("jar", "jar-cf.jar", "jar (JDK)", "jar cf, --date fixed",
                       ["jar", "--create", "--file", "{out}", f"--date={STAMP.replace(' ', 'T')}Z"] + CONTENT)
    if path:
        # The walk tests *.zip only.
        os.replace(path, path[:-4] + ".zip")
        corpus.entries[-1]["file"] = corpus.entries[-1]["file"][:-4] + ".zip"


def odf(corpus):
    mimetype = b"application/vnd.oasis.opendocument.text"
    files = [("META-INF/manifest.xml", b"<manifest:manifest manifest:version=\"1.3\">"
              b"<manifest:file-entry manifest:full-path=\"/\" manifest:media-type=\"" + mimetype + b"\"/>"
              b"</manifest:manifest>\n"),
             ("content.xml", b"<office:document-content><office:body><office:text>"
              + b"<text:p>Vellum tests zip archives.</text:p>" * 60 + b"</office:text></office:body>"
              b"</office:document-content>\n"),
             ("styles.xml", b"<office:document-styles/>\n"),
             ("meta.xml", b"<office:document-meta/>\n")]
    name = "odf-python.odt.zip"
    with zipfile.ZipFile(corpus.path("odf", name), "w") as archive:
        archive.writestr(entry_info("mimetype", zipfile.ZIP_STORED), mimetype)
        for member, data in files:
            archive.writestr(entry_info(member, zipfile.ZIP_DEFLATED), data)
    corpus.add("odf", name, "Python zipfile, ODF layout", "'mimetype' stored first, the rest deflated")
    if not corpus.has("zip"):
        return
    with tempfile.TemporaryDirectory() as scratch:
        for member, data in [("mimetype", mimetype)] + files:
            os.makedirs(os.path.dirname(os.path.join(scratch, member)) or scratch, exist_ok=True)
            with open(os.path.join(scratch, member), "wb") as file:
                file.write(data)
        stamp(scratch)
        target = corpus.path("odf", "odf-zip.odt.zip")
        first = run(["zip", "-q", "-X", "-0", target, "mimetype"], cwd=scratch)
        rest = run(["zip", "-q", "-X", "-r", target, "META-INF", "content.xml", "styles.xml", "meta.xml"],
                   cwd=scratch)
        if first.returncode == 0 and rest.returncode == 0:
            corpus.add("odf", "odf-zip.odt.zip", "Info-ZIP zip, ODF layout",
                       "zip -X -0 mimetype, then zip -X -r the rest",
                       "zip -X -0 NAME mimetype; zip -X -r NAME META-INF content.xml styles.xml meta.xml")


def sanity(folder, entry):
    """Checks that an archive is good with the first tool that can read it; names that tool."""
    path = os.path.join(folder, entry["file"])
    password = PASSWORD if entry["encrypted"] else None
    if entry["parts"]:
        if shutil.which("7zz") and run(["7zz", "t", "-bso0", "-bsp0", path]).returncode == 0:
            return "7zz t"
    elif shutil.which("unzip"):
        command = ["unzip", "-tqq"] + (["-P", password] if password else []) + [path]
        if run(command).returncode == 0:
            return "unzip -t"
    try:
        with zipfile.ZipFile(path) as archive:
            if password:
                archive.setpassword(password.encode())
            if archive.testzip() is None:
                return "python zipfile"
    except (zipfile.BadZipFile, NotImplementedError, RuntimeError, OSError, ValueError):
        pass
    if shutil.which("7zz"):
        command = ["7zz", "t", "-bso0", "-bsp0"] + ([f"-p{password}"] if password else []) + [path]
        if run(command).returncode == 0:
            return "7zz t"
    return None


def write_corpus(folder):
    if os.path.exists(folder) and os.listdir(folder):
        sys.exit(f"{folder} is not empty")
    os.makedirs(folder, exist_ok=True)
    folder = os.path.abspath(folder)
    with tempfile.TemporaryDirectory(prefix="vellum-tree-") as tree:
        write_tree(tree, source_files())
        corpus = Corpus(folder, tree)
        for make in (info_zip, seven_zip, bsdtar, python_zipfile, aligned_package, jar, odf):
            make(corpus)
    failed = 0
    for entry in corpus.entries:
        entry["checked_with"] = sanity(folder, entry)
        if entry["checked_with"] is None:
            failed += 1
            print(f"{entry['file']}: no tool reads it as good", file=sys.stderr)
    with open(os.path.join(folder, "manifest.json"), "w") as file:
        json.dump({"password": PASSWORD, "skipped_tools": sorted(corpus.skipped),
                   "archives": corpus.entries}, file, indent=1)
        file.write("\n")
    print(f"{len(corpus.entries)} archives in {folder}, {failed} failed their check")
    return failed == 0


# Judging: each tool's verdict per archive.

def peer_commands(path, password):
    with_password = password is not None
    return {
        "unzip -tqq": ["unzip", "-tqq"] + (["-P", password] if with_password else []) + [path],
        "7zz t": ["7zz", "t", "-bso0", "-bsp0"] + ([f"-p{password}"] if with_password else []) + [path],
        "bsdtar -xOf": ["bsdtar"] + (["--passphrase", password] if with_password else []) + ["-xOf", path],
        "python zipfile": [sys.executable, "-c",
                           "import sys, zipfile\n"
                           "with zipfile.ZipFile(sys.argv[1]) as a:\n"
                           "    a.setpassword(sys.argv[2].encode()) if sys.argv[2] else None\n"
                           "    sys.exit(a.testzip() is not None)", path, password or ""],
    }


PEERS = ["unzip -tqq", "7zz t", "bsdtar -xOf", "python zipfile"]


def peer_verdict(command, timeout=60):
    """True when the peer calls the archive good (exit status 0); a peer that hangs calls it bad."""
    try:
        return subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, env=ENV, timeout=timeout).returncode == 0
    except subprocess.TimeoutExpired:
        return False


def vellum_bad(build, folder):
    """Runs Vellum unattended over folder; returns the set of archives it calls bad."""
    program = os.path.join(build, "vellum")
    with tempfile.TemporaryDirectory(prefix="vellum-report-") as reports:
        result = subprocess.run([program, "--report-dir", reports, "--", folder], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=ENV, check=False)
        if result.returncode not in (0, 1):
            raise RuntimeError(f"vellum exited with {result.returncode}: {result.stderr.decode(errors='replace')}")
        # errors.txt is written only by a run that finds a bad archive.
        if result.returncode == 0:
            return set()
        with open(os.path.join(reports, "errors.txt"), encoding="utf-8", newline="") as file:
            lines = file.read().split("\r\n")
    return {line for line in lines[1:] if line}


def judge(build, folder):
    folder = os.path.abspath(folder)
    with open(os.path.join(folder, "manifest.json")) as file:
        manifest = json.load(file)
    archives = manifest["archives"]
    bad = vellum_bad(build, folder)
    verdicts = {"vellum": [os.path.join(folder, entry["file"]) not in bad for entry in archives]}
    peers = [peer for peer in PEERS if shutil.which(peer.split()[0]) or peer == "python zipfile"]
    jobs = []
    with ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        for entry in archives:
            password = manifest["password"] if entry["encrypted"] else None
            commands = peer_commands(os.path.join(folder, entry["file"]), password)
            jobs.append({peer: pool.submit(peer_verdict, commands[peer]) for peer in peers})
    for peer in peers:
        verdicts[peer] = [job[peer].result() for job in jobs]
    tools = ["vellum"] + peers

    print(f"{len(archives)} good archives in {folder}; each cell: good / bad (bad = false alarm)\n")
    print("| creator | archives | " + " | ".join(tools) + " |")
    print("|---|---:|" + "---:|" * len(tools))
    groups = [group for group in GROUPS if any(entry["group"] == group for entry in archives)]
    for group in groups:
        rows = [index for index, entry in enumerate(archives) if entry["group"] == group]
        cells = []
        for tool in tools:
            good = sum(verdicts[tool][index] for index in rows)
            cells.append(f"{good} / {len(rows) - good}")
        print(f"| {group} | {len(rows)} | " + " | ".join(cells) + " |")
    totals = []
    for tool in tools:
        good = sum(verdicts[tool])
        totals.append(f"**{good} / {len(archives) - good}**")
    print(f"| **all** | {len(archives)} | " + " | ".join(totals) + " |")
    print("\nFalse alarms:")
    for tool in tools:
        names = [entry["file"] for entry, good in zip(archives, verdicts[tool]) if not good]
        print(f"- {tool}: " + (", ".join(names) if names else "none"))
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--judge", metavar="BUILD_DIR", help="test the archives with BUILD_DIR/vellum and the peers")
    parser.add_argument("folder")
    options = parser.parse_args()
    if options.judge:
        program = os.path.join(options.judge, "vellum")
        if not os.access(program, os.X_OK):
            sys.exit(f"{program} is missing: build first (scripts/build.sh)")
        judge(options.judge, options.folder)
    elif not write_corpus(options.folder):
        sys.exit(1)


if __name__ == "__main__":
    main()
