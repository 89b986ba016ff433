#!/bin/sh
# Runs Lumetra under Xvfb without a display of the user's: lumetra_demo starts Lumetra, opens the
# test camera, saves a few images with a text and a watermark, writes screenshots of the camera
# list, the Live View and CAM ACTION, and exits Lumetra. lumetra-web runs beside it, and headless
# Chromium takes a screenshot of its page once Lumetra is done. Everything lands in out/.
#   scripts/demo.sh [build folder]   (the build's Wine prefix must be prepared, as run.sh does)
set -e
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
case "$BUILD" in /*) ;; *) BUILD="$PWD/$BUILD" ;; esac
OUT="$PWD/out"
DEMO="$BUILD/tests/e2e/lumetra_demo.exe"
LUMETRA="$BUILD/src/lumetra.exe"
WEB="$BUILD/src/web/lumetra-web.exe"
WEB_PORT="${LUMETRA_WEB_PORT:-8080}"
export WINEPREFIX="${WINEPREFIX:-$BUILD/wineprefix}" WINEDEBUG=-all

for file in "$DEMO" "$LUMETRA" "$WEB"; do
    [ -f "$file" ] || { echo "$file is missing: build first (scripts/build.sh)" >&2; exit 1; }
done
# Another program on the port would answer in the service's place: take a free one then.
if curl -s -o /dev/null "http://127.0.0.1:$WEB_PORT/"; then
    WEB_PORT=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
fi
mkdir -p "$OUT"
rm -f "$OUT"/*.png "$OUT"/lumetra-demo*.jpg "$OUT"/watermark.bmp

# Wine's first process of a session decides its display: every wine call runs inside Xvfb.
status=0
xvfb-run -a -s "-screen 0 1600x1000x24" sh -c '
    wine "$4" --port "$5" & web=$!
    wine "$1" "$(winepath -w "$2")" "$(winepath -w "$3")"; code=$?
    echo
    echo "lumetra-web served http://127.0.0.1:$5/ beside Lumetra; its page, as Chromium shows it:"
    if command -v chromium >/dev/null 2>&1; then
        chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1000,680 \
            --screenshot="$6/web-page.png" "http://127.0.0.1:$5/" >/dev/null 2>&1 &&
            echo "  $6/web-page.png" || echo "  (Chromium could not take the screenshot)"
    else
        echo "  (no screenshot: chromium is not installed)"
    fi
    wine taskkill /im lumetra-web.exe >/dev/null 2>&1 || kill $web
    wait $web
    wineserver -w; exit $code' demo "$DEMO" "$OUT" "$LUMETRA" "$WEB" "$WEB_PORT" "$OUT" || status=$?
wineserver -k 2>/dev/null || true
echo
if [ "$status" -ne 0 ]; then
    echo "The demonstration failed (exit code $status); see the messages above." >&2
    exit "$status"
fi
echo "Lumetra ran under Xvfb (no display was set). Results in $OUT:"
ls -1 "$OUT"
