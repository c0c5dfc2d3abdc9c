#!/usr/bin/env bash
# pelmora-centile --csv on the validation table's inputs: every centile, z, optimal weight and
# failure message as the table has it, character for character (both are the shortest form
# that reads back as the same double).
set -u
bin=$1 table=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
awk -F, 'BEGIN { OFS = "," } { print $1, $3, $4, $5, $6, $7, $8, $9, $10 }' "$table" >"$tmp/in.csv"
"$bin" --csv <"$tmp/in.csv" >"$tmp/out.csv"
status=$?
[ "$status" -eq 1 ] || { echo "FAIL: exit status $status, expected 1 (the table has failing rows)"; exit 1; }
tr -d '\r' <"$tmp/out.csv" | paste -d '|' - <(cat "$table") | awk -F'|' '
  NR == 1 { next }
  {
    n = split($1, got, ","); split($2, want, ",")
    if (got[10] != want[11] || got[13] != want[12] || got[14] != want[13] || got[15] != want[15]) {
      printf "FAIL: case %s (%s): got %s %s %s \"%s\", table %s %s %s \"%s\"\n", want[1], want[2],
             got[10], got[13], got[14], got[15], want[11], want[12], want[13], want[15]
      bad++
    }
    rows++
  }
  END {
    if (rows < 4000) { print "FAIL: only " rows " rows compared"; exit 1 }
    if (bad) { print bad " of " rows " rows differ"; exit 1 }
    print rows " rows of the validation table: the command-line tool agrees"
  }'
