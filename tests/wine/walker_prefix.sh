#!/bin/sh
# Prefix set-up of the walker suite: C:\walk\loop, a symbolic link back to its
# own folder (Wine cannot make one from inside).
set -e
mkdir -p "$1/drive_c/walk"
ln -s . "$1/drive_c/walk/loop"
