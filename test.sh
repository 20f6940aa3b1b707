#!/usr/bin/env bash
# Builds everything into build/ and runs every test through ctest, then the
# day-change test again in the sanitizer build (build-debug/).
set -euo pipefail
cd "$(dirname "$0")"

scripts/ensure-deps.sh test
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DHIMEKURI_WERROR=ON
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"

# A thousand changes of day once more under the address and leak sanitizers:
# every day makes its windows afresh, and nothing of the old ones may stay.
cmake --preset debug
cmake --build --preset debug --target tst_clock -j"$(nproc)"
ctest --preset debug -R '^tst_clock$'
