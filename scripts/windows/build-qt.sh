#!/usr/bin/env bash
# Builds Qt 6.4.2 for 64-bit Windows (static, mingw-w64) from Debian's own
# qt6-base source, once, into a cache folder outside the repository; prints
# the folder. About 25 minutes on two cores the first time, nothing after.
#   HIMEKURI_WINQT  where the built Qt lives
#                   (default: ${XDG_CACHE_HOME:-$HOME/.cache}/himekuri/qt-6.4.2-mingw64-static)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
qt=${HIMEKURI_WINQT:-${XDG_CACHE_HOME:-$HOME/.cache}/himekuri/qt-6.4.2-mingw64-static}
toolchain=$here/mingw-w64.cmake

if [[ -f $qt/.complete ]]; then
    echo "$qt"
    exit 0
fi

mkdir -p "$(dirname "$qt")"
exec 9>"$qt.lock"
flock 9 # a second run waits for the first instead of building twice
if [[ -f $qt/.complete ]]; then
    echo "$qt"
    exit 0
fi

echo "windows: building Qt 6.4.2 for mingw-w64 into $qt; this takes about 25 minutes once" >&2
work=$(mktemp -d "$(dirname "$qt")/qt-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
# Debian's source of the very Qt the host tools (moc, rcc, uic) come from.
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$codename" >"$work/src.sources"
mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
# Lists and caches of its own: the machine's apt set-up is left as it is,
# and no root is needed.
apt_src=(-o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$work/parts"
         -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache"
         -o "APT::Sandbox::User=$(id -un)")
mkdir -p "$work/parts" && mv "$work/src.sources" "$work/parts/"
apt-get "${apt_src[@]}" update -qq
apt-get "${apt_src[@]}" source --download-only -qq "qt6-base=$(dpkg-query -W -f='${Version}' qt6-base-dev)"
dpkg-source -x qt6-base_*.dsc src >/dev/null 2>&1
mkdir build
cd build
../src/configure -prefix "$qt" -xplatform win32-g++ -qt-host-path /usr -release -static -static-runtime \
    -nomake tests -nomake examples -no-opengl -no-dbus -no-icu -no-openssl -no-direct2d \
    -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -qt-doubleconversion \
    -no-feature-network -no-feature-sql -no-feature-printsupport -no-feature-concurrent \
    -no-feature-xml -no-feature-vulkan -no-feature-zstd -no-feature-tabletevent \
    -no-feature-directwrite3 \
    -- -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >configure.log 2>&1 ||
    { tail -n 40 configure.log >&2; exit 1; }
cmake --build . --parallel "$(nproc)" >build.log 2>&1 || { tail -n 40 build.log >&2; exit 1; }
cmake --install . >install.log 2>&1 || { tail -n 40 install.log >&2; exit 1; }
touch "$qt/.complete"
echo "$qt"
