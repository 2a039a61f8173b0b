#!/usr/bin/env bash
# check-deb.sh DEB MAKE_XP_VOLUME MAKE_SAMPLES MAKE_DISK_IMAGE: what a
# technician installing the package gets. lintian finds no error in it,
# Debian's hardening-check agrees with the program's hardening, and the
# program unpacked into a temporary root cleans a generated Windows XP volume
# and reports the worm on a disk image of it (through libguestfs, where its
# appliance starts here).
set -euo pipefail
deb=$1 make_xp_volume=$2 make_samples=$3 make_disk_image=$4
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "check-deb: $*" >&2; exit 1; }

lintian --fail-on error "$deb" || fail "lintian found errors in $deb"
dpkg-deb -x "$deb" "$root/installed"
program=$root/installed/usr/bin/scourix-rescue
# Control-flow protection is marked only when every linked object has it,
# and Debian 12 builds its C runtime start files without it: the program is
# compiled with -fcf-protection, the mark cannot be had, so that check is off.
hardening-check --nocfprotection "$program" || fail "hardening-check disagrees"
"$make_xp_volume" "$root/volume" || fail "make-xp-volume"
status=0
"$program" --record "$root/record.json" "$root/volume" > "$root/out.txt" 2>&1 || status=$?
[ "$status" -eq 1 ] || { cat "$root/out.txt"; fail "the packaged program ended with $status, not 1"; }
grep -q 'W32/Gibe.F.Worm deleted$' "$root/out.txt" || fail "no deletion in: $(cat "$root/out.txt")"
grep -q '"computer": "XP-DESK"' "$root/record.json" || fail "no record"
[ -z "$(find "$root/volume" -iname worm.exe)" ] || fail "a worm file survived"
man -l "$root/installed/usr/share/man/man1/scourix-rescue.1.gz" > /dev/null 2>&1 || fail "the man page does not format"

"$make_xp_volume" "$root/image-tree" && mkdir "$root/samples" && "$make_samples" "$root/samples" > /dev/null ||
  fail "the image's files"
cp "$root/samples/first-one-byte-off.exe" "$root/image-tree/WinDows/system32/cmd.exe"
if "$make_disk_image" "$root/disk.qcow2" qcow2 ntfs "$root/image-tree" 2> "$root/image.err"; then
  status=0
  "$program" --report-only "$root/disk.qcow2" > "$root/image.out" 2>&1 || status=$?
  [ "$status" -eq 1 ] || { cat "$root/image.out"; fail "on a disk image the packaged program ended with $status"; }
  grep -q 'W32/Gibe.F.Worm found (report only: not deleted)$' "$root/image.out" || fail "$(cat "$root/image.out")"
  echo "check-deb: the packaged program found the worm on a disk image through libguestfs"
elif grep -q launch "$root/image.err"; then
  echo "check-deb: no disk image tried: the libguestfs appliance does not start here"
else
  fail "make-disk-image: $(cat "$root/image.err")"
fi
echo "check-deb: lintian and hardening-check pass; the packaged program cleaned a generated volume"
