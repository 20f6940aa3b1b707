#!/usr/bin/env bash
# Installs the Debian packages that are missing for a purpose: "build" (the
# program) or "test" (the program and everything the tests drive it with).
set -euo pipefail

build_packages=(cmake g++ make pkg-config qt6-base-dev qt6-webengine-dev qt6-translations-l10n libgl-dev libx11-dev
                fonts-ipafont)
test_packages=(xvfb openbox faketime xdotool x11-utils imagemagick python3 procps)

case "${1:-build}" in
    build) wanted=("${build_packages[@]}") ;;
    test) wanted=("${build_packages[@]}" "${test_packages[@]}") ;;
    *) echo "usage: $0 build|test" >&2; exit 2 ;;
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
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
