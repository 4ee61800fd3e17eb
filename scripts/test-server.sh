#!/usr/bin/env bash
# A private MariaDB server for the tests: its own data folder, 127.0.0.1 on a free port (and
# ::1 on the same port where the machine has an IPv6 loopback address), its own Unix socket,
# never the system server or its socket.
#
#   scripts/test-server.sh start   start it (or keep the one already running)
#   scripts/test-server.sh stop    stop it and remove its data
#   scripts/test-server.sh env     print the variables the tests read
#
# CALVORO_TEST_SERVER_DIR chooses the folder (default: build/test-server).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=$(realpath -m "${CALVORO_TEST_SERVER_DIR:-$root/build/test-server}")  # absolute: the server changes directory
data=$dir/data
run=$dir/run
envfile=$dir/server.env
log=$dir/server.log

# Test accounts: one per password scramble, one without a password, one with MariaDB's
# ed25519 plugin, and one that may log in only over TLS.
native_user=calvoro_native
native_password='N4tive-pass'
old_user=calvoro_old
old_password='0ld-pass'
empty_user=calvoro_empty
ed25519_user=calvoro_ed25519
ed25519_password='Ed-25519-pass'
tls_user=calvoro_tls
tls_password='Tls-only-pass'
# Logs in only with the client certificate of make_certificates.
x509_user=calvoro_x509
# Two plugins each, tried in order: a login with the second one's password is switched over.
either_user=calvoro_either
either_ed25519_password='Either-ed'
either_native_password='Either-native'
tls=$dir/tls
# Logs in over the Unix socket as the operating-system user the tests run as (unix_socket).
socket_user=$(id -un)

die() { echo "test-server: $*" >&2; exit 1; }

pid_alive() {
  [ -f "$run/mariadbd.pid" ] && kill -0 "$(cat "$run/mariadbd.pid")" 2>/dev/null
}

client() {
  mariadb --no-defaults --protocol=socket --socket="$run/mariadbd.sock" -uroot "$@"
}

port_free() {
  ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null || return 1
  [ -z "$bind_ipv6" ] || ! (exec 3<>"/dev/tcp/::1/$1") 2>/dev/null
}

pick_port() {
  local p tries
  for tries in $(seq 1 200); do
    p=$(( 20000 + RANDOM % 30000 ))
    if port_free "$p"; then echo "$p"; return 0; fi
  done
  die "no free port found"
}

# Whether the loopback interface has ::1 (CI machines and containers may have no IPv6).
has_ipv6_loopback() {
  grep -q '^00000000000000000000000000000001 ' /proc/net/if_inet6 2>/dev/null
}

write_env() {
  cat >"$envfile" <<EOT
CALVORO_TEST_HOST=127.0.0.1
CALVORO_TEST_PORT=$1
CALVORO_TEST_IPV6_HOST=$2
CALVORO_TEST_SOCKET=$run/mariadbd.sock
CALVORO_TEST_SOCKET_USER=$socket_user
CALVORO_TEST_NATIVE_USER=$native_user
CALVORO_TEST_NATIVE_PASSWORD=$native_password
CALVORO_TEST_OLD_USER=$old_user
CALVORO_TEST_OLD_PASSWORD=$old_password
CALVORO_TEST_EMPTY_USER=$empty_user
CALVORO_TEST_ED25519_USER=$ed25519_user
CALVORO_TEST_ED25519_PASSWORD=$ed25519_password
CALVORO_TEST_TLS_USER=$tls_user
CALVORO_TEST_TLS_PASSWORD=$tls_password
CALVORO_TEST_X509_USER=$x509_user
CALVORO_TEST_EITHER_USER=$either_user
CALVORO_TEST_EITHER_ED25519_PASSWORD=$either_ed25519_password
CALVORO_TEST_EITHER_NATIVE_PASSWORD=$either_native_password
CALVORO_TEST_TLS_CA=$tls/ca.pem
CALVORO_TEST_TLS_OTHER_CA=$tls/other-ca.pem
CALVORO_TEST_TLS_CLIENT_CERT=$tls/client-cert.pem
CALVORO_TEST_TLS_CLIENT_KEY=$tls/client-key.pem
EOT
}

# A CA, a server certificate for 127.0.0.1 and localhost signed by it, a client certificate,
# and a second CA that signed neither, made fresh at every start.
make_certificates() {
  rm -rf "$tls"
  mkdir -p "$tls"
  (
    cd "$tls"
    local req=(openssl req -newkey rsa:2048 -nodes -sha256)
    "${req[@]}" -x509 -days 3 -subj "/CN=Calvoro test CA" -keyout ca-key.pem -out ca.pem
    "${req[@]}" -x509 -days 3 -subj "/CN=Calvoro other CA" -keyout other-ca-key.pem -out other-ca.pem
    "${req[@]}" -subj "/CN=localhost" -keyout server-key.pem -out server.csr
    printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' >server.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca-key.pem -CAcreateserial -days 3 -sha256 \
      -extfile server.ext -out server-cert.pem
    "${req[@]}" -subj "/CN=calvoro client" -keyout client-key.pem -out client.csr
    openssl x509 -req -in client.csr -CA ca.pem -CAkey ca-key.pem -CAcreateserial -days 3 -sha256 \
      -out client-cert.pem
  ) >"$dir/tls.log" 2>&1 || { cat "$dir/tls.log" >&2; die "making the TLS certificates failed"; }
}

