#!/bin/sh
# Installs what is missing, builds, and runs Lumetra with the test-pattern camera registered.
# With a display it starts Lumetra there; without one it runs a short demonstration under Xvfb
# and leaves screenshots and saved images in out/.
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

if [ -n "$DISPLAY" ]; then
    echo "Starting Lumetra: pick \"Lumetra Test Camera\" and press Open Cam."
    exec wine "$BUILD/src/lumetra.exe"
fi

exec scripts/demo.sh "$BUILD"
