#!/usr/bin/env bash
# Builds himekuri.exe for 64-bit Windows from this source, here on Debian:
# installs mingw-w64, Wine and ninja when missing (as root), builds Qt 6.4.2
# for Windows from Debian's qt6-base source once into a cache folder outside
# the repository (about 25 minutes the first time), then cross-builds the
# program and its Windows tests into BUILD_DIR (default build-windows/).
# himekuri.exe is one self-contained file: Qt and the C++ runtime are linked
# in, no DLL goes with it. There is no himekuri-web on Windows: the pane uses
# the system's own web-browser control.
#   HIMEKURI_WINQT  where the Windows Qt is (or will be) built; see build-qt.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=${1:-$top/build-windows}

"$top/scripts/ensure-deps.sh" windows
qt=$("$here/build-qt.sh")

"$qt/bin/qt-cmake" -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$here/mingw-w64.cmake" -DHIMEKURI_WERROR=ON \
    -DCMAKE_EXE_LINKER_FLAGS_RELEASE=-s >/dev/null
cmake --build "$build" -j"$(nproc)"
echo "windows: $build/himekuri.exe"
