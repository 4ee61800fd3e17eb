#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Calvoro need.
# Quick when everything is present already; needs root (or sudo) otherwise.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config
  # libraries
  qt6-base-dev qt6-base-dev-tools libgl-dev libqscintilla2-qt6-dev zlib1g-dev libssl-dev libsecret-1-dev
  # the query history's SQLite file
  libqt6sql6-sqlite
  # tests, benchmarks, fuzzing
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  # the test server (openssl makes its TLS certificates), and the peers the benchmarks compare against
  mariadb-server mariadb-client libmariadb-dev tzdata openssl mydumper
  # the secret store the saved sessions' tests keep passwords in, on a private D-Bus session
  gnome-keyring dbus
  # GUI tests and running without a desktop
  xvfb xauth fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=()
[ "$(id -u)" = 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
