#!/usr/bin/env bash
# The Scourix Rescue USB: the image built as `make rescue-iso` builds it, then
# booted in qemu (rescue_usb.py says how). Skipped (77) only without root:
# live-build works in a chroot, and the disks are read back through loop
# devices.
set -u
work=$1 make_samples=$2 make_xp_volume=$3 make_disk_image=$4
here=$(cd "$(dirname "$0")" && pwd)
[ "$(id -u)" -eq 0 ] || { echo "SKIP: building the image and reading the disks back need root"; exit 77; }
rm -rf "$work" && mkdir -p "$work/run"
started=$(date +%s)
if ! "$here/../../scripts/rescue-iso.sh" "$work/image"; then
  echo "FAIL: the image was not built"
  exit 1
fi
iso=$(ls "$work"/image/scourix-rescue-*-amd64.iso)
echo "image: $(basename "$iso"), $(($(stat -c %s "$iso") / 1000000)) MB, ready in $(($(date +%s) - started)) s"
python3 "$here/rescue_usb.py" "$iso" "$make_samples" "$make_xp_volume" "$make_disk_image" "$work/run"
status=$?
# The serial logs stay for a failure; the images go either way.
find "$work" -name '*.img' -delete
rm -rf "$work/image/usb-rescue" "$work/run/iso"
[ "$status" -eq 0 ] && rm -rf "$work"
echo "rescue USB: $(($(date +%s) - started)) s in all"
exit "$status"
