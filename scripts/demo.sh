#!/usr/bin/env bash
# make demo: Scourix in a throwaway Wine prefix seeded with harmless samples
# (one in each scan target, one read-only and hidden, one outside the targets
# that must not be found) and with the worm's registry entries.
#
# With a display ($DISPLAY) the person clicks through the dialogs. Without
# one, Scourix runs under Xvfb and is driven through OK, the scan, OK and OK;
# the status line and every result line are printed, and a PNG picture of
# each dialog is saved in build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset win64 > /dev/null
cmake --build --preset win64 -j "$(nproc)" --target Scourix scourix-demo wine-crash > /dev/null

demo=$PWD/build/demo
rm -rf "$demo"
mkdir -p "$demo"
scripts/wine-prefix.sh create "$demo/template" build/win64/bin/wine-crash.exe > /dev/null
trap 'rm -rf "$demo/template"' EXIT

export SCOURIX_WINE_TEMPLATE=$demo/template
export SCOURIX_WINE_TIMEOUT=3600
if [ -n "${DISPLAY:-}" ]; then
  echo "demo: Scourix opens on $DISPLAY; click through it."
  SCOURIX_WINE_DISPLAY=host scripts/wine-run.sh build/win64/bin/scourix-demo.exe interactive
else
  echo "demo: no display; Scourix runs under Xvfb and is driven by scourix-demo."
  SCOURIX_WINE_DISPLAY=xvfb SCOURIX_WINE_ARTIFACTS=$demo \
    scripts/wine-run.sh build/win64/bin/scourix-demo.exe drive
  echo "demo: pictures of the dialogs:"
  ls "$demo"/*.png | sed 's/^/  /'
fi
