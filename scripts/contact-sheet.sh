#!/usr/bin/env bash
# The contact sheet of the whole show (the first frame, the middle of each
# scene, the last frame, labelled with scene and track fraction), written to
# docs/contact-sheet.png: the picture the README opens with. Builds what it
# needs (as scripts/run.sh does); runs under Xvfb when there is no display.
#   scripts/contact-sheet.sh [out.png] [build-dir]
#   (defaults: docs/contact-sheet.png, build/ as a Release build)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="${1:-$ROOT/docs/contact-sheet.png}"
BUILD="${2:-$ROOT/build}"

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  "$ROOT/scripts/setup.sh" "$BUILD" -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$BUILD" --target assets vortalune-capture -j"$(nproc)"
mkdir -p "$(dirname "$OUT")"

# 1024x768 frames: cells of 320x240, a sheet about 1300 pixels wide.
cd "$ROOT"
capture=("$BUILD/vortalune-capture" --size 1024x768 --contact-sheet "$OUT")
if [ -z "${DISPLAY:-}" ]; then
  xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "${capture[@]}"
else
  "${capture[@]}"
fi
echo "Wrote $OUT"
