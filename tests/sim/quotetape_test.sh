#!/bin/sh
# The tape tool: generate is deterministic and honours both its options and
# the feed's variables; dump and stats agree with each other and with the
# market's sums; damaged tapes and bad commands fail with a reason.
set -eu
tool=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
for name in CONFIG TAPE SEED INSTRUMENTS SESSIONS SNAPSHOT_MS TRADE_RATE SPEED AUCTIONS; do
  unset "VELTRANE_SIM_$name"
done
fail() { echo "FAIL: $*" >&2; exit 1; }

"$tool" generate "$dir/a.tape" --seed 3 --instruments 600000:10.52,000001:11.23 \
  --sessions 0930-0940 --auctions off > "$dir/out" || fail "generate"
grep -q "for 2 instruments" "$dir/out" || fail "generate's summary: $(cat "$dir/out")"
"$tool" generate "$dir/b.tape" --seed 3 --instruments 600000:10.52,000001:11.23 \
  --sessions 0930-0940 --auctions off > /dev/null
cmp -s "$dir/a.tape" "$dir/b.tape" || fail "same options, different tapes"
VELTRANE_SIM_SEED=3 VELTRANE_SIM_INSTRUMENTS=600000:10.52,000001:11.23 \
  VELTRANE_SIM_SESSIONS=0930-0940 VELTRANE_SIM_AUCTIONS=off "$tool" generate "$dir/c.tape" \
  > /dev/null
cmp -s "$dir/a.tape" "$dir/c.tape" || fail "the variables and the options differ"
"$tool" generate "$dir/d.tape" --seed 4 --instruments 600000:10.52,000001:11.23 \
  --sessions 0930-0940 --auctions off > /dev/null
! cmp -s "$dir/a.tape" "$dir/d.tape" || fail "another seed, the same tape"

"$tool" stats "$dir/a.tape" > "$dir/stats"
messages=$(awk '$1 == "messages" { print $2 }' "$dir/stats")
[ "$("$tool" dump "$dir/a.tape" | wc -l)" -eq "$messages" ] || fail "dump and stats count apart"
# 201 snapshots each (every 3 s for 10 minutes, both ends included).
[ "$(grep -c "SSEL2_Quotation" "$dir/stats" || true)" -eq 1 ] || fail "no snapshot line in stats"
awk '$1 == "SSEL2_Quotation" && $2 != 201 { exit 1 }' "$dir/stats" || fail "snapshot count"
# The traded volume of each code equals its last snapshot's total volume.
awk '/^  [0-9][0-9][0-9][0-9][0-9][0-9] / { if ($4 != $5) exit 1; seen++ } END { exit seen == 2 ? 0 : 1 }' \
  "$dir/stats" || fail "volumes disagree: $(cat "$dir/stats")"
"$tool" dump "$dir/a.tape" --code 000001 --limit 5 > "$dir/dump"
[ "$(wc -l < "$dir/dump")" -eq 5 ] || fail "--limit"
grep -v -q " 000001 " "$dir/dump" && fail "--code let another code through"
head -n 1 "$dir/dump" | grep -q "^09:30:00.000 SZSEL2_Quotation 000001 last=0.00 .* pre=11.23 .* bids=.* phase=T$" \
  || fail "first line: $(head -n 1 "$dir/dump")"
grep -q "^call auctions  0 snapshots in a call, 0 uncross trades" "$dir/stats" \
  || fail "auctions in a tape without them: $(cat "$dir/stats")"

# With the auctions: the calls' snapshots show their indicative uncross, each
# uncross prints at one price at 09:25 and at the close, and its volume is in
# the day's.
"$tool" generate "$dir/auctions.tape" --seed 3 --instruments 600000:10.52,000001:11.23 \
  --sessions 0930-0940 > /dev/null
"$tool" stats "$dir/auctions.tape" > "$dir/stats"
grep -q "^call auctions  [1-9][0-9]* snapshots in a call, [1-9][0-9]* uncross trades" "$dir/stats" \
  || fail "no auctions: $(cat "$dir/stats")"
for code in 600000 000001; do
  for time in 09:25:00.000 09:40:00.000; do
    grep -q "^  $code uncross $time [0-9]*@[0-9.]*$" "$dir/stats" || fail "$code at $time: $(cat "$dir/stats")"
  done
done
awk '/^  [0-9][0-9][0-9][0-9][0-9][0-9] / && $2 != "uncross" { if ($4 != $5) exit 1 }' "$dir/stats" \
  || fail "volumes disagree"
