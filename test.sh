#!/usr/bin/env bash
# Builds everything into build/ and runs every test through ctest.
set -euo pipefail
cd "$(dirname "$0")"

scripts/ensure-deps.sh test
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DHIMEKURI_WERROR=ON
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
