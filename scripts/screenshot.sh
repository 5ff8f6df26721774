#!/usr/bin/env bash
# Runs a program on a virtual X display and saves a picture of its window,
# for the docs. Needs xvfb-run (package xvfb), import (imagemagick) and
# xwininfo (x11-utils); installs them when they are missing.
#
#   scripts/screenshot.sh [-o FILE.png] [-t TITLE] [-s WxHxDEPTH] [-w SECONDS] [-d SECONDS] -- COMMAND [ARG...]
#
#   -o FILE     the PNG to write (default: screenshot.png)
#   -t TITLE    take only the window with exactly this title; without it the
#               whole virtual screen is taken
#   -s SCREEN   the virtual screen (default: 1024x768x24)
#   -w SECONDS  how long to wait for the window to appear (default: 30)
#   -d SECONDS  how long to let it settle and paint before the picture (default: 1)
#
# Example:
#   scripts/screenshot.sh -o docs/main-window.png \
#       -t "Zelvar QT4 Data (Remember to close this exe before unplug the usb)" -- build/shell/zelvar-data
#
# The environment is passed on, so QT_SCALE_FACTOR=2 gives a high-DPI picture.

set -euo pipefail

usage() {
    sed -n '6,13s/^# \{0,1\}//p' "$0" >&2
    exit 2
}

out=screenshot.png
title=
screen=1024x768x24
wait_seconds=30
settle_seconds=1
while getopts "o:t:s:w:d:h" option; do
    case $option in
    o) out=$OPTARG ;;
    t) title=$OPTARG ;;
    s) screen=$OPTARG ;;
    w) wait_seconds=$OPTARG ;;
    d) settle_seconds=$OPTARG ;;
    *) usage ;;
    esac
done
shift $((OPTIND - 1))
[[ ${1-} == -- ]] && shift
(($# > 0)) || usage

install_tools() {
    local as_root=()
    ((EUID == 0)) || as_root=(sudo)
    local install=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive
        apt-get install -y -qq --no-install-recommends xvfb imagemagick x11-utils)
    echo "screenshot.sh: installing xvfb, imagemagick and x11-utils" >&2
    "${install[@]}" >&2 || { "${as_root[@]}" apt-get update -qq >&2 && "${install[@]}" >&2; }
}
for tool in xvfb-run import xwininfo; do
    command -v "$tool" >/dev/null || { install_tools; break; }
done

# The picture is written to an absolute path: the program may change directory.
mkdir -p "$(dirname -- "$out")"
out=$(cd -- "$(dirname -- "$out")" && pwd)/$(basename -- "$out")

# Runs on the virtual display: starts the program, waits for its window,
# takes the picture, then ends the program (and so the display).
# shellcheck disable=SC2016 # expanded by the inner shell
inner='
    out=$1 title=$2 wait_seconds=$3 settle_seconds=$4
    shift 4
    "$@" &
    program=$!
    trap "kill $program 2>/dev/null || true" EXIT
    # import falls back to asking for a mouse click when the window does
    # not exist, so its presence is checked first.
    window=root find=(true)
    [[ -z $title ]] || window=$title find=(xwininfo -name "$title")
    deadline=$((SECONDS + wait_seconds))
    until "${find[@]}" >/dev/null 2>&1; do
        if ! kill -0 "$program" 2>/dev/null; then
            wait "$program" && status=0 || status=$?
            echo "screenshot.sh: the program ended (status $status) before its window appeared" >&2
            exit 1
        fi
        if ((SECONDS >= deadline)); then
            echo "screenshot.sh: no window titled \"$window\" within $wait_seconds s" >&2
            exit 1
        fi
        sleep 0.2
    done
    sleep "$settle_seconds"
    kill -0 "$program" 2>/dev/null || { echo "screenshot.sh: the program ended before the picture" >&2; exit 1; }
    import -window "$window" -silent "$out"
'

# Qt would stay on a platform set for tests (offscreen draws nothing on X).
env -u QT_QPA_PLATFORM xvfb-run --auto-servernum --server-args="-screen 0 $screen" \
    bash -c "$inner" screenshot "$out" "$title" "$wait_seconds" "$settle_seconds" "$@"
echo "$out"
