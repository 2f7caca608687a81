#!/usr/bin/env bash
# Builds the studio model fuzzer and the beat map fuzzer with clang
# (libFuzzer + ASan + UBSan) and runs them for a bounded time: the model
# fuzzer for the given seconds, seeded with the generated character, then the
# beat map fuzzer for a quarter of that (at least a second), seeded with a
# small map. Fails on any finding. Usage: scripts/fuzz.sh [seconds]   (default 60)
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

BEAT_SEEDS="$BUILD_DIR/beat_seeds"
BEAT_CORPUS="$BUILD_DIR/beat_corpus"
rm -rf "$BEAT_SEEDS" "$BEAT_CORPUS"
mkdir -p "$BEAT_SEEDS" "$BEAT_CORPUS"
printf '# beat map\n0.000000000 1 1\n0.250000000 1 2\n0.500000000 1 3\n0.750000000 2 1\n' >"$BEAT_SEEDS/small.beats"
"$BUILD_DIR/beat_map_fuzz" "$BEAT_CORPUS" "$BEAT_SEEDS" \
  -max_total_time="$(( SECONDS_TO_RUN / 4 > 0 ? SECONDS_TO_RUN / 4 : 1 ))" -timeout=10 -rss_limit_mb=2048 \
  -max_len=65536 -print_final_stats=1 -artifact_prefix="$BUILD_DIR/beat_"
