#!/usr/bin/env bash
# Runs one Windows program under Wine in a fresh copy of the template
# prefix, and deletes the copy afterwards. The program's folder is copied to
# C:\scourix-bin (paths outside the sandbox are unreachable) and runs from
# there, so helper programs beside it are found the same way.
#
#   wine-run.sh PROGRAM.exe [ARGS...]
#
# $SCOURIX_WINE_SETUP, when set, is run with the copy's path before the
# sandbox check; $SCOURIX_WINE_AFTER after the program (its failure fails
# the run). SCOURIX_WINE_VERSION=win98 (or winxp64, ...) makes Windows report
# that version to the program and to Scourix.exe (Wine's per-program setting). With SCOURIX_WINE_DISPLAY=xvfb the program gets a private
# Xvfb screen and Wine's X11 driver instead of the headless one (so windows
# are really painted); with SCOURIX_WINE_DISPLAY=host it uses $DISPLAY. With SCOURIX_WINE_ARTIFACTS=DIR, what the program left
# in C:\artifacts is copied to DIR afterwards, BMP pictures as PNG. The template is $SCOURIX_WINE_TEMPLATE, or wine-template beside the
# program's bin folder (build/<preset>/wine-template). The exit status is the
# program's; 124 when it ran longer than $SCOURIX_WINE_TIMEOUT seconds (300).
# The loader is 64-bit Wine's; SCOURIX_WINE_ARCH=win32 picks the 32-bit one,
# for a template that wine-prefix.sh made with the same setting.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
case "${SCOURIX_WINE_ARCH:-win64}" in
  win64) WINE=/usr/lib/wine/wine64 ;;
  win32) WINE=/usr/lib/wine/wine ;;
  *) echo "wine-run: SCOURIX_WINE_ARCH must be win64 or win32" >&2; exit 1 ;;
esac
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
# Wine looks at the home folder for shell folders: give it one of its own.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export XDG_CACHE_HOME=$work/home/.cache
mkdir -p "$HOME"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
xvfb_pid=
cleanup() {
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}

# Xvfb picks a free display itself and says which (-displayfd), so that two
# runs never share a screen.
start_xvfb() {
  local display_file=$work/xvfb.display
  : > "$display_file"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    if [ -s "$display_file" ]; then
      export DISPLAY=":$(tr -d '[:space:]' < "$display_file")"
      return 0
    fi
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "wine-run: could not start Xvfb" >&2
  return 1
}

collect_artifacts() {
  local dir=$1 file
  mkdir -p "$dir"
  for file in "$WINEPREFIX"/drive_c/artifacts/*; do
    [ -f "$file" ] || continue
    case "$file" in
      *.bmp) convert "$file" "$dir/$(basename "${file%.bmp}").png" ;;
      *) cp "$file" "$dir/" ;;
    esac
  done
}
trap cleanup EXIT

cp -a "$template" "$WINEPREFIX"
# A suite may prepare its copy (links, files); the sandbox check comes after.
if [ -n "${SCOURIX_WINE_SETUP:-}" ]; then "$SCOURIX_WINE_SETUP" "$WINEPREFIX"; fi
"$here/wine-prefix.sh" verify "$WINEPREFIX"
case "${SCOURIX_WINE_DISPLAY:-}" in
  xvfb)
    start_xvfb
    sed -i 's/^"Graphics"="null"$/"Graphics"="x11"/' "$WINEPREFIX/user.reg"
    # No window manager runs: Wine draws the title bars and frames itself.
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 ;;
  host)
    sed -i 's/^"Graphics"="null"$/"Graphics"="x11"/' "$WINEPREFIX/user.reg" ;;
  *)
    unset DISPLAY ;;
esac
if [ -n "${SCOURIX_WINE_VERSION:-}" ]; then
  for program in "$(basename "$exe")" Scourix.exe; do
    "$WINE" reg add "HKCU\\Software\\Wine\\AppDefaults\\$program" /v Version /d "$SCOURIX_WINE_VERSION" /f \
      >/dev/null 2>&1
  done
fi
mkdir -p "$WINEPREFIX/drive_c/scourix-bin"
cp "$bin"/*.exe "$WINEPREFIX/drive_c/scourix-bin/"

status=0
(cd "$WINEPREFIX/drive_c" &&
  timeout --kill-after=10 "${SCOURIX_WINE_TIMEOUT:-300}" \
    "$WINE" "C:\\scourix-bin\\$(basename "$exe")" "$@") || status=$?
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w 2>/dev/null || true
if [ -n "${SCOURIX_WINE_ARTIFACTS:-}" ]; then collect_artifacts "$SCOURIX_WINE_ARTIFACTS"; fi
if [ -n "${SCOURIX_WINE_AFTER:-}" ] && ! "$SCOURIX_WINE_AFTER" "$WINEPREFIX"; then
  echo "wine-run: the check after the program failed" >&2
  [ "$status" -ne 0 ] || status=1
fi
# Whatever ran must have left the sandbox whole.
if ! "$here/wine-prefix.sh" verify "$WINEPREFIX"; then
  echo "wine-run: the prefix lost its sandbox during the run" >&2
  [ "$status" -ne 0 ] || status=1
fi
exit "$status"
