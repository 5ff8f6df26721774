#!/usr/bin/env bash
# Installs what building and testing Zelvar QT4 Data needs on Debian 12, and
# only what is missing. Uses sudo when not run as root.
#   --fuzz   also clang and libFuzzer, for ./dev fuzz (the sanitizer build of
#            CI uses g++ and its own runtimes, which g++ brings along)
set -euo pipefail

packages=(
  g++ cmake make
  qt6-base-dev qt6-serialport-dev
  # the charts, on Qt 6
  libqcustomplot-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  locales python3
  # xvfb-run, which ./dev run suggests on a machine without a display
  xvfb xauth
  # cpack -G DEB: dpkg-shlibdeps names the libraries, file finds the programs
  dpkg-dev file
  # the manual pages, made from the programs' --help, and the package's test
  help2man lintian
  # the run sheet's tests read the PDF: pdfinfo, pdftotext
  poppler-utils
  # ./dev format: the C++ layout of .clang-format
  clang-format
  # power_cut_test's file system that loses power, and pkg-config to find it
  libfuse3-dev fuse3 pkg-config
)
if [ "${1:-}" = "--fuzz" ]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The tests check that files keep "." as decimal separator under a comma
# locale; German is the one they use.
if ! locale -a 2>/dev/null | grep -i '^de_DE\.utf-\?8$' >/dev/null; then
  echo "Generating the de_DE.UTF-8 locale"
  as_root localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
