#!/bin/sh
# Configures and builds Lumetra and its tests into build/ with the MinGW-w64 tool chain.
set -e
cd "$(dirname "$0")/.."
BUILD="${LUMETRA_BUILD:-build}"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
