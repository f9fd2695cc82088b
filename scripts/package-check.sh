#!/usr/bin/env bash
# Packaging checks: the install rules into a staging folder under a prefix of their own, the
# desktop entry and metainfo validators, the contents and Depends of the Debian packages
# quorvex-tarnavel and tarnavel-cli, the programs and manual pages taken from the unpacked
# packages, and last that the tarnavel-cli package needs no display stack.
# Usage: scripts/package-check.sh [build-dir]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
# file: CPack's DEB generator tells programs from data files with it before dpkg-shlibdeps;
# binutils: readelf for the headless check.
"$root/scripts/deps.sh" dpkg-dev file binutils desktop-file-utils appstream man-db groff-base
"$root/scripts/build.sh" "$build"

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnavel-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "package-check: $*" >&2
  exit 1
}

id=example.quorvex.Tarnavel
packages=(quorvex-tarnavel tarnavel-cli)
full_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
IFS=. read -r major minor patch <<<"$full_version"
# The release as the programs and the metainfo write it: 1.3, or 1.3.5 with a revision.
release="$major.$minor"
[ "${patch:-0}" -gt 0 ] && release="$release.$patch"
programs=()
declare -A package_of
while read -r program package; do
  programs+=("$program")
  package_of[$program]=$package
done <"$build/dist/programs.txt"
[ ${#programs[@]} -ge 3 ] || fail "no program list in $build/dist/programs.txt"

# Every file the install rules must put in place, relative to the prefix, for each package.
for p in "${packages[@]}"; do : >"$work/expected.$p"; done
expect() { printf '%s\n' "${@:2}" >>"$work/expected.$1"; }
for p in "${programs[@]}"; do
  expect "${package_of[$p]}" "bin/$p"
  [ -f "$root/dist/man/$p.1" ] || fail "$p has no manual page dist/man/$p.1"
done
for page in "$root"/dist/man/*.1; do
  name=$(basename "$page" .1)
  # A page goes with the program it is named after; any other with the window.
  expect "${package_of[$name]:-quorvex-tarnavel}" "share/man/man1/$name.1.gz"
done
sizes=(16 22 24 32 48 64 128 256)
for s in "${sizes[@]}"; do
  expect quorvex-tarnavel "share/icons/hicolor/${s}x${s}/apps/$id.png"
done
expect quorvex-tarnavel \
  "share/icons/hicolor/scalable/apps/$id.svg" \
  "share/applications/$id.desktop" \
  "share/metainfo/$id.metainfo.xml" \
  share/doc/quorvex-tarnavel/copyright \
  share/doc/quorvex-tarnavel/real-reader.txt
expect tarnavel-cli share/doc/tarnavel-cli/copyright
# Shell completions, made by tarnavel-cli from its command table.
expect tarnavel-cli share/bash-completion/completions/tarnavel-cli
expect tarnavel-cli share/zsh/vendor-completions/_tarnavel-cli
expect tarnavel-cli share/fish/vendor_completions.d/tarnavel-cli.fish
for p in "${packages[@]}"; do sort -o "$work/expected.$p" "$work/expected.$p"; done
sort -m "${packages[@]/#/$work/expected.}" >"$work/expected"

echo "== cmake --install into a staging folder =="
prefix=/opt/tarnavel-check
DESTDIR="$work/stage" cmake --install "$build" --prefix "$prefix" >/dev/null
(cd "$work/stage$prefix" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort) >"$work/installed"
diff -u "$work/expected" "$work/installed" || fail "the staged install differs from what the packages must hold (-) above"
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
arch=$(dpkg --print-architecture)
made=$(cd "$work/cpack" && ls -- *.deb 2>/dev/null | sort | paste -sd' ' || true)
wanted=$(for p in "${packages[@]}"; do echo "${p}_${full_version}_$arch.deb"; done | sort | paste -sd' ')
[ "$made" = "$wanted" ] || fail "cpack made \"$made\", not \"$wanted\""
deb_of() { echo "$work/cpack/${1}_${full_version}_$arch.deb"; }
for p in "${packages[@]}"; do
  deb=$(deb_of "$p")
  # Files and links only; a link's line ends in " -> target".
  dpkg-deb -c "$deb" | awk '$1 ~ /^[-l]/ { sub(/ -> .*/, ""); print $NF }' | sed -n 's|^\./usr/||p' |
    sort >"$work/packaged.$p"
  diff -u "$work/expected.$p" "$work/packaged.$p" || fail "$p holds other files (+) than it must (-)"
  [ "$(dpkg-deb -f "$deb" Version)" = "$full_version" ] || fail "$p has version $(dpkg-deb -f "$deb" Version)"
  echo "$(basename "$deb"): $(stat -c %s "$deb") bytes, Installed-Size $(dpkg-deb -f "$deb" Installed-Size) KiB"
  echo "  Depends: $(dpkg-deb -f "$deb" Depends)"
