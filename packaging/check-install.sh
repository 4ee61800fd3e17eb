#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what a desktop needs of it: the two
# programs, the menu entry and the icon in every size.
#   packaging/check-install.sh BUILD_FOLDER
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }
for program in Calvoro calvoro-cli; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program missing or not executable"
done
entry=$prefix/share/applications/calvoro.desktop
[ -f "$entry" ] || fail "share/applications/calvoro.desktop missing"
for line in "Type=Application" "Name=MySQL Calvoro" "Exec=Calvoro" "Icon=calvoro" \
            "Categories=Development;Database;"; do
  grep -qxF "$line" "$entry" || fail "calvoro.desktop lacks '$line'"
done
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$entry" || fail "calvoro.desktop invalid"; fi
grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/calvoro.svg" || fail "scalable icon missing"
for size in 16 24 32 48 64 128 256; do
  png=$prefix/share/icons/hicolor/${size}x${size}/apps/calvoro.png
  [ -f "$png" ] || fail "${size}x${size} icon missing"
  # PNG width and height: big-endian 32-bit numbers at bytes 16 and 20.
  read -r w h < <(od -An -tu1 -j16 -N8 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
  [ "$w $h" = "$size $size" ] || fail "${size}x${size} icon is ${w}x${h}"
done
echo "install layout ok"
