#!/usr/bin/env bash
# Runs one Windows program under 64-bit Wine in a fresh copy of the template
# prefix, and deletes the copy afterwards. The program's folder is copied to
# C:\scourix-bin (paths outside the sandbox are unreachable) and runs from
# there, so helper programs beside it are found the same way.
#
#   wine-run.sh PROGRAM.exe [ARGS...]
#
# $SCOURIX_WINE_SETUP, when set, is run with the copy's path before the
# sandbox check. The template is $SCOURIX_WINE_TEMPLATE, or wine-template beside the
# program's bin folder (build/<preset>/wine-template). The exit status is the
# program's; 124 when it ran longer than $SCOURIX_WINE_TIMEOUT seconds (300).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

exe=$(readlink -f "$1")
shift
bin=$(dirname "$exe")
template=${SCOURIX_WINE_TEMPLATE:-$(dirname "$bin")/wine-template}
[ -f "$template/.scourix-template" ] || {
  echo "wine-run: no template prefix at $template (the wine_template test makes it)" >&2
  exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/scourix-wine.XXXXXX")
export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
cleanup() {
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cp -a "$template" "$WINEPREFIX"
# A suite may prepare its copy (links, files); the sandbox check comes after.
if [ -n "${SCOURIX_WINE_SETUP:-}" ]; then "$SCOURIX_WINE_SETUP" "$WINEPREFIX"; fi
"$here/wine-prefix.sh" verify "$WINEPREFIX"
mkdir -p "$WINEPREFIX/drive_c/scourix-bin"
cp "$bin"/*.exe "$WINEPREFIX/drive_c/scourix-bin/"

status=0
(cd "$WINEPREFIX/drive_c" &&
  timeout --kill-after=10 "${SCOURIX_WINE_TIMEOUT:-300}" \
    "$WINE64" "C:\\scourix-bin\\$(basename "$exe")" "$@") || status=$?
exit "$status"
