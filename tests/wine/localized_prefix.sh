#!/bin/sh
# Prefix set-up of the localized-folders suite: C:\J, a symbolic link inside
# the prefix that Wine shows as a reparse point, as Windows shows a junction
# or mount point leading to another drive (Wine cannot make one from inside).
set -e
mkdir -p "$1/drive_c/elsewhere/Programme/App"
ln -s elsewhere "$1/drive_c/J"
