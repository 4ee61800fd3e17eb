#!/usr/bin/env bash
# calvoro-cli backup and restore with several connections, against mariadb-dump + mariadb and
# against mydumper + myloader with the same number of threads.
#
#   run_parallel_bench.sh BUILD_DIR HOST PORT USER PASSWORD [THREADS [ROUNDS]]
#
# Two data sets (SETS="big many" by default; SKIP_SETUP=1 keeps the ones there are):
#   big   calvoro_pbench.mixed_rows: ROWS rows (default 1000000) of ten mixed columns
#         (utf8mb4 text with emoji, DECIMAL, DOUBLE, DATETIME, BLOB), the only table of its
#         database;
#   many  calvoro_pbench_many: 100 tables of 10,000 rows, ten views, triggers and routines.
# Per set and round (default 3 rounds; the clients' order alternates from round to round):
#   backup   calvoro-cli backup --parallel THREADS, mariadb-dump, mydumper -t THREADS;
#   restore  calvoro-cli restore --parallel THREADS of its own file and of mariadb-dump's,
#            mariadb of mariadb-dump's file, myloader -t THREADS of mydumper's folder.
# Every restore goes into the emptied database calvoro_pbench_restore and must give every
# table the source's row count and checksum, and the same number of views, routines and
# triggers. Every run goes under /usr/bin/time -v. Prints every run, then per operation and
# client the median seconds, the ratio to the peers, and the largest peak resident set size.
# OUR_BACKUP_ARGS (default --parallel THREADS) / OUR_RESTORE_ARGS (default --parallel THREADS) are given to
# calvoro-cli backup / restore (e.g. empty, to measure a build without the option). The files go to a temporary folder under BUILD_DIR, removed at the end.
set -euo pipefail

[ $# -ge 5 ] || { echo "usage: $0 BUILD_DIR HOST PORT USER PASSWORD [THREADS [ROUNDS]]" >&2; exit 2; }
build=$1 host=$2 port=$3 user=$4 password=$5 threads=${6:-2} rounds=${7:-3}
rows=${ROWS:-1000000}
cli=$build/src/cli/calvoro-cli
[ -x "$cli" ] || { echo "$0: $cli is missing; build calvoro-cli first" >&2; exit 2; }
for tool in mariadb mariadb-dump mydumper myloader; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is missing; run scripts/install-deps.sh" >&2; exit 2; }
done
read -r -a ourbackup <<<"${OUR_BACKUP_ARGS---parallel $threads}"
read -r -a ourrestore <<<"${OUR_RESTORE_ARGS---parallel $threads}"
login=(-h "$host" -P "$port" -u "$user" -p"$password")
ourlogin=(-h "$host" -P "$port" -u "$user" -p "$password" --ssl-mode DISABLED)  # the peers' default
mariadb() { command mariadb --no-defaults --default-character-set=utf8mb4 "${login[@]}" "$@"; }

work=$(mktemp -d "$build/parallel_bench.XXXXXX")
timing=$work/time.txt errors=$work/stderr.txt
trap 'rm -rf "$work"' EXIT
target=calvoro_pbench_restore

setup_big() {
  mariadb <<SQL
CREATE DATABASE IF NOT EXISTS calvoro_pbench CHARACTER SET utf8mb4;
CREATE OR REPLACE TABLE calvoro_pbench.mixed_rows (
  id INT NOT NULL PRIMARY KEY, name VARCHAR(60), note TEXT, price DECIMAL(12,2), ratio DOUBLE,
  created DATETIME, updated DATETIME(6), data BLOB, qty INT, flag TINYINT) DEFAULT CHARSET=utf8mb4;
INSERT INTO calvoro_pbench.mixed_rows
SELECT seq, CONCAT('név-', seq, ' 😀'),
  IF(seq % 10 = 0, NULL, CONCAT(REPEAT(CHAR(97 + seq % 26), seq % 40), ' ünïcödé 🐬')),
  (seq % 1000000) / 100, seq / 7, TIMESTAMP'2020-01-01 00:00:00' + INTERVAL seq MINUTE,
  TIMESTAMP'2021-01-01 00:00:00' + INTERVAL seq SECOND + INTERVAL (seq % 1000000) MICROSECOND,
  UNHEX(SHA2(seq, 256)), seq % 5000, seq % 2
FROM calvoro_pbench.seq_1_to_$rows;
SQL
}

setup_many() {
  {
    echo "CREATE OR REPLACE DATABASE calvoro_pbench_many CHARACTER SET utf8mb4; USE calvoro_pbench_many;"
    for i in $(seq 1 100); do
      t=$(printf 't%03d' "$i")
      echo "CREATE TABLE $t (id INT NOT NULL PRIMARY KEY, name VARCHAR(60), note TEXT, price DECIMAL(12,2),
              ratio DOUBLE, created DATETIME, data BLOB, qty INT, flag TINYINT, KEY k_qty (qty));
            INSERT INTO $t SELECT seq, CONCAT('név-', seq, ' 😀'), IF(seq % 10 = 0, NULL, REPEAT(CHAR(97 + seq % 26), seq % 40)),
              (seq % 100000) / 100, seq / 7, TIMESTAMP'2020-01-01 00:00:00' + INTERVAL seq MINUTE,
              UNHEX(SHA2(seq, 256)), seq % 500, seq % 2 FROM seq_1_to_10000;"
    done
    for i in $(seq 1 10); do
      t=$(printf 't%03d' "$i")
      echo "CREATE VIEW v$i AS SELECT id, name, qty FROM $t WHERE flag = 1;
            CREATE TABLE log$i (id INT AUTO_INCREMENT PRIMARY KEY, t_id INT, at DATETIME);
            CREATE TRIGGER tr$i AFTER INSERT ON $t FOR EACH ROW INSERT INTO log$i (t_id, at) VALUES (NEW.id, NOW());
            CREATE FUNCTION f$i(x INT) RETURNS INT DETERMINISTIC RETURN x * $i;
            CREATE PROCEDURE p$i() SELECT COUNT(*) FROM $t;"
    done
  } | mariadb
}

