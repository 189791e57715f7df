#!/usr/bin/env bash
# Runs every libFuzzer target for a bounded time and fails on any crash, leak, UB report or
# broken invariant.
#
#   scripts/fuzz.sh [SECONDS]      # per target; default 30 (CI)
#   FUZZ_RUNS=10000000 scripts/fuzz.sh 3600   # a long run: stop at 10 M inputs or the time
#
# Builds the `fuzz` preset (clang++-15, libfuzzer-15-dev) into build/fuzz. The seed corpora in
# fuzz/corpus are read, never written: new inputs go to build/fuzz/corpus, crashing ones to
# build/fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
runs=${FUZZ_RUNS:-}
build=build/fuzz

if ! command -v clang++-15 >/dev/null; then
  echo "fuzz: clang++-15 is missing (scripts/install-deps.sh --fuzz installs it)" >&2
  exit 1
fi

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake --preset fuzz "${launcher[@]}" >/dev/null
cmake --build --preset fuzz

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

targets=(frames_kesta frames_marlo frames_tovin frames_ravel frames_sabre frames_zenit
         conversion command_arguments)
mkdir -p "$build/artifacts"
failed=()
summary=()
for name in "${targets[@]}"; do
  binary="$build/fuzz/fuzz_$name"
  work="$build/corpus/$name"
  mkdir -p "$work"
  log="$build/artifacts/$name.log"
  args=(-max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048
        -artifact_prefix="$build/artifacts/$name-")
  [ -n "$runs" ] && args+=(-runs="$runs")
  echo "+ fuzz_$name for ${seconds}s"
  if "$binary" "${args[@]}" "$work" "fuzz/corpus/$name" >"$log" 2>&1; then
    status=ok
  else
    status=FAILED
    failed+=("$name")
    tail -n 40 "$log" >&2
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  peak=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -n 1)
  summary+=("$(printf '%-20s %-6s %12s inputs %8s/s  peak %s MB' "$name" "$status" \
    "${execs:-?}" "${rate:-?}" "${peak:-?}")")
done

printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]} (inputs in $build/artifacts)" >&2
  exit 1
fi
