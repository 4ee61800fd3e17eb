#!/usr/bin/env bash
# Installs what is needed, builds Calvoro (Release) and starts it.
#
# Without CALVORO_SERVER in the environment a local demo server with a small demo database is
# started first, and its address and account are printed for the connect dialog.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build/release

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCALVORO_TESTS=OFF \
  -DCALVORO_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"

if [ -z "${CALVORO_SERVER:-}" ]; then
  export CALVORO_TEST_SERVER_DIR=$root/build/demo-server
  "$root/scripts/test-server.sh" start >/dev/null
  # shellcheck disable=SC1091
  source <(sed 's/^/export /' "$CALVORO_TEST_SERVER_DIR/server.env")
  mariadb --no-defaults --protocol=socket --socket="$CALVORO_TEST_SOCKET" -uroot \
    <"$root/scripts/demo-db.sql"
  cat <<EOT
Demo server running (stop it with: CALVORO_TEST_SERVER_DIR=$CALVORO_TEST_SERVER_DIR scripts/test-server.sh stop)
  Server:   $CALVORO_TEST_HOST
  Port:     $CALVORO_TEST_PORT
  User:     $CALVORO_TEST_NATIVE_USER
  Password: $CALVORO_TEST_NATIVE_PASSWORD
  Database: shop
EOT
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display; on a machine without one use: xvfb-run -s '-screen 0 1280x1024x24' scripts/run.sh" >&2
  exit 1
fi
exec "$build/src/app/Calvoro"
