#!/usr/bin/env bash
# Our record set against libmariadb's buffered results, alternating in one run.
#
#   run_recordset_bench.sh BUILD_DIR HOST PORT USER PASSWORD [ROWS [ROUNDS]]
#
# Creates calvoro_bench.fetch_rows with ROWS rows of 12 mixed columns through fetch_bench
# (default 1000000; SKIP_SETUP=1 keeps the table there is), then opens it ROUNDS times
# (default 5) in each mode (text and prepared, latin1 and utf8mb4), ours and libmariadb in
# turn (which goes first alternates). Prints every run, then per mode the median seconds of
# each client and their ratio, and the largest peak resident set size of each and their ratio.
set -euo pipefail

[ $# -ge 5 ] || { echo "usage: $0 BUILD_DIR HOST PORT USER PASSWORD [ROWS [ROUNDS]]" >&2; exit 2; }
build=$1 host=$2 port=$3 user=$4 password=$5 rows=${6:-1000000} rounds=${7:-5}
bench=$build/bench/dataaccess/recordset_bench
args=(--host "$host" --port "$port" --user "$user" --password "$password")
query="SELECT * FROM calvoro_bench.fetch_rows"

[ "${SKIP_SETUP:-0}" = 1 ] || "$build/bench/protocol/fetch_bench" "${args[@]}" --setup "$rows"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

for mode in text prepared "text --unicode" "prepared --unicode"; do
  flags=()
  [[ $mode == prepared* ]] && flags+=(--prepared)
  [[ $mode == *--unicode ]] && flags+=(--unicode)
  declare -A seconds=() rss=()
  for round in $(seq 1 "$rounds"); do
    order="ours peer"
    (( round % 2 )) || order="peer ours"
    for client in $order; do
      extra=("${flags[@]}")
      [ "$client" = peer ] && extra+=(--peer)
      line=$("$bench" "${args[@]}" --query "$query" "${extra[@]}" 2>/dev/null)
      echo "$mode $client round $round: $line"
      s=${line#*seconds=}; s=${s%% *}
      kb=${line##*peak_rss_kb=}
      seconds[$client]+="$s "
      [ "${rss[$client]:-0}" -ge "$kb" ] || rss[$client]=$kb
    done
  done
  ours=$(tr ' ' '\n' <<<"${seconds[ours]}" | grep . | median)
  peer=$(tr ' ' '\n' <<<"${seconds[peer]}" | grep . | median)
  echo "$mode: median seconds ours=$ours libmariadb=$peer ratio=$(awk -v a="$ours" -v b="$peer" 'BEGIN { printf "%.3f", a / b }');" \
       "peak_rss_kb ours=${rss[ours]} libmariadb=${rss[peer]} ratio=$(awk -v a="${rss[ours]}" -v b="${rss[peer]}" 'BEGIN { printf "%.3f", a / b }')"
  unset seconds rss
done
