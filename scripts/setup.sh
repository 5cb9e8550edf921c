#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Ventaro need,
# asking apt only for what is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libglib2.0-dev libopenblas-dev libsensors-dev libcairo2-dev
  libicu-dev
  libgtest-dev libgmock-dev
  dbus dbus-daemon python3 python3-dbusmock python3-gi
  clang-format desktop-file-utils clang-tidy cppcheck
  clang libclang-rt-14-dev llvm
  libjson-glib-dev man-db groff-base dpkg-dev file systemd
  glslc libvulkan-dev mesa-vulkan-drivers libvulkan1 vulkan-validationlayers pci.ids
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
