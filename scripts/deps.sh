#!/usr/bin/env bash
# Installs the Debian packages the build needs, asking apt only when one is missing.
# Usage: scripts/deps.sh [extra packages...]
#        scripts/deps.sh --only PACKAGE...   (just those, for tools that need no build)
set -euo pipefail
if [ "${1:-}" = --only ]; then
  shift
  packages=("$@")
else
  # zsh and fish: the completion test reads the scripts as those shells do.
  packages=(cmake ninja-build g++ qt6-base-dev qt6-serialport-dev fonts-liberation2 fonts-dejavu-core
    zsh fish "$@")
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
