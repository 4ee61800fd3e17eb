#!/usr/bin/env bash
# Builds the Debian package from a Release build and installs it into a fresh Debian 12 root
# made with debootstrap, then runs `calvoro-cli --help` and starts `Calvoro` offscreen there.
# Needs root and the Debian mirror; takes a few minutes, so it is not part of the tests.
#   scripts/check-deb.sh [ROOT_FOLDER]     (default: a new folder under /tmp, removed at the end)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build/release
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
[ "$(id -u)" = 0 ] || { echo "check-deb.sh needs root (debootstrap and chroot)" >&2; exit 2; }

"$root/scripts/install-deps.sh"
command -v debootstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCALVORO_TESTS=OFF -DCALVORO_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/calvoro_*_amd64.deb)

chroot_dir=${1:-$(mktemp -d /tmp/calvoro-deb12.XXXXXX)}
cleanup() {
  umount "$chroot_dir/proc" 2>/dev/null || true
  [ -n "${1:-}" ] || rm -rf "$chroot_dir"
}
trap 'cleanup "${1:-}"' EXIT
[ -x "$chroot_dir/bin/bash" ] || debootstrap --variant=minbase bookworm "$chroot_dir" "$mirror" >/dev/null
cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf"
mountpoint -q "$chroot_dir/proc" || mount -t proc proc "$chroot_dir/proc"
cp "$deb" "$chroot_dir/tmp/"
chroot "$chroot_dir" bash -euc "
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq /tmp/$(basename "$deb") >/dev/null
  dpkg -s calvoro | sed -n 's/^Status: //p'
  calvoro-cli --help | head -1
  test -f /usr/share/applications/calvoro.desktop
  test -f /usr/share/icons/hicolor/scalable/apps/calvoro.svg
  # The window program starts (and is stopped after a few seconds).
  QT_QPA_PLATFORM=offscreen timeout 5 Calvoro || [ \$? = 124 ]
"
echo "$(basename "$deb") installs and runs on Debian 12"
