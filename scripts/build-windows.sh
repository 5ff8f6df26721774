#!/usr/bin/env bash
# Cross-builds for 64-bit Windows on Debian 12 (x86_64-w64-mingw32).
#
# Usage: scripts/build-windows.sh [--self-test] [--test] [--help]
#
# Installs what it needs with apt, only what is missing (sudo when not root),
# then builds into a cache outside the work tree what the program links on
# Windows:
#   qt/            Qt base 6.4.2 from Debian's source (Core, Gui, Widgets,
#                  Concurrent, PrintSupport, Test; windows and offscreen
#                  platform plugins, windowsvista style)
#   qcustomplot/   QCustomPlot 2.1.0 from Debian's source, static, with a
#                  QCustomPlotQt6 CMake package (QCustomPlotQt6::QCustomPlotQt6)
#   googletest/    GoogleTest and GoogleMock from /usr/src/googletest, static
# Each part is rebuilt only when its stamp (versions, options, compiler,
# toolchain file) changes; build logs are kept in logs/. The first build of
# Qt takes about 20 minutes on 2 cores.
#
# Once the cache is new, and always with --self-test, a small Qt Widgets and
# QCustomPlot program is cross-built and run under Wine (in Xvfb), and must
# write a PNG and a PDF of a plot.
#
# Then the project is cross-built with the CMake preset windows into
# build/windows, and the script prints where the programs are. With --test
# its tests then run under Wine (scripts/wine-run.sh), in an X server of
# their own, through CTest.
#
# Environment:
#   ZELVAR_WINDOWS_CACHE  the cache folder (default ~/.cache/zelvar/windows);
#                         cmake/mingw-w64-x86_64.cmake reads the same variable
#
# Heavy steps run under nice -n 19, so that they take only idle CPU.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
toolchain=$repo/cmake/mingw-w64-x86_64.cmake

cache=${ZELVAR_WINDOWS_CACHE:-$HOME/.cache/zelvar/windows}
export ZELVAR_WINDOWS_CACHE=$cache

# Bump to rebuild every cached part, when the way they are built changes in
# a way that the stamps below do not see.
cache_version=1

qtbase_version=6.4.2
qcustomplot_version=2.1.0

mingw=x86_64-w64-mingw32
cxx=$mingw-g++-posix
jobs=$(nproc)

# Qt's configure, after -prefix and the CMake arguments that name folders.
# The whole line that works, in the build folder:
#   <source>/configure -xplatform win32-g++ -qt-host-path /usr -release
#     -nomake examples -nomake tests -no-dbus -no-icu -no-feature-network
#     -no-feature-sql -no-feature-tabletevent -qt-zlib -qt-libpng -qt-libjpeg
#     -qt-freetype -qt-harfbuzz -qt-pcre -prefix <cache>/qt
#     -- -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
#     -DCMAKE_TOOLCHAIN_FILE=<repo>/cmake/mingw-w64-x86_64.cmake
#     -DZELVAR_WINDOWS_CACHE=<cache>
# Debian's source has neither src/3rdparty/wintab nor sqlite, hence no
# tablet events and no Qt Sql; the program needs no networking, D-Bus or ICU,
# and the bundled image, font and regex libraries spare cross-building them.
qt_configure_options=(
  -xplatform win32-g++
  -qt-host-path /usr
  -release
  -nomake examples -nomake tests
  -no-dbus -no-icu
  -no-feature-network -no-feature-sql -no-feature-tabletevent
  -qt-zlib -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -qt-pcre
)
qt_cmake_options=(
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
)
qt_expected_files=(
  bin/Qt6Core.dll bin/Qt6Gui.dll bin/Qt6Widgets.dll bin/Qt6Concurrent.dll
  bin/Qt6PrintSupport.dll bin/Qt6Test.dll
  plugins/platforms/qwindows.dll plugins/platforms/qoffscreen.dll
  plugins/styles/qwindowsvistastyle.dll
  lib/cmake/Qt6/Qt6Config.cmake
)

googletest_options=(
  -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=OFF
  -DBUILD_GMOCK=ON
  -DINSTALL_GTEST=ON
)

