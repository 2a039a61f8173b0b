#!/usr/bin/env bash
# build-rescue-iso.sh DEB ISO: the Scourix Rescue USB image, a Debian 12 live
# system made by live-build from live/, with the scourix-rescue package DEB,
# written to ISO (iso-hybrid: a CD, or a USB stick written with dd; BIOS and
# UEFI with Debian's signed shim, GRUB and kernel).
#
# Needs root (live-build works in a chroot). Its work and its package cache
# stay in SCOURIX_LIVE_CACHE (default /var/cache/scourix-live), so a second
# build downloads nothing again. An image built there from the same package,
# the same live/ and this script in the last day is used again instead of
# building another (SCOURIX_ISO_FRESH=1 always builds). The Debian mirror is
# the one this machine's apt uses.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: build-rescue-iso.sh DEB ISO" >&2; exit 2; }
deb=$(realpath "$1") iso=$(realpath -m "$2")
cd "$(dirname "$0")/.."
repo=$PWD
[ -f "$deb" ] || { echo "build-rescue-iso: no package $deb" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "build-rescue-iso: live-build needs root" >&2; exit 1; }
command -v lb > /dev/null || { echo "build-rescue-iso: live-build is not installed (scripts/setup.sh)" >&2; exit 1; }

cache=${SCOURIX_LIVE_CACHE:-/var/cache/scourix-live}
mkdir -p "$cache/images"
exec 9> "$cache/lock"
flock 9  # one build at a time in this cache

epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 1054771200)}
export SOURCE_DATE_EPOCH=$epoch

key=$( { sha256sum < "$deb"; sha256sum < scripts/build-rescue-iso.sh; lb --version;
         (cd live && find . -type f -o -type l | LC_ALL=C sort | while read -r f; do
            echo "$f"; if [ -L "$f" ]; then readlink "$f"; else sha256sum < "$f"; fi; done); } | sha256sum | cut -c1-32)
kept=$cache/images/$key.iso
if [ -z "${SCOURIX_ISO_FRESH:-}" ] && [ -n "$(find "$kept" -mmin -1440 2> /dev/null)" ]; then
  echo "build-rescue-iso: the image built from these inputs at $(date -r "$kept" '+%F %T') is used again"
  cp "$kept" "$iso"
  exit 0
fi
find "$cache/images" -name '*.iso' -mmin +1440 -delete

# The mirror and security mirror this machine's apt uses.
site_of() { apt-get indextargets --format '$(SITE) $(RELEASE)' 2> /dev/null | awk -v r="$1" '$2 == r { print $1; exit }'; }
mirror=$(site_of bookworm)
security=$(site_of bookworm-security)
mirror_options=()
[ -n "$mirror" ] && mirror_options+=(--mirror-bootstrap "$mirror" --mirror-chroot "$mirror" --mirror-binary "$mirror")
[ -n "$security" ] && mirror_options+=(--mirror-chroot-security "$security" --mirror-binary-security "$security")

work=$cache/build
mkdir -p "$work"
cd "$work"
# Everything but the package cache goes: each build starts from live/ alone.
# (A build that was stopped may have left the chroot's file systems mounted.)
{ findmnt -rn -o TARGET | grep "^$work/" || true; } | sort -r | xargs -r -d "\n" umount -l
lb clean --all > /dev/null 2>&1 || true
rm -rf --one-file-system config auto local chroot chroot.tmp binary .build live-image-* *.log
# The debootstrapped system is kept between builds (packages are upgraded
# over it); another bootstrap asks for another. apt-utils comes with it: the
# package's local repository needs it before the upgrade, when a newer one
# from the security archive could not go in beside the older apt.
bootstrap="bookworm amd64 --variant=minbase --include=apt-utils $mirror"
[ "$(cat cache/bootstrap.options 2> /dev/null)" = "$bootstrap" ] || rm -rf cache/bootstrap
mkdir -p cache && echo "$bootstrap" > cache/bootstrap.options
lb config --quiet \
  --distribution bookworm --architectures amd64 --archive-areas main \
  --binary-images iso-hybrid --bootloaders "syslinux grub-efi" --uefi-secure-boot enable \
  --debian-installer none --memtest none --win32-loader false \
  --firmware-chroot false --firmware-binary false \
  --apt-recommends false --apt-indices false --apt-source-archives false \
  --apt-options "--yes -o Acquire::Retries=5 -o Dpkg::Options::=--force-confold" \
  --debootstrap-options "--variant=minbase --include=apt-utils" \
  --linux-packages linux-image --linux-flavours amd64 \
  --initsystem systemd --chroot-squashfs-compression-type xz \
  --cache true --cache-packages true --cache-stages bootstrap \
  --security true --updates true "${mirror_options[@]}" \
  --iso-volume "SCOURIX_RESCUE" --iso-application "Scourix Rescue USB" \
  --iso-publisher "Scourix developers" --iso-preparer "live-build" \
  --bootappend-live "boot=live noeject noautomount quiet loglevel=3" \
  > /dev/null
cp -a "$repo/live/config/." config/
version=$(dpkg-deb -f "$deb" Version)
grep -rl '@SCOURIX_VERSION@' config | xargs -r sed -i "s/@SCOURIX_VERSION@/$version/g"
mkdir -p config/packages.chroot
cp "$deb" config/packages.chroot/

# libguestfs0 is only recommended by the package and live-build installs no
# recommended packages: the live system cleans mounted folders only.
if dpkg-deb -f "$deb" Depends | grep -q libguestfs; then
  echo "build-rescue-iso: the package depends on libguestfs; the live system has no room for it" >&2
  exit 1
fi

echo "build-rescue-iso: building in $work (live-build; its log: $work/build.log)"
started=$(date +%s)
if ! lb build > build.log 2>&1; then
  tail -n 40 build.log >&2
  echo "build-rescue-iso: live-build failed; see $work/build.log" >&2
  exit 1
fi
[ -f live-image-amd64.hybrid.iso ] || { echo "build-rescue-iso: live-build made no image" >&2; exit 1; }
size=$(stat -c %s live-image-amd64.hybrid.iso)
if [ "$size" -gt $((700 * 1000 * 1000)) ]; then
  echo "build-rescue-iso: the image is $((size / 1000000)) MB, over 700 MB" >&2
  exit 1
fi
cd "$repo"
mv "$work/live-image-amd64.hybrid.iso" "$kept"
cp "$kept" "$iso"
echo "build-rescue-iso: $iso, $((size / 1000000)) MB, built in $(($(date +%s) - started)) s"
