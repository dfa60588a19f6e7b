#!/bin/sh
# Tapes to CSV and back, and tapes cut and joined: a generated day of both
# exchanges comes back whole; values at the edges of their fields' ranges
# come back as written; each kind of bad row stops the import with its file,
# line and reason and leaves no tape; slice and merge keep what their inputs'
# stats say they should.
set -eu
tool=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
for name in CONFIG TAPE SEED INSTRUMENTS SESSIONS SNAPSHOT_MS TRADE_RATE SPEED AUCTIONS; do
  unset "VELTRANE_SIM_$name"
done
fail() { echo "FAIL: $*" >&2; exit 1; }
stats() { "$tool" stats "$1" | tail -n +2; }  # without the line naming the file

# A day with both auctions, two codes of each exchange, all ten levels.
"$tool" generate "$dir/day.tape" --seed 5 \
  --instruments 600000:10.52,601318:45.10,000001:11.23,300750:180.5 \
  --sessions 0930-0950 > /dev/null
"$tool" export "$dir/day.tape" "$dir/csv" > "$dir/out" || fail "export: $(cat "$dir/out")"
messages=$("$tool" stats "$dir/day.tape" | awk '$1 == "messages" { print $2 }')
rows=$(($(wc -l < "$dir/csv/snapshots.csv") + $(wc -l < "$dir/csv/trades.csv") - 2))
[ "$rows" -eq "$messages" ] || fail "$rows rows for $messages messages"
grep -q '^time,code,exchange,phase,pre_close,open,high,low,last,volume,amount,bid_price1,' \
  "$dir/csv/snapshots.csv" || fail "snapshot header: $(head -n 1 "$dir/csv/snapshots.csv")"
head -n 1 "$dir/csv/snapshots.csv" | grep -q ',ask_price10,ask_volume1,.*,ask_volume10$' ||
  fail "the levels' columns"
[ "$(head -n 1 "$dir/csv/trades.csv")" = "time,code,exchange,price,volume,side" ] ||
  fail "trade header: $(head -n 1 "$dir/csv/trades.csv")"
awk -F, 'NR > 1 && $21 == 0 && $4 == "T" { exit 1 }' "$dir/csv/snapshots.csv" ||
  fail "a continuous snapshot without a tenth bid"
"$tool" dump "$dir/day.tape" > "$dir/dump.a"
# Each exchange's columns hold its own fields (their layouts differ): the
# last snapshot's high, low, last and best bid as the dump reads them.
for code in 600000 000001; do
  csv=$(grep "^[0-9]*,$code," "$dir/csv/snapshots.csv" | tail -n 1 | cut -d, -f7,8,9,12,22)
  shown=$(grep " $code last=" "$dir/dump.a" | tail -n 1 |
    sed 's/.*last=\([^ ]*\) open=[^ ]* high=\([^ ]*\) low=\([^ ]*\) .* bids=\([^x]*\)x\([0-9]*\).*/\2,\3,\1,\4,\5/')
  awk -v a="$csv" -v b="$shown" 'BEGIN { if (split(a, x, ",") != 5 || split(b, y, ",") != 5) exit 1
    for (i = 1; i <= 5; i++) if (x[i] + 0 != y[i] + 0) exit 1 }' || fail "$code: columns $csv, dump $shown"
done
"$tool" import "$dir/csv" "$dir/back.tape" > /dev/null || fail "import of an export"
[ "$(stats "$dir/back.tape")" = "$(stats "$dir/day.tape")" ] || fail "stats after a round trip"
"$tool" dump "$dir/back.tape" > "$dir/dump.b"
cmp -s "$dir/dump.a" "$dir/dump.b" || fail "dump after a round trip: $(diff "$dir/dump.a" "$dir/dump.b" | head -n 4)"
cmp -s "$dir/day.tape" "$dir/back.tape" || fail "the round trip changed the tape's bytes"

