#!/usr/bin/env bash
# rescue-iso.sh [DIR]: the Scourix Rescue USB image, DIR/scourix-rescue-VERSION-amd64.iso
# (DIR: build/release), with scourix-rescue built and packaged as release.sh
# builds and packages it (the rescue-release preset, the commit's dates): the
# same commit gives the same package, so the image built for one is found
# again by the other in build-rescue-iso.sh's cache. Needs root (live-build).
set -euo pipefail
out=$(realpath -m "${1:-build/release}")
cd "$(dirname "$0")/.."
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 1054771200)}
build=$out/usb-rescue
mkdir -p "$out"
rm -rf "$build"
cmake --preset rescue-release -B "$build" > /dev/null
cmake --build "$build" -j "$(nproc)" --target scourix-rescue > /dev/null
scripts/package-deb.sh "$build/bin/scourix-rescue" "$build/scourix-rescue.deb" "$epoch"
version=$(dpkg-deb -f "$build/scourix-rescue.deb" Version)
deb=$build/scourix-rescue_${version}_amd64.deb
mv "$build/scourix-rescue.deb" "$deb"
SOURCE_DATE_EPOCH=$epoch scripts/build-rescue-iso.sh "$deb" "$out/scourix-rescue-$version-amd64.iso"
