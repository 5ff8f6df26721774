#!/bin/sh
# Installs a built tree into a scratch prefix with `cmake --install` and checks
# what an operator gets: the layout, programs that start, and an installed
# zelvar-data (whose own directory it cannot write) keeping its runs in the
# user's data directory with copies of the control files.
set -eu

usage() {
    cat <<'USAGE'
Usage: install_test.sh --build-dir DIR [--keep]

Installs the build in DIR into a temporary prefix and checks the installed
tree. --keep leaves the prefix in place and prints where it is.
USAGE
}

build=""
keep=0
while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) build="$2"; shift 2 ;;
        --keep) keep=1; shift ;;
        -h|--help) usage; exit 0 ;;
        *) echo "install_test.sh: unknown argument $1" >&2; usage >&2; exit 2 ;;
    esac
done
[ -n "$build" ] || { usage >&2; exit 2; }

scratch=$(mktemp -d)
chmod 755 "$scratch"
cleanup() {
    [ -n "${program_pid:-}" ] && kill "$program_pid" 2>/dev/null || true
    if [ "$keep" = 1 ]; then echo "kept: $scratch"; else chmod -R u+w "$scratch"; rm -rf "$scratch"; fi
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix="$scratch/usr"
cmake --install "$build" --prefix "$prefix" >/dev/null

libdir=$(cd "$prefix" && ls -d lib*/zelvar-data | head -n 1)
[ -n "$libdir" ] || fail "no lib*/zelvar-data directory"
for f in "$libdir/zelvar-data" bin/zelvar-analyze bin/dyno-sim; do
    [ -x "$prefix/$f" ] || fail "$f is not installed as a program"
done
for f in "$libdir/RCS.dat" "$libdir/RTA.dat" share/applications/zelvar-data.desktop \
         share/icons/hicolor/scalable/apps/zelvar-data.svg; do
    [ -f "$prefix/$f" ] || fail "$f is not installed"
done
[ -L "$prefix/bin/zelvar-data" ] || fail "bin/zelvar-data is not a link"
[ "$(readlink -f "$prefix/bin/zelvar-data")" = "$(readlink -f "$prefix/$libdir/zelvar-data")" ] ||
    fail "bin/zelvar-data does not lead to $libdir/zelvar-data"
grep -q '^Exec=zelvar-data$' "$prefix/share/applications/zelvar-data.desktop" || fail "desktop entry Exec"
grep -q '^Icon=zelvar-data$' "$prefix/share/applications/zelvar-data.desktop" || fail "desktop entry Icon"

"$prefix/bin/zelvar-data" --help | grep -q -- '--app-dir' || fail "zelvar-data --help"
"$prefix/bin/zelvar-analyze" --help >/dev/null || fail "zelvar-analyze --help"
"$prefix/bin/dyno-sim" --help >/dev/null || fail "dyno-sim --help"

# What the desktop entry starts finds the device saved for a COM number in the
# user's configuration: no variable, no display.
exec_line=$(sed -n 's/^Exec=//p' "$prefix/share/applications/zelvar-data.desktop")
ports_home="$scratch/ports-home"
mkdir -p "$ports_home"
adapter="$scratch/ttyUSB-dyno"
: >"$adapter"
run_ports() {
    env -u XDG_CONFIG_HOME -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u ZELVAR_COM3 \
        HOME="$ports_home" PATH="$prefix/bin:$PATH" $exec_line "$@" 2>/dev/null
}
run_ports --map-port "3=$adapter" >/dev/null || fail "zelvar-data --map-port"
[ -f "$ports_home/.config/zelvar/zelvar-data.conf" ] || fail "the port map is not in the user's configuration"
run_ports --list-ports | grep -Eq "^  COM3 +$adapter +\[saved, present\]$" ||
    fail "the desktop entry's program does not find the saved device: $(run_ports --list-ports)"

# Started through the link by a user who cannot write the program's
# directory. Root writes anywhere, so root runs it as nobody; anyone else
# gets a read-only program directory.
home="$scratch/home"
mkdir -p "$home"
if [ "$(id -u)" = 0 ]; then
    command -v setpriv >/dev/null || { echo "SKIP: no setpriv to drop root"; exit 0; }
    chown nobody "$home"
    as_user="setpriv --reuid=nobody --regid=nogroup --clear-groups"
else
    chmod a-w "$prefix/$libdir"
    as_user=""
fi
env -u XDG_DATA_HOME HOME="$home" QT_QPA_PLATFORM=offscreen $as_user "$prefix/bin/zelvar-data" \
    >"$scratch/program.log" 2>&1 &
program_pid=$!
data="$home/.local/share/zelvar-data"
tries=0
until [ -f "$data/RCS.dat" ] && [ -f "$data/RTA.dat" ]; do
    kill -0 "$program_pid" 2>/dev/null || { cat "$scratch/program.log" >&2; fail "zelvar-data ended at start-up"; }
    tries=$((tries + 1))
    [ "$tries" -lt 200 ] || fail "no control files in $data"
    sleep 0.1
done
sleep 0.5
kill -0 "$program_pid" 2>/dev/null || { cat "$scratch/program.log" >&2; fail "zelvar-data did not keep running"; }
kill "$program_pid"
wait "$program_pid" 2>/dev/null || true
program_pid=""
[ "$(ls -A "$prefix/$libdir" | sort | tr '\n' ' ')" = "RCS.dat RTA.dat zelvar-data " ] ||
    fail "the program wrote into its own directory: $(ls -A "$prefix/$libdir")"
[ "$(id -u)" = 0 ] || chmod u+w "$prefix/$libdir"
echo "install_test: ok"