# Edges: the largest and smallest doubles, the largest 64-bit and unsigned
# 32-bit volumes, the first and last times of day, a phase that needs quotes.
edges="$dir/edges"
mkdir "$edges"
levels=$(printf ',0%.0s' $(seq 40))
{
  echo "time,code,exchange,phase,pre_close,open,high,low,last,volume,amount$(seq 10 | sed 's/^/,bid_price/' | tr -d '\n')$(seq 10 | sed 's/^/,bid_volume/' | tr -d '\n')$(seq 10 | sed 's/^/,ask_price/' | tr -d '\n')$(seq 10 | sed 's/^/,ask_volume/' | tr -d '\n')"
  echo "0,600000,SH,\"T,1\",1.7976931348623157e+308,5e-324,0.01,0.1,2.2250738585072014e-308,9223372036854775807,1e+22$levels"
  echo "93000000,000001,SZ,T,0.3,0.30000000000000004,1,2,3,1.7976931348623157e+308,123456789.12345679$levels"
  echo "235959999,600000,SH,,0,0,0,0,0,0,0,1,2,3,4,5,6,7,8,9,10,9223372036854775807,1,1,1,1,1,1,1,1,2,0.01,0,0,0,0,0,0,0,0,0,1,0,0,0,0,0,0,0,0,0"
} > "$edges/snapshots.csv"
cat > "$edges/trades.csv" << 'EOF'
time,code,exchange,price,volume,side
0,600000,SH,5e-324,4294967295,1
93000000,000001,SZ,1.7976931348623157e+308,5e-324,2
235959999,600000,SH,10.57,0,0
EOF
"$tool" import "$edges" "$dir/edges.tape" > /dev/null || fail "edge values refused"
"$tool" export "$dir/edges.tape" "$dir/edges.out" > /dev/null
for file in snapshots trades; do
  cmp -s "$edges/$file.csv" "$dir/edges.out/$file.csv" ||
    fail "$file at the edges: $(diff "$edges/$file.csv" "$dir/edges.out/$file.csv")"
done

# Vendors' own column names, codes that carry their exchange, clock times.
vendor="$dir/vendor"
mkdir "$vendor"
cat > "$vendor/trades.csv" << 'EOF'
TradeTime,SecurityID,Price,Qty,BSFlag,Channel
09:30:00.120,600000.SH,10.5,300,1,7
09:30:01,000001.SZ,11.2,100,2,7
EOF
"$tool" import "$vendor" "$dir/vendor.tape" \
  --columns TradeTime=time,SecurityID=code,Price=price,Qty=volume,BSFlag=side > "$dir/out" ||
  fail "vendor columns: $(cat "$dir/out")"
grep -q "has no snapshots.csv" "$dir/out" || fail "the missing file is not mentioned"
# Without trades.csv a day's books never trade: refused unless asked for.
mkdir "$dir/books"
cp "$dir/csv/snapshots.csv" "$dir/books/"
if "$tool" import "$dir/books" "$dir/books.tape" > /dev/null 2> "$dir/err"; then
  fail "imported without trades.csv"
fi
grep -qF "books/trades.csv: no such file (--snapshots-only imports the snapshots alone)" "$dir/err" ||
  fail "no trades.csv: $(cat "$dir/err")"
"$tool" import "$dir/books" "$dir/books.tape" --snapshots-only > /dev/null || fail "--snapshots-only"
"$tool" dump "$dir/vendor.tape" > "$dir/dump"
grep -q "^09:30:00.120 SSEL2_Transaction 600000 B 300@10.50" "$dir/dump" || fail "vendor row: $(cat "$dir/dump")"
grep -q "^09:30:01.000 SZSEL2_Transaction 000001 S 100@11.20" "$dir/dump" || fail "vendor row: $(cat "$dir/dump")"

# Bad rows: "name|file|message" then the file's lines. Each stops the import.
header="time,code,exchange,price,volume,side"
bad_case() {
  name=$1 file=$2 expected=$3
  rm -rf "$dir/bad" && mkdir "$dir/bad"
  echo "$header" > "$dir/bad/trades.csv"  # a day with no trades, unless the case's file
  cat > "$dir/bad/$file"
  if "$tool" import "$dir/bad" "$dir/bad.tape" > /dev/null 2> "$dir/err"; then
    fail "$name: imported"
  fi
  grep -qF "$expected" "$dir/err" || fail "$name: $(cat "$dir/err")"
  [ ! -e "$dir/bad.tape" ] || fail "$name: left a tape"
  [ -z "$(find "$dir" -maxdepth 1 -name 'bad.tape*')" ] || fail "$name: left a partial tape"
}
printf '%s\n' "time,code,exchange,price,side" "93000000,600000,SH,10.5,1" |
  bad_case "missing column" trades.csv 'trades.csv:1: no column "volume"'
