#!/bin/sh
# Installs what Lumetra needs to build and test on Debian 12; does nothing when all is there.
set -e
PACKAGES="cmake make g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth fonts-wine googletest \
python3-pyftpdlib python3-aiosmtpd openssl python3-pil x11-apps imagemagick"
# lumetra-web: Boost.Beast/Asio (header-only), curl and Chromium for its tests, NSIS and zip for the
# packages, nginx and wrk for its benchmark.
PACKAGES="$PACKAGES libboost-dev curl chromium nsis zip nginx wrk"
# JSON for the cameras' shared block and the service's status (header-only).
PACKAGES="$PACKAGES nlohmann-json3-dev"

missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing:$missing"
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
