#!/usr/bin/env bash
# Installs what is missing, builds Ventaro and runs it once as a user start (the benchmark).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVENTARO_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target ventaro
exec build/app/ventaro "$@"
