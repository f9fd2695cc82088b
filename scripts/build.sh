#!/usr/bin/env bash
# Configures and builds into the given folder (default: build). Extra arguments go to cmake;
# TARGETS (blank-separated) limits the build to those targets; TARNAVEL_WERROR=ON (or OFF)
# sets the warnings-as-errors option, which otherwise keeps the value the build folder has.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-"$root/build"}
shift || true
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
werror=()
[ -n "${TARNAVEL_WERROR:-}" ] && werror=(-DTARNAVEL_WERROR="$TARNAVEL_WERROR")
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "${werror[@]}" "$@" \
  >/dev/null
targets=()
for t in ${TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$dir" --parallel "$(nproc)" "${targets[@]}"
