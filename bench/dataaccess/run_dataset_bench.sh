#!/usr/bin/env bash
# The data set beside the bare record set and libmariadb's buffered results, in one run.
#
#   run_dataset_bench.sh BUILD_DIR HOST PORT USER PASSWORD [ROWS [ROUNDS]]
#
# Creates calvoro_bench.fetch_rows with ROWS rows of 12 mixed columns through fetch_bench
# (default 1000000; SKIP_SETUP=1 keeps the table there is), then, with latin1 and with utf8mb4
# text, runs ROUNDS times (default 5) in turn: dataset_bench (open a TMyQuery, walk every
# field, read every cell through the grid model), recordset_bench (the record set alone) and
# recordset_bench --peer (libmariadb). Prints every run, then per mode the median open seconds
# of each and the data set's ratio to the other two, the median walk seconds per million rows,
# the median model time per cell in microseconds, and the largest peak resident set sizes.
set -euo pipefail

[ $# -ge 5 ] || { echo "usage: $0 BUILD_DIR HOST PORT USER PASSWORD [ROWS [ROUNDS]]" >&2; exit 2; }
build=$1 host=$2 port=$3 user=$4 password=$5 rows=${6:-1000000} rounds=${7:-5}
dataset=$build/bench/dataaccess/dataset_bench
recordset=$build/bench/dataaccess/recordset_bench
args=(--host "$host" --port "$port" --user "$user" --password "$password")
query="SELECT * FROM calvoro_bench.fetch_rows"
columns=12

[ "${SKIP_SETUP:-0}" = 1 ] || "$build/bench/protocol/fetch_bench" "${args[@]}" --setup "$rows"

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
field() { local v=${1#*$2=}; echo "${v%% *}"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

for mode in latin1 utf8mb4; do
  flags=()
  [ "$mode" = utf8mb4 ] && flags+=(--unicode)
  open_ds="" open_rs="" open_peer="" walk="" model="" rss_ds=0 rss_rs=0 rss_peer=0 n=0
  for round in $(seq 1 "$rounds"); do
    line=$("$dataset" "${args[@]}" --query "$query" "${flags[@]}" 2>/dev/null)
    echo "$mode dataset round $round: $line"
    n=$(field "$line" rows)
    open_ds+="$(field "$line" open_seconds) " walk+="$(field "$line" walk_seconds) " model+="$(field "$line" model_seconds) "
    kb=$(field "$line" peak_rss_kb); (( kb > rss_ds )) && rss_ds=$kb
    for client in recordset peer; do
      extra=("${flags[@]}")
      [ "$client" = peer ] && extra+=(--peer)
      line=$("$recordset" "${args[@]}" --query "$query" "${extra[@]}" 2>/dev/null)
      echo "$mode $client round $round: $line"
      kb=$(field "$line" peak_rss_kb)
      if [ "$client" = peer ]; then open_peer+="$(field "$line" seconds) "; (( kb > rss_peer )) && rss_peer=$kb
      else open_rs+="$(field "$line" seconds) "; (( kb > rss_rs )) && rss_rs=$kb; fi
    done
  done
  ds=$(median <<<"$open_ds") rs=$(median <<<"$open_rs") peer=$(median <<<"$open_peer")
  w=$(median <<<"$walk") m=$(median <<<"$model")
  echo "$mode: open seconds dataset=$ds recordset=$rs libmariadb=$peer" \
       "dataset/recordset=$(ratio "$ds" "$rs") dataset/libmariadb=$(ratio "$ds" "$peer");" \
       "walk seconds per million rows=$(awk -v w="$w" -v n="$n" 'BEGIN { printf "%.3f", w * 1000000 / n }');" \
       "model microseconds per cell=$(awk -v m="$m" -v n="$n" -v c="$columns" 'BEGIN { printf "%.3f", m * 1000000 / (n * c) }');" \
       "peak_rss_kb dataset=$rss_ds recordset=$rss_rs libmariadb=$rss_peer"
done
