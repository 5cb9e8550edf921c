#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each for a fixed time. Fails on any crash, sanitizer report, uncaught exception,
# leak, hang or violated property.
#
#   scripts/fuzz.sh                               every target, 30 s each
#   FUZZ_SECONDS=3600 scripts/fuzz.sh settings    one target for an hour
#
# Targets: smc, settings, codes. Each starts from its seed corpus in
# tests/fuzz/corpus/<target>/ (never written to) and from what earlier runs kept in
# <build>/corpus/<target>/; an input that fails is saved as <build>/artifacts/<target>-crash-*.
# FUZZ_BUILD_DIR (default build-fuzz) and FUZZ_JOBS (default: all processors) tune the build.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-30}"
build="${FUZZ_BUILD_DIR:-build-fuzz}"
jobs="${FUZZ_JOBS:-$(nproc)}"
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(smc settings codes)
fi

scripts/setup.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVENTARO_FUZZ=ON -DVENTARO_WITH_CUDA=OFF >/dev/null
build_targets=()
for name in "${targets[@]}"; do
  build_targets+=("ventaro_fuzz_$name")
done
cmake --build "$build" --target "${build_targets[@]}" -j"$jobs"

mkdir -p "$build/artifacts"
failed=()
for name in "${targets[@]}"; do
  corpus="$build/corpus/$name"
  log="$build/fuzz-$name.log"
  mkdir -p "$corpus"
  echo "fuzzing $name for ${seconds}s (log: $log)"
  if "$build/tests/fuzz/ventaro_fuzz_$name" -max_total_time="$seconds" -timeout=10 \
    -max_len=4096 -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" \
    "$corpus" "tests/fuzz/corpus/$name" >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^Done' "$log" | sed 's/^/  /'
  else
    echo "  FAILED: $name; the failing input is in $build/artifacts/" >&2
    tail -n 60 "$log" >&2
    failed+=("$name")
  fi
done

if ((${#failed[@]})); then
  echo "fuzzing failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzzing passed: ${targets[*]}"
