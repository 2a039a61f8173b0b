#!/usr/bin/env bash
# make release: in build/release,
#   Scourix-1.0.zip        the shipped 32-bit Scourix.exe and scourix-cli.exe
#                          without debug sections, the user guide, their
#                          SHA-256 checksums
#   Scourix-1.0-debug.zip  the programs' debug information, for a crash
#                          report (each program names its file)
#   scourix-rescue_1.0_amd64.deb  the hardened scourix-rescue, its man page
# and a SHA256SUMS of the three. Built from scratch each time; the same
# commit gives the same bytes (every date, the programs' own included, is the
# commit's).
#
#   release.sh          build them
#   release.sh --twice  build them twice, in two folders, fail unless the two
#                       builds are the same bytes, then check the package
#                       (lintian, hardening-check, a run of the unpacked
#                       program on a generated volume)
set -euo pipefail
cd "$(dirname "$0")/.."

version=$(scripts/version.sh)
name=Scourix-$version
deb=scourix-rescue_${version}_amd64.deb
out=$PWD/build/release

# Every date: the commit's time (SOURCE_DATE_EPOCH when given). objcopy and
# strip write it into the programs' headers too.
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 1054771200)}
export SOURCE_DATE_EPOCH=$epoch

# zip_folder FOLDER ZIP: FOLDER's files, with the commit's dates and no Unix
# owners or modes.
zip_folder() {
  python3 - "$1" "$2" "$epoch" <<'PY'
import os, sys, time, zipfile
root, target, epoch = sys.argv[1], sys.argv[2], int(sys.argv[3])
stamp = time.gmtime(max(epoch, 315532800))[:6]  # zip dates begin in 1980
paths = sorted(os.path.relpath(os.path.join(d, f), root) for d, _, fs in os.walk(root) for f in fs)
with zipfile.ZipFile(target, "w") as z:
    for path in paths:
        info = zipfile.ZipInfo(path.replace(os.sep, "/"), stamp)
        info.compress_type = zipfile.ZIP_DEFLATED
        info.create_system = 0  # MS-DOS: no Unix owner or mode
        info.external_attr = 0x20  # archive bit
        with open(os.path.join(root, path), "rb") as f:
            z.writestr(info, f.read(), compresslevel=9)
PY
}

# build_zips BUILD_DIR ZIP DEBUG_ZIP
build_zips() {
  local build=$1 zip=$2 debug_zip=$3 stage debug program
  rm -rf "$build"
  cmake --preset release -B "$build" > /dev/null
  cmake --build "$build" -j "$(nproc)" --target Scourix scourix-cli > /dev/null
  stage=$build/stage/$name
  debug=$build/debug/$name-debug
  mkdir -p "$stage" "$debug"
  for program in Scourix.exe scourix-cli.exe; do
    # About half of each program is DWARF from the static runtime: it goes
    # beside the zip, and the program names its file.
    i686-w64-mingw32-objcopy --only-keep-debug "$build/bin/$program" "$debug/$program.debug"
    i686-w64-mingw32-strip --strip-all -o "$stage/$program" "$build/bin/$program"
    (cd "$debug" && i686-w64-mingw32-objcopy --add-gnu-debuglink="$program.debug" "$stage/$program")
  done
  # Notepad on the old systems wants CR LF.
  sed 's/$/\r/' docs/user-guide.txt > "$stage/README.txt"
  (cd "$stage" && sha256sum Scourix.exe scourix-cli.exe README.txt | sed 's/$/\r/' > SHA256SUMS.txt)
  zip_folder "$build/stage" "$zip"
  zip_folder "$build/debug" "$debug_zip"
}

# build_deb BUILD_DIR DEB: the hardened scourix-rescue, packaged.
build_deb() {
  local build=$1 package=$2
  rm -rf "$build"
  cmake --preset rescue-release -B "$build" > /dev/null
  cmake --build "$build" -j "$(nproc)" --target scourix-rescue > /dev/null
  scripts/package-deb.sh "$build/bin/scourix-rescue" "$package" "$epoch"
}

mkdir -p "$out"
build_zips "$out/cmake" "$out/$name.zip" "$out/$name-debug.zip"
build_deb "$out/rescue" "$out/$deb"
files=("$name.zip" "$name-debug.zip" "$deb")
# The Scourix Rescue USB, with that package (root: live-build). Not in the
# check that make test runs, which compares two builds byte for byte: the
# image has its own test, which builds and boots it (native_rescue_usb).
if [ "${1:-}" != --twice ]; then
  iso=scourix-rescue-$version-amd64.iso
  scripts/build-rescue-iso.sh "$out/$deb" "$out/$iso"
  files+=("$iso")
fi
(cd "$out" && sha256sum "${files[@]}" > SHA256SUMS)
echo "release: ${files[*]} in $out"
sed 's/^/  /' "$out/SHA256SUMS"

if [ "${1:-}" = --twice ]; then
  again=$out/again
  rm -rf "$again" && mkdir -p "$again"
  build_zips "$again/cmake" "$again/$name.zip" "$again/$name-debug.zip"
  build_deb "$again/rescue" "$again/$deb"
  for file in "$name.zip" "$name-debug.zip" "$deb"; do
    if ! cmp -s "$out/$file" "$again/$file"; then
      echo "release: the second build of $file differs; see $again/$file" >&2
      exit 1
    fi
  done
  echo "release: a second build, in other folders, gave the same bytes"
  rm -rf "$again"
  # The package as a technician gets it, checked with the tests' volume.
  cmake --preset native > /dev/null
  cmake --build --preset native -j "$(nproc)" --target make-xp-volume make-samples make-disk-image > /dev/null
  scripts/check-deb.sh "$out/$deb" "$PWD/build/native/bin/make-xp-volume" "$PWD/build/native/bin/make-samples" \
    "$PWD/build/native/bin/make-disk-image"
fi
