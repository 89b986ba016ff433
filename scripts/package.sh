#!/bin/sh
# Makes Lumetra's Windows packages, with the version of the CMake project:
#   dist/lumetra-<version>-win64.zip    both programs, the test camera DLL with its register and
#                                       unregister scripts, README (with its pictures), licence
#   dist/lumetra-<version>-setup.exe   the same as an NSIS installer: Start-menu shortcuts, an
#                                       uninstaller that leaves settings and images alone
# Then it checks the installer in a fresh Wine prefix (about a minute; --no-check skips it): a
# silent install (/S), the installed programs at work, a silent uninstall, what is left.
set -e
cd "$(dirname "$0")/.."
BUILD="${LUMETRA_BUILD:-build}"
CHECK=yes
[ "${1:-}" = "--no-check" ] && CHECK=no
scripts/install-deps.sh
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
TARGETS="lumetra lumetra-web lumetra_testcam"
[ "$CHECK" = yes ] && TARGETS="$TARGETS lumetra_install_check"
cmake --build "$BUILD" -j"$(nproc)" --target $TARGETS

VERSION=$(sed -n 's/^#define LUMETRA_VERSION_STRING "\(.*\)"$/\1/p' "$BUILD/src/resources/LumetraVersion.h")
[ -n "$VERSION" ] || { echo "No version in $BUILD/src/resources/LumetraVersion.h" >&2; exit 1; }
NAME="lumetra-$VERSION-win64"
STAGE="dist/$NAME"
SETUP="dist/lumetra-$VERSION-setup.exe"
rm -rf "$STAGE" "dist/$NAME.zip" "$SETUP"
mkdir -p "$STAGE/docs"
for program in src/lumetra.exe src/web/lumetra-web.exe testcam/lumetra_testcam.dll; do
    x86_64-w64-mingw32-strip -o "$STAGE/$(basename "$program")" "$BUILD/$program"
done
for script in packaging/*.cmd; do
    sed 's/$/\r/' "$script" > "$STAGE/$(basename "$script")"
done
cp README.md "$STAGE/"
cp docs/*.png docs/*.jpg "$STAGE/docs/"
LICENCE=$(ls LICENSE* LICENCE* COPYING* 2>/dev/null | head -n 1)
if [ -n "$LICENCE" ]; then
    cp "$LICENCE" "$STAGE/LICENSE.txt"
else
    echo "Note: the repository has no LICENSE file, so the packages carry no licence." >&2
fi
(cd dist && zip -q -r "$NAME.zip" "$NAME")
makensis -V2 -DVERSION="$VERSION" -DSTAGE="$PWD/$STAGE" -DOUTFILE="$PWD/$SETUP" packaging/lumetra.nsi
echo "Made dist/$NAME.zip and $SETUP (version $VERSION)."
[ "$CHECK" = yes ] || exit 0

# A fresh prefix stands for a machine that never saw Lumetra.
PREFIX="$PWD/dist/check-prefix"
rm -rf "$PREFIX"
scripts/prepare-prefix.sh "$PREFIX"
status=0
WINEPREFIX="$PREFIX" WINEDEBUG=-all xvfb-run -a -s "-screen 0 1600x1000x24" \
    sh packaging/check-install.sh "$PWD/$SETUP" "$VERSION" "$PWD/$BUILD/tests/web/lumetra_install_check.exe" ||
    status=$?
WINEPREFIX="$PREFIX" wineserver -k 2>/dev/null || true
[ "$status" -eq 0 ] && rm -rf "$PREFIX"
exit $status
