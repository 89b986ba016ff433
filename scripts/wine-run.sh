#!/bin/sh
# Runs a Windows program under Wine in the build's private prefix, with a display
# (an Xvfb of its own when none is set).
: "${WINEPREFIX:?WINEPREFIX must name the build's prefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
if [ -z "$DISPLAY" ]; then
    exec xvfb-run -a -s "-screen 0 1600x1200x24" wine "$@"
fi
exec wine "$@"
