#!/bin/sh
# Prefix set-up of the end-to-end suite: no web browser handler, so that a
# link cannot open anything outside the sandbox (and a click must fail).
set -e
rm -f "$1/drive_c/windows/system32/winebrowser.exe" "$1/drive_c/windows/syswow64/winebrowser.exe"
