#!/bin/sh
# Runs a Windows program under Wine in the build's private prefix, with a display
# (an Xvfb of its own when none is set).
: "${WINEPREFIX:?WINEPREFIX must name the build's prefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
# A program started while the previous one's Wine server is still shutting down can fail to start:
# let that server finish first (it lingers a few seconds after its last process).
wineserver -w
if [ -z "$DISPLAY" ]; then
    exec xvfb-run -a -s "-screen 0 1600x1200x24" wine "$@"
fi
exec wine "$@"
