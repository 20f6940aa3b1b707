#!/usr/bin/env bash
# Builds everything into build/ and runs every test through ctest, then the
# Debian package on a clean Debian 12 (build-deb/), then the Windows build
# under Wine (build-windows/), then the unit suite again in the sanitizer build
# (build-debug/).
set -euo pipefail
cd "$(dirname "$0")"

scripts/ensure-deps.sh test
# Every build compiles through a cache outside the tree, wherever it is cloned.
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/himekuri/ccache} CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
export CMAKE_CXX_COMPILER_LAUNCHER=ccache
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DHIMEKURI_WERROR=ON
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"

# The package as apt installs it on a clean system. The first run makes that
# system with debootstrap and keeps it outside the repository.
scripts/debian/build.sh build-deb
tests/e2e/debian.sh build-deb/himekuri_*_amd64.deb build/tests/e2e/e2e-shots || (($? == 77))

# The same source built for Windows with mingw-w64 and tested under Wine. The
# first run builds Qt for Windows from Debian's source (about 25 minutes) and
# keeps it outside the repository for the next.
scripts/windows/build.sh build-windows
tests/e2e/windows.sh build-windows build/tests/e2e/e2e-shots

# The unit suite once more under the address, leak and undefined-behaviour
# sanitizers (a thousand changes of day among it: nothing of the old windows
# may stay).
cmake --preset debug
cmake --build --preset debug -j"$(nproc)"
ctest --preset debug -L unit -j"$(nproc)"