usage() {
  sed -n '2,/^set -euo pipefail$/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'
}

self_test_forced=false
run_tests=false
for arg in "$@"; do
  case $arg in
    --self-test) self_test_forced=true ;;
    --test) run_tests=true ;;
    -h | --help) usage; exit 0 ;;
    *) echo "build-windows.sh: unknown argument '$arg' (see --help)" >&2; exit 2 ;;
  esac
done

die() {
  echo "build-windows.sh: $*" >&2
  exit 1
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_packages() {
  local packages=(
    # Installed, not unpacked: windres runs the system's C preprocessor on
    # the MinGW-w64 headers.
    g++-mingw-w64-x86-64-posix
    cmake ninja-build
    # apt-get source applies Debian's patches only with dpkg-source
    dpkg-dev
    # The host's moc, rcc and uic and the CMake packages that a cross-built
    # Qt takes them from
    qt6-base-dev qt6-base-dev-tools
    googletest
    # wine64 alone brings neither wine, wineboot nor wineserver
    wine wine64
    xvfb xauth
    nsis zip unzip
  )
  local missing=() p
  for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

check_host_tools() {
  local tool
  for tool in moc rcc uic; do
    [ -x /usr/lib/qt6/libexec/$tool ] || die "/usr/lib/qt6/libexec/$tool is missing (qt6-base-dev-tools)"
  done
  [ -f /usr/lib/x86_64-linux-gnu/cmake/Qt6CoreTools/Qt6CoreToolsConfig.cmake ] \
    || die "the host Qt's CMake packages are missing (qt6-base-dev)"
  local host_qt
  host_qt=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
  host_qt=${host_qt#*:}
  # A cross-built Qt runs the host's moc: both must be the same Qt.
  [ "${host_qt%%[+~-]*}" = "$qtbase_version" ] \
    || die "the host's Qt is $host_qt, the cross-built one would be $qtbase_version"
  command -v "$cxx" >/dev/null || die "$cxx is missing (g++-mingw-w64-x86-64-posix)"
  command -v $mingw-gcc-posix >/dev/null || die "$mingw-gcc-posix is missing"
  command -v $mingw-windres >/dev/null || die "$mingw-windres is missing"
  # grep reads to the end (no -q): under pipefail, a compiler still writing
  # when grep had quit would fail the pipe.
  "$cxx" -v 2>&1 | grep '^Thread model: posix' >/dev/null || die "$cxx does not use the posix thread model"
  [ -f "$toolchain" ] || die "$toolchain is missing"
}

format_seconds() {
  printf '%dm%02ds' $(($1 / 60)) $(($1 % 60))
}

# Runs a command with its output appended to a log, printing the build's
# progress (ninja's [done/all]) every minute; on failure prints the log's
# tail and stops.
run_logged() {
  local log=$1
  shift
  echo "+ $*" >>"$log"
  "$@" >>"$log" 2>&1 &
  local pid=$! ticks=0
  while kill -0 "$pid" 2>/dev/null; do
    sleep 1
    ticks=$((ticks + 1))
    if [ $((ticks % 60)) -eq 0 ]; then
      local step
      step=$(tail -n 40 "$log" | grep -o '^\[[0-9]*/[0-9]*\]' | tail -n 1 || true)
      [ -z "$step" ] || echo "  ... $step"
    fi
  done
  if ! wait "$pid"; then
    echo "build-windows.sh: failed: $*" >&2
    echo "---- last lines of $log ----" >&2
    tail -n 60 "$log" >&2
    exit 1
  fi
}

heavy() {
  nice -n 19 "$@"
}

# The toolchain file without its comments: rewording a comment does not
# rebuild Qt.
toolchain_hash() {
  grep -v '^[[:space:]]*\(#\|$\)' "$toolchain" | sha256sum | cut -c1-16
}

compiler_version() {
  "$cxx" -dumpfullversion 2>/dev/null || "$cxx" -dumpversion
}

stamp_matches() {
  [ -f "$1" ] && [ "$(cat "$1")" = "$2" ]
}

# ---------------------------------------------------------------------------
# Debian's sources, through a private sources list: the machine's own apt
# configuration stays untouched.

apt_private=()

setup_private_apt() {
  local dir=$cache/apt
  mkdir -p "$dir/sources.list.d" "$dir/lists/partial" "$dir/cache/archives/partial"
  apt_private=(
    -o "Dir::Etc::SourceList=$dir/sources.list"
    -o "Dir::Etc::SourceParts=$dir/sources.list.d"
    -o "Dir::State::Lists=$dir/lists"
    -o "Dir::Cache=$dir/cache"
  )
  local codename mirror
  codename=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)
  mirror=$(find_mirror "$codename")
  [ -n "$mirror" ] || die "no Debian mirror for $codename main in /etc/apt/sources.list{,.d}"
  local uri=${mirror%%$'\t'*} keyring=${mirror#*$'\t'} options=""
  [ -z "$keyring" ] || options="[signed-by=$keyring] "
  echo "deb-src $options$uri $codename main" >"$dir/sources.list"
  echo "Fetching Debian's source index ($uri $codename main)"
  apt-get "${apt_private[@]}" update -qq >>"$cache/logs/apt.log" 2>&1 \
    || { tail -n 20 "$cache/logs/apt.log" >&2; die "apt-get update of the private source list failed"; }
}

# Prints "URI<TAB>keyring" of the first mirror that serves SUITE main, from
# the deb822 .sources files, else the one-line lists.
find_mirror() {
  local suite=$1 files=()
  shopt -s nullglob
  files=(/etc/apt/sources.list.d/*.sources)
  shopt -u nullglob
  if [ ${#files[@]} -gt 0 ]; then
    awk -v suite="$suite" '
      function has(list, word) { return (" " list " ") ~ (" " word " ") }
      function flush() {
        if (!found && has(types, "deb") && has(suites, suite) && has(comps, "main") && uris != "") {
          split(uris, u, " "); if (keyring ~ /^\//) k = keyring; else k = ""
          print u[1] "\t" k; found = 1
        }
        types = uris = suites = comps = keyring = ""
      }
      /^[[:space:]]*$/ { flush(); next }
      /^[[:space:]]*#/ { next }
      /^[A-Za-z-]+:/ {
        key = tolower($0); sub(/:.*/, "", key)
        val = $0; sub(/^[^:]*:[[:space:]]*/, "", val)
        if (key == "types") types = val
        else if (key == "uris") uris = val
        else if (key == "suites") suites = val
        else if (key == "components") comps = val
        else if (key == "signed-by") keyring = val
      }
      END { flush() }' "${files[@]}" | head -n 1
  fi | grep . && return
  shopt -s nullglob
  files=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list)
  shopt -u nullglob
  [ ${#files[@]} -gt 0 ] || return 0
  awk -v suite="$suite" '
    $1 == "deb" {
      keyring = ""; i = 2
      if ($2 ~ /^\[/) {
        while (i <= NF) {
          if ($i ~ /^signed-by=/) { keyring = $i; sub(/^signed-by=/, "", keyring); sub(/\]$/, "", keyring) }
          if ($i ~ /\]$/) { i++; break }
          i++
        }
      }
      uri = $i; dist = $(i + 1)
      if (dist != suite) next
      for (j = i + 2; j <= NF; j++) if ($j == "main") { print uri "\t" keyring; exit }
    }' "${files[@]}" 2>/dev/null | head -n 1
}

# Unpacks Debian's source package into src/NAME once, with Debian's patches
# applied, and sets fetched to its folder.
fetched=""

fetch_source() {
  local package=$1 dest=$cache/src/$1
  if [ -f "$dest/.unpacked" ] && [ -d "$dest/$(cat "$dest/.unpacked")" ]; then
    fetched=$dest/$(cat "$dest/.unpacked")
    return
  fi
  [ ${#apt_private[@]} -gt 0 ] || setup_private_apt
  rm -rf "$dest"
  mkdir -p "$dest"
  echo "Fetching Debian's source of $package"
  (cd "$dest" && apt-get "${apt_private[@]}" source -qq "$package") >>"$cache/logs/apt.log" 2>&1 \
    || { tail -n 20 "$cache/logs/apt.log" >&2; die "apt-get source $package failed"; }
  local dir
  dir=$(cd "$dest" && find . -mindepth 1 -maxdepth 1 -type d -printf '%f\n' | head -n 1)
  [ -n "$dir" ] && [ -f "$dest/$dir/debian/changelog" ] || die "apt-get source $package unpacked nothing"
  echo "$dir" >"$dest/.unpacked"
  fetched=$dest/$dir
}

upstream_version_of() {
  local v
  v=$(dpkg-parsechangelog -l "$1/debian/changelog" -S Version)
  v=${v#*:}
  echo "${v%%[+~-]*}"
}

debian_version_of() {
  dpkg-parsechangelog -l "$1/debian/changelog" -S Version
}

# ---------------------------------------------------------------------------
# The cached parts

rebuilt=false

build_qtbase() {
  local prefix=$cache/qt
  local stamp_text
  stamp_text=$(printf '%s\n' "cache=$cache_version" "qtbase=$qtbase_version" \
    "compiler=$(compiler_version)" "toolchain=$(toolchain_hash)" \
    "configure=${qt_configure_options[*]} -- ${qt_cmake_options[*]}")
  if stamp_matches "$prefix/.stamp" "$stamp_text"; then
    echo "Qt base $qtbase_version: cached in $prefix"
    return
  fi
  fetch_source qt6-base
  local src=$fetched
  [ "$(upstream_version_of "$src")" = "$qtbase_version" ] \
    || die "Debian's qt6-base is $(debian_version_of "$src"), not $qtbase_version"

  echo "building Qt base $qtbase_version (about 20 minutes on 2 cores)..."
  local start=$SECONDS build=$cache/build/qtbase log=$cache/logs/qtbase.log
  # A build folder configured the same way resumes where it stopped.
  if ! stamp_matches "$build/.configured" "$stamp_text"; then
    rm -rf "$build"
    mkdir -p "$build"
    : >"$log"
    echo "  configuring (log: $log)"
    (cd "$build" && run_logged "$log" heavy "$src/configure" "${qt_configure_options[@]}" \
      -prefix "$prefix" -- "${qt_cmake_options[@]}" \
      "-DCMAKE_TOOLCHAIN_FILE=$toolchain" "-DZELVAR_WINDOWS_CACHE=$cache")
    echo "$stamp_text" >"$build/.configured"
  fi
  echo "  compiling"
  run_logged "$log" heavy cmake --build "$build" --parallel "$jobs"
  rm -rf "$prefix"
  run_logged "$log" cmake --install "$build"
  local f missing=()
  for f in "${qt_expected_files[@]}"; do
    [ -f "$prefix/$f" ] || missing+=("$f")
  done
  [ ${#missing[@]} -eq 0 ] || die "the Qt build lacks: ${missing[*]} (log: $log)"
  debian_version_of "$src" >"$prefix/.debian-version"
  echo "$stamp_text" >"$prefix/.stamp"
  rm -rf "$build"
  record_time "Qt base $qtbase_version ($(debian_version_of "$src"))" $((SECONDS - start)) "$prefix"
  rebuilt=true
}

build_qcustomplot() {
  local prefix=$cache/qcustomplot
  local stamp_text
  stamp_text=$(printf '%s\n' "cache=$cache_version" "qcustomplot=$qcustomplot_version" \
    "compiler=$(compiler_version)" "toolchain=$(toolchain_hash)" \
    "qt=$(sha256sum <"$cache/qt/.stamp" | cut -c1-16)" "library=static")
  if stamp_matches "$prefix/.stamp" "$stamp_text"; then
    echo "QCustomPlot $qcustomplot_version: cached in $prefix"
    return
  fi
  fetch_source qcustomplot
  local src=$fetched
  [ "$(upstream_version_of "$src")" = "$qcustomplot_version" ] \
    || die "Debian's qcustomplot is $(debian_version_of "$src"), not $qcustomplot_version"
  # Without it moc cannot parse the QCP namespace of the header under Qt 6.
  grep -qx '02_fix_header_build.patch' "$src/.pc/applied-patches" 2>/dev/null \
    || die "Debian's 02_fix_header_build.patch is not applied in $src (is dpkg-dev installed?)"
  [ -f "$src/qcustomplot.cpp" ] && [ -f "$src/qcustomplot.h" ] \
    || die "$src has no qcustomplot.cpp and qcustomplot.h"

  echo "building QCustomPlot $qcustomplot_version..."
  local start=$SECONDS build=$cache/build/qcustomplot log=$cache/logs/qcustomplot.log
  rm -rf "$build" "$prefix"
  mkdir -p "$build/project"
  : >"$log"
  write_qcustomplot_project "$build/project" "$src"
  run_logged "$log" heavy cmake -S "$build/project" -B "$build/out" -G Ninja \
    "-DCMAKE_TOOLCHAIN_FILE=$toolchain" "-DZELVAR_WINDOWS_CACHE=$cache" \
    -DCMAKE_BUILD_TYPE=Release "-DCMAKE_INSTALL_PREFIX=$prefix"
  run_logged "$log" heavy cmake --build "$build/out" --parallel "$jobs"
  run_logged "$log" cmake --install "$build/out"
  [ -f "$prefix/lib/libQCustomPlotQt6.a" ] && [ -f "$prefix/include/qcustomplot.h" ] \
    && [ -f "$prefix/lib/cmake/QCustomPlotQt6/QCustomPlotQt6Config.cmake" ] \
    || die "the QCustomPlot install is incomplete (log: $log)"
  debian_version_of "$src" >"$prefix/.debian-version"
  echo "$stamp_text" >"$prefix/.stamp"
  rm -rf "$build"
  record_time "QCustomPlot $qcustomplot_version ($(debian_version_of "$src"))" $((SECONDS - start)) "$prefix"
  rebuilt=true
}

# Static: the program is GPL like QCustomPlot, so linking it in changes
# nothing for the licence, and it saves shipping one more DLL and getting
# QCUSTOMPLOT_USE_LIBRARY (dllimport) right in every target that uses it.
# The package and target names are Debian's (libqcustomplot-dev), so that
# find_package(QCustomPlotQt6) and QCustomPlotQt6::QCustomPlotQt6 work the
# same on both systems.
write_qcustomplot_project() {
  local dir=$1 src=$2
  cat >"$dir/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.16)
project(QCustomPlotQt6 VERSION $qcustomplot_version LANGUAGES CXX)

find_package(Qt6 REQUIRED COMPONENTS Widgets PrintSupport)
set(CMAKE_AUTOMOC ON)

add_library(QCustomPlotQt6 STATIC "$src/qcustomplot.cpp" "$src/qcustomplot.h")
target_include_directories(QCustomPlotQt6 PUBLIC
  "\$<BUILD_INTERFACE:$src>" "\$<INSTALL_INTERFACE:include>")
target_link_libraries(QCustomPlotQt6 PUBLIC Qt6::Widgets Qt6::PrintSupport)

include(CMakePackageConfigHelpers)
install(TARGETS QCustomPlotQt6 EXPORT QCustomPlotQt6Targets ARCHIVE DESTINATION lib)
install(FILES "$src/qcustomplot.h" DESTINATION include)
install(EXPORT QCustomPlotQt6Targets NAMESPACE QCustomPlotQt6::
  DESTINATION lib/cmake/QCustomPlotQt6)
write_basic_package_version_file(QCustomPlotQt6ConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES QCustomPlotQt6Config.cmake
  "\${CMAKE_CURRENT_BINARY_DIR}/QCustomPlotQt6ConfigVersion.cmake"
  DESTINATION lib/cmake/QCustomPlotQt6)
EOF
  cat >"$dir/QCustomPlotQt6Config.cmake" <<'EOF'
# QCustomPlot built static for Windows, under the package and target names of
# Debian's libqcustomplot-dev.
include(CMakeFindDependencyMacro)
find_dependency(Qt6 COMPONENTS Widgets PrintSupport)
include("${CMAKE_CURRENT_LIST_DIR}/QCustomPlotQt6Targets.cmake")
EOF
}

build_googletest() {
  local prefix=$cache/googletest
  local gtest_version stamp_text
  gtest_version=$(dpkg-query -W -f='${Version}' googletest)
  stamp_text=$(printf '%s\n' "cache=$cache_version" "googletest=$gtest_version" \
    "compiler=$(compiler_version)" "toolchain=$(toolchain_hash)" \
    "options=${googletest_options[*]}")
  if stamp_matches "$prefix/.stamp" "$stamp_text"; then
    echo "GoogleTest $gtest_version: cached in $prefix"
    return
  fi
  echo "building GoogleTest and GoogleMock $gtest_version..."
  local start=$SECONDS build=$cache/build/googletest log=$cache/logs/googletest.log
  rm -rf "$build" "$prefix"
  : >"$log"
  run_logged "$log" heavy cmake -S /usr/src/googletest -B "$build" -G Ninja \
    "-DCMAKE_TOOLCHAIN_FILE=$toolchain" "-DZELVAR_WINDOWS_CACHE=$cache" \
    "${googletest_options[@]}" "-DCMAKE_INSTALL_PREFIX=$prefix"
  run_logged "$log" heavy cmake --build "$build" --parallel "$jobs"
  run_logged "$log" cmake --install "$build"
  local f
  for f in lib/libgtest.a lib/libgtest_main.a lib/libgmock.a lib/libgmock_main.a \
    lib/cmake/GTest/GTestConfig.cmake; do
    [ -f "$prefix/$f" ] || die "the GoogleTest install lacks $f (log: $log)"
  done
  echo "$stamp_text" >"$prefix/.stamp"
  rm -rf "$build"
  record_time "GoogleTest $gtest_version" $((SECONDS - start)) "$prefix"
  rebuilt=true
}

record_time() {
  local what=$1 seconds=$2 prefix=$3 size
  size=$(du -sh "$prefix" | cut -f1)
  echo "  $what: built in $(format_seconds "$seconds"), $size in $prefix"
  echo "$(date -u +%Y-%m-%dT%H:%M:%SZ) $what: $(format_seconds "$seconds"), $size" >>"$cache/logs/times.txt"
}

build_cache() {
  mkdir -p "$cache/logs" "$cache/src" "$cache/build"
  # GoogleTest first: a broken toolchain shows in seconds, not after Qt.
  build_googletest
  build_qtbase
  build_qcustomplot
}

# ---------------------------------------------------------------------------
# Wine, to run what was cross-built

wine_bin=""

setup_wine() {
  wine_bin=$(command -v wine64 || true)
  [ -n "$wine_bin" ] || wine_bin=/usr/lib/wine/wine64
  [ -x "$wine_bin" ] || die "wine64 is missing"
  export WINEPREFIX=$cache/wine
  # No Mono or Gecko: nothing here needs them, and their installers would ask.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEDEBUG=-all
  local runtime pthread
  runtime=$(dirname "$("$cxx" -print-file-name=libstdc++-6.dll)")
  pthread=$(dirname "$("$cxx" -print-file-name=libwinpthread-1.dll)")
  [ -f "$runtime/libstdc++-6.dll" ] && [ -f "$pthread/libwinpthread-1.dll" ] \
    || die "the MinGW-w64 runtime DLLs are missing"
  WINEPATH="$(windows_path "$cache/qt/bin");$(windows_path "$runtime");$(windows_path "$pthread")"
  export WINEPATH
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    run_logged "$cache/logs/wine.log" xvfb-run -a "$wine_bin" wineboot -i
    wait_for_wineserver
  fi
}

wait_for_wineserver() {
  local server
  server=$(command -v wineserver || echo /usr/lib/wine/wineserver)
  "$server" -w || true
}

# Wine's Z: drive is the Linux root.
windows_path() {
  local p=${1//\//\\}
  echo "Z:$p"
}

# ---------------------------------------------------------------------------
# The self-test: a Qt Widgets and QCustomPlot program, cross-built with the
# toolchain file and the cached packages, that must write a PNG and a PDF
# under Wine, with the windows platform plugin and with the offscreen one;
# and a GoogleMock test that must pass.

self_test_stamp_text() {
  cat "$cache/qt/.stamp" "$cache/qcustomplot/.stamp" "$cache/googletest/.stamp" | sha256sum | cut -c1-16
}

self_test() {
  echo "self-test: cross-building a plot program and running it under Wine..."
  setup_wine
  local dir log=$cache/logs/self-test.log
  dir=$(mktemp -d "${TMPDIR:-/tmp}/zelvar-windows-self-test.XXXXXX")
  # shellcheck disable=SC2064
  trap "rm -rf '$dir'" EXIT
  : >"$log"
  mkdir -p "$dir/src"
  cat >"$dir/src/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.16)
project(zelvar_windows_self_test LANGUAGES CXX)
find_package(Qt6 REQUIRED COMPONENTS Widgets PrintSupport)
find_package(QCustomPlotQt6 REQUIRED)
find_package(GTest REQUIRED)
add_executable(plot plot.cpp)
target_link_libraries(plot PRIVATE QCustomPlotQt6::QCustomPlotQt6)
add_executable(matchers matchers.cpp)
target_link_libraries(matchers PRIVATE GTest::gmock_main)
EOF
  cat >"$dir/src/plot.cpp" <<'EOF'
#include <QApplication>
#include <QVector>
#include <cmath>
#include <cstdio>
#include <qcustomplot.h>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) return 2;  // QApplication took -platform NAME out
  QCustomPlot plot;
  QVector<double> t(101), speed(101);
  for (int i = 0; i < t.size(); ++i) {
    t[i] = i / 10.0;
    speed[i] = 3000.0 * (1.0 - std::exp(-t[i] / 2.0));
  }
  plot.addGraph()->setData(t, speed);
  plot.xAxis->setLabel("t [s]");
  plot.yAxis->setLabel("n [1/min]");
  plot.rescaleAxes();
  const bool png = plot.savePng(QString::fromLocal8Bit(argv[1]), 480, 320);
  const bool pdf = plot.savePdf(QString::fromLocal8Bit(argv[2]), 480, 320);
  std::printf("platform %s, png %d, pdf %d\n", qPrintable(QGuiApplication::platformName()), png, pdf);
  return png && pdf ? 0 : 1;
}
EOF
  cat >"$dir/src/matchers.cpp" <<'EOF'
#include <gmock/gmock.h>
#include <vector>

TEST(Cross, MatchersWork) {
  EXPECT_THAT((std::vector<int>{1, 2, 3}), ::testing::ElementsAre(1, 2, 3));
}
EOF
  run_logged "$log" heavy cmake -S "$dir/src" -B "$dir/build" -G Ninja \
    "-DCMAKE_TOOLCHAIN_FILE=$toolchain" "-DZELVAR_WINDOWS_CACHE=$cache" -DCMAKE_BUILD_TYPE=Release
  run_logged "$log" heavy cmake --build "$dir/build" --parallel "$jobs"

  local out=$cache/self-test ok=true platform
  rm -rf "$out"
  # Wine hands no QT_* variable of the Linux environment to Windows programs
  # (QT_QPA_PLATFORM, QT_PLUGIN_PATH), so the platform is chosen with Qt's
  # -platform argument; the plugins are found beside Qt6Core.dll, in
  # qt/plugins. The offscreen platform needs no display.
  for platform in windows offscreen; do
    mkdir -p "$out/$platform"
    local display=(xvfb-run -a)
    [ $platform = windows ] || display=()
    echo "+ ${display[*]} wine64 plot.exe -platform $platform" >>"$log"
    (cd "$out/$platform" && timeout 300 "${display[@]}" "$wine_bin" "$dir/build/plot.exe" \
      plot.png plot.pdf -platform $platform) >"$out/$platform/output.txt" 2>&1 || true
    cat "$out/$platform/output.txt" >>"$log"
    wait_for_wineserver
    local png=no pdf=no used=no
    if [ -s "$out/$platform/plot.png" ] && head -c 8 "$out/$platform/plot.png" | grep -q PNG; then png=yes; fi
    if [ -s "$out/$platform/plot.pdf" ] && head -c 5 "$out/$platform/plot.pdf" | grep -q '%PDF'; then pdf=yes; fi
    if grep -q "^platform $platform," "$out/$platform/output.txt"; then used=yes; fi
    echo "  $platform platform plugin: used $used, PNG $png, PDF $pdf ($out/$platform)"
    [ $used = yes ] && [ $png = yes ] && [ $pdf = yes ] || ok=false
  done
  echo "+ wine64 matchers.exe" >>"$log"
  if timeout 300 "$wine_bin" "$dir/build/matchers.exe" >>"$log" 2>&1; then
    echo "  GoogleMock test: passed"
  else
    echo "  GoogleMock test: failed"
    ok=false
  fi
  wait_for_wineserver
  if [ $ok = false ]; then
    echo "---- last lines of $log ----" >&2
    tail -n 40 "$log" >&2
    die "self-test failed"
  fi
  self_test_stamp_text >"$cache/self-test/.stamp"
  echo "self-test: passed"
}

# ---------------------------------------------------------------------------
# The project, with the preset windows

project_build=$repo/build/windows

build_project() {
  local log=$cache/logs/project.log start=$SECONDS
  : >"$log"
  echo "cross-building the project into $project_build (log: $log)..."
  # The preset names the default cache's folders; these are this run's.
  local launcher=()
  if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
  (cd "$repo" && run_logged "$log" cmake --preset windows "-DZELVAR_WINDOWS_CACHE=$cache" \
    "-DCMAKE_PREFIX_PATH=$cache/qt;$cache/qcustomplot;$cache/googletest" "${launcher[@]}")
  (cd "$repo" && run_logged "$log" heavy cmake --build --preset windows --parallel "$jobs")
  echo "  built in $(format_seconds $((SECONDS - start)))"
  echo "$(date -u +%Y-%m-%dT%H:%M:%SZ) project: $(format_seconds $((SECONDS - start)))" >>"$cache/logs/times.txt"
}

test_project() {
  local log=$cache/logs/project-tests.log start=$SECONDS
  echo "running the tests under Wine (log: $log)..."
  setup_wine
  local status=0
  # One X server for the whole run (each program's hidden window needs one),
  # and one Wine session, ended when CTest is done.
  (cd "$repo" && xvfb-run -a scripts/wine-run.sh --session ctest --preset windows -j "$jobs") \
    >"$log" 2>&1 || status=$?
  grep -E '^[0-9]+% tests passed|^The following tests FAILED' -A 1000 "$log" | sed 's/^/  /'
  echo "  tests ran in $(format_seconds $((SECONDS - start)))"
  echo "$(date -u +%Y-%m-%dT%H:%M:%SZ) tests under Wine: $(format_seconds $((SECONDS - start)))" >>"$cache/logs/times.txt"
  return $status
}

print_results() {
  echo
  echo "Windows build: $project_build"
  local exe
  while IFS= read -r exe; do
    echo "  ${exe#"$project_build"/}"
  done < <(find "$project_build" -name '*.exe' -not -path '*/CMakeFiles/*' \
    -not -name '*_test.exe' -not -name '*_fuzzer.exe' | sort)
  echo "  tests: $(find "$project_build/tests" -name '*_test.exe' | wc -l) programs;" \
    "run them with: xvfb-run -a scripts/wine-run.sh --session ctest --preset windows"
}

# ---------------------------------------------------------------------------

install_packages
check_host_tools
build_cache
if $self_test_forced || $rebuilt || ! stamp_matches "$cache/self-test/.stamp" "$(self_test_stamp_text)"; then
  self_test
fi

echo
echo "Windows cache: $cache"
echo "  Qt base:     $cache/qt ($(cat "$cache/qt/.debian-version"), $(du -sh "$cache/qt" | cut -f1))"
echo "  QCustomPlot: $cache/qcustomplot ($(cat "$cache/qcustomplot/.debian-version"), $(du -sh "$cache/qcustomplot" | cut -f1))"
echo "  GoogleTest:  $cache/googletest ($(du -sh "$cache/googletest" | cut -f1))"
echo "  toolchain:   $toolchain"

build_project
print_results
if $run_tests; then
  test_project
fi
