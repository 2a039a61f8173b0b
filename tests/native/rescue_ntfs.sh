#!/usr/bin/env bash
# scourix-rescue on a real NTFS volume: an image made by mkntfs and mounted
# through ntfs-3g (FUSE), so the walk meets NTFS as Linux sees it: names in
# any case, reparse points (a junction and a symlink) and the read-only
# attribute. Needs root, /dev/fuse and the ntfs-3g and attr packages;
# otherwise it is skipped (77).
# shellcheck disable=SC2015  # "a && b || fail" is meant: either failing fails
set -u
rescue=$1 make_samples=$2 make_xp_volume=$3
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
for tool in mkntfs ntfs-3g setfattr iconv; do
  command -v "$tool" >/dev/null || skip "$tool not installed (Debian packages ntfs-3g, attr)"
done
[ "$(id -u)" -eq 0 ] || skip "mounting an NTFS image needs root"
[ -c /dev/fuse ] || skip "no /dev/fuse"

dir=$(mktemp -d)
img=$dir/volume.img mnt=$dir/mnt
# Unmounted on every way out; rm stays on this file system should that fail.
cleanup() {
  cd / || return
  if mountpoint -q "$mnt"; then umount "$mnt" 2>/dev/null || umount -l "$mnt"; fi
  rm -rf --one-file-system "$dir"
}
trap cleanup EXIT
mount_volume() { ntfs-3g -o "$1" "$img" "$mnt" 2>"$dir/mount.err"; }
unmount_volume() { umount "$mnt" || fail "umount"; }

mkdir "$dir/samples" && "$make_samples" "$dir/samples" >/dev/null || fail "make-samples"
# The worm sample, and a near miss (one byte off) that must stay.
worm=$dir/samples/match.exe clean=$dir/samples/first-one-byte-off.exe
truncate -s 32M "$img" && mkntfs -F -Q -q -L RESCUE "$img" >/dev/null 2>&1 || fail "mkntfs"
mkdir "$mnt"
mount_volume rw || skip "ntfs-3g cannot mount here: $(cat "$dir/mount.err")"

# The tree: folder names in mixed case, which the rescue program matches
# without regard to case; SYSTEM.DAT makes it a Windows 98 volume (no hives).
cd "$mnt" || fail "cd $mnt"
mkdir -p Windows/SYSTEM32 "documents and settings/Alice/Local Settings/Temp" \
  "PROGRAM FILES/App" Outside "PROGRAM FILES/App/Junction"
printf 'REGEDIT4\r\n' > Windows/SYSTEM.DAT
cp "$clean" Windows/SYSTEM32/clean.dll
cp "$worm" Windows/SYSTEM32/worm.exe
cp "$worm" "documents and settings/Alice/Local Settings/Temp/temp1.exe"
cp "$worm" "PROGRAM FILES/App/setup.exe"
cp "$worm" Outside/keep.exe
# The Windows read-only attribute (FILE_ATTRIBUTE_READONLY | ARCHIVE) does
# not stop the deletion: the file goes like the others.
setfattr -n system.ntfs_attrib_be -v 0x00000021 "PROGRAM FILES/App/setup.exe" || fail "read-only attribute"
# A real junction: a mount-point reparse point to C:\Outside, which ntfs-3g
# shows as a symlink into the volume; and an NTFS symlink to the kept worm.
utf16hex() { printf '%s' "$1" | iconv -t UTF-16LE | od -An -tx1 | tr -d ' \n'; }
sub=$(utf16hex '\??\C:\Outside') prt=$(utf16hex 'C:\Outside')
le16() { printf '%02x%02x' $(($1 & 255)) $(($1 >> 8)); }
body=$(le16 0)$(le16 28)$(le16 30)$(le16 20)${sub}0000${prt}0000
setfattr -n system.ntfs_reparse_data -v "0x030000a0$(le16 $((${#body} / 2)))0000$body" \
  "PROGRAM FILES/App/Junction" || fail "junction"
ln -s ../../Outside/keep.exe Windows/SYSTEM32/link.exe || fail "symlink"
cd / && unmount_volume
echo "made an NTFS image: 3 worm copies in the scan targets, 1 outside behind a junction and a symlink"

run() { out=$("$rescue" "$@" 2>&1); status=$?; }

# Read-only mount: changing is refused, reporting works; the image is unchanged.
before=$(sha256sum < "$img")
mount_volume ro || fail "read-only mount: $(cat "$dir/mount.err")"
[ "$(readlink "$mnt/PROGRAM FILES/App/Junction")" = "$mnt/Outside" ] || fail "junction not seen as a link"
run "$mnt"; [ "$status" -eq 3 ] || fail "read-only mount without --report-only: exit $status: $out"
grep -q 'nothing was changed' <<<"$out" || fail "refusal message: $out"
run --report-only "$mnt"; [ "$status" -eq 1 ] || fail "report-only on read-only mount: exit $status: $out"
[ "$(grep -c 'found (report only: not deleted)' <<<"$out")" -eq 3 ] || fail "report-only found: $out"
unmount_volume
[ "$(sha256sum < "$img")" = "$before" ] || fail "image changed by a read-only mount"
echo "read-only mount: exit 3 without --report-only, 3 worms reported with it"

