#!/usr/bin/env bash
# Makes the Windows packages from a cross-built tree: a portable zip, and a
# per-user installer made with NSIS. Called by the windows build's target
# windows-packages, which passes everything by option.
#
# Usage: make-packages.sh --version V --out DIR --stage DIR
#          --program EXE --analyze EXE --control-files DIR
#          --qt-bin DIR --qt-plugins DIR --qt-licences DIR
#          --qcustomplot-licence FILE --readme FILE --licence FILE
#          [--runtime-dir DIR]... [--no-installer]
#
# The DLLs are those the programs and their plugins import, found
# recursively in the Qt and MinGW-w64 runtime folders; what is found in
# neither is the system's own. The installer removes exactly the files it
# installed, so that runs kept beside the program stay.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mingw=x86_64-w64-mingw32

die() {
  echo "make-packages.sh: $*" >&2
  exit 1
}

version='' out='' stage='' program='' analyze='' control='' qt_bin='' qt_plugins=''
qt_licences='' qcp_licence='' readme='' licence='' installer=true
runtime_dirs=()
while [ $# -gt 0 ]; do
  case $1 in
    --version) version=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --stage) stage=$2; shift 2 ;;
    --program) program=$2; shift 2 ;;
    --analyze) analyze=$2; shift 2 ;;
    --control-files) control=$2; shift 2 ;;
    --qt-bin) qt_bin=$2; shift 2 ;;
    --qt-plugins) qt_plugins=$2; shift 2 ;;
    --qt-licences) qt_licences=$2; shift 2 ;;
    --qcustomplot-licence) qcp_licence=$2; shift 2 ;;
    --readme) readme=$2; shift 2 ;;
    --licence) licence=$2; shift 2 ;;
    --runtime-dir) runtime_dirs+=("$2"); shift 2 ;;
    --no-installer) installer=false; shift ;;
    -h | --help) sed -n '2,/^set -euo pipefail$/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) die "unknown argument '$1' (see --help)" ;;
  esac
done
for required in version out stage program analyze control qt_bin qt_plugins qt_licences qcp_licence readme licence; do
  [ -n "${!required}" ] || die "--${required//_/-} is missing"
done
if [ ${#runtime_dirs[@]} -eq 0 ]; then
  for dll in libstdc++-6.dll libwinpthread-1.dll; do
    runtime_dirs+=("$(dirname "$($mingw-g++-posix -print-file-name=$dll)")")
  done
fi

name=zelvar-data-$version
root=$stage/$name
rm -rf "$stage"
mkdir -p "$root/platforms" "$root/styles" "$root/licences" "$out"

cp "$program" "$analyze" "$root/"
cp "$control/RCS.dat" "$control/RTA.dat" "$root/"
# The window's platform and style; zelvar-analyze draws its images offscreen.
cp "$qt_plugins/platforms/qwindows.dll" "$qt_plugins/platforms/qoffscreen.dll" "$root/platforms/"
cp "$qt_plugins/styles/qwindowsvistastyle.dll" "$root/styles/"

# Texts with Windows line ends, so that Notepad shows their lines.
as_text() { sed 's/\r*$/\r/' "$1" >"$2"; }
as_text "$readme" "$root/README.txt"
as_text "$licence" "$root/LICENSE.txt"
as_text "$qt_licences/LGPL-3.0-only.txt" "$root/licences/Qt-LGPL-3.0.txt"
as_text "$qt_licences/GPL-3.0-only.txt" "$root/licences/Qt-GPL-3.0.txt"
as_text "$qcp_licence" "$root/licences/QCustomPlot-GPL-3.0.txt"
# The GCC runtime (libstdc++, libgcc) is GPL with the runtime library
# exception; winpthreads is under the MinGW-w64 runtime's own terms.
as_text /usr/share/doc/gcc-mingw-w64-base/copyright "$root/licences/GCC-runtime.txt"
as_text /usr/share/doc/mingw-w64-common/copyright "$root/licences/MinGW-w64-runtime.txt"
grep -qi "runtime library exception" "$root/licences/GCC-runtime.txt" \
  || die "the GCC runtime's licence names no runtime library exception"

imports() { $mingw-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p'; }
find_dll() {
  local dir
  for dir in "$qt_bin" "${runtime_dirs[@]}"; do
    # The import tables name DLLs in any case; the files are found as named.
    local found
    found=$(find "$dir" -maxdepth 1 -iname "$1" -print -quit)
    if [ -n "$found" ]; then echo "$found"; return; fi
  done
}
queue=("$root"/*.exe "$root"/platforms/*.dll "$root"/styles/*.dll)
while [ ${#queue[@]} -gt 0 ]; do
  file=${queue[0]}
  queue=("${queue[@]:1}")
  while read -r dll; do
    [ -n "$dll" ] || continue
    [ -e "$root/$dll" ] && continue
    path=$(find_dll "$dll")
    [ -n "$path" ] || continue # the system's
    cp "$path" "$root/$(basename "$path")"
    queue+=("$root/$(basename "$path")")
  done < <(imports "$file")
done
for dll in Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll libstdc++-6.dll libwinpthread-1.dll; do
  [ -e "$root/$dll" ] || die "$dll was not collected: the programs should import it"
done
# Debug information stays in the build; the packages are a quarter the size.
$mingw-strip --strip-unneeded "$root"/*.exe "$root"/*.dll "$root"/platforms/*.dll "$root"/styles/*.dll

zip_file=$out/$name-windows-x64.zip
rm -f "$zip_file"
(cd "$stage" && zip -qrX9 "$zip_file" "$name")
echo "$zip_file ($(du -k "$zip_file" | cut -f1) KiB)"

$installer || exit 0
command -v makensis >/dev/null || die "makensis is missing (nsis)"
# The installer's lists of what it puts in place and takes away again,
# folders after their files, deepest first.
lists=$stage/nsis
mkdir -p "$lists"
: >"$lists/install.nsh"
: >"$lists/uninstall.nsh"
while read -r dir; do
  rel=${dir#"$root"}
  rel=${rel#/}
  win=${rel//\//\\}
  echo "SetOutPath \"\$INSTDIR${win:+\\$win}\"" >>"$lists/install.nsh"
  while read -r file; do
    winfile=${file#"$root"/}
    winfile=${winfile//\//\\}
    echo "File \"$(realpath "$file")\"" >>"$lists/install.nsh"
    echo "Delete \"\$INSTDIR\\$winfile\"" >>"$lists/uninstall.nsh"
  done < <(find "$dir" -maxdepth 1 -type f | sort)
done < <(find "$root" -type d | sort)
while read -r dir; do
  rel=${dir#"$root"/}
  echo "RMDir \"\$INSTDIR\\${rel//\//\\}\"" >>"$lists/uninstall.nsh"
done < <(find "$root" -mindepth 1 -type d | sort -r)

setup=$out/$name-setup.exe
size_kib=$(du -sk "$root" | cut -f1)
makensis -V2 -INPUTCHARSET UTF8 \
  "-DVERSION=$version" "-DOUTFILE=$setup" "-DSIZE_KIB=$size_kib" \
  "-DINSTALL_LIST=$lists/install.nsh" "-DUNINSTALL_LIST=$lists/uninstall.nsh" \
  "$here/installer.nsi" >"$stage/makensis.log" || { cat "$stage/makensis.log" >&2; die "makensis failed"; }
echo "$setup ($(du -k "$setup" | cut -f1) KiB)"
