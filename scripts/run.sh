#!/usr/bin/env bash
# Sets up, builds the demo and its generated assets, and runs it from the
# project root (where data/ and settings.ini live). Arguments go to vortalune:
#   scripts/run.sh        the show
#   scripts/run.sh 3      the authoring tool at scene 3
# Without a display it runs under Xvfb.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/setup.sh" "$ROOT/build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$ROOT/build" --target assets

cd "$ROOT"
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$ROOT/build/vortalune" "$@"
fi
exec "$ROOT/build/vortalune" "$@"
