#!/usr/bin/env bash
# Installs what is missing, builds Vellumar and runs its main job: the bundled
# sample pictures converted to PNG in the DATA folder beside the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DVELLUMAR_BUILD_TESTS=OFF
cmake --build build -j"$(nproc)"
./build/vellumar-convert --to PNG samples/*
