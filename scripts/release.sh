#!/usr/bin/env bash
# make release: build/release/Scourix-1.0.zip with the shipped 32-bit
# Scourix.exe and scourix-cli.exe, the user guide and their SHA-256 checksums, and the zip's own
# checksum beside it. Built from scratch each time; the same commit gives the
# same bytes (no time stamps in the program, the zip's dates are the
# commit's).
#
#   release.sh          build the zip
#   release.sh --twice  build it twice, in two folders, and fail unless the
#                       two zips are the same bytes
set -euo pipefail
cd "$(dirname "$0")/.."

version=1.0
name=Scourix-$version
out=$PWD/build/release

# Every date in the zip: the commit's time (SOURCE_DATE_EPOCH when given).
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 1054771200)}

# build_zip BUILD_DIR ZIP
build_zip() {
  local build=$1 zip=$2 stage
  rm -rf "$build"
  cmake --preset release -B "$build" > /dev/null
  cmake --build "$build" -j "$(nproc)" --target Scourix scourix-cli > /dev/null
  stage=$build/stage/$name
  mkdir -p "$stage"
  cp "$build/bin/Scourix.exe" "$build/bin/scourix-cli.exe" "$stage/"
  # Notepad on the old systems wants CR LF.
  sed 's/$/\r/' docs/user-guide.txt > "$stage/README.txt"
  (cd "$stage" && sha256sum Scourix.exe scourix-cli.exe README.txt | sed 's/$/\r/' > SHA256SUMS.txt)
  python3 - "$build/stage" "$zip" "$epoch" <<'PY'
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

mkdir -p "$out"
build_zip "$out/cmake" "$out/$name.zip"
(cd "$out" && sha256sum "$name.zip" > "$name.zip.sha256")
echo "release: $out/$name.zip"
sed 's/^/  /' "$out/$name.zip.sha256"

if [ "${1:-}" = --twice ]; then
  build_zip "$out/cmake-again" "$out/again.zip"
  if cmp -s "$out/$name.zip" "$out/again.zip"; then
    echo "release: a second build, in another folder, gave the same bytes"
    (cd "$out" && sha256sum again.zip | sed 's/^/  /')
    rm -rf "$out/cmake-again" "$out/again.zip"
  else
    echo "release: the second build differs; see $out/again.zip" >&2
    exit 1
  fi
fi
