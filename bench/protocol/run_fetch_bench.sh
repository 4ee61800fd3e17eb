#!/usr/bin/env bash
# Our client against libmariadb, alternating in one run.
#
#   run_fetch_bench.sh FETCH_BENCH HOST PORT USER PASSWORD [ROWS [ROUNDS]]
#
# Creates calvoro_bench.fetch_rows with ROWS rows of mixed types (default 1000000; set
# SKIP_SETUP=1 to keep the table there is), then reads it ROUNDS times (default 5) in text
# and in prepared mode, ours and libmariadb in turn, each run under /usr/bin/time -v. Prints
# every run, then per mode the median seconds of each client, the ratio ours / libmariadb and
# the largest peak resident set size of each.
set -euo pipefail

[ $# -ge 5 ] || { echo "usage: $0 FETCH_BENCH HOST PORT USER PASSWORD [ROWS [ROUNDS]]" >&2; exit 2; }
bench=$1 host=$2 port=$3 user=$4 password=$5 rows=${6:-1000000} rounds=${7:-5}
args=(--host "$host" --port "$port" --user "$user" --password "$password")
query="SELECT * FROM calvoro_bench.fetch_rows"
timing=$(mktemp)
trap 'rm -f "$timing"' EXIT

[ "${SKIP_SETUP:-0}" = 1 ] || "$bench" "${args[@]}" --setup "$rows"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

for mode in text prepared; do
  flags=()
  [ "$mode" = prepared ] && flags=(--prepared)
  declare -A seconds=() rss=()
  for round in $(seq 1 "$rounds"); do
    for client in ours peer; do
      extra=("${flags[@]}")
      [ "$client" = peer ] && extra+=(--peer)
      line=$(/usr/bin/time -v -o "$timing" "$bench" "${args[@]}" --query "$query" "${extra[@]}" 2>/dev/null)
      kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$timing")
      s=${line##*seconds=}
      echo "$mode $client round $round: $line peak_rss_kb=$kb"
      seconds[$client]+="$s "
      [ "${rss[$client]:-0}" -ge "$kb" ] || rss[$client]=$kb
    done
  done
  ours=$(tr ' ' '\n' <<<"${seconds[ours]}" | grep . | median)
  peer=$(tr ' ' '\n' <<<"${seconds[peer]}" | grep . | median)
  ratio=$(awk -v a="$ours" -v b="$peer" 'BEGIN { printf "%.3f", a / b }')
  echo "$mode: median seconds ours=$ours libmariadb=$peer ratio=$ratio peak_rss_kb ours=${rss[ours]} libmariadb=${rss[peer]}"
  unset seconds rss
done
