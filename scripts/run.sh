#!/usr/bin/env bash
# Installs what is missing, builds Vellumar and runs its main job: the window
# when a display is present, otherwise the bundled sample pictures converted to
# PNG in the DATA folder beside the command-line program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
cmake -S . -B build -G Ninja -DVELLUMAR_BUILD_TESTS=OFF
cmake --build build -j"$(nproc)"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/app/gui/vellumar ]; then
  # The window writes into the DATA folder beside it, which it does not create.
  mkdir -p build/app/gui/DATA
  exec build/app/gui/vellumar
fi
./build/vellumar-convert --to PNG samples/*
