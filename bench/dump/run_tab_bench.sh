#!/usr/bin/env bash
# Backup and restore through the main window's buttons against calvoro-cli, in one run.
#
#   run_tab_bench.sh BUILD_DIR HOST PORT USER PASSWORD [ROUNDS]
#
# Needs calvoro_bench.fetch_rows (run_dump_bench.sh or fetch_bench --setup creates it). Makes a
# mariadb-dump file of it for the restores, then ROUNDS times (default 3): tab_dump_bench (the
# window's Backup of the table, then its Restore of that file into calvoro_bench_restore) and
# calvoro-cli backup and restore of the same. Prints every run, the medians and the ratios
# window / command line.
set -euo pipefail
[ $# -ge 5 ] || { echo "usage: $0 BUILD_DIR HOST PORT USER PASSWORD [ROUNDS]" >&2; exit 2; }
build=$1 host=$2 port=$3 user=$4 password=$5 rounds=${6:-3}
cli=$build/src/cli/calvoro-cli tab=$build/bench/dump/tab_dump_bench
for program in "$cli" "$tab"; do
  [ -x "$program" ] || { echo "$0: $program is missing; build calvoro-cli and tab_dump_bench first" >&2; exit 2; }
done
work=$(mktemp -d "$build/tab_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mariadb() { command mariadb --no-defaults -h "$host" -P "$port" -u "$user" -p"$password" "$@"; }
mariadb-dump --no-defaults -h "$host" -P "$port" -u "$user" -p"$password" calvoro_bench fetch_rows >"$work/peer.sql"
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
seconds() { local start=$1; awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }'; }
: >"$work/times"
for round in $(seq 1 "$rounds"); do
  out=$("$tab" --host "$host" --port "$port" --user "$user" --password "$password" --database calvoro_bench \
    --table fetch_rows --backup "$work/tab.sql" --restore "$work/peer.sql" --restore-database calvoro_bench_restore)
  tb=$(sed -n 's/^backup seconds=//p' <<<"$out") tr=$(sed -n 's/^restore seconds=//p' <<<"$out")
  start=$(date +%s.%N)
  "$cli" backup -h "$host" -P "$port" -u "$user" -p "$password" -D calvoro_bench --tables fetch_rows -o "$work/cli.sql"
  cb=$(seconds "$start")
  mariadb -e "DROP DATABASE IF EXISTS calvoro_bench_restore; CREATE DATABASE calvoro_bench_restore"
  start=$(date +%s.%N)
  "$cli" restore -h "$host" -P "$port" -u "$user" -p "$password" -D calvoro_bench_restore "$work/peer.sql" 2>/dev/null
  cr=$(seconds "$start")
  echo "round $round: backup window=$tb cli=$cb; restore window=$tr cli=$cr"
  echo "$tb $cb $tr $cr" >>"$work/times"
done
for i in 1 2 3 4; do eval "m$i=\$(awk '{ print \$$i }' \"\$work/times\" | median)"; done
awk -v tb="$m1" -v cb="$m2" -v tr="$m3" -v cr="$m4" 'BEGIN {
  printf "backup: median seconds window=%s calvoro-cli=%s ratio=%.3f\n", tb, cb, tb / cb
  printf "restore: median seconds window=%s calvoro-cli=%s ratio=%.3f\n", tr, cr, tr / cr }'
