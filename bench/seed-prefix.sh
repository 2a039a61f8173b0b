#!/usr/bin/env bash
# The benchmark's SCOURIX_WINE_SETUP hook: writes the tree of
# $SCOURIX_BENCH_FILES files into the four scan targets of the prefix copy,
# and the list of its samples to C:\bench-samples.txt.
set -euo pipefail
c=$1/drive_c
user=$(ls "$c/users" | grep -vx Public | head -n 1)
mkdir -p "$c/users/$user/Temp"
"$SCOURIX_BENCH_TREE" "$SCOURIX_BENCH_FILES" "$c/bench-samples.txt" \
  "$c/windows:C:\\windows" \
  "$c/Documents and Settings:C:\\Documents and Settings" \
  "$c/Program Files:C:\\Program Files" \
  "$c/users/$user/Temp:C:\\users\\$user\\Temp" > /dev/null
sync  # written back before anything is timed
