#!/usr/bin/env bash
# calvoro-cli backup and restore against mariadb-dump and the mariadb client, in one run.
#
#   run_dump_bench.sh BUILD_DIR HOST PORT USER PASSWORD [ROWS [ROUNDS]]
#
# Creates calvoro_bench.fetch_rows with ROWS mixed rows through fetch_bench --setup (default
# 1000000; SKIP_SETUP=1 keeps the table there is), then ROUNDS times (default 5; which client
# goes first alternates from round to round):
#   backup   the table to a file, with calvoro-cli backup and with mariadb-dump;
#   restore  mariadb-dump's file of that round into the emptied database calvoro_bench_restore,
#            with calvoro-cli restore and with mariadb, so that both run the same statements;
#            after each restore the copy must have the source's row count and checksum.
# Every run goes under /usr/bin/time -v. Prints every run, then per operation the median
# seconds of each client and their ratio ours / peer, the median CPU seconds (user + system)
# of each client process, the largest peak resident set size of each, and the sizes of both
# backup files. With BIG=1, also backs up a copy of the table ten times the size
# (calvoro_bench.fetch_rows_big) with calvoro-cli and restores that file, printing the peak
# RSS of both next to those at the base size (for the restore: of calvoro-cli's own backup
# of fetch_rows, restored once more): a client that streams keeps it about flat.
# The files go to a temporary folder under BUILD_DIR, removed at the end.
set -euo pipefail

[ $# -ge 5 ] || { echo "usage: $0 BUILD_DIR HOST PORT USER PASSWORD [ROWS [ROUNDS]]" >&2; exit 2; }
build=$1 host=$2 port=$3 user=$4 password=$5 rows=${6:-1000000} rounds=${7:-5}
cli=$build/src/cli/calvoro-cli
fetch_bench=$build/bench/protocol/fetch_bench
for program in "$cli" "$fetch_bench"; do
  [ -x "$program" ] || { echo "$0: $program is missing; build calvoro-cli and fetch_bench first" >&2; exit 2; }
done
login=(-h "$host" -P "$port" -u "$user" -p"$password")
ourlogin=(-h "$host" -P "$port" -u "$user" -p "$password" --ssl-mode DISABLED)  # the peers' default
mariadb() { command mariadb --no-defaults --default-character-set=utf8mb4 "${login[@]}" "$@"; }

work=$(mktemp -d "$build/dump_bench.XXXXXX")
timing=$work/time.txt errors=$work/stderr.txt
trap 'rm -rf "$work"' EXIT
ourfile=$work/backup_ours.sql peerfile=$work/backup_peer.sql

[ "${SKIP_SETUP:-0}" = 1 ] || "$fetch_bench" --host "$host" --port "$port" --user "$user" --password "$password" --setup "$rows"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# measure LABEL IN OUT COMMAND...: runs COMMAND under /usr/bin/time -v with standard input from
# IN and standard output to OUT; sets wall, cpu and kb, or stops the benchmark with the
# command's error output when it fails.
measure() {
  local label=$1 in=$2 out=$3
  shift 3
  local start
  start=$(date +%s.%N)  # time -v gives the wall time in hundredths only
  if ! /usr/bin/time -v -o "$timing" "$@" <"$in" >"$out" 2>"$errors"; then
    echo "$0: $label failed:" >&2
    cat "$errors" >&2
    exit 1
  fi
  wall=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }')
  cpu=$(awk -F': ' '/User time|System time/ { t += $2 } END { print t }' "$timing")
  kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$timing")
}

# The row count and checksum of a table, to compare the copy with its source.
fingerprint() {
  echo "$(mariadb -N -e "SELECT COUNT(*) FROM $1") $(mariadb -N -e "CHECKSUM TABLE $1" | awk '{ print $2 }')"
}

# verify SOURCE LABEL: the restored copy of SOURCE must hold the same rows.
verify() {
  local copy
  copy=$(fingerprint "calvoro_bench_restore.$1")
  if [ "$copy" != "$expected" ]; then
    echo "$0: $2: calvoro_bench_restore.$1 has rows/checksum $copy, calvoro_bench.$1 has $expected" >&2
    exit 1
  fi
}

fresh_restore_db() { mariadb -e "DROP DATABASE IF EXISTS calvoro_bench_restore; CREATE DATABASE calvoro_bench_restore"; }

expected=$(fingerprint calvoro_bench.fetch_rows)
baserows=${expected%% *}
echo "calvoro_bench.fetch_rows: rows/checksum $expected"

declare -A seconds=() cpus=() rss=()
record() {  # record OPERATION CLIENT ROUND
  echo "$1 $2 round $3: seconds=$wall cpu=$cpu peak_rss_kb=$kb"
  seconds[$1,$2]+="$wall "
  cpus[$1,$2]+="$cpu "
  [ "${rss[$1,$2]:-0}" -ge "$kb" ] || rss[$1,$2]=$kb
}