stop_server() {
  if pid_alive; then
    local pid; pid=$(cat "$run/mariadbd.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -rf "$data" "$run" "$envfile" "$tls"
}

start_server() {
  command -v mariadbd >/dev/null || die "mariadbd not found; run scripts/install-deps.sh"
  if pid_alive && client -e 'SELECT 1' >/dev/null 2>&1 && [ -f "$envfile" ]; then
    return 0   # already running
  fi
  stop_server   # whatever a crashed run left behind
  mkdir -p "$data" "$run"
  command -v openssl >/dev/null || die "openssl not found; run scripts/install-deps.sh"
  make_certificates
  local user_opt=()
  [ "$(id -u)" = 0 ] && user_opt=(--user=root)

  # --force: go on when the host name does not resolve (minimal machines have no /etc/hosts).
  mariadb-install-db --no-defaults "${user_opt[@]}" --datadir="$data" \
      --auth-root-authentication-method=socket --skip-test-db --skip-name-resolve --force \
      >"$dir/install.log" 2>&1 \
    || { cat "$dir/install.log" >&2; die "mariadb-install-db failed"; }

  bind_ipv6=
  has_ipv6_loopback && bind_ipv6=::1
  local port attempt
  for attempt in 1 2 3 4 5; do
    port=$(pick_port)
    : >"$log"
    # --skip-secure-auth lets the pre-4.1 scramble be tested against a real server.
    mariadbd --no-defaults "${user_opt[@]}" --datadir="$data" \
      --socket="$run/mariadbd.sock" --pid-file="$run/mariadbd.pid" \
      --bind-address="127.0.0.1${bind_ipv6:+,$bind_ipv6}" --port="$port" --skip-name-resolve \
      --skip-secure-auth --max-allowed-packet=1G \
      --ssl-ca="$tls/ca.pem" --ssl-cert="$tls/server-cert.pem" --ssl-key="$tls/server-key.pem" \
      --plugin-load-add=auth_ed25519 \
      --innodb-buffer-pool-size=128M --innodb-log-file-size=64M \
      --log-error="$log" >/dev/null 2>&1 &
    disown
    for _ in $(seq 1 150); do
      client -e 'SELECT 1' >/dev/null 2>&1 && break
      grep -q -E 'Do you already have another mysqld server running|Can.t start server' "$log" && break
      sleep 0.2
    done
    if client -e 'SELECT 1' >/dev/null 2>&1; then break; fi
    pid_alive && kill -9 "$(cat "$run/mariadbd.pid")" 2>/dev/null || true
    port=
  done
  [ -n "$port" ] || { cat "$log" >&2; die "server did not start"; }

  client <<SQL || die "account setup failed"
-- mariadb-install-db creates anonymous accounts; they shadow '%' accounts from 127.0.0.1.
DELETE FROM mysql.global_priv WHERE User = '';
FLUSH PRIVILEGES;
CREATE USER '$native_user'@'%' IDENTIFIED VIA mysql_native_password USING PASSWORD('$native_password');
SET SESSION old_passwords = 1;
CREATE USER '$old_user'@'%' IDENTIFIED BY '$old_password';
SET SESSION old_passwords = 0;
CREATE USER '$empty_user'@'%';
CREATE USER '$ed25519_user'@'%' IDENTIFIED VIA ed25519 USING PASSWORD('$ed25519_password');
CREATE USER '$tls_user'@'%' IDENTIFIED BY '$tls_password' REQUIRE SSL;
CREATE USER '$x509_user'@'%' REQUIRE SUBJECT '/CN=calvoro client';
CREATE USER '$either_user'@'%' IDENTIFIED VIA ed25519 USING PASSWORD('$either_ed25519_password')
  OR mysql_native_password USING PASSWORD('$either_native_password');
GRANT ALL PRIVILEGES ON *.* TO '$native_user'@'%' WITH GRANT OPTION;
GRANT ALL PRIVILEGES ON *.* TO '$old_user'@'%';
GRANT ALL PRIVILEGES ON *.* TO '$empty_user'@'%';
GRANT SELECT ON *.* TO '$ed25519_user'@'%';
GRANT SELECT ON *.* TO '$tls_user'@'%';
GRANT SELECT ON *.* TO '$x509_user'@'%';
GRANT SELECT ON *.* TO '$either_user'@'%';
SET GLOBAL max_allowed_packet = 1073741824;
SQL
  # The account of the user the tests run as, logging in by the socket's peer credentials.
  # root has one already (mariadb-install-db --auth-root-authentication-method=socket).
  local existing
  existing=$(client -N -e "SELECT COUNT(*) FROM mysql.global_priv WHERE User = '$socket_user' AND Host = 'localhost'") \
    || die "looking for the socket account failed"
  if [ "$existing" = 0 ]; then
    client -e "CREATE USER '$socket_user'@'localhost' IDENTIFIED VIA unix_socket;
               GRANT SELECT ON *.* TO '$socket_user'@'localhost';" || die "socket account setup failed"
  fi
  # One named zone with daylight saving time, for the tests of TIMESTAMPs in a change-back hour.
  mariadb-tzinfo-to-sql /usr/share/zoneinfo/Europe/Berlin Europe/Berlin 2>/dev/null | client mysql \
    || die "loading the time zone Europe/Berlin failed"
  write_env "$port" "$bind_ipv6"
}

case "${1:-}" in
  start) start_server; echo "test server up: $(grep PORT "$envfile")" ;;
  stop)  stop_server ;;
  env)   [ -f "$envfile" ] && pid_alive || die "not running"; cat "$envfile" ;;
  *)     echo "usage: $0 start|stop|env" >&2; exit 2 ;;
esac
