#!/usr/bin/env bash
# A deletion queued for the next start is carried out by a restart of
# Windows: Wine's simulated restart ("queue"), or RestartWindows itself
# ("restart"), which ends every program of the prefix at once; the 9x
# family's wininit.ini is then read at the next start, as Windows 98 does.
#   restart_test.sh WINE_RUN PROBE_EXE queue|restart [VERSION]
set -u
wine_run=$1 probe=$2 mode=$3
export SCOURIX_WINE_VERSION=${4:-}
result=$(mktemp)
trap 'rm -f "$result"' EXIT
check=$(mktemp)
trap 'rm -f "$result" "$check"' EXIT
cat > "$check" <<CHECK
#!/usr/bin/env bash
prefix=\$1
export WINEPREFIX=\$prefix WINEDEBUG=-all
if [ "$mode" = queue ]; then
  [ -e "\$prefix/drive_c/probe/doomed.txt" ] || { echo "deleted before any restart" > "$result"; exit 0; }
  /usr/lib/wine/wine64 wineboot -r >/dev/null 2>&1
elif [ -e "\$prefix/drive_c/probe/doomed.txt" ]; then
  /usr/lib/wine/wine64 cmd /c exit >/dev/null 2>&1  # the next start
fi
/usr/lib/wine/wineserver -k 2>/dev/null
/usr/lib/wine/wineserver -w
if [ -e "\$prefix/drive_c/probe/doomed.txt" ]; then echo "still there after the restart" > "$result"; else echo ok > "$result"; fi
CHECK
chmod +x "$check"
output=$(SCOURIX_WINE_AFTER=$check "$wine_run" "$probe" "$mode" 2>&1)
echo "$output"
grep -q '^queued' <<<"$output" || { echo "FAIL: the deletion was not queued"; exit 1; }
if grep -q 'restart refused' <<<"$output"; then echo "FAIL: RestartWindows returned"; exit 1; fi
verdict=$(cat "$result")
[ "$verdict" = ok ] || { echo "FAIL: $verdict"; exit 1; }
echo "restart ($mode${SCOURIX_WINE_VERSION:+, $SCOURIX_WINE_VERSION}): the queued file is gone"
