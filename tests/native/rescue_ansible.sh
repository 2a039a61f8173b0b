#!/usr/bin/env bash
# deploy/ansible/rescue-images.yml run for real, against this machine
# (-c local), over two disk images made by the test: both cleaned, their
# records fetched into one folder, scourix-fleet's summary printed. Skipped
# (77) where the libguestfs appliance cannot start.
set -u
playbook=$1 rescue=$2 fleet=$3 make_samples=$4 make_xp_volume=$5 make_disk_image=$6
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
command -v ansible-playbook > /dev/null || fail "ansible-playbook is not installed (Debian package ansible)"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export ANSIBLE_HOME=$dir/ansible-home ANSIBLE_LOCAL_TEMP=$dir/ansible-tmp ANSIBLE_NOCOLOR=1

mkdir "$dir/samples" "$dir/images" && "$make_samples" "$dir/samples" > /dev/null || fail "make-samples"
"$make_xp_volume" "$dir/xp" || fail "make-xp-volume"
cp "$dir/samples/first-one-byte-off.exe" "$dir/xp/WinDows/system32/cmd.exe"
if ! "$make_disk_image" "$dir/images/pc01.img" raw ntfs "$dir/xp" 2> "$dir/make.err"; then
  grep -q "launch" "$dir/make.err" && skip "the libguestfs appliance does not start here"
  fail "make-disk-image: $(cat "$dir/make.err")"
fi
"$make_disk_image" "$dir/images/pc02.qcow2" qcow2 ntfs "$dir/xp" || fail "make-disk-image"

status=0
ansible-playbook -c local -i localhost, "$playbook" -e scourix_hosts=localhost \
  -e "scourix_rescue=$rescue" -e "scourix_fleet=$fleet" -e "scourix_image_folder=$dir/images" \
  -e "scourix_remote_records=$dir/remote-records" -e "scourix_records=$dir/records" > "$dir/play.out" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the playbook ended $status: $(cat "$dir/play.out")"
for image in pc01.img pc02.qcow2; do
  record=$(ls "$dir/records/"localhost-*"$image.json" 2>/dev/null) || fail "no record of $image: $(ls -R "$dir/records")"
  grep -q '"exitStatus": 1,' "$record" || fail "$image: $(cat "$record")"
done
grep -q '2 machines: 0 clean, 2 cleaned, 0 cleaned but restart pending, 0 need attention' "$dir/play.out" ||
  fail "no summary: $(cat "$dir/play.out")"
# Cleaned for real: a second run finds both images clean.
status=0
"$rescue" --jobs 2 "$dir/images/pc01.img" "$dir/images/pc02.qcow2" > "$dir/again.out" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the second run ended $status: $(cat "$dir/again.out")"
echo "rescue-images.yml: two images cleaned, their records fetched and summarised"
