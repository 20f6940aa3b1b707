#!/usr/bin/env bash
# Builds the calendar (Release, into build/) and starts it.
set -euo pipefail
cd "$(dirname "$0")"

scripts/ensure-deps.sh build
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
# The calendar and its web helper; tests and benchmarks are not built here.
cmake --build build -j"$(nproc)" --target himekuri himekuri-web

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "Built build/himekuri, but there is no display to show it on (DISPLAY is not set)." >&2
    exit 1
fi
exec build/himekuri
