#!/usr/bin/env bash
# Sets up and runs the whole test suite in the sanitizer build
# (AddressSanitizer + UndefinedBehaviorSanitizer). GL tests need a display:
# without one the suite runs under Xvfb. Audio uses SDL's dummy driver.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="$ROOT/build-asan"
"$ROOT/scripts/setup.sh" "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Debug -DVORTALUNE_SANITIZE=ON -DVORTALUNE_BENCH=OFF

export SDL_AUDIODRIVER=dummy
# Mesa's software rasterizer without its worker threads (the pixels are the
# same): about one GL test process in a few hundred had the leak checker's
# stop-the-world crash at exit ("Tracer caught signal 11") while those threads
# were being torn down.
export LP_NUM_THREADS="${LP_NUM_THREADS:-0}"
# Nor its shader cache, whose writer thread the driver stops at exit: with it
# the leak checker's stop-the-world could still meet a thread on its way out
# (the same crash, once in about 1,500 GL test processes). Without it no
# thread but the main one is left when the leak check runs, and the tests
# write nothing under the home folder.
export MESA_SHADER_CACHE_DISABLE="${MESA_SHADER_CACHE_DISABLE:-true}"
# Leaks are checked, in the test processes and in the demo and capture
# programs the end-to-end tests start; tests/lsan.supp lists what the X and GL
# libraries keep.
# intercept_tls_get_addr=0: the checker's own record of the dynamic TLS
# blocks (those of the GL libraries the driver loads) reads their sizes from
# the C library's allocator, and with this C library a block's record can
# come out as a range from nowhere; the stop-the-world then crashes reading
# it ("Tracer caught signal 11" with "DTLS ... at 0x00000000...") whenever
# the heap happens to be laid out that way, in test and program alike.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$ROOT/tests/lsan.supp:print_suppressions=0:intercept_tls_get_addr=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"

# The studio model fuzzer first, for a bounded time (VORTALUNE_FUZZ_SECONDS;
# 0 skips), so the test summary is the last thing printed.
if [ "${VORTALUNE_FUZZ_SECONDS:-60}" != 0 ]; then
  "$ROOT/scripts/fuzz.sh" "${VORTALUNE_FUZZ_SECONDS:-60}"
fi

# -noreset: Xvfb otherwise resets whenever its last client leaves, and SDL 1.2
# opens, closes and reopens the display at start-up, so a loaded machine
# sometimes reconnects into the reset and fails with "Couldn't open X11 display".
on_display() {
  if [ -z "${DISPLAY:-}" ]; then
    xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$@"
  else
    "$@"
  fi
}

cd "$BUILD_DIR"
status=0
on_display ctest --output-on-failure -j2 "$@" || status=1

# Then the whole test binary in one process, in the folder CTest runs it in:
# every test must also pass after whatever ran before it in the same process.
# Skipped when ctest was given arguments (a filtered run).
if [ $# -eq 0 ]; then
  log="$(mktemp)"
  echo "Running every test in one process: tests/vortalune_tests"
  whole=0
  (cd tests && on_display ./vortalune_tests --gtest_brief=1) 2>&1 | tee "$log" || whole=1
  passed="$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\.$/\1/p' "$log" | tail -n 1)"
  failed="$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\{0,1\}, listed below:$/\1/p' "$log" | tail -n 1)"
  rm -f "$log"
  if [ "$whole" -ne 0 ] || [ -z "$passed" ]; then
    status=1
    [ -n "$failed" ] || failed=1   # crashed or killed before its summary
  fi
  echo "Together: ${passed:-0} passed, ${failed:-0} failed"

  # Then the show in a browser: the page built with emscripten, in headless
  # Chromium, against this build's capture program (VORTALUNE_WEB_TESTS=0 skips).
  # The README's contact sheet is made by a script: it must keep working.
  sheet="$(mktemp -d)/contact-sheet.png"
  if "$ROOT/scripts/contact-sheet.sh" "$sheet" "$BUILD_DIR" >/dev/null; then
    echo "Contact sheet: written ($sheet)"
  else
    status=1
    echo "Contact sheet: failed"
  fi

  if [ "${VORTALUNE_WEB_TESTS:-1}" != 0 ]; then
    echo "Running the browser tests: tests/web/"
    if "$ROOT/scripts/web-test.sh" "$BUILD_DIR"; then
      echo "Browser: passed"
    else
      status=1
      echo "Browser: failed"
    fi
  fi
fi
exit "$status"
