#!/usr/bin/env bash
# Sets up and runs the whole test suite in the sanitizer build
# (AddressSanitizer + UndefinedBehaviorSanitizer). GL tests need a display:
# without one the suite runs under Xvfb. Audio uses SDL's dummy driver.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="$ROOT/build-asan"
"$ROOT/scripts/setup.sh" "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Debug -DVORTALUNE_SANITIZE=ON -DVORTALUNE_BENCH=OFF

export SDL_AUDIODRIVER=dummy
# Leaks are checked; tests/lsan.supp lists what the X and GL libraries keep.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$ROOT/tests/lsan.supp:print_suppressions=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"

# The studio model fuzzer first, for a bounded time (VORTALUNE_FUZZ_SECONDS;
# 0 skips), so the test summary is the last thing printed.
if [ "${VORTALUNE_FUZZ_SECONDS:-60}" != 0 ]; then
  "$ROOT/scripts/fuzz.sh" "${VORTALUNE_FUZZ_SECONDS:-60}"
fi

cd "$BUILD_DIR"
# -noreset: Xvfb otherwise resets whenever its last client leaves, and SDL 1.2
# opens, closes and reopens the display at start-up, so a loaded machine
# sometimes reconnects into the reset and fails with "Couldn't open X11 display".
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24 -noreset" ctest --output-on-failure -j2 "$@"
else
  exec ctest --output-on-failure -j2 "$@"
fi