"$tool" dump "$dir/auctions.tape" --code 600000 > "$dir/dump"
grep -q "^09:2[0-4]:[0-9.]* SSEL2_Quotation 600000 .* phase=C indicative=[0-9.]*x[0-9]*" "$dir/dump" \
  || fail "no indicative uncross in the opening call"
grep -q "^09:3[7-9]:[0-9.]* SSEL2_Quotation 600000 .* phase=U indicative=" "$dir/dump" \
  || fail "no closing call"
[ "$(grep "^09:25:00.000 SSEL2_Transaction 600000 U " "$dir/dump" | sed 's/.*@//' | sort -u | wc -l)" -eq 1 ] \
  || fail "the opening uncross is not at one price"

head -c -1 "$dir/a.tape" > "$dir/cut.tape"
if "$tool" stats "$dir/cut.tape" > /dev/null 2> "$dir/err"; then fail "a cut tape passed"; fi
grep -q "cut short" "$dir/err" || fail "cut tape: $(cat "$dir/err")"
# A changed byte inside a record: reported with where the record starts.
cp "$dir/a.tape" "$dir/flipped.tape"
printf 'Z' | dd of="$dir/flipped.tape" bs=1 seek=5050 conv=notrunc 2> /dev/null
! cmp -s "$dir/a.tape" "$dir/flipped.tape" || fail "the byte did not change"
for command in stats dump; do
  if "$tool" $command "$dir/flipped.tape" > /dev/null 2> "$dir/err"; then
    fail "$command passed a damaged tape"
  fi
  grep -q "record at byte [0-9]*: a record whose checksum does not match" "$dir/err" ||
    fail "$command on a damaged tape: $(cat "$dir/err")"
done
# check: whether a replay gives the whole day, as a backtest asks first.
messages=$("$tool" stats "$dir/a.tape" | awk '$1 == "messages" { print $2 }')
"$tool" check "$dir/a.tape" > "$dir/out" || fail "check of a whole tape"
grep -q "a.tape: $messages messages, " "$dir/out" || fail "check: $(cat "$dir/out")"
head -c 12 "$dir/a.tape" > "$dir/header.tape"
for case in "flipped|tape damaged at byte [0-9]* (a record whose checksum does not match.*); only [0-9]* of $messages messages can be replayed" \
  "cut|tape damaged at byte [0-9]* (the last record is cut short); only $((messages - 1)) of $messages messages" \
  "header|no market data: none of its 0 messages is a snapshot or a trade"; do
  name=${case%%|*}
  if "$tool" check "$dir/$name.tape" > /dev/null 2> "$dir/err"; then fail "check passed $name"; fi
  grep -q "$name.tape: ${case#*|}" "$dir/err" || fail "check of $name: $(cat "$dir/err")"
done
mkfifo "$dir/fifo.tape"
if "$tool" stats "$dir/fifo.tape" > /dev/null 2> "$dir/err"; then fail "a FIFO passed"; fi
grep -q "not a regular file" "$dir/err" || fail "FIFO: $(cat "$dir/err")"
if "$tool" generate "$dir/e.tape" --seed abc 2> "$dir/err"; then fail "--seed abc passed"; fi
grep -q "VELTRANE_SIM_SEED='abc'" "$dir/err" || fail "bad seed: $(cat "$dir/err")"
# settings: the table, and a check of settings as the exchange reads them.
"$tool" settings | cut -f1 | grep -qx VELTRANE_SIM_SPEED || fail "settings lists no speed"
"$tool" settings VELTRANE_SIM_SPEED=max VELTRANE_SIM_SEED=7 || fail "good settings refused"
if "$tool" settings VELTRANE_SIM_SPEEED=max 2> "$dir/err"; then fail "a typo passed"; fi
grep -qF "VELTRANE_SIM_SPEEED is not a setting of the simulated exchange; did you mean VELTRANE_SIM_SPEED?" \
  "$dir/err" || fail "typo: $(cat "$dir/err")"
if VELTRANE_SIM_SEDE=2 "$tool" generate "$dir/e.tape" 2> "$dir/err"; then fail "a typo in the environment passed"; fi
grep -qF "did you mean VELTRANE_SIM_SEED?" "$dir/err" || fail "typo in the environment: $(cat "$dir/err")"
set +e
"$tool" frobnicate "$dir/a.tape" 2> /dev/null
[ $? -eq 2 ] || fail "an unknown command is not a usage error"
"$tool" dump "$dir/a.tape" --colour 2> /dev/null
[ $? -eq 2 ] || fail "an unknown option is not a usage error"
echo "quotetape: all checks passed"
