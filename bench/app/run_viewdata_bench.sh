#!/usr/bin/env bash
# The View Data tab beside the bare record set, in one run.
#
#   run_viewdata_bench.sh BUILD_DIR HOST PORT USER PASSWORD [ROWS [ROUNDS]]
#
# Creates calvoro_bench.fetch_rows with ROWS rows through fetch_bench (default 1000000;
# SKIP_SETUP=1 keeps the table there is), then runs ROUNDS times (default 5) in turn:
# viewdata_bench (the tab selects the table with "Fetch rows" 0 until the grid shows the first
# rows) and recordset_bench --prepared --unicode (the same rows read the way the tab's query
# reads them: a prepared statement, text as UTF-16). Prints every run, then the medians, the
# tab's ratio to the record set, the median Ctrl+End time and the largest peak resident sets.
set -euo pipefail

[ $# -ge 5 ] || { echo "usage: $0 BUILD_DIR HOST PORT USER PASSWORD [ROWS [ROUNDS]]" >&2; exit 2; }
build=$1 host=$2 port=$3 user=$4 password=$5 rows=${6:-1000000} rounds=${7:-5}
viewdata=$build/bench/app/viewdata_bench
recordset=$build/bench/dataaccess/recordset_bench
args=(--host "$host" --port "$port" --user "$user" --password "$password")

[ "${SKIP_SETUP:-0}" = 1 ] || "$build/bench/protocol/fetch_bench" "${args[@]}" --setup "$rows"

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
field() { local v=${1#*$2=}; echo "${v%% *}"; }

first="" select="" paint="" end="" open="" rss_tab=0 rss_rs=0
for round in $(seq 1 "$rounds"); do
  line=$("$viewdata" "${args[@]}" --query calvoro_bench.fetch_rows 2>/dev/null)
  echo "tab round $round: $line"
  first+="$(field "$line" first_rows_seconds) " select+="$(field "$line" select_seconds) "
  paint+="$(field "$line" paint_seconds) " end+="$(field "$line" end_ms) "
  kb=$(field "$line" peak_rss_kb); (( kb > rss_tab )) && rss_tab=$kb
  line=$("$recordset" "${args[@]}" --query "SELECT * FROM calvoro_bench.fetch_rows" --prepared --unicode 2>/dev/null)
  echo "recordset round $round: $line"
  open+="$(field "$line" seconds) "
  kb=$(field "$line" peak_rss_kb); (( kb > rss_rs )) && rss_rs=$kb
done
f=$(median <<<"$first") rs=$(median <<<"$open")
echo "first rows seconds tab=$f (select=$(median <<<"$select") paint=$(median <<<"$paint")) recordset=$rs" \
     "tab/recordset=$(awk -v a="$f" -v b="$rs" 'BEGIN { printf "%.3f", a / b }');" \
     "Ctrl+End ms=$(median <<<"$end"); peak_rss_kb tab=$rss_tab recordset=$rss_rs"
