#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a plain build and one
# under AddressSanitizer and UndefinedBehaviorSanitizer; then runs the static analysis
# (clang-tidy and cppcheck) over the product sources and every fuzz target for a short time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs="$(nproc)"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVENTARO_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure -j"$jobs"

LINT_JOBS="$jobs" scripts/lint.sh build

# Every fuzz target for a short fixed time (FUZZ_SECONDS, default 30 s each).
scripts/fuzz.sh
