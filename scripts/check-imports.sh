#!/usr/bin/env bash
# Fails unless a 32-bit program can load on Windows 98 and Windows NT 4.0:
# every function it imports must be one that both export (the list with its
# sources is scripts/old-windows-exports.txt), and its PE header must ask for
# no newer system than 4.0.
#
#   check-imports.sh OBJDUMP PROGRAM.exe [EXPORTS.txt]
#
# Functions loaded at run time (psapi's) are not imports and are not checked.
set -euo pipefail

objdump=$1
program=$2
exports=${3:-$(dirname "$0")/old-windows-exports.txt}

headers=$("$objdump" -p "$program")
failed=0

# "DLL FUNCTION" for every import, DLL names in upper case.
imports=$(awk '
  /^[A-Za-z]/ { dll = "" }  # the next part of the headers
  /^\tDLL Name: / { dll = toupper($3); next }
  # A row: address, hint (or ordinal), name; an import by ordinal has no name.
  /^\t[0-9a-f]+\t/ && dll != "" { print dll, (NF >= 3 ? $3 : "#" $2) }
' <<< "$headers" | sort -u)
[ -n "$imports" ] || { echo "check-imports: no imports read from $program" >&2; exit 1; }

allowed=$(awk '!/^#/ && NF >= 2 { print toupper($1), $2 }' "$exports" | sort -u)
missing=$(comm -23 <(echo "$imports") <(echo "$allowed"))
if [ -n "$missing" ]; then
  echo "check-imports: $program imports what Windows 98 or NT 4.0 may not export:"
  sed 's/^/  /' <<< "$missing"
  failed=1
fi

for field in MajorOSystemVersion MajorSubsystemVersion; do
  value=$(awk -v f="$field" '$1 == f { print $2 }' <<< "$headers")
  minor=$(awk -v f="${field/Major/Minor}" '$1 == f { print $2 }' <<< "$headers")
  if [ "$value.$minor" != "4.0" ]; then
    echo "check-imports: $field.$minor is $value.$minor; Windows 98 and NT 4.0 load 4.0"
    failed=1
  fi
done

[ "$failed" -eq 0 ] && echo "check-imports: $(wc -l <<< "$imports") imports of $(basename "$program"), all exported by Windows 98 and NT 4.0; subsystem 4.0"
exit "$failed"
