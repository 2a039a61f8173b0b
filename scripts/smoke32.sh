#!/usr/bin/env bash
# make smoke32: the shipped 32-bit Scourix under 32-bit Wine, driven by the
# 32-bit scourix-demo (OK, the scan, OK, OK) in throwaway sandboxed prefixes:
# a 32-bit one, then a 64-bit one where it runs under WOW64.
# Prints the status line and every result line; fails when the demo fails or
# prints no status line. Where the kernel runs 32-bit programs itself it takes
# about a minute after the install and the build; where it does not, qemu-user
# runs them and it is far slower (minutes for the prefix and per program).
set -euo pipefail
cd "$(dirname "$0")/.."

die() { echo "smoke32: $*" >&2; exit 1; }

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

# 32-bit Wine (wine32) is an i386 package, which Debian installs only once the
# i386 architecture is added. Only this smoke test needs it, so this is the one
# place that adds it; the rest of the project stays 64-bit.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "smoke32: adding the i386 architecture"
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
scripts/setup.sh wine32:i386 qemu-user-static

# A kernel without 32-bit support hands i386 programs to qemu-user through
# binfmt_misc. The F flag opens the emulator at registration, so that it is
# found from every process whatever its mount namespace.
WINE32=/usr/lib/wine/wine
if ! "$WINE32" --version >/dev/null 2>&1; then
  binfmt=/proc/sys/fs/binfmt_misc
  if [ ! -e "$binfmt/register" ]; then
    "${sudo_cmd[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
  fi
  if [ ! -e "$binfmt/qemu-i386" ]; then
    echo "smoke32: registering qemu-i386-static for i386 programs"
    printf '%s\n' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
      "${sudo_cmd[@]}" tee "$binfmt/register" >/dev/null
  fi
  "$WINE32" --version >/dev/null 2>&1 || die "32-bit programs do not run here (see $binfmt/qemu-i386)"
fi

cmake --preset win32 > /dev/null
cmake --build --preset win32 -j "$(nproc)" --target Scourix scourix-demo wine-crash > /dev/null

work=$PWD/build/smoke32
rm -rf "$work"
mkdir -p "$work/tmp"
# A failed wineboot leaves the prefix's processes running: end them first.
cleanup() {
  local prefix
  for prefix in "$work"/template-*; do
    [ -d "$prefix" ] && WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null || true
  done
  rm -rf "$work"/template-* "$work/tmp"
}
trap cleanup EXIT

# smoke ARCH: the demo in a prefix of that architecture. win32 is a 32-bit
# Windows; win64 runs the 32-bit programs under WOW64, as 64-bit Windows
# does, so the worm's samples and registry entries go where a 32-bit worm's
# would (SysWOW64, Wow6432Node) and Scourix must find them there.
smoke() {
  local arch=$1 template=$work/template-$1 log=$work/demo-$1.log start status
  export SCOURIX_WINE_ARCH=$arch
  start=$SECONDS
  echo "smoke32: making a $arch Wine prefix"
  scripts/wine-prefix.sh create "$template" build/win32/bin/wine-crash.exe
  echo "smoke32: prefix made in $((SECONDS - start)) s; scourix-demo drives Scourix (headless)"
  start=$SECONDS
  set +e
  # The per-run copy of the prefix goes under build/smoke32 too (TMPDIR).
  SCOURIX_WINE_TEMPLATE=$template SCOURIX_WINE_TIMEOUT=3600 TMPDIR=$work/tmp \
    scripts/wine-run.sh build/win32/bin/scourix-demo.exe drive | tr -d '\r' | tee "$log"
  status=${PIPESTATUS[0]}
  set -e
  echo "smoke32: the demo ran $((SECONDS - start)) s in the $arch prefix and exited with status $status"
  grep -q '^Status: Scanning completed$' "$log" || die "FAILED ($arch): no \"Scanning completed\" status line"
  grep -q '^System Registry     W32/Gibe.F.Worm removed$' "$log" || die "FAILED ($arch): the registry was not repaired"
  [ "$status" -eq 0 ] || die "FAILED ($arch): scourix-demo exited with status $status"
  WINEPREFIX=$template /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$template"
}

smoke win32
smoke win64
echo "smoke32: passed in $SECONDS s"
