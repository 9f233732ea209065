#!/bin/sh
# Installs, builds into build/ and starts Tavrolin.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
exec build/bin/tavrolin
