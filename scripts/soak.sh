#!/usr/bin/env bash
# Soaks every hand model under the sanitizer builds and fails on any sanitizer report, on
# descriptors left open or on resident memory that keeps growing.
#
#   scripts/soak.sh [SECONDS] [PRESET...]     # default: 5 s per model, presets asan and tsan
#
# A longer run of the plain build: ./build/default/soak/velmora_soak (60 s per model).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-5}
shift || true
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(asan tsan)

for preset in "${presets[@]}"; do
  build=build/$preset
  [ -f "$build/CMakeCache.txt" ] || cmake --preset "$preset" >/dev/null
  cmake --build "$build" --target velmora_soak >/dev/null
  # A small quarantine keeps freed memory from showing as growth; the warm-up lets the
  # sanitizer's allocator reach its working size before anything is measured.
  echo "+ $build/soak/velmora_soak --seconds $seconds --warmup 8"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:quarantine_size_mb=16 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    "$build/soak/velmora_soak" --seconds "$seconds" --warmup 8
done
