#!/usr/bin/env bash
# Renders the README's screenshots into docs/screenshots/: the real panel on the bundled simulator,
# offscreen, driven through its own buttons (tools/screenshots/render_screens.cpp). Run it after a
# change to the window and commit the pictures it writes. Builds into build/ (or $BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
out=docs/screenshots

if [ -f "$BUILD_DIR/CMakeCache.txt" ]; then
    cmake -S . -B "$BUILD_DIR" >/dev/null
else
    cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
fi
cmake --build "$BUILD_DIR" -j"$(nproc)" --target render_screens

# The pictures are drawn with the fonts installed here: the window asks for Arial, Verdana and
# Courier New, and fontconfig substitutes what it has.
if command -v fc-match >/dev/null 2>&1; then
    echo "Fonts: Arial -> $(fc-match -f '%{family[0]}' Arial), Verdana -> $(fc-match -f '%{family[0]}' Verdana)"
fi

# Rendered into a scratch folder first: a failed run leaves the committed pictures as they were.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
env -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS QT_QPA_PLATFORM=offscreen \
    "$BUILD_DIR/tools/render_screens" "$scratch" 2> >(grep -v -e 'XDG_RUNTIME_DIR' -e 'This plugin does not support' >&2)
mkdir -p "$out"
cp "$scratch"/*.png "$out/"
echo "Screenshots written to $out/"
