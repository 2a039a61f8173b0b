#!/usr/bin/env bash
# deploy/ansible/rescue-images.yml run for real, against this machine
# (-c local), over two disk images made by the test: both cleaned, their
# records written into a private temporary folder that is gone afterwards,
# fetched into one folder, scourix-fleet's summary printed; a second run into
# that folder refused. Skipped (77) where the libguestfs appliance cannot start.
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
# The second image is another machine (the summary takes two records of one
# computer for a fault): its name rewritten in the SYSTEM hive, in place and
# at the same length, so that no cell moves.
cp -a "$dir/xp" "$dir/xp2"
python3 - "$dir/xp2/WinDows/system32/config/SYSTEM" << 'END' || fail "XP-DESK is not once in the SYSTEM hive"
import sys
old, new = "XP-DESK".encode("utf-16-le"), "XP-PC02".encode("utf-16-le")
with open(sys.argv[1], "rb") as hive:
    data = hive.read()
if data.count(old) != 1:
    sys.exit(1)
with open(sys.argv[1], "wb") as hive:
    hive.write(data.replace(old, new))
END
"$make_disk_image" "$dir/images/pc02.qcow2" qcow2 ntfs "$dir/xp2" || fail "make-disk-image"

# scourix-rescue as the playbook starts it, noting the records folder it is
# given as that folder is when the program starts.
cat > "$dir/rescue" << END
#!/usr/bin/env bash
previous=
for arg; do
  [ "\$previous" = --record ] && stat -c '%F|%a|%U|%n' -- "\$arg" >> "$dir/record-folders"
  previous=\$arg
done
exec "$rescue" "\$@"
END
chmod +x "$dir/rescue"
mkdir "$dir/remote-tmp" && touch "$dir/record-folders"

play() {
  ansible-playbook -c local -i localhost, "$playbook" -e scourix_hosts=localhost \
    -e "scourix_rescue=$dir/rescue" -e "scourix_fleet=$fleet" -e "scourix_image_folder=$dir/images" \
    -e "scourix_remote_temp=$dir/remote-tmp" -e "scourix_records=$dir/records"
}
status=0
play > "$dir/play.out" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the playbook ended $status: $(cat "$dir/play.out")"
# One new folder of the playbook's own, private, and removed at the end.
[ "$(wc -l < "$dir/record-folders")" -eq 1 ] || fail "scourix-rescue ran $(wc -l < "$dir/record-folders") times"
IFS='|' read -r kind mode owner folder < "$dir/record-folders"
case $folder in "$dir/remote-tmp/"?*) ;; *) fail "the records went to $folder, not a new folder in $dir/remote-tmp" ;; esac
[ "$kind|$mode|$owner" = "directory|700|$(id -un)" ] || fail "$folder: $kind, mode $mode, owner $owner"
[ -z "$(ls -A "$dir/remote-tmp")" ] || fail "left behind: $(ls -A "$dir/remote-tmp")"
for image in pc01.img:XP-DESK pc02.qcow2:XP-PC02; do
  record=$(ls "$dir/records/"localhost-*"${image%:*}.json" 2>/dev/null) || fail "no record of $image: $(ls -R "$dir/records")"
  grep -q '"exitStatus": 1,' "$record" && grep -q "\"computer\": \"${image#*:}\"" "$record" || fail "$image: $(cat "$record")"
done
grep -q '2 machines: 0 clean, 2 cleaned, 0 cleaned but restart pending, 0 need attention' "$dir/play.out" ||
  fail "no summary: $(cat "$dir/play.out")"
# Cleaned for real: a second run finds both images clean.
status=0
"$rescue" --jobs 2 "$dir/images/pc01.img" "$dir/images/pc02.qcow2" > "$dir/again.out" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the second run ended $status: $(cat "$dir/again.out")"
# A run into a folder that holds the last run's records would summarise
# them with its own: refused before anything runs.
status=0
play > "$dir/again-play.out" 2>&1 || status=$?
[ "$status" -ne 0 ] || fail "a run into a folder of earlier records ended 0: $(cat "$dir/again-play.out")"
grep -q "already holds 2 record(s)" "$dir/again-play.out" || fail "no refusal: $(cat "$dir/again-play.out")"
[ "$(wc -l < "$dir/record-folders")" -eq 1 ] || fail "scourix-rescue ran again: $(cat "$dir/again-play.out")"
echo "rescue-images.yml: two images cleaned, their records fetched from a private folder and summarised"
