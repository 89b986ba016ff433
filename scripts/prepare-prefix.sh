#!/bin/sh
# Makes and prepares a private Wine prefix: prepare-prefix.sh <prefix> [test camera dll]
# Idempotent: an existing prepared prefix is only brought up to date.
set -e
PREFIX="$1"
CAMDLL="$2"
[ -n "$PREFIX" ] || { echo "usage: $0 <prefix> [testcam.dll]" >&2; exit 2; }
export WINEPREFIX="$PREFIX" WINEDEBUG=-all
mkdir -p "$PREFIX"

if [ ! -f "$PREFIX/.lumetra-prepared" ]; then
    echo "Preparing Wine prefix $PREFIX"
    wine wineboot --init >/dev/null 2>&1 || true
    wineserver -w
    mkdir -p "$PREFIX/drive_c/windows/Fonts"
    cp /usr/share/wine/fonts/*.ttf "$PREFIX/drive_c/windows/Fonts/"
    # Without a window manager every close of a managed window stalls about 2 s.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    wineserver -w
    touch "$PREFIX/.lumetra-prepared"
fi

if [ -n "$CAMDLL" ]; then
    [ -f "$CAMDLL" ] || { echo "$0: the test camera $CAMDLL does not exist (build it first)" >&2; exit 1; }
    # Registration stores the DLL's absolute path, so it is redone on every run.
    status=0
    output=$(wine regsvr32 /s "$(winepath -w "$CAMDLL")" 2>&1) || status=$?
    wineserver -w
    if [ "$status" -ne 0 ]; then
        echo "$0: regsvr32 could not register the test camera $CAMDLL in $PREFIX (exit code $status)" >&2
        [ -z "$output" ] || printf '%s\n' "$output" >&2
        exit 1
    fi
fi
