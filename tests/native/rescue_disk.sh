#!/usr/bin/env bash
# scourix-rescue on disk images, through libguestfs: images made by the test
# itself (an MBR, NTFS or FAT32, the tests' infected XP tree), raw and
# qcow2. Cleaned and cleaned again (the changes reached the image, which
# libguestfs reads back), report only (the image keeps every byte), two
# Windows installations on one disk, a disk without Windows and a damaged
# one (3). Skipped (77) only where the libguestfs appliance cannot start.
set -u
rescue=$1 make_samples=$2 make_xp_volume=$3 make_disk_image=$4
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

mkdir "$dir/samples" && "$make_samples" "$dir/samples" >/dev/null || fail "make-samples"
# Inspection takes a volume for Windows when its system32 holds cmd.exe (a
# PE program) beside config.
tree() {
  "$make_xp_volume" "$1" || fail "make-xp-volume"
  cp "$dir/samples/first-one-byte-off.exe" "$1/WinDows/system32/cmd.exe"
}
tree "$dir/xp1"
tree "$dir/xp2"
find "$dir/xp2" -type l -delete  # FAT32 holds no links
cp -r "$dir/xp2" "$dir/xp3"
# Hibernated: ntfs-3g mounts such a volume read-only by itself.
cp -r "$dir/xp2" "$dir/hibernated"
{ printf 'HIBR'; head -c 8188 /dev/zero; } > "$dir/hibernated/hiberfil.sys"
mkdir -p "$dir/plain/Data" && echo "no Windows here" > "$dir/plain/Data/readme.txt"

if ! "$make_disk_image" "$dir/xp.img" raw ntfs "$dir/xp1" 2> "$dir/make.err"; then
  grep -q "launch" "$dir/make.err" && skip "the libguestfs appliance does not start here: $(cat "$dir/make.err")"
  fail "make-disk-image: $(cat "$dir/make.err")"
fi
"$make_disk_image" "$dir/xp.qcow2" qcow2 ntfs "$dir/xp1" || fail "make-disk-image qcow2"
"$make_disk_image" "$dir/two.img" raw vfat "$dir/xp2" "$dir/xp3" || fail "make-disk-image two"
"$make_disk_image" "$dir/plain.qcow2" qcow2 ntfs "$dir/plain" || fail "make-disk-image plain"
"$make_disk_image" "$dir/hibernated.img" raw ntfs "$dir/hibernated" || fail "make-disk-image hibernated"

run() {  # run NAME ARGS...: status in $status, output in $dir/NAME.out, messages in $dir/NAME.err
  local name=$1; shift
  status=0
  "$rescue" "$@" > "$dir/$name.out" 2> "$dir/$name.err" || status=$?
}
expect_status() { [ "$status" -eq "$1" ] || fail "$2 ended $status, not $1: $(cat "$dir/$2.out" "$dir/$2.err")"; }
deleted() { grep -c 'W32/Gibe.F.Worm deleted$' "$dir/$1.out"; }

# Report only: found, and not one byte of the image changed.
before=$(sha256sum < "$dir/xp.qcow2")
run report --report-only "$dir/xp.qcow2"
expect_status 1 report
grep -q 'found (report only: not deleted)$' "$dir/report.out" || fail "report: $(cat "$dir/report.out")"
grep -q 'runs under' "$dir/report.err" || fail "report: which appliance ran is not said"
[ "$(sha256sum < "$dir/xp.qcow2")" = "$before" ] || fail "report only changed the image"

cp "$dir/xp.img" "$dir/device.img"
# Cleaned, with a log and a record; a second run finds a clean disk.
run clean --log "$dir/clean.log" --record "$dir/clean.json" "$dir/xp.img"
expect_status 1 clean
[ "$(deleted clean)" -eq 4 ] || fail "clean: $(cat "$dir/clean.out")"
grep -q "^Backup of what was changed: $dir/xp.img:/Scourix/backup-" "$dir/clean.out" || fail "clean: backup line"
grep -q '"computer": "XP-DESK"' "$dir/clean.json" || fail "clean: record $(cat "$dir/clean.json")"
grep -q 'Scanning completed' "$dir/clean.log" || fail "clean: log"
run again "$dir/xp.img"
expect_status 0 again
# Undone from the backup inside the image: the worm is back, every file of it.
backup=$(sed -n "s|^Backup of what was changed: $dir/xp.img:/||p" "$dir/clean.out")
run undo --undo "$backup" "$dir/xp.img"
expect_status 0 undo
[ "$(grep -c '     restored$' "$dir/undo.out")" -eq 8 ] || fail "undo: $(cat "$dir/undo.out")"
run undone --report-only "$dir/xp.img"
expect_status 1 undone
[ "$(grep -c 'found (report only: not deleted)$' "$dir/undone.out")" -eq 4 ] || fail "undone: $(cat "$dir/undone.out")"

# A block device: the same image behind a loop device (root only).
if [ "$(id -u)" -eq 0 ] && loop=$(losetup --find --show "$dir/device.img" 2> /dev/null); then
  run device "$loop"
  losetup -d "$loop"
  expect_status 1 device
  [ "$(deleted device)" -eq 4 ] || fail "device: $(cat "$dir/device.out")"
else
  echo "block device: not tried (needs root and a free loop device)"
fi

# Two Windows installations on one disk (FAT32): both cleaned, each headed.
run two --record "$dir/two.json" "$dir/two.img"
expect_status 1 two
[ "$(grep -c '^--- Windows on /dev/sda[12] ' "$dir/two.out")" -eq 2 ] || fail "two: $(cat "$dir/two.out")"
[ "$(deleted two)" -eq 8 ] || fail "two: $(cat "$dir/two.out")"
[ -s "$dir/two-sda1.json" ] && [ -s "$dir/two-sda2.json" ] || fail "two: a record per installation"

# A hibernated Windows is named as such, and not cleaned.
run hibernated "$dir/hibernated.img"
expect_status 3 hibernated
grep -q 'hibernated' "$dir/hibernated.err" || fail "hibernated: $(cat "$dir/hibernated.err")"

# No Windows, and a damaged disk: 3, said clearly, nothing changed.
run plain "$dir/plain.qcow2"
expect_status 3 plain
grep -q 'no Windows installation found' "$dir/plain.err" || fail "plain: $(cat "$dir/plain.err")"
head -c 1048576 "$dir/xp.img" > "$dir/damaged.img"
head -c 65536 /dev/urandom >> "$dir/damaged.img"
run damaged "$dir/damaged.img"
expect_status 3 damaged
printf 'QFI\xfb\0\0\0\3\0\0\0\0\0\0\1\0' > "$dir/backed.qcow2" && truncate -s 512 "$dir/backed.qcow2"
run backed "$dir/backed.qcow2"
expect_status 3 backed
grep -q 'backing file' "$dir/backed.err" || fail "backed: $(cat "$dir/backed.err")"
echo "disk images: report only kept every byte; raw, qcow2, FAT32, a block device and two installations cleaned"
