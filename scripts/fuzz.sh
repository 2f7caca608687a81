#!/usr/bin/env bash
# Builds the studio model fuzzer with clang (libFuzzer + ASan + UBSan) and
# runs it for a bounded time, seeded with the generated character. Fails on
# any finding. Usage: scripts/fuzz.sh [seconds]   (default 60)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="$ROOT/build-fuzz"
SECONDS_TO_RUN="${1:-60}"

CC=clang CXX=clang++ cmake -S "$ROOT/fuzz" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"

SEEDS="$BUILD_DIR/seeds"
CORPUS="$BUILD_DIR/corpus"
rm -rf "$SEEDS" "$CORPUS"
mkdir -p "$SEEDS" "$CORPUS"
"$BUILD_DIR/model_fuzz_seeds" "$SEEDS"

cd "$BUILD_DIR"
export ASAN_OPTIONS="detect_leaks=1"   # the fuzzer also checks for leaks
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
"$BUILD_DIR/model_fuzz" "$CORPUS" "$SEEDS" \
  -max_total_time="$SECONDS_TO_RUN" -timeout=10 -rss_limit_mb=2048 -max_len=131072 \
  -print_final_stats=1 -artifact_prefix="$BUILD_DIR/"
