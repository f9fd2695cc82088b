#!/usr/bin/env bash
# Packaging checks: the install rules into a staging folder under a prefix of their own, the
# desktop entry and metainfo validators, the Debian package's contents and Depends, and the
# programs and manual pages taken from the unpacked package.
# Usage: scripts/package-check.sh [build-dir]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
"$root/scripts/deps.sh" dpkg-dev desktop-file-utils appstream man-db groff-base
"$root/scripts/build.sh" "$build"

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnavel-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "package-check: $*" >&2
  exit 1
}

id=example.quorvex.Tarnavel
full_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
IFS=. read -r major minor patch <<<"$full_version"
# The release as the programs and the metainfo write it: 1.3, or 1.3.5 with a revision.
release="$major.$minor"
[ "${patch:-0}" -gt 0 ] && release="$release.$patch"
mapfile -t programs <"$build/dist/programs.txt"
[ ${#programs[@]} -ge 2 ] || fail "no program list in $build/dist/programs.txt"

# Every file the install rules must put in place, relative to the prefix.
expected=()
for p in "${programs[@]}"; do
  expected+=("bin/$p")
  [ -f "$root/dist/man/$p.1" ] || fail "$p has no manual page dist/man/$p.1"
done
for page in "$root"/dist/man/*.1; do
  expected+=("share/man/man1/$(basename "$page").gz")
done
sizes=(16 22 24 32 48 64 128 256)
for s in "${sizes[@]}"; do
  expected+=("share/icons/hicolor/${s}x${s}/apps/$id.png")
done
expected+=(
  "share/icons/hicolor/scalable/apps/$id.svg"
  "share/applications/$id.desktop"
  "share/metainfo/$id.metainfo.xml"
  share/doc/quorvex-tarnavel/copyright
  share/doc/quorvex-tarnavel/real-reader.txt
  share/doc/quorvex-tarnavel/examples/60-tarnavel-reader.rules
)
printf '%s\n' "${expected[@]}" | sort >"$work/expected"

echo "== cmake --install into a staging folder =="
prefix=/opt/tarnavel-check
DESTDIR="$work/stage" cmake --install "$build" --prefix "$prefix" >/dev/null
(cd "$work/stage$prefix" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort) >"$work/installed"
diff -u "$work/expected" "$work/installed" || fail "the staged install differs from the list above"
staged="$work/stage$prefix"
for s in "${sizes[@]}"; do
  # A PNG's width and height are the big-endian words at bytes 16 and 20.
  read -r w h <<<"$(od -An -tu1 -j16 -N8 "$staged/share/icons/hicolor/${s}x${s}/apps/$id.png" |
    awk '{ print $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }')"
  [ "$w $h" = "$s $s" ] || fail "the ${s}x${s} icon is ${w}x${h}"
done

echo "== desktop-file-validate, appstreamcli validate =="
out=$(desktop-file-validate "$staged/share/applications/$id.desktop" 2>&1) &&
  [ -z "$out" ] || fail "desktop-file-validate: $out"
appstreamcli validate --no-net "$staged/share/metainfo/$id.metainfo.xml"
grep -q "<release version=\"$release\"" "$staged/share/metainfo/$id.metainfo.xml" ||
  fail "the metainfo has no release $release"

echo "== cpack -G DEB =="
(cd "$build" && cpack -G DEB -B "$work/cpack" >/dev/null)
deb="$work/cpack/quorvex-tarnavel_${full_version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$work/cpack")"
dpkg-deb -c "$deb" | awk '{ print $NF }' | sed -n 's|^\./usr/||p' | sort >"$work/packaged"
missing=$(comm -23 "$work/expected" "$work/packaged")
[ -z "$missing" ] || fail "missing from the package: $missing"
depends=$(dpkg-deb -f "$deb" Depends)
[[ "$depends" == *libqt6widgets6* && "$depends" == *libqt6serialport6* ]] ||
  fail "Depends was not computed from the programs: $depends"
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes; Depends: $depends"

echo "== the unpacked package: --version, --help and the manual pages =="
dpkg-deb -x "$deb" "$work/root"
mkdir "$work/home"
for p in "${programs[@]}"; do
  # No display, no platform plugin chosen, an empty home: a window or settings access fails
  # or leaves files behind.
  for option in --version --help; do
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$work/home" \
      XDG_CONFIG_HOME="$work/home/.config" "$work/root/usr/bin/$p" "$option" \
      >"$work/out" 2>"$work/err" || fail "$p $option exited with $?: $(cat "$work/err")"
    [ -s "$work/out" ] && [ ! -s "$work/err" ] || fail "$p $option: $(cat "$work/out" "$work/err")"
    [ "$option" = --help ] || grep -Eq "(^| )$release( |$)" "$work/out" ||
      fail "$p --version does not say $release: $(cat "$work/out")"
  done
done
[ -z "$(ls -A "$work/home")" ] || fail "--version or --help wrote into the home folder"
for page in "$work"/root/usr/share/man/man1/*.1.gz; do
  MANWIDTH=80 man --warnings -l "$page" >/dev/null 2>"$work/err" || fail "man -l $page failed"
  [ ! -s "$work/err" ] || fail "man warns about $(basename "$page"): $(cat "$work/err")"
done
echo "package-check: all checks passed"
