#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine, in the prefix that
# scripts/build-windows.sh keeps in its cache, with the Qt and MinGW-w64
# runtime DLLs on the program's search path.
#
# Usage: scripts/wine-run.sh [--packaged] PROGRAM.exe [ARGUMENTS...]
#        scripts/wine-run.sh --session COMMAND [ARGUMENTS...]
#
# --packaged: without the build's DLL path, for a program that must bring
# its DLLs with it (the packages).
# --session: runs a Linux COMMAND (CTest, say) that starts many Windows
# programs through this script, with one Wine session held open from before
# its first program to after its last, and ended then.
#
# The windows preset's CMAKE_CROSSCOMPILING_EMULATOR: CTest starts every test
# program through it. Wine opens its windows (Qt's event dispatcher needs a
# hidden one) on $DISPLAY: run CTest inside xvfb-run, in a session:
#   xvfb-run -a scripts/wine-run.sh --session ctest --preset windows
# Without a DISPLAY the program gets an X server of its own, which costs
# about a second a start.
#
# Wine hands the program the Linux environment, except Qt's QT_ variables;
# Qt's options go on the command line (-platform windows).
#
# Environment:
#   ZELVAR_WINDOWS_CACHE  the cache folder (default ~/.cache/zelvar/windows)
set -euo pipefail

if [ $# -eq 0 ] || [ "$1" = --help ] || [ "$1" = -h ]; then
  sed -n '2,/^set -euo pipefail$/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'
  [ $# -gt 0 ] && exit 0
  exit 2
fi

mode=program
case $1 in
  --packaged | --session)
    mode=${1#--}
    shift
    ;;
esac
[ $# -gt 0 ] || { echo "wine-run.sh: nothing to run (see --help)" >&2; exit 2; }

cache=${ZELVAR_WINDOWS_CACHE:-$HOME/.cache/zelvar/windows}
[ -f "$cache/wine/system.reg" ] || {
  echo "wine-run.sh: no Wine prefix in $cache/wine: run scripts/build-windows.sh first" >&2
  exit 1
}

wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
cxx=x86_64-w64-mingw32-g++-posix

# Wine's Z: drive is the Linux root.
windows_path() {
  local p=${1//\//\\}
  echo "Z:$p"
}

runtime=$(dirname "$("$cxx" -print-file-name=libstdc++-6.dll)")
pthread=$(dirname "$("$cxx" -print-file-name=libwinpthread-1.dll)")

export WINEPREFIX=$cache/wine
# No Mono or Gecko: nothing here needs them, and their installers would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=${WINEDEBUG:--all}
if [ $mode != packaged ]; then
  WINEPATH="$(windows_path "$cache/qt/bin");$(windows_path "$runtime");$(windows_path "$pthread")"
  export WINEPATH
else
  unset WINEPATH
fi

server=$(command -v wineserver || echo /usr/lib/wine/wineserver)

# The Wine server, and the service processes the first program of a session
# starts, would inherit that program's output and keep CTest waiting after
# the test for as long as they linger. So `start_session SECONDS` starts the
# server without output, to stay SECONDS after its last program (forever
# when empty), and its services by a program whose output goes nowhere; a
# server that runs already is left as it is. A server that was about to
# end when found running may still end before the program starts and leave
# it to start a new one: a --session holds the server open for that reason.
start_session() {
  if "$server" "-p$1" </dev/null >/dev/null 2>&1; then
    "$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
  fi
}

if [ -z "${DISPLAY:-}" ]; then
  [ $mode = program ] || set -- "--$mode" "$@"
  exec xvfb-run -a "${BASH_SOURCE[0]}" "$@"
fi
if [ $mode = session ]; then
  "$server" -w </dev/null >/dev/null 2>&1 || true
  start_session ""
  status=0
  "$@" || status=$?
  "$server" -k </dev/null >/dev/null 2>&1 || true
  "$server" -w </dev/null >/dev/null 2>&1 || true
  exit $status
fi
start_session 10
exec "$wine" "$@"
