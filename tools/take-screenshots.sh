#!/bin/sh
# Takes the screenshots in docs/screenshots/ again: builds the program (in
# build/, or the tree named by BUILD) when needed, writes the demo disc and
# runs the screenshot program on it under a virtual X server.
set -eu
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$BUILD" -j 2 --target take-screenshots make-demo-disc
rm -rf "$BUILD/screenshot-demo"
"$BUILD/tools/make-demo-disc" "$BUILD/screenshot-demo"
xvfb-run -a -s "-screen 0 1280x800x24" \
    "$BUILD/tools/take-screenshots" "$BUILD/screenshot-demo" docs/screenshots
