#!/usr/bin/env bash
# Fails when a command-line program could not run without a display: when it links Qt Gui or
# Qt Widgets, an X, Wayland or GL library, or holds a window class. tarnavel-cli and tarnavel-sim
# link only Qt Core and Qt SerialPort. tarnavel-sim is the device and nothing else: it holds
# none of the host's engine (the link, its driver, the serial port, the card operations).
# Usage: scripts/headless-check.sh [PROGRAM...]   (default: build/tarnavel-cli build/tarnavel-sim)
# A stripped program (as packaged) is judged by its dynamic symbols, which still show every
# Qt Widgets function it calls; the build's own programs also show the classes linked in.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -gt 0 ] || set -- "$root/build/tarnavel-cli" "$root/build/tarnavel-sim"
"$root/scripts/deps.sh" --only binutils

libraries='libQt6(Gui|Widgets|OpenGL|XcbQpa)\.|libX|libxcb|libxkbcommon|libGL|libEGL|libOpenGL|libwayland|libvulkan|libdrm'
classes='frmMain|frmOptions|frmLEDTest|frmAbout|frmStatus|QWidget|QDialog|QMainWindow|QApplication'
host='ReaderLink|LinkDriver|QtSerialPort|CardOperations|BatchRunner'
failed=0
for program in "$@"; do
  [ -f "$program" ] || { echo "headless-check: no program $program" >&2; exit 1; }
  name=$program
  this=0
  needed=$(readelf -d --wide "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
  [ -n "$needed" ] || { echo "headless-check: readelf finds no NEEDED entry in $program" >&2; exit 1; }
  bad=$(grep -E "^($libraries)" <<<"$needed" || true)
  if [ -n "$bad" ]; then
    echo "headless-check: $name links display libraries:" $bad >&2
    this=1
  fi
  if readelf -S --wide "$program" | grep -q ' \.symtab '; then
    symbols=$(nm -C "$program")
  else
    symbols=$(nm -C -D "$program")
  fi
  bad=$(grep -oE "\b($classes)\b" <<<"$symbols" | sort -u || true)
  if [ -n "$bad" ]; then
    echo "headless-check: $name holds window classes:" $bad >&2
    this=1
  fi
  if [ "$(basename "$program")" = tarnavel-sim ]; then
    bad=$(grep -oE "\b($host)\b" <<<"$symbols" | sort -u || true)
    if [ -n "$bad" ]; then
      echo "headless-check: $name holds host code:" $bad >&2
      this=1
    fi
  fi
  if [ "$this" -eq 0 ]; then
    echo "headless-check: $name links only" $needed
  else
    failed=1
  fi
done
[ "$failed" -eq 0 ] || { echo "headless-check: FAILED" >&2; exit 1; }
