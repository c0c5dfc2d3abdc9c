#!/usr/bin/env bash
# Runs pelmora-centile on small inputs and compares what it prints and its exit status.
set -u
bin=${PELMORA_CENTILE:?set PELMORA_CENTILE to the pelmora-centile binary}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# expect_status WANT DESCRIPTION -- command...
expect_status() {
  local want=$1 what=$2; shift 3
  "$@" >"$tmp/out" 2>"$tmp/err"
  local got=$?
  [ "$got" -eq "$want" ] || fail "$what: exit status $got, expected $want ($(head -c 300 "$tmp/err"))"
}
expect_line() {  # expect_line FILE LINE DESCRIPTION
  grep -qxF -- "$2" "$1" || fail "$3: no line '$2' in: $(head -c 600 "$1")"
}

# --- One evaluation from flags ------------------------------------------------------------
uk=(--base "United Kingdom" --bwt 3500 --wt 64 --ht 163 --sex Male --eth European --par 0)
expect_status 0 "UK case A" -- "$bin" "${uk[@]}" --gest-weeks 40
expect_line "$tmp/out" "Centile: 48.43984325029622" "UK case A"
expect_line "$tmp/out" "  term weight                3504.5" "UK case A term weight"
expect_line "$tmp/out" "  weeks                      40" "UK case A weeks"
cp "$tmp/out" "$tmp/uk_a"
for alt in "--gest 280" "--gest=280" "--gest-weeks 39 --gest-days 7"; do
  # shellcheck disable=SC2086
  expect_status 0 "gestation as $alt" -- "$bin" "${uk[@]}" $alt
  cmp -s "$tmp/out" "$tmp/uk_a" || fail "gestation as $alt differs from --gest-weeks 40"
done
expect_status 0 "tag and codes" -- "$bin" --base uk --bwt 3500 --gest 280 --wt 64 --ht 163 --sex 1 --eth 1 --par 0
cmp -s "$tmp/out" "$tmp/uk_a" || fail "codes differ from list texts"

expect_status 0 "Sweden case A" -- "$bin" --base swe --bwt 3500 --gest 280 --wt 65 --ht 165 --sex Male \
  --eth Scandinavian --par 0
expect_line "$tmp/out" "Base: Sweden" "Sweden case A"
expect_line "$tmp/out" "  centred height             -2" "Sweden case A"
grep -q "^Centile: 38\.6519" "$tmp/out" || fail "Sweden case A centile"

expect_status 0 "New Zealand case D" -- "$bin" --base "New Zealand" --bwt 4200 --gest 287 --wt 120 --ht 155 \
  --sex Male --eth Other --par 2
grep -q "^Centile: 80\.7759" "$tmp/out" || fail "New Zealand case D centile"
expect_status 0 "Australia case C" -- "$bin" --base au --bwt 2500 --gest 259 --wt 45 --ht 170 --sex Female \
  --eth African --par "4 or more"
grep -q "^Centile: 31\.6888" "$tmp/out" || fail "Australia case C centile"
expect_status 0 "UK Pakistani by text and by code" -- "$bin" "${uk[@]/European/Pakistani}" --gest 280
cp "$tmp/out" "$tmp/pak"
expect_status 0 "UK code 3" -- "$bin" "${uk[@]/European/3}" --gest 280
cmp -s "$tmp/out" "$tmp/pak" || fail "Pakistani and code 3 differ"

expect_status 0 "--help" -- "$bin" --help
grep -q -- "--csv" "$tmp/out" || fail "--help does not mention --csv"

# Bad options: exit 2 with a message.
expect_status 2 "unknown base" -- "$bin" --base Mars --bwt 3500 --gest 280 --wt 64 --ht 163 --sex 1 --eth 1 --par 0
grep -q "unknown base 'Mars'" "$tmp/err" || fail "unknown base message"
expect_status 2 "not a number" -- "$bin" "${uk[@]/3500/3.5kg}" --gest 280
grep -q -- "--bwt: not a number: '3.5kg'" "$tmp/err" || fail "not a number message"
expect_status 2 "group of another base" -- "$bin" "${uk[@]/European/Maori}" --gest 280
expect_status 2 "missing option" -- "$bin" --base uk --bwt 3500 --gest 280
expect_status 2 "both gestation forms" -- "$bin" "${uk[@]}" --gest 280 --gest-weeks 40
expect_status 2 "unknown option" -- "$bin" "${uk[@]}" --gest 280 --colour red
expect_status 2 "no options" -- "$bin"
# A failing calculation: exit 1 with the failure.
expect_status 1 "overflow" -- "$bin" "${uk[@]/163/1e200}" --gest 280
grep -q "Overflow (weight band)" "$tmp/err" || fail "overflow message"

