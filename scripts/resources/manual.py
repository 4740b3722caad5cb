"""The manual: one text, shipped twice.

Vellum.hlp is the plain text itself, the file the help command names. Vellum.html is the same text for
the desktop's web browser, which every desktop has a handler for, unlike the WinHelp type that the
desktop's file types give to *.hlp. The page is made from the text here, so the two never differ.
"""

import html
import os
import re


def project_version():
    """The version as CMakeLists.txt keeps it, so that the manual names the version being built."""
    top = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
    with open(os.path.join(top, "CMakeLists.txt"), encoding="utf-8") as cmake:
        return re.search(r"project\(Vellum VERSION ([0-9.]+)", cmake.read()).group(1)


MANUAL = """\
Vellum @VERSION@
===========

Vellum tests zip archives in bulk. Give it a folder, or a whole drive, and it
walks that folder and every folder below it, tests every zip archive it finds,
and writes down which ones are damaged. Nothing is ever written into the
archives or next to them: Vellum only reads them.


Starting Vellum
---------------

  vellum               opens the window; choose a folder with Browse.
  vellum FOLDER...     tests the folders (and single archives) unattended:
                       no window is needed, the reports are written and
                       Vellum exits.

Options of an unattended run:

  --files-from FILE    test the archives FILE names, one per line (- reads
                       standard input); with -0 (--null) the names end in
                       NUL bytes instead.
  -v, --verbose        print each bad or unverified archive with its reason.
  --json               print one JSON line per archive, then a summary.
  -q, --quiet          no progress line and no closing line on a terminal.
  --strict             count an unverified archive as bad.
  -L, --follow         walk into folders that symbolic links lead to.
  --report-dir DIR     write the reports into DIR.
  --memory SIZE        the most memory the decoders may have (512M, 2G).
  --due DAYS           test only archives that are new, changed, not good
                       when last tested, or last tested more than DAYS days
                       ago.
  --time-limit TIME    start no archive once TIME (7200, 90m, 2h) has passed;
                       those due the longest are tested first.
  --ledger FILE        keep the ledger of verdicts in FILE.
  --no-ledger          keep no ledger.
  --list-due           print the archives that are due; test nothing.
  --check-results LIST RESULTS...
                       print the archives of LIST without a verdict in the
                       JSON results files.
  --import RESULTS...  record JSON results from other machines in the
                       ledger.
  -h, --help           show a short summary of the command line.
  -V, --version        show the version.

A long option may be shortened as long as no other one starts the same way.
A folder whose name looks like an option is given as ./--help (or after --).

An unattended run ends with an exit status that scripts can test:

  0   no bad archive was found,
  1   one or more bad archives were found (with --strict, unverified ones
      too),
  2   the command line was wrong, or a path, list or folder could not be
      read, or an archive's decoder could not have the memory it needs, or
      the run was stopped from its window or ran out of time: the run did
      not judge everything (standard error names each),
  3   the reports, the results or the ledger could not be written (standard
      error says which and why),
  128 + N  the run was stopped by signal N (Ctrl+C gives 130); its record in
      errors.log says "Aborted!". A second signal ends Vellum at once.
  141 the reader of the printed results went away; the record is written.

When several apply, the highest wins. Without a display, an unattended run
needs none; the text viewer is only started when someone can see it.

Only one window of Vellum runs at a time. Starting a second window brings the
first to the front, at its normal size, and the second copy then quits.
Unattended runs always do their work, whatever else is running.


The window
----------

Browse      chooses the folder to test and starts the run at once.
Cancel      stops the run. The Escape key does the same. The reports are
            still written, marked as aborted.

While a run goes on, the window shows:

  - the name of the archive being tested, with "Testing ..." beside it;
  - the counts line: how many archives were tested and how many were bad;
  - the animated picture, which moves while archives are being tested;
  - the progress bar: how far the test of the current archive has come;
  - the status panel at the bottom: the folder being searched.

When the window is minimised, its caption on the task bar shows the progress
of the current archive and its name, or "Searching..." while Vellum looks
for archives. When the run is over the window says "Done.".


The menus
---------

File
  Open log...      shows errors.log, the record of every run, in the
                   desktop's text viewer, or says that there is none yet
                   and where the first run will write it.
  Browse           the same as the Browse button.
  Exit...          stops any run (its reports are still written) and closes
                   Vellum.

Help
  Contents...      shows this manual.
  Web page...      opens the Vellum home page in the web browser:
                   https://www.vellum-tester.org/vellum/
  Send Email...    starts a message to vellum@vellum-tester.org.
  About...         shows the version of Vellum and who made it.

When the desktop has no viewer for the log, a report or this manual, Vellum
shows it in a window of its own, which can be read but not changed; Close or
Escape closes it.


Which files are tested
----------------------

Vellum tests every file whose name ends in .zip, in any mix of capital and
small letters: *.zip, *.ZIP and *.Zip are all tested.

Hidden folders (whose name starts with a full stop, such as .backups) are
tested like any other. Symbolic links to folders are not followed, so no
folder is tested twice and a link loop cannot trap the run; each one is named
on standard error, and -L follows them. The kernel's own file systems (/proc,
/sys, /dev) are passed over unless one is given as the folder to test.

Every run keeps each verdict in a ledger ($XDG_STATE_HOME/vellum/
ledger.sqlite). An archive that was good and is bad now, although nothing
rewrote it, has gone bad on its disk: Vellum says so first. An archive the
ledger knows that is gone from the disk is named as missing. With --due and
--time-limit, a nightly run tests a collection larger than one night in
turns, those due the longest first.


What is tested
--------------

First the structure of the archive:

  - the end of central directory record is found and read, and so are the
    zip64 records when the archive uses them;
  - the central directory is read entry by entry;
  - every local header is checked against its central directory record:
    the name, the method and the encryption must agree, and so must the
    sizes and the CRC-32 unless a data descriptor carries them;
  - data descriptors, where present, are read and compared too;
  - every entry must lie inside the file, and no two entries may overlap;
  - no entry may claim to expand beyond any real compression ratio.

Then every entry is decompressed in full, and the CRC-32 and the size of what
comes out are checked against the values the archive records.

Entries that are encrypted, and entries packed with a method Vellum has no
decoder for, get the structure checks only. They are counted as good, since
nothing wrong was found, but their contents could not be verified.

An archive is bad as soon as one check fails.


The report files
----------------

Both reports are written in Vellum's own folder when Vellum runs from a
folder of its own that can be written to, such as a build or a portable
copy. An installed Vellum (its sounds and manual in share/vellum beside its
bin folder) writes them in the state folder, $XDG_STATE_HOME/vellum (usually
~/.local/state/vellum), as does one whose folder cannot be written to; the
folder given with --report-dir takes them instead when there is one. File >
Open log opens errors.log from there. They have CR LF line ends so that any
text viewer shows them properly. When a report cannot be written, Vellum says
so: on standard error for an unattended run, in a message after a window run.

Every path in a report is written as the file system names it, in full. A
control character or a backslash in a name is written as an escape (\\r, \\n,
\\x1b, \\\\), so that every archive takes exactly one line.

errors.txt is written again after every run that finds a bad archive, and is
then shown in the desktop's text viewer. It holds a header line, then one line
per bad archive:

  04-12-2024 21:07:45
  /home/ann/downloads/broken.zip
  /home/ann/downloads/old/half.zip

errors.log keeps one record for every run, the newest last. Each record is the
header line, the counts line, the folder the run started in, one line per bad
archive, and an empty line that closes the record:

  04-12-2024 21:07:45
   12 tested - 2 bad
  /home/ann/downloads/
  /home/ann/downloads/broken.zip
  /home/ann/downloads/old/half.zip

The header line is the date and time as MM-DD-YYYY HH:MM:SS, followed by
" Aborted!" when the run was cancelled and by " Command line" when the run
was started unattended from the command line:

  04-12-2024 21:07:45 Aborted! Command line

When a run finds bad archives, Vellum also plays its error sound.


Questions
---------

Why was my archive judged bad?
  One of the checks above failed: most often a CRC-32 that does not match,
  which means the data was damaged; or an archive that was cut short while it
  was downloaded or copied, so its central directory is missing.

How can I see what is wrong inside a bad archive?
  Test it with another tool that names the failing entries, for example
  "unzip -t broken.zip" or "7z t broken.zip". Both list every entry with its
  result.

Can Vellum repair an archive?
  No. Vellum only reads archives. Keep a good copy, or fetch the archive again.

Why was an archive I know of not tested?
  It may be reached only through a symbolic link to a folder (the run names
  each such link; -L follows them), its folder may be unreadable or part of
  the kernel's own file systems (/proc, /sys), or its name may not end in
  .zip.

An encrypted archive was counted as good. Is it?
  Its structure is sound, but Vellum cannot check its contents without the
  password. Test it with the password in another tool to be sure.

Where did errors.txt go?
  It is only written when a run finds a bad archive. errors.log has a record
  of every run.

Nothing happens when I start Vellum.
  Another copy is probably running; look for its window, which has just been
  brought to the front.
""".replace("@VERSION@", project_version())


