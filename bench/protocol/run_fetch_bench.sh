#!/usr/bin/env bash
# Our client against libmariadb, alternating in one run.
#
#   run_fetch_bench.sh FETCH_BENCH HOST PORT USER PASSWORD [ROWS [ROUNDS]]
#
# Creates calvoro_bench.fetch_rows with ROWS rows of mixed types (default 1000000; set
# SKIP_SETUP=1 to keep the table there is), then reads it ROUNDS times (default 5) in text
# and in prepared mode, ours and libmariadb in turn (which goes first alternates from round
# to round), each run under /usr/bin/time -v. Prints
# every run, then per mode the median seconds of each client, the ratio ours / libmariadb,
# the median CPU seconds (user + system) of each client process and their ratio, and the
# largest peak resident set size of each. On a small machine the wall time follows the
# server's CPU time, which varies from run to run; the client's CPU time is what the client
# itself costs.
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
  declare -A seconds=() cpu=() rss=()
  for round in $(seq 1 "$rounds"); do
    order="ours peer"
    (( round % 2 )) || order="peer ours"  # neither client always runs after the other
    for client in $order; do
      extra=("${flags[@]}")
      [ "$client" = peer ] && extra+=(--peer)
      line=$(/usr/bin/time -v -o "$timing" "$bench" "${args[@]}" --query "$query" "${extra[@]}" 2>/dev/null)
      kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$timing")
      c=$(awk -F': ' '/User time|System time/ { t += $2 } END { print t }' "$timing")
      s=${line##*seconds=}
      echo "$mode $client round $round: $line cpu=$c peak_rss_kb=$kb"
      seconds[$client]+="$s "
      cpu[$client]+="$c "
      [ "${rss[$client]:-0}" -ge "$kb" ] || rss[$client]=$kb
    done
  done
  ours=$(tr ' ' '\n' <<<"${seconds[ours]}" | grep . | median)
  peer=$(tr ' ' '\n' <<<"${seconds[peer]}" | grep . | median)
  ratio=$(awk -v a="$ours" -v b="$peer" 'BEGIN { printf "%.3f", a / b }')
  ourscpu=$(tr ' ' '\n' <<<"${cpu[ours]}" | grep . | median)
  peercpu=$(tr ' ' '\n' <<<"${cpu[peer]}" | grep . | median)
  cpuratio=$(awk -v a="$ourscpu" -v b="$peercpu" 'BEGIN { printf "%.3f", a / b }')
  echo "$mode: median seconds ours=$ours libmariadb=$peer ratio=$ratio;" \
       "median cpu ours=$ourscpu libmariadb=$peercpu ratio=$cpuratio;" \
       "peak_rss_kb ours=${rss[ours]} libmariadb=${rss[peer]}"
  unset seconds cpu rss
done