# --- CSV batch ----------------------------------------------------------------------------
crlf() { printf '%s\r\n' "$@"; }
printf 'id,base,bwt,gest,wt,ht,sex,eth,par,note\r\n1,uk,3500,280,64,163,1,1,0,"a, b"\n2,Sweden,3500,280,65,165,1,1,0,x\n3,nz,,280,70,165,1,1,0,\n4,au,abc,280,64,163,1,1,0,\n5,mars,1,1,1,1,1,1,1,\n\n6,uk,3500,280,64,163,Male,1,0,"two\nlines ""q"""\n7,uk,1\n' >"$tmp/in.csv"
{
  crlf 'id,base,bwt,gest,wt,ht,sex,eth,par,note,centile,gest_out,ht_out,z,optimal_weight,error'
  crlf '1,uk,3500,280,64,163,1,1,0,"a, b",48.43984325029622,40,163,-0.03907822139370135,3515.013500000005,'
  crlf '2,Sweden,3500,280,65,165,1,1,0,x,38.65194991839645,40,-2,-0.288113903036188,3620.695068416005,'
  crlf '3,nz,,280,70,165,1,1,0,,,280,165,,,'
  crlf '4,au,abc,280,64,163,1,1,0,,,40,163,,,Type mismatch (bwt)'
  crlf '5,mars,1,1,1,1,1,1,1,,,1,1,,,unknown base: mars'
  printf '6,uk,3500,280,64,163,Male,1,0,"two\nlines ""q""",,280,163,,,Type mismatch (sex)\r\n'
  crlf '7,uk,1,,,,,,,,,,,,,"expected 10 fields, found 3"'
} >"$tmp/want.csv"
expect_status 1 "CSV with failing rows" -- "$bin" --csv <"$tmp/in.csv"
cmp -s "$tmp/out" "$tmp/want.csv" || { fail "CSV output differs"; diff "$tmp/want.csv" "$tmp/out" >&2; }

printf 'par,eth,sex,ht,wt,gest,bwt,base\n0,1,1,163,64,280,3500,United Kingdom\n0,1,1,163,64,280,3500,au' >"$tmp/ok.csv"
expect_status 0 "CSV in another column order, no final line end" -- "$bin" --csv <"$tmp/ok.csv"
{
  crlf 'par,eth,sex,ht,wt,gest,bwt,base,centile,gest_out,ht_out,z,optimal_weight,error'
  crlf '0,1,1,163,64,280,3500,United Kingdom,48.43984325029622,40,163,-0.03907822139370135,3515.013500000005,'
} >"$tmp/want_ok.csv"
head -c "$(wc -c <"$tmp/want_ok.csv")" "$tmp/out" | cmp -s - "$tmp/want_ok.csv" || fail "reordered CSV output differs"
[ "$(wc -l <"$tmp/out")" -eq 3 ] || fail "reordered CSV: expected 3 lines"

expect_status 2 "CSV without a column" -- "$bin" --csv < <(printf 'base,bwt,gest,wt,ht,sex,eth\nuk,1,1,1,1,1,1\n')
grep -q "lacks the column(s) par" "$tmp/err" || fail "missing column message"
expect_status 2 "CSV with a doubled column" -- "$bin" --csv < <(printf 'base,bwt,gest,wt,ht,sex,eth,par,bwt\n')
expect_status 2 "empty CSV" -- "$bin" --csv </dev/null
# Output that cannot be written is no success, whoever stops it, and input that is not CSV rows
# is named for what it is: exit 2 and the reason on stderr. Each case: description, the reason,
# and the command (its stdout goes where the command says).
long_line() { head -c 70000000 /dev/zero | tr '\0' a; }
awk 'BEGIN { print "base,bwt,gest,wt,ht,sex,eth,par"; for (i = 0; i < 20000; i++) print "uk,3500,280,64,163,1,1,0" }' \
  >"$tmp/many.csv"
output_cases=(
  "a full disk, one evaluation|No space left on device|\"\$bin\" --base uk --bwt 3500 --gest 280 --wt 64 --ht 163 --sex 1 --eth 1 --par 0 >/dev/full"
  "a full disk, the batch|writing the CSV output failed: No space left on device|\"\$bin\" --csv <\"\$tmp/ok.csv\" >/dev/full"
  "a reader that stops early|writing the CSV output failed: Broken pipe|\"\$bin\" --csv <\"\$tmp/many.csv\" | head -1 >/dev/null; exit \${PIPESTATUS[0]}"
  "a first line of 70 MB|a CSV record is longer than 64 MiB|long_line | \"\$bin\" --csv >/dev/null"
)
for c in "${output_cases[@]}"; do
  IFS='|' read -r what reason command <<<"$c"
  [ -w /dev/full ] || [[ $command != */dev/full* ]] || continue
  (eval "$command") 2>"$tmp/err"
  got=$?
  [ "$got" -eq 2 ] || fail "$what: exit status $got, expected 2 ($(head -c 300 "$tmp/err"))"
  grep -qF -- "$reason" "$tmp/err" || fail "$what: stderr lacks '$reason': $(head -c 300 "$tmp/err")"
