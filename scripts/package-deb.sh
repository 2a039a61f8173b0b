#!/usr/bin/env bash
# package-deb.sh PROGRAM DEB EPOCH: the Debian package of scourix-rescue from
# the hardened build's PROGRAM, written to DEB. The same program and EPOCH
# (every date in the package) give the same bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
program=$1 deb=$2 epoch=$3
version=$(scripts/version.sh)
package=scourix-rescue
maintainer="Scourix developers <scourix@example.org>"

stage=$(mktemp -d)
shlibs=$(mktemp -d)
trap 'rm -rf "$stage" "$shlibs"' EXIT
export SOURCE_DATE_EPOCH=$epoch

chmod 0755 "$stage"  # the package's ./ entry (mktemp made it 0700)
install -d -m 0755 "$stage/DEBIAN" "$stage/usr/bin" "$stage/usr/share/man/man1" "$stage/usr/share/doc/$package"
# Stripped as Debian strips programs (lintian wants no debug symbols here).
install -m 0755 "$program" "$stage/usr/bin/$package"
strip --remove-section=.comment --remove-section=.note "$stage/usr/bin/$package"
gzip -9n < docs/scourix-rescue.1 > "$stage/usr/share/man/man1/$package.1.gz"
cat > "$stage/usr/share/doc/$package/copyright" <<COPYRIGHT
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Scourix
Source: the Scourix project's source repository

Files: *
Copyright: 2026 The Scourix developers
License: permissive
 Copying and distribution of this software, with or without modification,
 are permitted in any medium without royalty, provided the copyright notice
 and this notice are preserved. This software is offered as-is, without any
 warranty.
COPYRIGHT
gzip -9n > "$stage/usr/share/doc/$package/changelog.gz" <<CHANGELOG
$package ($version) unstable; urgency=medium

  * First packaged release: scourix-rescue cleans W32/Gibe.F.Worm from a
    Windows volume mounted on Linux, with a backup and --undo.

 -- $maintainer  $(LC_ALL=C date -u -R -d "@$epoch")
CHANGELOG
chmod 0644 "$stage/usr/share/man/man1/$package.1.gz" "$stage/usr/share/doc/$package/"*

# The libraries the program links, as Debian names their packages.
mkdir -p "$shlibs/debian"
printf 'Source: scourix\n\nPackage: %s\nArchitecture: any\n' "$package" > "$shlibs/debian/control"
depends=$(cd "$shlibs" && dpkg-shlibdeps -O -e "$stage/usr/bin/$package" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "package-deb: dpkg-shlibdeps found no dependencies" >&2; exit 1; }
# libguestfs is loaded only when a disk or image is given (folders need none
# of it, and the program says what to install when it is missing); its
# appliance boots a kernel of this machine's /boot. apt installs both by
# default; the rescue USB, which cleans mounted folders only, leaves them out.
recommends="libguestfs0 (>= 1:1.48), linux-image-amd64"

# In KiB, each file rounded up, as dpkg counts it: the same on any file system.
size=$(find "$stage/usr" -type f -printf '%s\n' | awk '{ total += int(($1 + 1023) / 1024) } END { print total }')
cat > "$stage/DEBIAN/control" <<CONTROL
Package: $package
Version: $version
Architecture: amd64
Maintainer: $maintainer
Installed-Size: $size
Depends: $depends
Recommends: $recommends
Section: utils
Priority: optional
Description: remove W32/Gibe.F.Worm from a Windows disk from Linux
 scourix-rescue cleans Windows from Linux, where nothing of the worm runs:
 a mounted Windows volume, a disk or partition, or a virtual machine's disk
 image (raw, qcow2, VMDK, VHD, VHDX, through libguestfs, without root). It
 finds and deletes the worm's copies in the folders Windows uses, removes
 its services and repairs the registry hives it changed. Everything it
 changes is backed up first and can be put back with --undo. The disk is
 treated as written by an attacker.
CONTROL
(cd "$stage" && find usr -type f | LC_ALL=C sort | xargs md5sum) > "$stage/DEBIAN/md5sums"
chmod 0644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"
find "$stage" -exec touch -h -d "@$epoch" {} +
dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" > /dev/null