printf '%s\n' "$header" "93000000,600000,SH,10.5,100,1" "93000100,600000,SH,10.5,1OO,1" |
  bad_case "text in a number" trades.csv 'trades.csv:3:5: volume: "1OO" is not a number'
printf '%s\n' "$header" "93000000,600000,SH,10.5,100,1" "92959999,600000,SH,10.5,100,1" |
  bad_case "time going backwards" trades.csv 'trades.csv:3:1: time 92959999 is earlier than the row before'
printf '%s\n' "$header" "93000000,600000,SH,10.5,100" |
  bad_case "missing cell" trades.csv 'trades.csv:2: 5 cells where the header has 6'
printf '%s\n' "$header" "93000000,600000,SH,10.5,4294967296,1" |
  bad_case "over a field's range" trades.csv 'trades.csv:2:5: volume: "4294967296" is out of range'
printf '%s\n' "$header" "93000000,600000,SH,-10.5,100,1" |
  bad_case "negative price" trades.csv 'trades.csv:2:4: price: "-10.5" is out of range'
printf '%s\n' "$header" "96000000,600000,SH,10.5,100,1" |
  bad_case "not a time of day" trades.csv 'trades.csv:2:1: time: "96000000" is not a time'
printf '%s\n' "$header" "93000000,600000,XX,10.5,100,1" |
  bad_case "unknown exchange" trades.csv 'trades.csv:2:3: exchange: "XX" is neither SH nor SZ'
printf '%s\n' "time,code,price,volume,side" "93000000,600000,10.5,100,1" |
  bad_case "no exchange at all" trades.csv 'trades.csv:2:2: code: "600000" names no exchange'
printf '%s\n' "time,code,exchange,phase" "93000000,600000,SH,T" |
  bad_case "snapshot without levels" snapshots.csv 'snapshots.csv:1: no column "pre_close"'
# What pandas leaves of a file: NaN as an empty cell, 000001 read as the number 1.
printf '%s\n' "$header" "93000000,600000,SH,,1800,1" |
  bad_case "empty price" trades.csv 'trades.csv:2:4: price: an empty cell (pandas writes NaN so)'
printf '%s\n' "$header" "93000000,600000,SH,10.5,,1" |
  bad_case "empty volume" trades.csv 'trades.csv:2:5: volume: an empty cell'
printf '%s\n' "$header" "93000000,600000,SH,nan,100,1" |
  bad_case "NaN price" trades.csv 'trades.csv:2:4: price: "nan" is out of range'
printf '%s\n' "$header" "93000000,1,SZ,10.5,100,1" |
  bad_case "code without its zeros" trades.csv 'trades.csv:2:2: code: "1" is not a six-digit code (read the CSV with dtype={"code": str} to keep leading zeros)'
printf '%s\n' "$header" "93000000,600000,SH,10.5,100,5" |
  bad_case "unknown side" trades.csv 'trades.csv:2:6: side: "5" is not a side: 1 (the buyer took the asks), 2 (the seller took the bids) or 0'
{ head -n 1 "$dir/csv/snapshots.csv"; sed -n 2p "$dir/csv/snapshots.csv" | awk -F, -v OFS=, '{ $22 = ""; print }'; } |
  bad_case "empty level" snapshots.csv 'snapshots.csv:2:22: bid_volume1: an empty cell'
# A bad row after good ones in the other file still leaves no tape.
cp "$dir/csv/snapshots.csv" "$dir/good_snapshots.csv"
{ cat "$dir/csv/trades.csv"; echo "235959999,600000,SH,10.5,100,abc"; } > "$dir/bad_trades.csv"
rm -rf "$dir/mixed" && mkdir "$dir/mixed"
mv "$dir/good_snapshots.csv" "$dir/mixed/snapshots.csv"
mv "$dir/bad_trades.csv" "$dir/mixed/trades.csv"
if "$tool" import "$dir/mixed" "$dir/mixed.tape" > /dev/null 2> "$dir/err"; then fail "mixed: imported"; fi
grep -q 'trades.csv:[0-9]*:6: side: "abc" is not a number' "$dir/err" || fail "mixed: $(cat "$dir/err")"
[ -z "$(find "$dir" -maxdepth 1 -name 'mixed.tape*')" ] || fail "mixed: left a tape"

