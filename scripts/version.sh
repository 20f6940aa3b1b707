#!/usr/bin/env bash
# Prints the one version number, CMake's project(VERSION), for the scripts
# that package the program.
set -euo pipefail
version=$(sed -n 's/^project(himekuri VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../CMakeLists.txt")
[[ -n $version ]] || { echo "version: no project(VERSION) in CMakeLists.txt" >&2; exit 1; }
echo "$version"
