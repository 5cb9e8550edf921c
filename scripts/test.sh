#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a plain build (build-test/)
# and one under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/); then runs the
# static analysis (clang-tidy and cppcheck) over the product sources and every fuzz target for
# a short time (build-fuzz/). Each build folder is configured here with the tests on, so no
# other command's folder or cache changes what this one runs. Every stage runs even when an
# earlier one failed; the last line sums them up, and the exit status is non-zero when any
# test failed, when no test ran, or when the analysis or the fuzzing failed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs="$(nproc)"
failed_stages=()

run_tests() { # build-dir, cmake options...
  local build="$1"
  shift
  cmake -S . -B "$build" -DVENTARO_BUILD_TESTS=ON "$@" >/dev/null
  cmake --build "$build" -j"$jobs"
  # Every test is bounded: the longest takes about 20 s, so a hang in a test or in a peer it
  # starts fails after 5 minutes instead of stalling the run.
  if ! ctest --test-dir "$build" --output-on-failure --no-tests=error --timeout 300 -j"$jobs"; then
    failed_stages+=("tests in $build")
  fi
}

run_tests build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVENTARO_SANITIZE=OFF
run_tests build-asan -DCMAKE_BUILD_TYPE=Debug -DVENTARO_SANITIZE=ON

lint=passed
if ! LINT_JOBS="$jobs" scripts/lint.sh build-test; then
  lint=failed
  failed_stages+=(lint)
fi

# Every fuzz target for a short fixed time (FUZZ_SECONDS, default 30 s each).
fuzz=passed
if ! scripts/fuzz.sh; then
  fuzz=failed
  failed_stages+=(fuzz)
fi

echo
python3 scripts/test_summary.py --lint "$lint" --fuzz "$fuzz" build-test build-asan
if ((${#failed_stages[@]})); then
  echo "failed: ${failed_stages[*]}" >&2
  exit 1
fi