# Slices: by code they partition the day, and merged back they give its stats.
"$tool" slice "$dir/day.tape" "$dir/sh.tape" --codes 600000.SH,601318 > /dev/null
"$tool" slice "$dir/day.tape" "$dir/sz.tape" --codes 000001.SZ,300750.SZ > /dev/null
count() { "$tool" stats "$1" | awk '$1 == "messages" { print $2 }'; }
[ "$(($(count "$dir/sh.tape") + $(count "$dir/sz.tape")))" -eq "$messages" ] || fail "code slices"
# A code the tape lacks (Shanghai's 000001 is an index this day has not) is
# an error naming it, not an empty tape.
if "$tool" slice "$dir/day.tape" "$dir/none.tape" --codes 600000,000001.SH,688999 > /dev/null \
  2> "$dir/err"; then
  fail "a slice of codes the tape lacks"
fi
grep -qF "day.tape: no message of 000001.SH, 688999; nothing written" "$dir/err" ||
  fail "codes the tape lacks: $(cat "$dir/err")"
[ ! -e "$dir/none.tape" ] || fail "a slice of codes the tape lacks left a tape"
"$tool" dump "$dir/sz.tape" | awk '$3 != "000001" && $3 != "300750" { exit 1 }' || fail "--codes"
"$tool" merge "$dir/merged.tape" "$dir/sz.tape" "$dir/sh.tape" > "$dir/out"
grep -q "merged $messages messages of 2 tapes" "$dir/out" || fail "merge: $(cat "$dir/out")"
[ "$(stats "$dir/merged.tape")" = "$(stats "$dir/day.tape")" ] || fail "stats of the merged slices"
# At equal times the earlier input's messages come first.
"$tool" dump "$dir/merged.tape" | awk '$1 == "09:25:00.000" { print substr($2, 1, 3) }' | uniq > "$dir/order"
[ "$(cat "$dir/order")" = "$(printf 'SZS\nSSE')" ] || fail "merge order at 09:25: $(cat "$dir/order")"

# A time slice holds exactly the messages of its range, both ends included.
"$tool" slice "$dir/day.tape" "$dir/open.tape" --from 09:25 --to 09:30:00 > /dev/null
expected=$(awk '$1 >= "09:25:00.000" && $1 <= "09:30:00.000"' "$dir/dump.a" | wc -l)
[ "$(count "$dir/open.tape")" -eq "$expected" ] || fail "time slice: $(count "$dir/open.tape") of $expected"
"$tool" stats "$dir/open.tape" | grep -q "^exchange time  09:25:00.000 to 09:30:00.000$" ||
  fail "time slice's range: $("$tool" stats "$dir/open.tape")"

# A tape whose writer died: its whole records are copied, with a warning.
head -c -3 "$dir/day.tape" > "$dir/cut.tape"
"$tool" slice "$dir/cut.tape" "$dir/cut_slice.tape" 2> "$dir/err" > /dev/null || fail "slice of a cut tape"
grep -q "warning: .*cut short" "$dir/err" || fail "no warning for a cut tape"
[ "$(count "$dir/cut_slice.tape")" -eq $((messages - 1)) ] || fail "the cut tape's records"
cp "$dir/day.tape" "$dir/flipped.tape"
printf 'Z' | dd of="$dir/flipped.tape" bs=1 seek=5050 conv=notrunc 2> /dev/null
for command in "export $dir/flipped.tape $dir/flipped" "slice $dir/flipped.tape $dir/f.tape" \
  "merge $dir/f.tape $dir/day.tape $dir/flipped.tape"; do
  # shellcheck disable=SC2086 # the command's words
  if "$tool" $command > /dev/null 2> "$dir/err"; then fail "$command passed a damaged tape"; fi
  grep -q "checksum does not match" "$dir/err" || fail "$command: $(cat "$dir/err")"
done
[ ! -e "$dir/f.tape" ] && [ ! -e "$dir/flipped/snapshots.csv" ] || fail "a damaged tape left output"
set +e
"$tool" slice "$dir/day.tape" "$dir/x.tape" --from 9h30 2> /dev/null
[ $? -eq 1 ] || fail "a bad --from"
"$tool" import "$dir/csv" "$dir/x.tape" --columns time 2> /dev/null
[ $? -eq 1 ] || fail "a bad --columns"
"$tool" merge "$dir/x.tape" 2> /dev/null
[ $? -eq 2 ] || fail "merge without inputs is not a usage error"
echo "tape_csv: all checks passed"
