#!/usr/bin/env bash
# Builds the program and runs it against the bundled reader emulator, linked as COM1 in a
# throwaway configuration folder (the user's own settings are never touched). The emulator's
# console shares this terminal: type "help" there to swipe cards, switch faults and so on.
# Arguments go to the program (for example -d); TARNAVEL_SIM_ARGS to the emulator.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
  echo "Start it from a desktop session, or under Xvfb: xvfb-run -a scripts/run.sh" >&2
  exit 2
fi
"$root/scripts/deps.sh"
TARGETS="tarnavel-app tarnavel-sim" "$root/scripts/build.sh" "$root/build"
config=$(mktemp -d "${TMPDIR:-/tmp}/tarnavel-run.XXXXXX")
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$config"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
export XDG_CONFIG_HOME="$config"
# A background job of a script reads /dev/null unless told otherwise: hand it the terminal.
exec 4<&0
# shellcheck disable=SC2086
"$root/build/tarnavel-sim" --com 1 ${TARNAVEL_SIM_ARGS:-} <&4 &
sim_pid=$!
for _ in $(seq 100); do
  [ -L "$config/quorvex-tarnavel/ports/com1" ] && break
  kill -0 "$sim_pid" 2>/dev/null || { echo "run.sh: the emulator did not start" >&2; exit 1; }
  sleep 0.05
done
"$root/build/quorvex-tarnavel" "$@"
