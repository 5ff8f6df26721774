#!/usr/bin/env bash
# Runs the README's test command (./dev test) on a clean Debian 12 machine: a
# minimal root made with debootstrap, holding nothing but the base packages,
# into which the current commit is cloned. Whatever the set-up forgets to
# install shows here, where on a development machine it is already present.
#
#   scripts/check-clean-debian.sh [--keep] [--dir DIR]
#     --keep     keep the freshly made base root in DIR/base for the next run
#                (each run still works on a copy of it, so every run starts
#                clean); without it, the base root is made anew and removed
#     --dir DIR  where the roots live (build/clean-debian by default)
#
# Needs root (debootstrap, mounts, chroot). Prints the test command's output,
# then one last line: "clean Debian 12: PASSED ..." or "clean Debian 12:
# FAILED ...". Exit code 0 when the tests passed.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

keep=false
dir="$top/build/clean-debian"
while [ $# -gt 0 ]; do
  case "$1" in
    --keep) keep=true ;;
    --dir) dir=$(realpath -m "${2:?--dir needs a directory}"); shift ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "check-clean-debian: unknown argument \"$1\" (see --help)" >&2; exit 2 ;;
  esac
  shift
done

if [ "$(id -u)" -ne 0 ]; then
  echo "check-clean-debian: needs root (debootstrap, mounts, chroot); try: sudo $0" >&2
  exit 2
fi

commit=$(git rev-parse HEAD)
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "check-clean-debian: note: uncommitted changes are not tested, only commit ${commit:0:12}" >&2
fi

if ! command -v debootstrap >/dev/null; then
  echo "Installing debootstrap"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
fi

# The mirror this machine's apt uses, so that the root comes from where the
# machine's own packages come from.
mirror=$(grep -h -o -m1 -E '^(URIs:|deb) +https?://[^ ]+' /etc/apt/sources.list.d/*.sources /etc/apt/sources.list \
         2>/dev/null | head -n 1 | awk '{print $2}' || true)
mirror=${mirror:-http://deb.debian.org/debian}

base="$dir/base"
root="$dir/root"
started=$SECONDS

unmount_all() {
  # Deepest first; a lazy unmount so that a process still holding a mount
  # cannot keep the root's mounts in place.
  local m
  for m in dev/shm dev/pts dev sys proc; do
    if mountpoint -q "$root/$m" 2>/dev/null; then umount -l "$root/$m" || true; fi
  done
}
cleanup() {
  unmount_all
  rm -rf "$root"
  if [ "$keep" = false ]; then rm -rf "$base"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$dir"
unmount_all
rm -rf "$root"
if [ ! -x "$base/bin/bash" ]; then
  rm -rf "$base"
  echo "Making a minimal Debian 12 root from $mirror (a few minutes)"
  debootstrap --variant=minbase bookworm "$base" "$mirror" >"$dir/debootstrap.log" 2>&1 || {
    tail -n 20 "$dir/debootstrap.log" >&2
    echo "clean Debian 12: FAILED: debootstrap did not make a root (see $dir/debootstrap.log)"
    exit 1
  }
  # git to clone with: a user's first step before the README's command.
  chroot "$base" bash -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends git ca-certificates' >>"$dir/debootstrap.log" 2>&1
fi
cp -a "$base" "$root"
# The install test runs a program as nobody, who must be able to walk in.
chmod 755 "$root"
cp /etc/resolv.conf "$root/etc/resolv.conf"

mount -t proc proc "$root/proc"
mount -t sysfs sys "$root/sys"
# /dev is the machine's own (the tests open pseudo-terminals through its
# /dev/ptmx and /dev/pts); made private so that the shm mount below stays
# inside the root instead of spreading to the machine's /dev.
mount --bind /dev "$root/dev"
mount --make-private "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
mount -t tmpfs -o mode=1777 shm "$root/dev/shm"

git clone -q --no-local "$top" "$root/root/zelvar"
git -C "$root/root/zelvar" checkout -q "$commit"

status=0
chroot "$root" env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  LANG=C.UTF-8 TERM=dumb bash -c 'cd /root/zelvar && ./dev test' || status=$?

minutes=$(( (SECONDS - started) / 60 ))
seconds=$(( (SECONDS - started) % 60 ))
if [ "$status" -eq 0 ]; then
  echo "clean Debian 12: PASSED ./dev test at ${commit:0:12} in ${minutes} min ${seconds} s"
else
  echo "clean Debian 12: FAILED ./dev test at ${commit:0:12} (exit $status) after ${minutes} min ${seconds} s"
fi
exit "$status"
