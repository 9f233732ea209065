#!/bin/sh
# Installs, builds the tests into build-tests/ (AddressSanitizer, UBSan,
# warnings as errors) and runs every test through CTest.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh --test
cmake -S . -B build-tests -DCMAKE_BUILD_TYPE=Debug -DTAVROLIN_TESTS=ON
cmake --build build-tests -j"$(nproc)"
ctest --test-dir build-tests --output-on-failure -j"$(nproc)"