def _heading(lines, index):
    """The level of the heading whose title is lines[index], or None when that line is no title.

    A title is underlined by a line of "=" (the manual's own title) or "-" (a section) as long as it.
    """
    if index + 1 >= len(lines) or not lines[index]:
        return None
    underline = lines[index + 1]
    for mark, level in (("=", 1), ("-", 2)):
        if underline == mark * len(lines[index]):
            return level
    return None


def _sections(text):
    """The manual as (level, title, body) triples, in order; the body keeps its lines as they are."""
    lines = text.split("\n")
    sections, body = [], None
    index = 0
    while index < len(lines):
        level = _heading(lines, index)
        if level is not None:
            body = []
            sections.append((level, lines[index], body))
            index += 2
            continue
        assert body is not None, "the manual must begin with its title"
        body.append(lines[index])
        index += 1
    sections = [(level, title, "\n".join(body).strip("\n")) for level, title, body in sections]
    # Only blank lines and underlines may be dropped: every other line of the text reaches the page.
    kept = [line for _, title, body in sections for line in [title, *body.split("\n")] if line.strip()]
    underlines = {index + 1 for index in range(len(lines)) if _heading(lines, index) is not None}
    assert kept == [line for index, line in enumerate(lines) if line.strip() and index not in underlines]
    return sections