done
# dpkg-shlibdeps ran for each package: the libraries of its own programs, and no more.
window_depends=$(dpkg-deb -f "$(deb_of quorvex-tarnavel)" Depends)
cli_depends=$(dpkg-deb -f "$(deb_of tarnavel-cli)" Depends)
for want in libqt6widgets6 libqt6core6 fonts-liberation2 "tarnavel-cli (= $full_version)"; do
  [[ "$window_depends" == *"$want"* ]] || fail "quorvex-tarnavel's Depends lack $want: $window_depends"
done
for want in libqt6core6 libqt6serialport6; do
  [[ "$cli_depends" == *"$want"* ]] || fail "tarnavel-cli's Depends lack $want: $cli_depends"
done
[[ "$cli_depends" != *fonts-liberation2* ]] || fail "tarnavel-cli depends on the window's fonts: $cli_depends"

echo "== the unpacked packages: --version, --help and the manual pages =="
for p in "${packages[@]}"; do dpkg-deb -x "$(deb_of "$p")" "$work/root"; done
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
# The bash completion, as bash reads it: it parses, and offers the commands and a command's
# options.
completion=$work/root/usr/share/bash-completion/completions/tarnavel-cli
bash -n "$completion" || fail "the bash completion does not parse"
offered=$(bash -c 'source "$1"; COMP_WORDS=(tarnavel-cli ba); COMP_CWORD=1; _tarnavel_cli
  echo "${COMPREPLY[*]}"; COMP_WORDS=(tarnavel-cli batch --re); COMP_CWORD=2; _tarnavel_cli
  printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "' _ "$completion")
[ "$offered" = "$(printf 'batch\n--results --resume --reveal ')" ] ||
  fail "the bash completion offers: $offered"

# The rule ports udev prints for an FTDI adapter, made from a prepared /sys and /dev, as udev
# reads it: udevadm verify came with systemd 254 (Debian 13); where udevadm lacks it (Debian
# 12), only what the rule matches is checked.
echo "== the udev rule of ports udev =="
candidate=$(apt-cache policy udev 2>/dev/null | sed -n 's/^ *Candidate: *\([0-9]*\).*/\1/p')
if ! udevadm verify --help >/dev/null 2>&1 && [ "${candidate:-0}" -ge 254 ]; then
  "$root/scripts/deps.sh" --only udev
fi
tree=$work/udev-tree
usb=$tree/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2
line=$usb/1-2:1.0/ttyUSB0/tty/ttyUSB0
mkdir -p "$line" "$tree/sys/class/tty" "$tree/dev"
printf '%s\n' 0403 >"$usb/idVendor"
printf '%s\n' 6001 >"$usb/idProduct"
printf '%s\n' A1B2C3D4 >"$usb/serial"
printf '%s\n' 'FT232R USB UART' >"$usb/product"
printf '%s\n' 188:0 >"$line/dev"
ln -s ../../../ttyUSB0 "$line/device"
ln -s ../../devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0 "$tree/sys/class/tty/ttyUSB0"
: >"$tree/dev/ttyUSB0"
rule=$work/71-tarnavel-com1.rules
"$work/root/usr/bin/tarnavel-cli" ports udev --root "$tree" 1 /dev/ttyUSB0 >"$rule" 2>"$work/err" ||
  fail "ports udev failed: $(cat "$work/err")"
grep -v '^#' "$rule" | grep -qx 'SUBSYSTEM=="tty", ATTRS{idVendor}=="0403", ATTRS{idProduct}=="6001", ATTRS{serial}=="A1B2C3D4", SYMLINK+="tarnavel-com1", TAG+="uaccess", ENV{ID_MM_DEVICE_IGNORE}="1"' ||
  fail "ports udev printed another rule: $(cat "$rule")"
if udevadm verify --help >/dev/null 2>&1; then
  udevadm verify --resolve-names=never "$rule" || fail "udevadm verify refuses the rule ports udev prints"
else
  echo "udevadm verify is not on this release: the rule's syntax is not checked here"
fi

# Last, so that everything above is judged even while this fails: tarnavel-cli is for machines
# without a display, so nothing of the window's stack may come with it.
echo "== tarnavel-cli without the display stack =="
display_packages='libqt6(gui|widgets|opengl|xcbqpa)|libx11|libxcb|libxkbcommon|libgl1|libglx|libegl|libopengl|libwayland|libvulkan|libdrm|libfontconfig|libfreetype'
headless=0
bad=$(tr ',' '\n' <<<"$cli_depends" | grep -E "^ *($display_packages)" || true)
if [ -n "$bad" ]; then
  echo "package-check: tarnavel-cli's Depends name display libraries:" $bad >&2
  headless=1
fi
# The packaged programs by what they link and call, the build's also by the classes in them.
cli_programs=()
for p in "${programs[@]}"; do
  [ "${package_of[$p]}" != tarnavel-cli ] || cli_programs+=("$work/root/usr/bin/$p" "$build/$p")
done
"$root/scripts/headless-check.sh" "${cli_programs[@]}" || headless=1
[ "$headless" -eq 0 ] || fail "the tarnavel-cli package is not free of the display stack (above)"
echo "package-check: all checks passed"
