#!/usr/bin/env bash
# Builds the Debian packages quorvex-tarnavel (the window) and tarnavel-cli (the command line
# and the reader emulator) into the build folder (default: build) and prints their paths.
# Their Depends are computed from the libraries of this machine: build them on the release
# they are to be installed on. Install both with: sudo apt-get install ./<path> ./<path>
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
# dpkg-shlibdeps (dpkg-dev) computes each package's Depends from its programs; CPack picks
# the programs out with file.
# Only the paths go to standard output.
"$root/scripts/deps.sh" dpkg-dev file >&2
"$root/scripts/build.sh" "$build" >&2
cd "$build"
cpack -G DEB >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' CMakeCache.txt)
arch=$(dpkg --print-architecture)
for package in quorvex-tarnavel tarnavel-cli; do
  ls "$build/${package}_${version}_$arch.deb"
done
