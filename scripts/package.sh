#!/usr/bin/env bash
# Builds the Debian package quorvex-tarnavel_<version>_<arch>.deb into the build folder
# (default: build) and prints its path. Install it with: sudo apt-get install ./<that path>
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
# dpkg-shlibdeps (dpkg-dev) computes the package's Depends from the programs.
"$root/scripts/deps.sh" dpkg-dev
"$root/scripts/build.sh" "$build"
cd "$build"
cpack -G DEB >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' CMakeCache.txt)
ls "$build/quorvex-tarnavel_${version}_$(dpkg --print-architecture).deb"
