#!/bin/sh
# Builds the Debian package of a build tree with cpack into a scratch
# directory and holds it to what a distribution asks, through lintian: any
# error fails, and so do the warnings that say a manual page is missing or a
# compressed file would differ between two builds. The default maintainer's
# address is a placeholder that lintian rejects; that error alone is let
# through while the package still carries it.
set -eu

usage() {
    cat <<'USAGE'
Usage: package_test.sh --build-dir DIR [--default-maintainer "NAME <ADDRESS>"] [--keep]

Runs cpack -G DEB on the build in DIR into a temporary directory and lintian
on the package. --keep leaves the directory in place and prints where it is.
USAGE
}

build=""
default_maintainer=""
keep=0
while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) build="$2"; shift 2 ;;
        --default-maintainer) default_maintainer="$2"; shift 2 ;;
        --keep) keep=1; shift ;;
        -h|--help) usage; exit 0 ;;
        *) echo "package_test.sh: unknown argument $1" >&2; usage >&2; exit 2 ;;
    esac
done
[ -n "$build" ] || { usage >&2; exit 2; }

fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in cpack lintian dpkg-deb dpkg-parsechangelog; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup-debian.sh installs it)"
done

scratch=$(mktemp -d)
cleanup() {
    if [ "$keep" = 1 ]; then echo "kept: $scratch"; else rm -rf "$scratch"; fi
}
trap cleanup EXIT

# cpack keeps its staging tree under the output directory, so nothing of this
# run is left in the build tree but its install manifest.
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log" >&2
    fail "cpack -G DEB"
fi
set -- "$scratch"/out/*.deb
[ $# -eq 1 ] && [ -f "$1" ] || { cat "$scratch/cpack.log" >&2; fail "expected one package, found: $*"; }
deb="$1"
package=$(dpkg-deb -f "$deb" Package)
version=$(dpkg-deb -f "$deb" Version)
maintainer=$(dpkg-deb -f "$deb" Maintainer)

# A changelog whose last entry names another version than the package's is a
# release somebody forgot to record; lintian does not look at that.
dpkg-deb -x "$deb" "$scratch/root"
changelog="$scratch/root/usr/share/doc/$package/changelog.gz"
[ -f "$changelog" ] || fail "no /usr/share/doc/$package/changelog.gz in the package"
gzip -dc "$changelog" >"$scratch/changelog"
logged=$(dpkg-parsechangelog -l "$scratch/changelog" -S Version)
[ "$logged" = "$version" ] ||
    fail "the changelog's last entry is $logged, the package is $version: add an entry to packaging/changelog.in"

# --no-cfg: a user's lintian settings must not hide a tag from the test.
# lintian leaves a cache file in TMPDIR at every run; it goes with the scratch
# directory.
mkdir "$scratch/tmp"
if ! TMPDIR="$scratch/tmp" lintian --no-cfg --fail-on none "$deb" >"$scratch/lintian.out" 2>"$scratch/lintian.err"; then
    cat "$scratch/lintian.out" "$scratch/lintian.err" >&2
    fail "lintian did not run"
fi

address=""
if [ -n "$default_maintainer" ] && [ "$maintainer" = "$default_maintainer" ]; then
    address=$(printf '%s\n' "$default_maintainer" | sed -n 's/.*<\(.*\)>.*/\1/p')
fi
# One tag a line: "E: package: tag details".
: >"$scratch/faults"
while IFS= read -r line; do
    tag=$(printf '%s\n' "$line" | cut -d' ' -f3)
    case "$line" in
        "E: "*)
            if [ -n "$address" ]; then
                case "$tag" in
                    bogus-mail-host|bogus-mail-host-in-debian-changelog)
                        case "$line" in *"$address"*) continue ;; esac ;;
                esac
            fi
            printf '%s\n' "$line" >>"$scratch/faults" ;;
        "W: "*)
            case "$tag" in
                no-manual-page|package-contains-timestamped-gzip|changelog-not-compressed-with-max-compression)
                    printf '%s\n' "$line" >>"$scratch/faults" ;;
            esac ;;
    esac
done <"$scratch/lintian.out"

if [ -s "$scratch/faults" ]; then
    echo "lintian on $(basename "$deb") (maintainer $maintainer):" >&2
    cat "$scratch/lintian.out" >&2
    echo "--- failing:" >&2
    cat "$scratch/faults" >&2
    fail "lintian"
fi
cat "$scratch/lintian.out"
echo "package_test: ok ($(basename "$deb"))"
