#!/usr/bin/env bash
# Builds the Debian package from this tree with dpkg-buildpackage:
# build-deb/himekuri_<version>_amd64.deb. The version is CMake's
# project(VERSION), written into a generated debian/changelog.
# usage: scripts/debian/build.sh [OUTDIR]   (default build-deb)
set -euo pipefail
cd "$(dirname "$0")/../.."
top=$PWD

scripts/ensure-deps.sh debian
version=$(scripts/version.sh)
released=$(sed -n 's/^set(HIMEKURI_RELEASE_DATE \([0-9-]*\))/\1/p' CMakeLists.txt)
[[ -n $released ]] || { echo "debian: no release date in CMakeLists.txt" >&2; exit 1; }

out=$(mkdir -p "${1:-build-deb}" && cd "${1:-build-deb}" && pwd)
src=$out/himekuri-$version
rm -rf "$src" "$out"/himekuri_*
mkdir -p "$src"
# The tree as it stands, new files included, without what git ignores.
git ls-files -co --exclude-standard -z | while IFS= read -r -d '' file; do
    [[ -e $file ]] && printf '%s\0' "$file"
done | xargs -0 cp --parents -t "$src"

cat >"$src/debian/changelog" <<CHANGES
himekuri ($version) unstable; urgency=medium

  * Release $version.

 -- Tesrava <himekuri@example.org>  $(LC_ALL=C date -R -u -d "$released 00:00")
CHANGES

# Builds again fast from the cache outside the tree, wherever it is cloned.
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/himekuri/ccache} CCACHE_BASEDIR=$out CCACHE_NOHASHDIR=1
export CMAKE_CXX_COMPILER_LAUNCHER=ccache DEB_BUILD_OPTIONS="parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}"
(cd "$src" && dpkg-buildpackage -us -uc -b)
deb=$out/himekuri_${version}_amd64.deb
[[ -f $deb ]] || { echo "debian: $deb was not made" >&2; exit 1; }
echo "debian: built ${deb#"$top"/}"
