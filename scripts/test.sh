#!/bin/sh
# Installs what is missing, builds, and runs every test under Wine and Xvfb.
set -e
cd "$(dirname "$0")/.."
BUILD="${LUMETRA_BUILD:-build}"
case "$BUILD" in /*) ;; *) BUILD="$PWD/$BUILD" ;; esac
export LUMETRA_BUILD="$BUILD"
scripts/install-deps.sh
scripts/build.sh
scripts/prepare-prefix.sh "$BUILD/wineprefix" $( [ -f "$BUILD/testcam/lumetra_testcam.dll" ] && echo "$BUILD/testcam/lumetra_testcam.dll")
status=0
# One X server for the whole run.
WINEPREFIX="$BUILD/wineprefix" xvfb-run -a -s "-screen 0 1600x1200x24" \
    ctest --test-dir "$BUILD" --output-on-failure --timeout 900 "$@" || status=$?
WINEPREFIX="$BUILD/wineprefix" wineserver -k 2>/dev/null || true
exit $status