for round in $(seq 1 "$rounds"); do
  order="ours peer"
  (( round % 2 )) || order="peer ours"  # neither client always runs after the other
  for client in $order; do
    if [ "$client" = ours ]; then
      measure "calvoro-cli backup" /dev/null /dev/null \
        "$cli" backup "${ourlogin[@]}" -D calvoro_bench --tables fetch_rows -o "$ourfile"
    else
      measure "mariadb-dump" /dev/null "$peerfile" \
        mariadb-dump --no-defaults "${login[@]}" --default-character-set=utf8mb4 --extended-insert calvoro_bench fetch_rows
    fi
    record backup "$client" "$round"
  done
  for client in $order; do
    fresh_restore_db
    if [ "$client" = ours ]; then
      measure "calvoro-cli restore" /dev/null /dev/null \
        "$cli" restore "${ourlogin[@]}" -D calvoro_bench_restore "$peerfile"
    else
      measure "mariadb restore" "$peerfile" /dev/null \
        mariadb --no-defaults "${login[@]}" --default-character-set=utf8mb4 calvoro_bench_restore
    fi
    verify fetch_rows "restore $client round $round"
    record restore "$client" "$round"
  done
done

for op in backup restore; do
  peername=mariadb-dump
  [ "$op" = restore ] && peername=mariadb
  ours=$(tr ' ' '\n' <<<"${seconds[$op,ours]}" | grep . | median)
  peer=$(tr ' ' '\n' <<<"${seconds[$op,peer]}" | grep . | median)
  ourscpu=$(tr ' ' '\n' <<<"${cpus[$op,ours]}" | grep . | median)
  peercpu=$(tr ' ' '\n' <<<"${cpus[$op,peer]}" | grep . | median)
  echo "$op: median seconds calvoro-cli=$ours $peername=$peer" \
       "ratio=$(awk -v a="$ours" -v b="$peer" 'BEGIN { printf "%.3f", (b > 0) ? a / b : 0 }');" \
       "median cpu calvoro-cli=$ourscpu $peername=$peercpu;" \
       "peak_rss_kb calvoro-cli=${rss[$op,ours]} $peername=${rss[$op,peer]}"
done
echo "backup file bytes: calvoro-cli=$(stat -c %s "$ourfile") mariadb-dump=$(stat -c %s "$peerfile")"

if [ "${BIG:-0}" = 1 ]; then
  # Ten copies of fetch_rows, the ids shifted past one another.
  bigrows=$(( baserows * 10 ))
  if [ "${SKIP_SETUP:-0}" != 1 ] ||
     [ "$(mariadb -N -e "SELECT COUNT(*) FROM calvoro_bench.fetch_rows_big" 2>/dev/null || true)" != "$bigrows" ]; then
    columns=$(mariadb -N -e "SELECT GROUP_CONCAT(column_name ORDER BY ordinal_position) FROM information_schema.columns
                             WHERE table_schema = 'calvoro_bench' AND table_name = 'fetch_rows' AND column_name <> 'id'")
    span=$(mariadb -N -e "SELECT MAX(id) FROM calvoro_bench.fetch_rows")
    mariadb -e "CREATE OR REPLACE TABLE calvoro_bench.fetch_rows_big LIKE calvoro_bench.fetch_rows"
    for copy in $(seq 0 9); do
      mariadb -e "INSERT INTO calvoro_bench.fetch_rows_big (id, $columns)
                  SELECT id + $(( copy * span )), $columns FROM calvoro_bench.fetch_rows"
    done
  fi
  # The baseline for the restore: our own last backup file at the base size, whose statements
  # are cut like those of the big file (mariadb-dump's are far longer).
  fresh_restore_db
  measure "calvoro-cli restore (own backup)" /dev/null /dev/null \
    "$cli" restore "${ourlogin[@]}" -D calvoro_bench_restore "$ourfile"
  verify fetch_rows "restore of calvoro-cli's backup"
  ownrestore=$kb
  echo "restore calvoro-cli of its own backup: rows=$baserows seconds=$wall cpu=$cpu peak_rss_kb=$kb"
  expected=$(fingerprint calvoro_bench.fetch_rows_big)
  bigfile=$work/backup_big.sql
  measure "calvoro-cli backup (big)" /dev/null /dev/null \
    "$cli" backup "${ourlogin[@]}" -D calvoro_bench --tables fetch_rows_big -o "$bigfile"
  echo "big backup calvoro-cli: rows=${expected%% *} bytes=$(stat -c %s "$bigfile") seconds=$wall cpu=$cpu" \
       "peak_rss_kb=$kb (at $baserows rows: ${rss[backup,ours]})"
  fresh_restore_db
  measure "calvoro-cli restore (big)" /dev/null /dev/null \
    "$cli" restore "${ourlogin[@]}" -D calvoro_bench_restore "$bigfile"
  verify fetch_rows_big "big restore calvoro-cli"
  echo "big restore calvoro-cli of its own backup: rows=${expected%% *} seconds=$wall cpu=$cpu" \
       "peak_rss_kb=$kb (at $baserows rows: $ownrestore)"
fi

mariadb -e "DROP DATABASE IF EXISTS calvoro_bench_restore"