# The row count and checksum of every table, and the counts of views, routines and triggers.
fingerprint() {
  local db=$1 table
  for table in $(mariadb -N -e "SELECT table_name FROM information_schema.tables WHERE table_schema = '$db'
                                AND table_type = 'BASE TABLE' ORDER BY table_name"); do
    echo "$table $(mariadb -N -e "SELECT COUNT(*) FROM \`$db\`.\`$table\`") $(mariadb -N -e "CHECKSUM TABLE \`$db\`.\`$table\`" | awk '{ print $2 }')"
  done
  mariadb -N -e "SELECT (SELECT COUNT(*) FROM information_schema.views WHERE table_schema = '$db'),
                        (SELECT COUNT(*) FROM information_schema.routines WHERE routine_schema = '$db'),
                        (SELECT COUNT(*) FROM information_schema.triggers WHERE trigger_schema = '$db')"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# measure LABEL COMMAND...: runs COMMAND under /usr/bin/time -v (standard input from $input,
# default /dev/null; standard output to $output, default /dev/null); sets wall and kb.
measure() {
  local label=$1 start
  shift
  start=$(date +%s.%N)
  if ! /usr/bin/time -v -o "$timing" "$@" <"${input:-/dev/null}" >"${output:-/dev/null}" 2>"$errors"; then
    echo "$0: $label failed:" >&2
    tail -20 "$errors" >&2
    exit 1
  fi
  wall=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }')
  kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$timing")
}

declare -A seconds=() rss=()
record() {  # record SET OPERATION CLIENT ROUND
  echo "$1 $2 $3 round $4: seconds=$wall peak_rss_kb=$kb"
  seconds[$1,$2,$3]+="$wall "
  [ "${rss[$1,$2,$3]:-0}" -ge "$kb" ] || rss[$1,$2,$3]=$kb
}

fresh_target() { mariadb -e "DROP DATABASE IF EXISTS $target; CREATE DATABASE $target CHARACTER SET utf8mb4"; }

verify() {  # verify SET LABEL
  fingerprint "$target" >"$work/copy.txt"
  if ! diff -q "$work/source.txt" "$work/copy.txt" >/dev/null; then
    echo "$0: $2: $target differs from the source:" >&2
    diff "$work/source.txt" "$work/copy.txt" | head -10 >&2
    exit 1
  fi
}

run_set() {
  local set=$1 db ourobjects peerflags=() table=()
  case $set in
    big) db=calvoro_pbench; table=(mixed_rows); ourobjects=tables,data ;;
    many) db=calvoro_pbench_many; ourobjects=tables,data,views,routines,triggers; peerflags=(--routines --triggers) ;;
  esac
  if [ "$set" = big ]; then
    # Only the one table of its database is compared.
    fingerprint_source() { echo "mixed_rows $(mariadb -N -e "SELECT COUNT(*) FROM $db.mixed_rows") $(mariadb -N -e "CHECKSUM TABLE $db.mixed_rows" | awk '{ print $2 }')"; echo "0	0	0"; }
  else
    fingerprint_source() { fingerprint "$db"; }
  fi
  fingerprint_source >"$work/source.txt"
  local ourfile=$work/$set.ours.sql peerfile=$work/$set.peer.sql mydir=$work/$set.mydumper
  local round order client
  for round in $(seq 1 "$rounds"); do
    order="ours mariadb mydumper"
    (( round % 2 )) || order="mydumper mariadb ours"
    for client in $order; do
      case $client in
        ours) measure "calvoro-cli backup" "$cli" backup "${ourlogin[@]}" -D "$db" --objects "$ourobjects" \
                ${table:+--tables "${table[*]}"} "${ourbackup[@]}" -o "$ourfile" ;;
        mariadb) output=$peerfile measure "mariadb-dump" mariadb-dump --no-defaults "${login[@]}" \
                   --default-character-set=utf8mb4 --single-transaction "${peerflags[@]}" "$db" "${table[@]}" ;;
        mydumper) rm -rf "$mydir"
                  measure "mydumper" mydumper -h "$host" -P "$port" -u "$user" -p "$password" -t "$threads" \
                    -r 100000 --trx-consistency-only "${peerflags[@]/--triggers/-G}" -B "$db" -o "$mydir" ;;
      esac
      record "$set" backup "$client" "$round"
    done
    for client in $order ours-peerfile; do
      fresh_target
      case $client in
        ours) measure "calvoro-cli restore" "$cli" restore "${ourlogin[@]}" -D "$target" "${ourrestore[@]}" "$ourfile" ;;
        ours-peerfile) measure "calvoro-cli restore of mariadb-dump's file" "$cli" restore "${ourlogin[@]}" -D "$target" \
                         "${ourrestore[@]}" "$peerfile" ;;
        mariadb) input=$peerfile measure "mariadb restore" mariadb --no-defaults "${login[@]}" \
                   --default-character-set=utf8mb4 "$target" ;;
        mydumper) measure "myloader" myloader -h "$host" -P "$port" -u "$user" -p "$password" -t "$threads" \
                    -d "$mydir" -s "$db" -B "$target" -o ;;
      esac
      verify "$set" "restore $client round $round"
      record "$set" restore "$client" "$round"
    done
  done
  echo "$set: file bytes calvoro-cli=$(stat -c %s "$ourfile") mariadb-dump=$(stat -c %s "$peerfile")" \
       "mydumper=$(du -sb "$mydir" | cut -f1)"
}

sets=${SETS:-big many}
if [ "${SKIP_SETUP:-0}" != 1 ]; then
  for set in $sets; do "setup_$set"; done
fi
for set in $sets; do run_set "$set"; done

echo
echo "THREADS=$threads ROUNDS=$rounds ROWS=$rows"
printf '%-5s %-8s %-14s %9s %9s %9s %12s\n' set op client median_s /mariadb /mydumper peak_rss_mib
for set in $sets; do
  for op in backup restore; do
    clients="ours mariadb mydumper"
    [ "$op" = restore ] && clients="ours ours-peerfile mariadb mydumper"
    m=$(tr ' ' '\n' <<<"${seconds[$set,$op,mariadb]}" | grep . | median)
    y=$(tr ' ' '\n' <<<"${seconds[$set,$op,mydumper]}" | grep . | median)
    for client in $clients; do
      s=$(tr ' ' '\n' <<<"${seconds[$set,$op,$client]}" | grep . | median)
      awk -v set="$set" -v op="$op" -v c="$client" -v s="$s" -v m="$m" -v y="$y" -v kb="${rss[$set,$op,$client]}" \
        'BEGIN { printf "%-5s %-8s %-14s %9.2f %9.2f %9.2f %12.1f\n", set, op, c, s, s / m, s / y, kb / 1024 }'
    done
  done
done
mariadb -e "DROP DATABASE IF EXISTS $target"
