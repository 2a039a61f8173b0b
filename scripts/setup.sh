#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need, and
# the packages named as arguments (the smoke test's and the benchmark's own).
# Idempotent: installs only what is missing, and runs apt-get update only then.
set -euo pipefail

packages=(
  cmake make g++ googletest
  g++-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-win32
  g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine wine64 fonts-wine
  xvfb xauth imagemagick
  clang libclang-rt-14-dev
  python3 git
  libhivex-dev pkg-config ntfs-3g attr
  libguestfs-dev linux-image-amd64
  ansible
  live-build qemu-system-x86 ovmf xorriso fdisk dosfstools mtools libhivex-bin
  dpkg-dev lintian devscripts
  time chromium chromium-driver python3-selenium
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