done

# Hostile CSV: each record stands or fails alone, and what cannot be read says why. Each case:
# description, exit status, flags, the input (printf format), a line the output or the error
# must hold (\r stands for a carriage return).
hdr='base,bwt,gest,wt,ht,sex,eth,par'
ok_row='uk,3500,280,64,163,1,1,0'
ok_out='uk,3500,280,64,163,1,1,0,48.43984325029622,40,163,-0.03907822139370135,3515.013500000005,\r'
hostile_cases=(
  "a stray quote fails its row alone|1||$hdr\nuk,3500\",280,64,163,1,1,0\n$ok_row\n$ok_row\n$ok_row\n$ok_row\n|uk,\"3500\"\"\",280,64,163,1,1,0,,40,163,,,Type mismatch (bwt)\r"
  "rows after a stray quote|1||$hdr\nuk,3500\",280,64,163,1,1,0\n$ok_row\n$ok_row\n$ok_row\n$ok_row\n|$ok_out"
  "lines ended by a carriage return alone|0||$hdr\r$ok_row\r|$ok_out"
  "a row with a field too many|1||$hdr\nuk,3500,99,280,64,163,1,1,0\n|uk,3500,99,280,64,163,1,1,,,,,,\"expected 8 fields, found 9; past the last column: 0\"\r"
  "a column named centile|2||$hdr,centile\n|the CSV header names the column centile, which the output adds; rename it"
  "a column named error|2||error,$hdr\n|the CSV header names the column error, which the output adds; rename it"
  "a column named class with --classify|2|--classify|$hdr,class\n|the CSV header names the column class, which the output adds; rename it"
  "a column named class without it|0||$hdr,class\n${ok_row},x\n|${ok_row},x,48.43984325029622,40,163,-0.03907822139370135,3515.013500000005,\r"
  "--sga-below without --classify|2|--sga-below 5|$hdr\n|--sga-below sets a class threshold: it needs --classify"
  "--lga-above past the largest double|2|--classify --lga-above 1e999|$hdr\n|--lga-above: beyond the largest number: '1e999'"
)
for c in "${hostile_cases[@]}"; do
  IFS='|' read -r what want flags input line <<<"$c"
  # shellcheck disable=SC2059,SC2086
  expect_status "$want" "$what" -- "$bin" --csv $flags < <(printf "$input")
  line=${line//\\r/$'\r'}
  grep -qxF -- "$line" "$tmp/out" "$tmp/err" >/dev/null ||
    grep -qxF -- "pelmora-centile: $line" "$tmp/err" || fail "$what: no line '$line' in: $(head -c 600 "$tmp/out" "$tmp/err")"
done
printf "$hdr\nuk,3500\",280,64,163,1,1,0\n$ok_row\n$ok_row\n$ok_row\n$ok_row\n" | "$bin" --csv >"$tmp/out"
[ "$(grep -cxF -- "${ok_out//\\r/$'\r'}" "$tmp/out")" -eq 4 ] || fail "a stray quote: the four rows after it are not all computed"

# Memory stays flat in columns as in rows: 300 rows of 100 000 empty passthrough columns.
commas=$(head -c 100000 /dev/zero | tr '\0' ,)
{ echo "$hdr$commas"; for _ in $(seq 300); do echo "$ok_row$commas"; done; } >"$tmp/wide.csv"
/usr/bin/time -f '%M' -o "$tmp/rss" "$bin" --csv <"$tmp/wide.csv" >/dev/null || fail "300 wide rows: exit status $?"
[ "$(tail -1 "$tmp/rss")" -lt 65536 ] || fail "300 wide rows: peak resident $(tail -1 "$tmp/rss") KiB, expected under 64 MiB"

# --classify adds the class column, with thresholds of one's own too.
printf 'base,bwt,gest,wt,ht,sex,eth,par\nuk,2000,280,64,163,1,1,0\nuk,3500,280,64,163,1,1,0\nuk,4800,280,64,163,1,1,0\nuk,,280,64,163,1,1,0\n' \
  >"$tmp/classes.csv"
for args in "--classify|SGA AGA LGA -" "--classify --sga-below 50 --lga-above 99|SGA SGA LGA -"; do
  IFS='|' read -r flags want <<<"$args"
  # shellcheck disable=SC2086
  expect_status 0 "classes with $flags" -- "$bin" --csv $flags <"$tmp/classes.csv"
  got=$(awk -F, 'NR == 1 && $14 != "class" { print "no class column" } NR > 1 { printf "%s%s", sep, ($14 == "" ? "-" : $14); sep = " " }' "$tmp/out")
  [ "$got" = "$want" ] || fail "classes with $flags: '$got', expected '$want'"
done
expect_status 0 "class of one evaluation" -- "$bin" "${uk[@]}" --gest 280 --classify
expect_line "$tmp/out" "Class: AGA" "class of one evaluation"

# Many rows: every row comes back once, in input order, on several workers.
awk 'BEGIN { print "n,base,bwt,gest,wt,ht,sex,eth,par"; split("uk swe nz au", b, " ");
             for (i = 0; i < 20000; i++) printf "%d,%s,%d,%d,%d,%d,%d,%d,%d\n", i, b[i % 4 + 1], 2000 + i % 2500,
               250 + i % 40, 50 + i % 60, 150 + i % 40, i % 2, i % 12, i % 6 }' >"$tmp/big.csv"
expect_status 0 "20000 rows" -- "$bin" --csv <"$tmp/big.csv"
awk -F, 'NR > 1 && $1 != NR - 2 { bad = 1 } END { exit bad || NR != 20001 }' "$tmp/out" || fail "20000 rows: order or count"
line=$(awk -F, '$1 == 7 { print $10 }' "$tmp/out")
"$bin" --base au --bwt 2007 --gest 257 --wt 57 --ht 157 --sex 1 --eth 7 --par 1 >"$tmp/one"
grep -qxF "Centile: $line" "$tmp/one" || fail "row 7 of the batch differs from the single evaluation ($line)"

# --- Centile curves -------------------------------------------------------------------------
# Every day's weight at each centile, fed back through the batch, gives that centile within 1e-9.
mother=(--base nz --wt 58 --ht 161 --sex Female --eth Maori --par 1)
expect_status 0 "curves" -- "$bin" curves "${mother[@]}" --centiles 3,10,50,90,97.5 --from 23+6 --to 300
expect_line "$tmp/out" "gest,weeks,p3,p10,p50,p90,p97.5" "curves header"
expect_line "$tmp/out" "300,42+6,$(awk -F, '$1 == 300 { print $3 "," $4 "," $5 "," $6 "," $7 }' "$tmp/out")" "curves last day"
cp "$tmp/out" "$tmp/curves.csv"
awk -F, 'NR > 1 { for (k = 3; k <= 7; k++) printf "nz,%s,%s,58,161,0,3,1\n", $k, $1 }' "$tmp/curves.csv" |
  { echo "base,bwt,gest,wt,ht,sex,eth,par"; cat; } >"$tmp/back.csv"
expect_status 0 "curves fed back" -- "$bin" --csv <"$tmp/back.csv"
awk -F, 'BEGIN { split("3 10 50 90 97.5", p, " ") }
         NR > 1 { want = p[(NR - 2) % 5 + 1]; d = $9 - want; if (d < 0) d = -d; if (d > 1e-9) { print NR ": " $9; bad = 1 } }
         END { exit bad || NR != 1 + 5 * 134 }' "$tmp/out" || fail "curves fed back: a centile off by more than 1e-9"
expect_status 0 "curves into a file" -- "$bin" curves "${mother[@]}" --centiles 3,10,50,90,97.5 --from 167 --to 300 \
  -o "$tmp/curves-file.csv"
cmp -s "$tmp/curves.csv" "$tmp/curves-file.csv" || fail "curves: the file differs from standard output"
# Bad input: a clear message, status 2, and the file untouched.
for bad in "--from 300 --to 200|inverted" "--centiles 10,100|between 0 and 100" "--eth Martian|unknown value" \
           "--base Mars|unknown base" "--from 24+7|weeks+days" "--to 351|from 0 to 350 days" "--centiles 10,,90|not a number"; do
  IFS='|' read -r flags says <<<"$bad"
  base_flags=("${mother[@]}")
  case $flags in --eth*) base_flags=("${mother[@]:0:8}" --par 1) ;; --base*) base_flags=("${mother[@]:2}") ;; esac
  # shellcheck disable=SC2086
  expect_status 2 "curves $flags" -- "$bin" curves "${base_flags[@]}" $flags -o "$tmp/curves-file.csv"
  grep -q -- "$says" "$tmp/err" || fail "curves $flags: no '$says' in: $(cat "$tmp/err")"
  cmp -s "$tmp/curves.csv" "$tmp/curves-file.csv" || fail "curves $flags: the file was changed"
done
[ -z "$(find "$tmp" -name '*.tmp-*')" ] || fail "curves: a temporary file was left"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "pelmora-centile: all checks passed"
