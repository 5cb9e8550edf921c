#!/usr/bin/env bash
# Builds the Debian package of Ventaro: a Release build of the program alone, installed under
# /usr, packed by `cpack -G DEB` with its dependencies found by dpkg-shlibdeps. Prints the
# path of the .deb. The build folder is build-package/ (VENTARO_PACKAGE_DIR chooses another);
# VENTARO_PACKAGE_CUDA=OFF leaves the CUDA backend out.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VENTARO_PACKAGE_DIR:-build-package}

for tool in cmake cpack dpkg-shlibdeps; do
  if ! command -v "$tool" >/dev/null; then
    echo "package.sh: $tool is missing (apt-get install cmake dpkg-dev)" >&2
    exit 1
  fi
done

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVENTARO_BUILD_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr -DVENTARO_WITH_CUDA="${VENTARO_PACKAGE_CUDA:-ON}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target ventaro
# A package must start on any machine: no CUDA library may be needed at load time.
if readelf -d "$build/app/ventaro" | grep -q 'NEEDED.*libcu'; then
  echo "package.sh: this build needs CUDA libraries at load time; the package would not start" \
    "without them. Build it with VENTARO_PACKAGE_CUDA=OFF." >&2
  exit 1
fi
rm -f "$build"/ventaro_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$PWD/$build"/ventaro_*.deb
