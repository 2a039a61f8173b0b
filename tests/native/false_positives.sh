#!/usr/bin/env bash
# Detection over every file of the machine's Windows software (Wine's DLLs
# and programs, the mingw-w64 libraries and tools): none may match. Prints
# how many files were read, and how many of them are PE images.
set -u
check=$1
list=$(mktemp)
out=$(mktemp)
trap 'rm -f "$list" "$out"' EXIT
find /usr/lib/wine /usr/lib/x86_64-linux-gnu/wine /usr/lib/i386-linux-gnu/wine /usr/share/wine \
     /usr/x86_64-w64-mingw32 /usr/i686-w64-mingw32 /usr/lib/gcc/x86_64-w64-mingw32 /usr/lib/gcc/i686-w64-mingw32 \
     -type f -print0 2>/dev/null > "$list"
xargs -0 -n 500 "$check" < "$list" > "$out" 2>/dev/null
read_count=$(grep -c -E '^(MATCH|CLEAN)' "$out")
pe_count=$(grep -E '^(MATCH|CLEAN)' "$out" | grep -c -i -E '\.(exe|dll|drv|sys|ocx|cpl|acm|ax|tlb|ds|com)$')
[ "$pe_count" -gt 500 ] || { echo "FAIL: only $pe_count Windows programs and libraries found; is Wine installed?"; exit 1; }
matches=$(grep -c '^MATCH' "$out")
if [ "$matches" -ne 0 ]; then
  echo "FAIL: $matches of $read_count files match:"
  grep '^MATCH' "$out"
  exit 1
fi
echo "false positives: 0 of $read_count files ($pe_count Windows programs and libraries)"
