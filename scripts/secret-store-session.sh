#!/usr/bin/env bash
# Runs a command with a desktop secret store of its own: a private D-Bus session bus and a
# GNOME Keyring daemon (Secret Service) unlocked for it, in a throw-away home folder, so that
# tests keep passwords without touching the user's keyring. The home folder is the command's
# HOME; it is removed afterwards.
#   scripts/secret-store-session.sh COMMAND [ARG...]
set -euo pipefail
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache"
export XDG_RUNTIME_DIR="$home/run"
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME"
chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY GNOME_KEYRING_CONTROL
# The daemon creates the login keyring with this password and unlocks it; it lives as long as
# the bus does.
exec dbus-run-session -- bash -c '
  printf %s calvoro-test-keyring | gnome-keyring-daemon --unlock --components=secrets >/dev/null
  exec "$@"' bash "$@"
