#!/usr/bin/env bash
# Checks of what is installed beside the program. Exit 77 (skipped, the reason on stdout)
# where the tool a check needs is not installed.
#   man PAGE                    renders without a warning
#   unit UNIT BINARY            systemd accepts the user unit (ExecStart pointed at BINARY)
#   deb BUILD_DIR               the .deb holds every file and takes its dependencies from
#                               shlibdeps
set -euo pipefail
need() { command -v "$1" >/dev/null || { echo "skipped: $1 is not installed"; exit 77; }; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

case $1 in
man)
  need man
  warnings=$(MANWIDTH=80 man --warnings -l "$2" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "$warnings"; exit 1; }
  ;;
unit)
  need systemd-analyze
  # verify wants the command to exist; the installed unit names it by the search path.
  grep -qx 'ExecStart=ventaro --login-item' "$2"
  sed "s|^ExecStart=ventaro|ExecStart=$3|" "$2" >"$scratch/ventaro-login.service"
  mkdir -m 700 "$scratch/runtime"
  out=$(XDG_RUNTIME_DIR="$scratch/runtime" systemd-analyze verify --user --man=no \
    "$scratch/ventaro-login.service" 2>&1) || { echo "$out"; exit 1; }
  [ -z "$out" ] || { echo "$out"; exit 1; }
  ;;
deb)
  need cpack
  need dpkg-shlibdeps
  # A package whose program needs CUDA or Vulkan libraries at load time would not start
  # without them.
  if readelf -d "$2/app/ventaro" | grep -E 'NEEDED.*(libcu|libvulkan)'; then
    echo "the program needs CUDA or Vulkan libraries at load time"
    exit 1
  fi
  cpack -G DEB -B "$scratch" --config "$2/CPackConfig.cmake" >/dev/null
  deb=$(ls "$scratch"/ventaro_*.deb)
  files=$(dpkg-deb -c "$deb" | awk '{print $6}')
  for f in bin/ventaro share/man/man1/ventaro.1 share/applications/ventaro.desktop \
    share/ventaro/ventaro-autostart.desktop share/icons/hicolor/scalable/apps/ventaro.svg \
    share/bash-completion/completions/ventaro lib/systemd/user/ventaro-login.service; do
    grep -qx "./usr/$f" <<<"$files" || { echo "missing from the package: /usr/$f"; exit 1; }
  done
  depends=$(dpkg-deb -f "$deb" Depends)
  for lib in libc6 libglib2.0-0 libjson-glib-1.0-0 libopenblas; do
    grep -q "$lib" <<<"$depends" || { echo "no $lib in Depends: $depends"; exit 1; }
  done
  ! grep -q vulkan <<<"$depends" || { echo "Vulkan in Depends: $depends"; exit 1; }
  recommends=$(dpkg-deb -f "$deb" Recommends)
  for package in libvulkan1 mesa-vulkan-drivers; do
    grep -q "$package" <<<"$recommends" || { echo "no $package in Recommends: $recommends"; exit 1; }
  done
  ;;
esac
