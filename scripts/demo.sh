#!/bin/sh
# Runs Lumetra under Xvfb without a display of the user's: lumetra_demo starts Lumetra, opens the
# test camera, saves a few images with a text and a watermark, writes screenshots of the camera
# list, the Live View and CAM ACTION, and exits Lumetra. Everything lands in out/.
#   scripts/demo.sh [build folder]   (the build's Wine prefix must be prepared, as run.sh does)
set -e
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
case "$BUILD" in /*) ;; *) BUILD="$PWD/$BUILD" ;; esac
OUT="$PWD/out"
DEMO="$BUILD/tests/e2e/lumetra_demo.exe"
LUMETRA="$BUILD/src/lumetra.exe"
export WINEPREFIX="${WINEPREFIX:-$BUILD/wineprefix}" WINEDEBUG=-all

for file in "$DEMO" "$LUMETRA"; do
    [ -f "$file" ] || { echo "$file is missing: build first (scripts/build.sh)" >&2; exit 1; }
done
mkdir -p "$OUT"
rm -f "$OUT"/*.png "$OUT"/lumetra-demo*.jpg "$OUT"/watermark.bmp

# Wine's first process of a session decides its display: every wine call runs inside Xvfb.
status=0
xvfb-run -a -s "-screen 0 1600x1000x24" sh -c \
    'wine "$1" "$(winepath -w "$2")" "$(winepath -w "$3")"; code=$?; wineserver -w; exit $code' demo "$DEMO" "$OUT" "$LUMETRA" || status=$?
wineserver -k 2>/dev/null || true
echo
if [ "$status" -ne 0 ]; then
    echo "The demonstration failed (exit code $status); see the messages above." >&2
    exit "$status"
fi
echo "Lumetra ran under Xvfb (no display was set). Results in $OUT:"
ls -1 "$OUT"