def _anchor(title):
    return "-".join(re.findall(r"[a-z0-9]+", title.lower()))


def manual_html(text):
    """The manual as a web page: its headings as headings, a list of the sections, and each body kept
    preformatted, since the text lines up its columns with blanks."""
    sections = _sections(text)
    level, title, _ = sections[0]
    assert level == 1 and all(level == 2 for level, _, _ in sections[1:])
    out = [
        "<!DOCTYPE html>",
        '<html lang="en">',
        "<head>",
        '<meta charset="utf-8">',
        f"<title>{html.escape(title)}</title>",
        "<style>",
        "body { max-width: 50em; margin: 2em auto; padding: 0 1em; font-family: sans-serif; }",
        "pre { font-size: 1em; white-space: pre-wrap; }",
        "</style>",
        "</head>",
        "<body>",
    ]
    for level, heading, body in sections:
        if level == 1:
            out.append(f"<h1>{html.escape(heading)}</h1>")
        else:
            out.append(f'<h2 id="{_anchor(heading)}">{html.escape(heading)}</h2>')
        if body:
            out.append(f"<pre>{html.escape(body, quote=False)}</pre>")
        if level == 1:
            out.append("<ul>")
            for _, section, _ in sections[1:]:
                out.append(f'<li><a href="#{_anchor(section)}">{html.escape(section)}</a></li>')
            out.append("</ul>")
    out += ["</body>", "</html>", ""]
    return "\n".join(out)