# Read-write mount, --report-only: the image stays byte for byte the same
# (noatime, as reading alone would otherwise record access times).
mount_volume rw,noatime || fail "mount"
run --report-only "$mnt"; [ "$status" -eq 1 ] || fail "report-only: exit $status: $out"
[ "$(grep -c 'found (report only: not deleted)' <<<"$out")" -eq 3 ] || fail "report-only found: $out"
unmount_volume
[ "$(sha256sum < "$img")" = "$before" ] || fail "--report-only changed the image"
echo "read-write mount, --report-only: exit 1, 3 worms reported, image unchanged"
mount_volume rw,noatime || fail "mount"

# The real run: the three in the targets go, whatever the case of their
# folders and their read-only attribute; the links are neither entered nor
# removed, and what they point to stays.
# Exit 2: a Windows 98 registry is not repaired offline.
run --log "$dir/rescue.log" "$mnt"; [ "$status" -eq 2 ] || fail "rescue: exit $status: $out"
for want in 'C:\Windows\SYSTEM32\worm.exe' 'C:\documents and settings\Alice\Local Settings\Temp\temp1.exe' \
  'C:\PROGRAM FILES\App\setup.exe'; do
  grep -qxF "$want     W32/Gibe.F.Worm deleted" <<<"$out" || fail "no deletion line for $want: $out"
done
[ "$(grep -c 'W32/Gibe.F.Worm' <<<"$out")" -eq 3 ] || fail "more than three worm lines: $out"
grep -q 'cannot be repaired offline' <<<"$out" || fail "no Windows 98 registry line: $out"
grep -q 'Scanning completed' <<<"$out" || fail "no final status: $out"
[ "$(grep -c 'W32/Gibe.F.Worm deleted' "$dir/rescue.log")" -eq 3 ] || fail "log: $(cat "$dir/rescue.log")"
unmount_volume && mount_volume rw,noatime || fail "remount"
for gone in Windows/SYSTEM32/worm.exe "documents and settings/Alice/Local Settings/Temp/temp1.exe" \
  "PROGRAM FILES/App/setup.exe"; do
  [ ! -e "$mnt/$gone" ] || fail "$gone still on the volume"
done
cmp -s "$worm" "$mnt/Outside/keep.exe" || fail "the worm outside the targets was touched"
cmp -s "$clean" "$mnt/Windows/SYSTEM32/clean.dll" || fail "the clean file was touched"
[ -L "$mnt/Windows/SYSTEM32/link.exe" ] && [ -L "$mnt/PROGRAM FILES/App/Junction" ] || fail "a link was removed"
echo "rescue: exit 2 (registry not repaired offline), 3 deletion lines (and in the log), the worms gone after remounting, links and their targets kept"

run "$mnt"; [ "$status" -eq 0 ] || fail "second run: exit $status: $out"
echo "second run: exit 0, nothing left"

# An XP volume with hives on NTFS: the hives are written through ntfs-3g
# (new file, rename), everything changed is backed up, and --undo puts the
# volume back byte for byte.
unmount_volume
truncate -s 32M "$img" && mkntfs -F -Q -q -L XP "$img" >/dev/null 2>&1 || fail "mkntfs (XP)"
mount_volume rw,noatime || fail "mount (XP)"
"$make_xp_volume" "$mnt" || fail "make-xp-volume"
checksums() { (cd "$mnt" && find . -path ./Scourix -prune -o -type f -print0 | sort -z | xargs -0 sha256sum); }
before=$(checksums)
run "$mnt"; [ "$status" -eq 1 ] || fail "XP rescue: exit $status: $out"
grep -qxF 'System Registry     W32/Gibe.F.Worm removed' <<<"$out" || fail "no registry line: $out"
grep -qxF 'Service worm     W32/Gibe.F.Worm removed' <<<"$out" || fail "no service line: $out"
backup=$(sed -n 's/^Backup of what was changed: //p' <<<"$out")
[ -f "$backup/manifest.txt" ] || fail "no backup manifest: $out"
[ "$(grep -c $'^hive\t' "$backup/manifest.txt")" -eq 4 ] || fail "hives in the manifest: $(cat "$backup/manifest.txt")"
[ "$(grep -c $'^file\t.*\tdeleted\t' "$backup/manifest.txt")" -eq 4 ] || fail "files in the manifest"
[ "$(checksums)" != "$before" ] || fail "the XP rescue changed nothing"
unmount_volume && mount_volume rw,noatime || fail "remount (XP)"
run --undo "$backup" "$mnt"; [ "$status" -eq 0 ] || fail "undo: exit $status: $out"
[ "$(grep -c '     restored$' <<<"$out")" -eq 8 ] || fail "undo lines: $out"
unmount_volume && mount_volume rw,noatime || fail "remount (XP)"
[ "$(checksums)" = "$before" ] || fail "undo did not restore every byte: $(diff <(echo "$before") <(checksums))"
echo "XP volume: hives repaired through ntfs-3g, 4 hives and 4 files backed up, undo restored every byte"
