#!/usr/bin/env bash
# scourix-check over the standard sample set: its verdicts equal the
# generator's expectations, and its exit status says what it saw.
set -u
check=$1 make_samples=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$make_samples" "$dir" > "$dir/expected.tsv" || fail "make-samples"
while IFS=$'\t' read -r verdict name; do
  out=$("$check" "$dir/$name"); status=$?
  [ "$out" = "$verdict	$dir/$name" ] || fail "$name: got '$out', want $verdict"
  want=0; [ "$verdict" = MATCH ] && want=1
  [ "$status" -eq "$want" ] || fail "$name: exit $status, want $want"
done < "$dir/expected.tsv"

"$check" >/dev/null 2>&1; [ $? -eq 2 ] || fail "no argument must exit 2"

# An unreadable argument gives 2, and the others are still examined.
out=$("$check" "$dir/match.exe" "$dir/missing.exe" "$dir" "$dir/no-mz.exe" 2>/dev/null); status=$?
[ "$status" -eq 2 ] || fail "unreadable argument: exit $status"
[ "$(printf '%s\n' "$out" | grep -c '^MATCH')" -eq 2 ] || fail "others not examined: $out"

: > "$dir/empty"
out=$("$check" "$dir/empty"); [ $? -eq 0 ] && [ "$out" = "CLEAN	$dir/empty" ] || fail "empty file: $out"
echo "scourix-check: all verdicts as expected"
