#!/usr/bin/env bash
# scourix-cli /restart where a copy of the worm is in use: the copy is
# queued, the record says 3010 (written before the restart), and Windows
# restarts, after which the copy is gone.
#   cli_restart_test.sh WINE_RUN DRIVER_EXE
set -u
wine_run=$1 driver=$2
result=$(mktemp) check=$(mktemp)
trap 'rm -f "$result" "$result.record" "$check"' EXIT
cat > "$check" <<CHECK
#!/usr/bin/env bash
prefix=\$1
export WINEPREFIX=\$prefix WINEDEBUG=-all
held="\$prefix/drive_c/Program Files/Held/held.exe"
if [ -e "\$held" ]; then /usr/lib/wine/wine64 cmd /c exit >/dev/null 2>&1; fi  # the next start
/usr/lib/wine/wineserver -k 2>/dev/null
/usr/lib/wine/wineserver -w
record=\$(cat "\$prefix"/drive_c/records/*.json 2>/dev/null)
echo "\$record" > "$result.record"
if [ -e "\$held" ]; then echo "the queued copy is still there after the restart" > "$result"
elif ! grep -q '"exitStatus": 3010,' <<<"\$record"; then echo "record: \$record" > "$result"
elif ! grep -q '"filesQueued": 1,' <<<"\$record"; then echo "record: \$record" > "$result"
else echo ok > "$result"; fi
CHECK
chmod +x "$check"
output=$(SCOURIX_WINE_AFTER=$check "$wine_run" "$driver" 2>&1)
echo "$output"
grep -q '^held' <<<"$output" || { echo "FAIL: the copy was not held open"; exit 1; }
if grep -q '^returned' <<<"$output"; then
  echo "FAIL: scourix-cli came back instead of restarting; its record:"
  cat "$result.record"
  exit 1
fi
verdict=$(cat "$result")
[ "$verdict" = ok ] || { echo "FAIL: $verdict"; exit 1; }
echo "scourix-cli /restart: the record says 3010, and the restart removed the copy in use"
