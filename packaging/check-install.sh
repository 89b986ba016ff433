#!/bin/sh
# The installer's check, run by scripts/package.sh inside Xvfb with WINEPREFIX set to a fresh prefix:
#   check-install.sh <setup.exe> <version> <lumetra_install_check.exe>
set -u
SETUP="$1"
VERSION="$2"
CHECKER="$3"
DRIVE="$WINEPREFIX/drive_c"
FOLDER="$DRIVE/Program Files/Lumetra"
MENU="$DRIVE/ProgramData/Microsoft/Windows/Start Menu/Programs/Lumetra"
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumetra'
SETTINGS_KEY='HKCU\Software\_ORVANE\Lumetra\Lumetra Test Camera'
TESTCAM_KEY='HKCR\CLSID\{9358A95A-CD75-45CD-A11A-7E432904A867}'
failures=0
check() { # description, command...
    what="$1"
    shift
    if "$@" >/dev/null 2>&1; then echo "  ok:   $what"; else echo "  FAIL: $what"; failures=$((failures + 1)); fi
}
absent() { ! "$@"; }

echo "Installing $(basename "$SETUP") silently (/S) in the fresh prefix $WINEPREFIX"
wine "$SETUP" /S
for file in lumetra.exe lumetra-web.exe lumetra_testcam.dll register-test-camera.cmd \
    unregister-test-camera.cmd README.md uninstall.exe; do
    check "installed $file" test -f "$FOLDER/$file"
done
for shortcut in "Lumetra" "Lumetra web service" "Uninstall Lumetra"; do
    check "Start-menu shortcut \"$shortcut\"" test -f "$MENU/$shortcut.lnk"
done
check "listed under Apps (Uninstall key)" wine reg query "$UNINSTALL_KEY"

mkdir -p "$DRIVE/lumetra-images"
wine "$CHECKER" 'C:\Program Files\Lumetra' "$VERSION" 'C:\lumetra-images' || failures=$((failures + 1))

echo "Uninstalling silently (/S)"
wine "$FOLDER/uninstall.exe" /S
wineserver -w # the uninstaller runs on from a copy of itself
check "the program folder is gone" absent test -e "$FOLDER"
check "the Start-menu folder is gone" absent test -e "$MENU"
check "the Uninstall key is gone" absent wine reg query "$UNINSTALL_KEY"
check "the test camera is unregistered" absent wine reg query "$TESTCAM_KEY"
check "the camera's settings stay ($SETTINGS_KEY)" wine reg query "$SETTINGS_KEY" /v OFS
check "the saved image stays (C:\\lumetra-images\\installed.jpg)" test -f "$DRIVE/lumetra-images/installed.jpg"

if [ "$failures" -ne 0 ]; then
    echo "The installer check FAILED ($failures)."
    exit 1
fi
echo "The installer check passed."
