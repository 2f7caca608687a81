#!/usr/bin/env bash
# Sets up, builds the demo and its generated assets, and runs it from the
# project root (where data/ and settings.ini live). Arguments go to vortalune:
#   scripts/run.sh            the show
#   scripts/run.sh 3          the authoring tool at scene 3
#   scripts/run.sh --targets  print what it builds and exit
# It builds only the show, the capture program and the asset tools with their
# assets (RUN_TARGETS), not the tests, the benchmarks or the GL layer's
# builds: those come with scripts/test.sh or a build of their own target.
# Without a display it runs under Xvfb.
set -euo pipefail

RUN_TARGETS=(vortalune vortalune-capture assets)
if [ "${1:-}" = "--targets" ]; then
  echo "${RUN_TARGETS[@]}"
  exit 0
fi

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VORTALUNE_TARGETS="${RUN_TARGETS[*]}" "$ROOT/scripts/setup.sh" "$ROOT/build" -DCMAKE_BUILD_TYPE=Release

cd "$ROOT"
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$ROOT/build/vortalune" "$@"
fi
exec "$ROOT/build/vortalune" "$@"
