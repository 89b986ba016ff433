#!/bin/sh
# Runs Lumetra under Xvfb without a display of the user's: opens the test camera, saves a few
# images and writes screenshots of the windows to out/.
set -e
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
OUT="$PWD/out"
mkdir -p "$OUT"
export WINEPREFIX="${WINEPREFIX:-$PWD/$BUILD/wineprefix}" WINEDEBUG=-all

DEMO="$BUILD/tests/e2e/lumetra_demo.exe"
if [ -f "$DEMO" ]; then
    xvfb-run -a -s "-screen 0 1600x1000x24" sh -c "wine '$DEMO' '$(winepath -w "$OUT")' '$(winepath -w "$BUILD/src/lumetra.exe")'; \
        xwd -root -silent | convert xwd:- '$OUT/screenshot.png'" || true
else
    xvfb-run -a -s "-screen 0 1600x1000x24" sh -c "wine '$BUILD/src/lumetra.exe' & sleep 8; \
        xwd -root -silent | convert xwd:- '$OUT/screenshot.png'; wineserver -k" || true
fi
wineserver -k 2>/dev/null || true
echo "Lumetra ran under Xvfb (no display was set). Results are in $OUT:"
ls -1 "$OUT"
