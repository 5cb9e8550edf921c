#!/usr/bin/env bash
# Installs what is missing, builds Ventaro and runs it once as a user start (the benchmark).
# Arguments are passed to ventaro. It builds in its own folder (build-run/), which no other
# command uses, so running it before or after the tests changes neither.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build-run -DCMAKE_BUILD_TYPE=Release -DVENTARO_BUILD_TESTS=OFF >/dev/null
cmake --build build-run -j"$(nproc)" --target ventaro
exec build-run/app/ventaro "$@"
