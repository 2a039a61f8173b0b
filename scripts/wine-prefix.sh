#!/usr/bin/env bash
# Wine prefixes for the tests and the demo.
#
#   wine-prefix.sh create DIR CRASH_EXE   build a template prefix in DIR
#   wine-prefix.sh verify DIR             fail unless DIR is sandboxed
#
# A template is headless (no X server needed), ends a crashing program at once
# instead of starting the debugger, and is sandboxed: no drive Z:, no link that
# leads out of the prefix. Scourix deletes files, so a prefix that fails
# verify must never run it.
#
# SCOURIX_WINE_ARCH=win32 makes a 32-bit prefix with the 32-bit loader, which
# may run through qemu-user (hence the longer crash probe); the default is a
# 64-bit prefix.
set -euo pipefail

case "${SCOURIX_WINE_ARCH:-win64}" in
  win64) WINE=/usr/lib/wine/wine64 crash_timeout=60 ;;
  win32) WINE=/usr/lib/wine/wine crash_timeout=600 ;;
  *) echo "wine-prefix: SCOURIX_WINE_ARCH must be win64 or win32" >&2; exit 1 ;;
esac
WINESERVER=/usr/lib/wine/wineserver
export WINEDEBUG=-all
# No Mono or Gecko installers, no desktop menu entries.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

die() { echo "wine-prefix: $*" >&2; exit 1; }

# Serial and parallel ports, which Wine links to devices at every start.
is_port() {
  case "$(basename "$1")" in com[0-9]*|lpt[0-9]*) [ -c "$(readlink -f "$1")" ] ;; *) return 1 ;; esac
}

verify() {
  local dir=$1 root link target
  root=$(readlink -f "$dir")
  [ -d "$root/drive_c" ] || die "$dir is not a Wine prefix"
  for link in "$root"/dosdevices/*; do
    [ "$(basename "$link")" = "c:" ] || is_port "$link" || die "$dir has drive $(basename "$link")"
  done
  while IFS= read -r -d '' link; do
    target=$(readlink -f "$link" || true)
    case "$target" in
      "$root"/*) ;;
      *) is_port "$link" || die "$link leads out of the prefix (to '$target')" ;;
    esac
  done < <(find "$root" -type l -print0)
  # A hard link would let a change inside reach a file outside.
  link=$(find "$root" -type f -links +1 -print -quit)
  [ -z "$link" ] || die "$link has other names (hard links)"
}

sandbox() {
  local dir=$1 link
  # Shell folders that link into the real home folder become real folders.
  while IFS= read -r -d '' link; do
    rm "$link"
    mkdir -p "$link"
  done < <(find "$dir/drive_c" -type l -print0)
  # Drive Z: is the Unix root. Only C: stays (Wine adds the ports back).
  find "$dir/dosdevices" -mindepth 1 -maxdepth 1 ! -name 'c:' -exec rm -f {} +
}

create() {
  local dir=$1 crash_exe=$2
  # A server left running on an old prefix at this place must not serve the new one.
  if [ -d "$dir" ]; then WINEPREFIX=$(readlink -f "$dir") "$WINESERVER" -k 2>/dev/null || true; fi
  rm -rf "$dir"
  mkdir -p "$(dirname "$dir")"
  export WINEPREFIX
  # Set only here: the prefix keeps its architecture for every later start.
  if [ "${SCOURIX_WINE_ARCH:-win64}" = win32 ]; then export WINEARCH=win32; fi
  WINEPREFIX=$(readlink -f "$(dirname "$dir")")/$(basename "$dir")
  "$WINE" wineboot -i >/dev/null 2>&1 || die "wineboot failed"
  "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  "$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
    /v Debugger /d 'C:\no-debugger\none.exe' /f >/dev/null 2>&1
  # 32-bit programs in a 64-bit prefix read the 32-bit view of that key.
  if [ "${SCOURIX_WINE_ARCH:-win64}" = win64 ]; then
    "$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
      /v Debugger /d 'C:\no-debugger\none.exe' /f /reg:32 >/dev/null 2>&1
  fi
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
  sandbox "$WINEPREFIX"
  # Never update the prefix on a later start: an update makes the shell
  # folders links into the home folder again.
  echo disable > "$WINEPREFIX/.update-timestamp"
  verify "$WINEPREFIX"

  # A crash must end the program with a failure status, never hang in a debugger.
  mkdir -p "$WINEPREFIX/drive_c/probe"
  cp "$crash_exe" "$WINEPREFIX/drive_c/probe/crash.exe"
  local status=0
  (cd "$WINEPREFIX/drive_c" && timeout "$crash_timeout" "$WINE" 'C:\probe\crash.exe' >/dev/null 2>&1) || status=$?
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
  rm -rf "$WINEPREFIX/drive_c/probe"
  [ "$status" -ne 124 ] || die "a crashing program hangs in this prefix"
  [ "$status" -ne 0 ] || die "a crashing program reports success in this prefix"
  verify "$WINEPREFIX"
  touch "$WINEPREFIX/.scourix-template"
  echo "wine-prefix: template ready in $WINEPREFIX (crash status $status)"
}

case "${1:-}" in
  create) [ $# -eq 3 ] || die "usage: create DIR CRASH_EXE"; create "$2" "$3" ;;
  verify) [ $# -eq 2 ] || die "usage: verify DIR"; verify "$2" ;;
  *) die "usage: wine-prefix.sh create DIR CRASH_EXE | verify DIR" ;;
esac
