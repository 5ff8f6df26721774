#!/usr/bin/env bash
# Checks the Windows program from end to end, on Debian 12, in one go:
#   1. scripts/build-windows.sh --test: the toolchain and the cached Qt,
#      QCustomPlot and GoogleTest (built when missing), the project
#      cross-built with the preset windows, and its tests under Wine through
#      CTest (the serial contract suite among them, on a pseudo-terminal
#      mapped as a COM port);
#   2. the Linux build of dyno-sim, zelvar-data and zelvar-analyze
#      (build/default), the reference the Windows program is held to;
#   3. tests/wine/end_to_end_test.py: a recorded stream replayed to both,
#      Temp.dat and save.csv byte for byte the same, a device lost mid-run,
#      the archive and zelvar-analyze.exe --summary-json;
#   4. the packages (the build's target windows-packages): the portable zip
#      and the per-user installer, in build/windows/packages;
#   5. tests/wine/packages_test.py: the zip run as unpacked, the installer
#      run silently, the installed program recording a run, the uninstaller.
# Each step's output goes to build/windows/check-windows/<step>.log. The
# last line printed is "check-windows: PASSED in <time>", or
# "check-windows: FAILED (<steps>) in <time>"; the exit code is 0 or 1.
#
# Usage: scripts/check-windows.sh [--help]
#
# The first run builds Qt (about 20 minutes on 2 cores, more when the
# machine is busy); with the cache in place a run takes about 15 minutes.
# Environment: ZELVAR_WINDOWS_CACHE as for scripts/build-windows.sh.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ "${1:-}" = --help ] || [ "${1:-}" = -h ]; then
  sed -n '2,/^set -euo pipefail$/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'
  exit 0
fi
[ $# -eq 0 ] || { echo "check-windows.sh: unknown argument '$1' (see --help)" >&2; exit 2; }

logs=$repo/build/windows/check-windows
mkdir -p "$logs"
start=$SECONDS
failed=()

elapsed() {
  local s=$((SECONDS - $1))
  printf '%d min %d s' $((s / 60)) $((s % 60))
}

# step NAME COMMAND...: runs the command with its output in NAME's log.
step() {
  local name=$1 log=$logs/$1.log began=$SECONDS
  shift
  echo "check-windows: $name..."
  if "$@" >"$log" 2>&1; then
    echo "check-windows: $name passed in $(elapsed $began)"
  else
    echo "check-windows: $name FAILED in $(elapsed $began); the end of $log:"
    tail -n 25 "$log" | sed 's/^/    /'
    failed+=("$name")
  fi
}

linux_build() {
  "$repo/scripts/setup-debian.sh"
  local launcher=()
  if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
  (cd "$repo" && cmake --preset default "${launcher[@]}" \
    && cmake --build build/default -j "$(nproc)" --target dyno-sim zelvar-data zelvar-analyze)
}

step build-and-test "$repo/scripts/build-windows.sh" --test
step linux-build linux_build
if [[ " ${failed[*]} " != *" linux-build "* ]] && [ -x "$repo/build/windows/shell/zelvar-data.exe" ]; then
  step end-to-end python3 "$repo/tests/wine/end_to_end_test.py" \
    --linux-build "$repo/build/default" --windows-build "$repo/build/windows"
  step packages cmake --build "$repo/build/windows" --target windows-packages
  if [[ " ${failed[*]} " != *" packages "* ]]; then
    step packages-test python3 "$repo/tests/wine/packages_test.py" \
      --linux-build "$repo/build/default" --packages "$repo/build/windows/packages"
  fi
else
  failed+=("end-to-end (not run)")
fi

if [ ${#failed[@]} -eq 0 ]; then
  echo "check-windows: PASSED in $(elapsed $start)"
else
  echo "check-windows: FAILED ($(IFS=,; echo "${failed[*]}" | sed 's/,/, /g')) in $(elapsed $start)"
  exit 1
fi
