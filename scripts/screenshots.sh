#!/usr/bin/env bash
# Starts a virtual X display, runs the real program on it and saves PNG screenshots of the main
# window idle, the main window part-way through a run, and the About window, into docs/ (or the
# folder given).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$top/build}"
out="${1:-$top/docs}"
work="$(mktemp -d)"
xvfb_pid=""
cleanup() {
    pkill -f "$work/vellum" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

[ -x "$build/vellum" ] || "$top/scripts/build.sh" >/dev/null
mkdir -p "$out"
# A private copy, so that the reports of the run below do not land in the build folder.
cp "$build/vellum" "$build/libvellum-window.so" "$build/thunder.wav" "$build/error.wav" "$build/Vellum.hlp" "$work/"
# Small archives, and one of 16 GiB of zeros (a sparse file) that keeps the run busy for seconds.
"$build/bench/make_bench_tree" small "$work/tree/small" 1000 >/dev/null
"$build/bench/make_bench_tree" zeros "$work/tree/zeros" 16 >/dev/null

# The server picks a free display number itself and writes it out once it accepts connections. It
# must not reset when its last client leaves: the next program would find it refusing connections.
Xvfb -displayfd 3 -noreset -screen 0 400x300x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "the virtual display did not start" >&2; exit 1; }
export DISPLAY=":$(tr -d '[:space:]' < "$work/display")" TMPDIR="$work"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

wait_for_window() { # title
    for _ in $(seq 100); do xdotool search --name "$1" >/dev/null 2>&1 && return 0; sleep 0.1; done
    echo "no window named $1 appeared" >&2
    return 1
}
shoot() { sleep "${2:-0.5}"; import -window root "$out/$1"; echo "wrote $out/$1"; }

"$work/vellum" &
wait_for_window '^Vellum$'
shoot main-idle.png
# No window manager runs here, so the window is given the keyboard focus by hand.
xdotool search --name '^Vellum$' windowfocus --sync
xdotool key alt+h
sleep 0.3
xdotool key a
shoot about.png
pkill -f "$work/vellum" || true
sleep 0.5

# The progress bar is part-way when the pixel a fifth of the way along its middle row is filled and
# the one near its right end is still white. The bar lies at (56, 86) in the 310 x 192 client area
# below the menu bar, 199 pixels wide and 19 high.
bar_part_way() {
    local WINDOW X Y WIDTH HEIGHT SCREEN row colours
    eval "$(xdotool search --name '^Vellum$' getwindowgeometry --shell 2>/dev/null)" || return 1
    row=$((Y + HEIGHT - 192 + 86 + 9))
    colours="$(import -window root -crop "199x1+$((X + 56))+$row" -depth 8 txt:- | awk 'NR > 1 { print $3 }')"
    [ "$(sed -n 40p <<<"$colours")" != "#FFFFFF" ] && [ "$(sed -n 190p <<<"$colours")" = "#FFFFFF" ]
}

"$work/vellum" "$work/tree" &
wait_for_window '^Vellum$'
for _ in $(seq 500); do bar_part_way && break; sleep 0.2; done
bar_part_way || { echo "the progress bar was never seen part-way" >&2; exit 1; }
shoot main-during-run.png 0
pkill -f "$work/vellum" || true
