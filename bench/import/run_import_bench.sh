#!/usr/bin/env bash
# calvoro-cli import against the mariadb client's LOAD DATA LOCAL INFILE, on the same CSV file.
#
#   run_import_bench.sh CLI HOST PORT USER PASSWORD [ROWS [ROUNDS]]
#
# Writes a CSV file of ROWS rows (default 1000000): an id, a name with commas and doubled
# quotes in quoted fields, a decimal, a date, and a column that is NULL ("\N") in every tenth
# row. Then ROUNDS times (default 3; which client goes first alternates) empties the table
# calvoro_bench.import_rows and loads the file with each client; after each load the table
# must hold ROWS rows with the same checksum as after the other. Prints every run and the
# median seconds of each client and their ratio ours / peer. CLI is a calvoro-cli built
# without sanitizers (a Release build). The file goes to a temporary folder, removed at the end.
set -euo pipefail

[ $# -ge 5 ] || { echo "usage: $0 CLI HOST PORT USER PASSWORD [ROWS [ROUNDS]]" >&2; exit 2; }
cli=$1 host=$2 port=$3 user=$4 password=$5 rows=${6:-1000000} rounds=${7:-3}
[ -x "$cli" ] || { echo "$0: $cli is missing" >&2; exit 2; }
mariadb() { command mariadb --no-defaults --default-character-set=utf8mb4 -h "$host" -P "$port" -u "$user" -p"$password" "$@"; }
ours=(import -h "$host" -P "$port" -u "$user" -p "$password" --ssl-mode DISABLED -D calvoro_bench
      --table import_rows --null-marker '\N')

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
csv=$work/rows.csv
awk -v n="$rows" 'BEGIN {
  for (i = 1; i <= n; i++) {
    note = (i % 10 == 0) ? "\\N" : "\"note " i "\"";
    printf "%d,\"name, \"\"%d\"\"\",%d.%02d,2024-%02d-%02d,%s\n", i, i, i % 100000, i % 100, 1 + i % 12, 1 + i % 28, note
  }
}' > "$csv"
echo "file: $(du -h "$csv" | cut -f1), $rows rows"

mariadb -e "CREATE DATABASE IF NOT EXISTS calvoro_bench;
  DROP TABLE IF EXISTS calvoro_bench.import_rows;
  CREATE TABLE calvoro_bench.import_rows (id INT PRIMARY KEY, name VARCHAR(40), amount DECIMAL(10,2),
    day DATE, note VARCHAR(40)) ENGINE=InnoDB"

load_ours() { "$cli" "${ours[@]}" "$csv" 2>"$work/err" || { cat "$work/err" >&2; exit 1; }; }
load_peer() {
  mariadb --local-infile=1 -e "LOAD DATA LOCAL INFILE '$csv' INTO TABLE calvoro_bench.import_rows
    CHARACTER SET utf8mb4 FIELDS TERMINATED BY ',' OPTIONALLY ENCLOSED BY '\"' LINES TERMINATED BY '\n'"
}
check() {
  mariadb -N -B -e "SELECT COUNT(*) FROM calvoro_bench.import_rows; CHECKSUM TABLE calvoro_bench.import_rows" |
    awk 'NR == 1 { c = $1 } NR == 2 { print c, $2 }'
}
time_one() {  # name: loads into the emptied table, prints seconds, checks the rows
  mariadb -e "TRUNCATE calvoro_bench.import_rows"
  local start end
  start=$(date +%s.%N)
  "load_$1"
  end=$(date +%s.%N)
  local seconds state
  seconds=$(echo "$end - $start" | bc)
  state=$(check)
  [ "${state%% *}" = "$rows" ] || { echo "$1 loaded ${state%% *} rows, not $rows" >&2; exit 1; }
  echo "$1 $seconds $state"
}

ourtimes=() peertimes=() sums=()
for ((r = 1; r <= rounds; r++)); do
  if ((r % 2)); then order=(ours peer); else order=(peer ours); fi
  for who in "${order[@]}"; do
    line=$(time_one "$who")
    echo "round $r: $line"
    read -r _ seconds _ sum <<<"$line"
    sums+=("$sum")
    if [ "$who" = ours ]; then ourtimes+=("$seconds"); else peertimes+=("$seconds"); fi
  done
done
[ "$(printf '%s\n' "${sums[@]}" | sort -u | wc -l)" = 1 ] || { echo "checksums differ: ${sums[*]}" >&2; exit 1; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
o=$(median "${ourtimes[@]}") p=$(median "${peertimes[@]}")
echo "median seconds: calvoro-cli import $o, mariadb LOAD DATA LOCAL INFILE $p, ratio $(echo "scale=2; $o / $p" | bc)"
