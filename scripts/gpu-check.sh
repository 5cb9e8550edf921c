#!/bin/bash
# One command for a machine with an NVIDIA GPU: builds with the CUDA backend required, runs
# the GPU tests with a skip counted as a failure (the Vulkan backend's too where NVIDIA's
# Vulkan driver is installed), runs ventaro-bench, a user start that shows its result on the
# terminal, and a 30-second timed run with the sensors it reads there. Prints each result
# line; exits non-zero on any failure.
#   scripts/gpu-check.sh [build-folder]      (default: build-gpu)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-gpu}
fail() { echo "gpu-check: $*" >&2; exit 1; }

# Without a device node there is nothing to check: say so before minutes of building.
compgen -G '/dev/nvidia[0-9]*' >/dev/null || fail "no NVIDIA GPU here (no /dev/nvidia0): run this on a GPU machine"
command -v nvidia-smi >/dev/null && nvidia-smi -L || echo "gpu-check: no nvidia-smi here"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVENTARO_REQUIRE_CUDA=ON \
  -DVENTARO_BUILD_TESTS=ON >/dev/null || fail "configure failed (is the CUDA toolkit 12+ installed?)"
cmake --build "$build" -j"$(nproc)" --target ventaro ventaro-bench ventaro_cuda_backend_tests \
  ventaro_load_binary_tests >/dev/null || fail "build failed"
cmake --build "$build" -j"$(nproc)" --target ventaro_vulkan_backend_tests >/dev/null 2>&1 ||
  echo "gpu-check: the Vulkan backend was not built (no glslc or Vulkan headers): not checked"

# A skip means no usable device here: on this machine that is a failure.
tests=$(find "$build" -name ventaro_cuda_backend_tests -type f | head -1)
out=$(G_MESSAGES_DEBUG=ventaro timeout 300 "$tests" 2>&1) || { echo "$out" | tail -30; fail "GPU tests failed"; }
echo "$out" | grep -E '^\[  (PASSED|SKIPPED|FAILED) ' || true
if echo "$out" | grep -q '^\[  SKIPPED \]'; then
  echo "$out" | grep -iE 'skip|ventaro-DEBUG' | head -5
  fail "GPU tests were skipped: no usable CUDA device, driver or cuBLAS"
fi
# The Vulkan backend on the NVIDIA GPU, where NVIDIA's Vulkan driver is installed: its tests
# must run on that GPU (the first Vulkan device), not skip or fall to a software device.
vulkan=$(find "$build" -name ventaro_vulkan_backend_tests -type f | head -1)
icd=$(ls /usr/share/vulkan/icd.d/nvidia_icd*.json /etc/vulkan/icd.d/nvidia_icd*.json \
  /usr/local/nvidia/share/vulkan/icd.d/nvidia_icd*.json 2>/dev/null | head -1 || true)
if [ -z "$vulkan" ]; then
  :
elif [ -z "$icd" ]; then
  echo "gpu-check: no NVIDIA Vulkan driver here (no nvidia_icd.json): the Vulkan backend is not checked"
else
  out=$(VK_DRIVER_FILES="$icd" VK_ICD_FILENAMES="$icd" G_MESSAGES_DEBUG=ventaro timeout 300 \
    "$vulkan" 2>&1) || { echo "$out" | tail -30; fail "Vulkan tests failed"; }
  echo "$out" | grep -E '^\[  (PASSED|SKIPPED|FAILED) ' | sed 's/^/vulkan: /' || true
  if echo "$out" | grep -q '^\[  SKIPPED \]'; then
    fail "Vulkan tests were skipped: the NVIDIA Vulkan driver offers no device"
  fi
  export VK_DRIVER_FILES="$icd" VK_ICD_FILENAMES="$icd" # the bench's Vulkan line on the GPU
fi
binary=$(find "$build" -name ventaro_load_binary_tests -type f | head -1)
timeout 120 "$binary" --gtest_brief=1 || fail "start-up footprint tests failed"

timeout 240 "$build/bench/ventaro-bench" --repeat 2 | grep -E '^(#|cpu|cuda|vulkan)' || fail "bench failed"

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
line=$(env -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" XDG_RUNTIME_DIR="$home" \
  DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent timeout 300 "$build/app/ventaro" | tail -1) ||
  fail "user start failed"
echo "user start: $line"
case $line in *" GFLOPS.") ;; *) fail "no result from the user start" ;; esac

# A timed run on the GPU: its order, its segments, the sensors read there and its verdict.
timed=$(env -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" XDG_RUNTIME_DIR="$home" \
  DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent timeout 120 "$build/app/ventaro" \
  --duration 30s --json 2>"$home/timed.err") || { tail -5 "$home/timed.err"; fail "timed run failed"; }
echo "timed run: $(tail -1 "$home/timed.err")"
echo "timed run: $(echo "$timed" | grep -oE '"(dimension|verdict|median_gflops|lowest_gflops|peak_gflops|sensor_read_s)":[^,]*' | tr '\n' ' ')"
echo "timed run: last segment: $(echo "$timed" | grep -oE '\{"t":[^]]*\][^]]*\]\}\]' | tail -1)"
echo "gpu-check: passed"
