#!/usr/bin/env bash
# Builds the Debian package build-deb/vellumar_<version>_<arch>.deb (a Release
# build laid out for /usr) and checks it with scripts/check-package.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run package
cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLUMAR_BUILD_TESTS=OFF \
  -DVELLUMAR_SYSTEM_INSTALL=ON -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build-deb -j"$(nproc)"
rm -f build-deb/vellumar_*.deb
(cd build-deb && cpack -G DEB >/dev/null)
deb=$(ls build-deb/vellumar_*.deb)
scripts/check-package.sh "$deb" build-deb/modules/*.so
echo "built $deb"
