#!/usr/bin/env bash
# Builds himekuri.exe for 64-bit Windows from this source, here on Debian:
# installs mingw-w64, Wine and ninja when missing (as root), builds Qt 6.4.2
# for Windows from Debian's qt6-base source once into a cache folder outside
# the repository (about 25 minutes the first time), then cross-builds the
# program and its Windows tests into BUILD_DIR (default build-windows/), and
# packs it: the installer himekuri-<version>-setup.exe (NSIS) and the portable
# himekuri-<version>-win64.zip, both in BUILD_DIR.
# himekuri.exe is one self-contained file: Qt and the C++ runtime are linked
# in, no DLL goes with it. There is no himekuri-web on Windows: the pane uses
# the system's own web-browser control.
#   HIMEKURI_WINQT  where the Windows Qt is (or will be) built; see build-qt.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=${1:-$top/build-windows}
build=$(mkdir -p "$build" && cd "$build" && pwd)

"$top/scripts/ensure-deps.sh" windows
qt=$("$here/build-qt.sh")

"$qt/bin/qt-cmake" -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    ${CMAKE_CXX_COMPILER_LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$CMAKE_CXX_COMPILER_LAUNCHER} \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$here/mingw-w64.cmake" -DHIMEKURI_WERROR=ON \
    -DCMAKE_EXE_LINKER_FLAGS_RELEASE=-s >/dev/null
cmake --build "$build" -j"$(nproc)"
echo "windows: $build/himekuri.exe"

version=$("$top/scripts/version.sh")
makensis -V2 -DVERSION="$version" -DEXE="$build/himekuri.exe" -DICON="$top/src/assets/himekuri-app.ico" \
    -DLICENSE="$top/LICENSE" -DNOTICES="$top/THIRD-PARTY.md" \
    -DOUTFILE="$build/himekuri-$version-setup.exe" "$top/packaging/windows/himekuri.nsi"
echo "windows: $build/himekuri-$version-setup.exe"
/usr/bin/python3 - "$build" "$version" "$top" <<'ZIP'
import sys, zipfile
build, version, top = sys.argv[1:]
folder = f"himekuri-{version}-win64/"
readme = open(f"{top}/packaging/windows/README-ja.txt", encoding="utf-8").read().replace("@VERSION@", version)
# CR LF and a byte-order mark: what Notepad on every Windows reads as UTF-8.
files = [("himekuri.exe", open(f"{build}/himekuri.exe", "rb").read()),
         ("LICENSE.txt", open(f"{top}/LICENSE", "rb").read()),
         ("THIRD-PARTY.md", open(f"{top}/THIRD-PARTY.md", "rb").read()),
         ("README-ja.txt", b"\xef\xbb\xbf" + readme.replace("\n", "\r\n").encode("utf-8"))]
with zipfile.ZipFile(f"{build}/himekuri-{version}-win64.zip", "w", zipfile.ZIP_DEFLATED) as z:
    for name, data in files:
        # A fixed time: the same program packs to the same bytes.
        z.writestr(zipfile.ZipInfo(folder + name, (2026, 12, 7, 0, 0, 0)), data, zipfile.ZIP_DEFLATED)
ZIP
echo "windows: $build/himekuri-$version-win64.zip"
