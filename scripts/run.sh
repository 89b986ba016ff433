#!/bin/sh
# Installs what is missing, builds, and runs Lumetra with the test-pattern camera registered, and
# the web service lumetra-web beside it.
# With a display it starts both there; without one it runs a short demonstration under Xvfb and
# leaves screenshots (Lumetra's windows and the web page) and saved images in out/.
#   LUMETRA_WEB_PORT=8081 scripts/run.sh    serves on another port (8080 by default)
set -e
cd "$(dirname "$0")/.."
BUILD="${LUMETRA_BUILD:-build}"
case "$BUILD" in /*) ;; *) BUILD="$PWD/$BUILD" ;; esac
export LUMETRA_BUILD="$BUILD"
scripts/install-deps.sh
scripts/build.sh
PREFIX="$BUILD/wineprefix"
scripts/prepare-prefix.sh "$PREFIX" "$BUILD/testcam/lumetra_testcam.dll"
export WINEPREFIX="$PREFIX" WINEDEBUG=-all
WEB_PORT="${LUMETRA_WEB_PORT:-8080}"

if [ -z "$DISPLAY" ]; then
    exec scripts/demo.sh "$BUILD"
fi

wine "$BUILD/src/web/lumetra-web.exe" --port "$WEB_PORT" &
WEB=$!
echo "Lumetra's web service: http://127.0.0.1:$WEB_PORT/ (tick \"Mirror file path to HTTP service\" in a"
echo "camera's CAM ACTION window, and every saved image shows there)."
echo "Starting Lumetra: pick \"Lumetra Test Camera\" and press Open Cam."
status=0
wine "$BUILD/src/lumetra.exe" || status=$?
# A close request, as Windows' taskkill sends it: the service ends cleanly.
wine taskkill /im lumetra-web.exe >/dev/null 2>&1 || kill "$WEB" 2>/dev/null || true
wait "$WEB" 2>/dev/null || true
exit $status
