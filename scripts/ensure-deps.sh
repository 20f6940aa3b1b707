#!/usr/bin/env bash
# Installs the Debian packages that are missing for a purpose: "build" (the
# program), "test" (the program and everything the tests drive it with, the
# Windows build and the Debian package included), "windows" (the Windows
# build and Wine alone) or "debian" (the Debian package and its check).
set -euo pipefail

build_packages=(cmake g++ make pkg-config qt6-base-dev qt6-webengine-dev qt6-translations-l10n libgl-dev libxcb1-dev
                fonts-ipafont)
test_packages=(xvfb openbox faketime xdotool x11-utils imagemagick python3 procps
               kwin-wayland mutter xwayland dbus dbus-x11 x11-xserver-utils
               fonts-noto-cjk fonts-vlgothic fonts-takao-gothic fonts-takao-mincho
               fcitx5 fcitx5-mozc fcitx5-frontend-qt6)
# The Windows build: cross compilers, Wine to run what they make, and what it
# takes to build Qt for Windows from Debian's own qt6-base source.
windows_packages=(g++-mingw-w64-x86-64-posix wine wine64 ninja-build dpkg-dev qt6-base-dev-tools
                  qt6-translations-l10n nsis libimage-exiftool-perl python3 ccache
                  xvfb openbox xdotool x11-utils imagemagick)
# The Debian package and its check on a clean Debian system.
debian_packages=(dpkg-dev debhelper lintian appstream desktop-file-utils ccache debootstrap man-db
                 fonts-ipafont-gothic fonts-ipafont-mincho)

case "${1:-build}" in
    build) wanted=("${build_packages[@]}") ;;
    test) wanted=("${build_packages[@]}" "${test_packages[@]}" "${windows_packages[@]}" "${debian_packages[@]}") ;;
    windows) wanted=(cmake "${windows_packages[@]}") ;;
    debian) wanted=("${build_packages[@]}" "${debian_packages[@]}") ;;
    *) echo "usage: $0 build|test|windows|debian" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Install them as root, then run this again:" >&2
    echo "    sudo apt-get install ${missing[*]}" >&2
    exit 1
fi

echo "Installing missing packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get -o DPkg::Lock::Timeout=300 update -qq
apt-get -o DPkg::Lock::Timeout=300 install -y -qq --no-install-recommends "${missing[@]}"
