#!/usr/bin/env bash
# calvoro-cli script against the mariadb client on a file of single-row INSERTs, in one run.
#
#   run_script_bench.sh BUILD_DIR HOST PORT USER PASSWORD [STATEMENTS [ROUNDS]]
#
# Writes BUILD_DIR/script_bench_inserts.sql with STATEMENTS (default 100000) single-row
# INSERT statements into calvoro_bench.script_rows, then ROUNDS times (default 5) empties the
# table and runs the file through each client, which goes first alternating. Prints every run,
# then the median seconds of each client and their ratio. Also cuts a 300 MB dump-like file
# (BUILD_DIR/script_bench_dump.sql, made by lexer_dumpgen unless it is there) with script_bench.
set -euo pipefail

[ $# -ge 5 ] || { echo "usage: $0 BUILD_DIR HOST PORT USER PASSWORD [STATEMENTS [ROUNDS]]" >&2; exit 2; }
build=$1 host=$2 port=$3 user=$4 password=$5 statements=${6:-100000} rounds=${7:-5}
cli=$build/src/cli/calvoro-cli
file=$build/script_bench_inserts.sql
login=(-h "$host" -P "$port" -u "$user" -p"$password")
mariadb() { command mariadb --no-defaults --default-character-set=utf8mb4 "${login[@]}" "$@"; }

mariadb -e "CREATE DATABASE IF NOT EXISTS calvoro_bench;
            CREATE OR REPLACE TABLE calvoro_bench.script_rows (id INT PRIMARY KEY, name VARCHAR(40),
            amount DECIMAL(12,2), note VARCHAR(100)) ENGINE=InnoDB"
awk -v n="$statements" 'BEGIN {
  for (i = 1; i <= n; i++)
    printf "INSERT INTO calvoro_bench.script_rows VALUES (%d, '\''name-%d'\'', %d.%02d, '\''caf\303\251; -- not a comment'\'');\n", i, i, i % 100000, i % 100
}' > "$file"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
now() { date +%s.%N; }
ours="" peer=""
for round in $(seq 1 "$rounds"); do
  order="ours peer"
  (( round % 2 )) || order="peer ours"
  for client in $order; do
    mariadb -e "TRUNCATE calvoro_bench.script_rows"
    start=$(now)
    if [ "$client" = ours ]; then
      "$cli" script -h "$host" -P "$port" -u "$user" -p "$password" --ssl-mode DISABLED "$file" 2>/dev/null
    else
      mariadb < "$file"
    fi
    seconds=$(awk -v a="$start" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }')
    rows=$(mariadb -N -e "SELECT COUNT(*) FROM calvoro_bench.script_rows")
    echo "inserts $client round $round: seconds=$seconds rows=$rows"
    if [ "$client" = ours ]; then ours+="$seconds "; else peer+="$seconds "; fi
  done
done
o=$(tr ' ' '\n' <<<"$ours" | grep . | median) p=$(tr ' ' '\n' <<<"$peer" | grep . | median)
echo "inserts: median seconds calvoro-cli=$o mariadb=$p ratio=$(awk -v a="$o" -v b="$p" 'BEGIN { printf "%.3f", a / b }')"

dump=$build/script_bench_dump.sql
[ -f "$dump" ] || "$build/bench/sqltext/lexer_dumpgen" "$dump" 300 >/dev/null
for round in $(seq 1 "$rounds"); do
  echo "split round $round: $("$build/bench/sqltext/script_bench" "$dump" 2>/dev/null)"
done
