#!/bin/sh
# Prefix set-up for suites that read data files: copies each folder of
# $SCOURIX_WINE_DATA (separated by ':') into the prefix as C:\data\<name>.
set -e
mkdir -p "$1/drive_c/data"
old_ifs=$IFS
IFS=:
for dir in $SCOURIX_WINE_DATA; do
  cp -r "$dir" "$1/drive_c/data/"
done
IFS=$old_ifs
