#!/usr/bin/env bash
# Checks the Debian package the way a user meets it: unpacks it into a scratch root, compares its
# file list, its dependencies and its stripped program with what it should hold, then runs the
# unpacked program unattended as an ordinary user (through setpriv when run as root) over a
# generated folder with one damaged archive: it must exit with status 1 and write its reports into
# that user's state folder, not beside the program. The program itself must not need Qt; its window
# module must load from the library folder, which a run on Qt's offscreen platform shows.
#   scripts/check-package.sh [PACKAGE]     (default: the one in build/, made by scripts/package.sh)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
package="${1:-$(ls "${BUILD_DIR:-$top/build}"/vellum_*.deb)}"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
fail() { echo "check-package: $*" >&2; exit 1; }

expected="./usr/bin/vellum
./usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/vellum/libvellum-window.so
./usr/share/applications/vellum.desktop
./usr/share/doc/vellum/changelog.Debian.gz
./usr/share/doc/vellum/copyright
./usr/share/icons/hicolor/128x128/apps/vellum.png
./usr/share/icons/hicolor/16x16/apps/vellum.png
./usr/share/icons/hicolor/32x32/apps/vellum.png
./usr/share/icons/hicolor/48x48/apps/vellum.png
./usr/share/icons/hicolor/scalable/apps/vellum.svg
./usr/share/man/man1/vellum.1.gz
./usr/share/vellum/Vellum.hlp
./usr/share/vellum/Vellum.html
./usr/share/vellum/error.wav
./usr/share/vellum/thunder.wav"
actual="$(dpkg-deb -c "$package" | awk '$1 !~ /^d/ {print $NF}' | sort)"
[ "$actual" = "$expected" ] || fail "the package's files differ from the expected list:
$(diff <(echo "$expected") <(echo "$actual"))"

depends="$(dpkg-deb -f "$package" Depends)"
for needed in xdg-utils fonts-dejavu-core libqt6widgets6 libisal2 libc6; do
    [[ ", $depends," == *", $needed"[\ ,]* ]] || fail "Depends lacks $needed: $depends"
done

root="$scratch/root"
dpkg-deb -x "$package" "$root"
program="$root/usr/bin/vellum"
readelf --sections "$program" | grep -q '\.symtab' && fail "the program is not stripped"
window_module="$(find "$root/usr/lib" -name libvellum-window.so)"
readelf --sections "$window_module" | grep -q '\.symtab' && fail "the window module is not stripped"
# A run from the command line loads no window library at all.
readelf --dynamic "$program" | grep -q 'NEEDED.*libQt' && fail "the program itself needs Qt"
desktop-file-validate "$root/usr/share/applications/vellum.desktop"
# A menu entry that claims a type (folders, say) would become the file manager's default for it.
grep -q '^MimeType=' "$root/usr/share/applications/vellum.desktop" && fail "the menu entry claims a file type"
version="$(dpkg-deb -f "$package" Version)"
[ "$("$program" --version | head -1)" = "Vellum ${version%-*}" ] || fail "--version does not say ${version%-*}"

# A folder with one sound and one damaged archive, readable by everyone.
tree="$scratch/tree"
python3 - "$tree" <<'PYTHON'
import os, sys, zipfile
tree = sys.argv[1]
os.makedirs(os.path.join(tree, "deeper"))
with zipfile.ZipFile(os.path.join(tree, "good.zip"), "w", zipfile.ZIP_DEFLATED) as archive:
    archive.writestr("notes.txt", "a sound archive\n" * 100)
damaged = os.path.join(tree, "deeper", "damaged.zip")
with zipfile.ZipFile(damaged, "w", zipfile.ZIP_DEFLATED) as archive:
    archive.writestr("notes.txt", "an archive about to be damaged\n" * 100)
data = bytearray(open(damaged, "rb").read())
data[45] ^= 0xFF  # inside the entry's compressed data
open(damaged, "wb").write(bytes(data))
PYTHON
home="$scratch/home"
mkdir -p "$home" "$scratch/tmp"
run_as_user=()
if [ "$(id -u)" -eq 0 ]; then
    chown 65534:65534 "$home" "$scratch/tmp"
    run_as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
chmod -R a+rX "$tree"
status=0
env -i PATH=/usr/bin:/bin HOME="$home" TMPDIR="$scratch/tmp" \
    "${run_as_user[@]}" "$program" -q "$tree" || status=$?
[ "$status" -eq 1 ] || fail "the unpacked program exited with status $status, not 1"
state="$home/.local/state/vellum"
grep -q "deeper/damaged.zip" "$state/errors.txt" || fail "errors.txt in $state does not name the damaged archive"
grep -q " 2 tested - 1 bad" "$state/errors.log" || fail "errors.log in $state lacks the run's counts"
ls "$root/usr/bin" | grep -qv '^vellum$' && fail "the run wrote beside the installed program"

# The same run in the window, on Qt's offscreen platform: the window module is found and loaded.
rm -f "$state/errors.txt"
status=0
env -i PATH=/usr/bin:/bin HOME="$home" TMPDIR="$scratch/tmp" QT_QPA_PLATFORM=offscreen \
    "${run_as_user[@]}" "$program" "$tree" 2>"$scratch/window-errors" || status=$?
[ "$status" -eq 1 ] || fail "the unpacked program's window run exited with status $status, not 1: $(cat "$scratch/window-errors")"
grep -q "deeper/damaged.zip" "$state/errors.txt" || fail "the window run's errors.txt does not name the damaged archive"
echo "check-package: $(basename "$package") holds what it should and runs as an ordinary user"
