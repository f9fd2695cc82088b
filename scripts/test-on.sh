#!/usr/bin/env bash
# Runs the test suite and the packaging checks on a minimal Debian of another release, in a
# chroot, then installs the packages built there on an untouched minimal root of that release,
# runs their programs and removes them again.
#
# Usage: scripts/test-on.sh RELEASE        (bookworm or trixie)
#
# build/roots/RELEASE/ keeps, between runs:
#   base/  the minimal root from debootstrap, never changed once complete
#   work/  a copy of base/ where the build happens: its installed packages and ccache stay
# and, for one run each, src (inside work/) and fresh/ (a copy of base/ for the install check).
# The sources copied in are the working tree's tracked files as they are on disk, uncommitted
# changes included, without build folders or untracked files: what a commit would test.
# TARNAVEL_WERROR (ON unless set) and the other TARNAVEL_* variables are passed into the root.
# Needs root for debootstrap, chroot and the mounts; run without it, it starts itself with sudo.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd -P)
release=${1:-}
case "$release" in
  bookworm | trixie) ;;
  *)
    echo "usage: scripts/test-on.sh bookworm|trixie" >&2
    exit 2
    ;;
esac
if [ "$(id -u)" -ne 0 ]; then
  keep=$(compgen -e | grep -E '^(TARNAVEL_|CI$)' | paste -sd, || true)
  exec sudo ${keep:+--preserve-env="$keep"} -- "$0" "$@"
fi

say() { echo "test-on $release: $*"; }
fail() {
  echo "test-on $release: $*" >&2
  exit 1
}

cache=$root/build/roots/$release
base=$cache/base
work=$cache/work
fresh=$cache/fresh
mkdir -p "$cache"
exec 9>"$cache/lock"
flock -n 9 || fail "another test-on.sh $release is running (it holds $cache/lock)"

# Mount points at or below a folder, deepest first. mountinfo writes a blank as \040: turned
# into \0040, printf %b reads it back as the octal escape.
mounts_under() {
  local point
  while read -r _ _ _ _ point _; do
    point=$(printf '%b' "${point//\\/\\0}")
    case "$point" in "$1" | "$1"/*) printf '%s\n' "$point" ;; esac
  done </proc/self/mountinfo | sort -r
}

# Ends what still runs inside a root, then unmounts everything below it. A mount that stays
# busy is detached (lazy unmount): either way nothing under build/ leads to the host's /dev,
# /proc or /sys afterwards, so removing build/ stays harmless.
release_root() {
  local dir=$1 proc pids=() point left
  for proc in /proc/[0-9]*; do
    [ "$(readlink "$proc/root" 2>/dev/null)" != "$dir" ] || pids+=("${proc#/proc/}")
  done
  if [ ${#pids[@]} -gt 0 ]; then
    say "stopping ${#pids[@]} process(es) still inside $dir: ${pids[*]}"
    kill -TERM "${pids[@]}" 2>/dev/null || true
    for _ in $(seq 30); do
      kill -0 "${pids[@]}" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "${pids[@]}" 2>/dev/null || true
  fi
  while read -r point; do
    [ -n "$point" ] || continue
    umount "$point" 2>/dev/null || umount --lazy "$point" || true
  done < <(mounts_under "$dir")
  left=$(mounts_under "$dir")
  [ -z "$left" ] || { echo "test-on $release: still mounted: $left" >&2; return 1; }
}

# Removes a root, refusing while anything is mounted below it; --one-file-system keeps rm on
# the build's own file system in any case.
remove_root() {
  [ -e "$1" ] || return 0
  release_root "$1" || fail "not removing $1 while something is mounted below it"
  rm -rf --one-file-system "$1"
}

mount_root() {
  local dir=$1
  # Private mounts: on a host whose / is shared, the /dev/pts mount below must not show up in
  # the host's /dev, nor its unmount take the host's away.
  mount -t proc proc "$dir/proc"
  mount --bind --make-private -o ro /sys "$dir/sys"
  mount --bind --make-private /dev "$dir/dev"
  mount --bind --make-private /dev/pts "$dir/dev/pts"
  # apt inside needs the host's name servers.
  rm -f "$dir/etc/resolv.conf"
  cp /etc/resolv.conf "$dir/etc/resolv.conf"
}

phase_name=""
phase_start=
timings=()
phase() {
  local now=$EPOCHREALTIME
  [ -z "$phase_name" ] ||
    timings+=("$(awk -v name="$phase_name" -v s="$(( ${now//[!0-9]/} - ${phase_start//[!0-9]/} ))" \
      'BEGIN { printf "%-26s %7.1f s", name, s / 1e6 }')")
  phase_name=$1
  phase_start=$now
  [ -z "$phase_name" ] || say "== $phase_name =="
}

status=0
failed=()
cleanup() {
  status=$?
  set +e
  trap - INT TERM HUP
  local stopped_in=$phase_name
  phase ""
  # The base root too: debootstrap mounts /proc and /sys in it while it works.
  for dir in "$base" "$work" "$fresh"; do
    release_root "$dir" || status=1
  done
  [ -n "$(mounts_under "$fresh")" ] || rm -rf --one-file-system "$fresh"
  say "timings:"
  printf '  %s\n' "${timings[@]}"
  if [ "$status" -eq 0 ]; then
    say "all passed"
  else
    [ -z "$stopped_in" ] || failed+=("$stopped_in (stopped, exit status $status)")
    local IFS=';'
    echo "test-on $release: FAILED: ${failed[*]}" >&2
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# Runs a command inside a root as root, with a plain environment: no display, no host paths.
in_root() {
  local dir=$1 env=(PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
    HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive TARNAVEL_WERROR="${TARNAVEL_WERROR:-ON}")
  local name
  for name in $(compgen -e | grep -E '^(TARNAVEL_|CI$)'); do
    [ "$name" = TARNAVEL_WERROR ] || env+=("$name=${!name}")
  done
  shift
  chroot "$dir" /usr/bin/env -i "${env[@]}" "$@"
}

# Inside the untouched root: what each package brings in, then install, run, remove.
install_check=$(cat <<'EOF'
set -euo pipefail
fail() { echo "install check: $*" >&2; exit 1; }
cd /tmp/debs
declare -A file
for deb in *.deb; do file[$(dpkg-deb -f "$deb" Package)]=./$deb; done
cli=${file[tarnavel-cli]:?no tarnavel-cli package}
window=${file[quorvex-tarnavel]:?no quorvex-tarnavel package}
apt-get update -qq
# What each package brings onto a minimal system, as apt-get install does it (recommended
# packages too), and how many without the recommended ones.
closure() {
  apt-get install -s "$@" | awk "/^Inst /{ print \$2 }" | sort >/tmp/closure
  bare=$(apt-get install -s --no-install-recommends "$@" | grep -c "^Inst ")
  echo "$(wc -l </tmp/closure) packages ($bare without recommends): $(paste -sd" " /tmp/closure)"
}
echo "apt-get install $cli: $(closure "$cli")"
echo "apt-get install $window $cli: $(closure "$window" "$cli")"
installed() { dpkg-query -W -f="\${Package} \${db:Status-Abbrev}\n" "$@" 2>/dev/null | awk "\$2 == \"ii\" { print \$1 }"; }
# As a user would start them: no display, a home of its own.
run() { env -i PATH=/usr/bin:/bin HOME=/tmp/home LANG=C.UTF-8 "$@" || fail "$* exited with $?"; }
apt-get install -y -qq "$cli" >/tmp/apt.log 2>&1 || { cat /tmp/apt.log; fail "apt-get install $cli failed"; }
mkdir -p /tmp/home
run tarnavel-cli --version
run tarnavel-sim --version
# A headless machine gets no display stack with the command line.
gui=$(installed | grep -E "^(libqt6gui6|libqt6widgets6|libx11-|libxcb|libgl1|libegl1|libopengl0|libwayland-)" || true)
# Noted, not fatal: the window is still installed and removed below.
headless=ok
[ -z "$gui" ] || { echo "install check: installing tarnavel-cli brought in $(echo $gui)" >&2; headless=; }
apt-get install -y -qq "$window" >/tmp/apt.log 2>&1 || { cat /tmp/apt.log; fail "apt-get install $window failed"; }
run quorvex-tarnavel --version
apt-get remove -y -qq quorvex-tarnavel tarnavel-cli >/tmp/apt.log 2>&1 ||
  { cat /tmp/apt.log; fail "apt-get remove failed"; }
for p in quorvex-tarnavel tarnavel-cli; do
  left=$(dpkg -l "$p" 2>/dev/null | grep -E "^[a-z][a-z] +$p[ :]" || true)
  [ -z "$left" ] || fail "dpkg -l still lists it after apt-get remove: $left"
done
for f in /usr/bin/quorvex-tarnavel /usr/bin/tarnavel-cli /usr/bin/tarnavel-sim; do
  [ ! -e "$f" ] || fail "$f is left after apt-get remove"
done
echo "installed, ran --version, removed: quorvex-tarnavel and tarnavel-cli"
[ -n "$headless" ] || fail "tarnavel-cli needs the display stack"
EOF
)

phase "host tools"
# The keyring is only a recommendation of debootstrap's, and without it nothing is verified.
"$root/scripts/deps.sh" --only debootstrap debian-archive-keyring git

# A root that another run left mounted (killed with SIGKILL, say) is released first.
for dir in "$base" "$work" "$fresh"; do
  [ -z "$(mounts_under "$dir")" ] || release_root "$dir" || fail "cannot unmount what is below $dir"
done

# The marker is written last: a root without it is half made and done again.
if [ ! -e "$base/.complete" ]; then
  phase "debootstrap"
  remove_root "$work"
  remove_root "$base"
  debootstrap --variant=minbase "$release" "$base" http://deb.debian.org/debian >"$cache/debootstrap.log" 2>&1 ||
    { tail -n 30 "$cache/debootstrap.log" >&2; fail "debootstrap failed; see $cache/debootstrap.log"; }
  # Nothing installed in a chroot may start a service on the host.
  printf '#!/bin/sh\nexit 101\n' >"$base/usr/sbin/policy-rc.d"
  chmod 755 "$base/usr/sbin/policy-rc.d"
  touch "$base/.complete"
fi
# Copied aside and renamed, since the copy brings base's marker along.
if [ ! -e "$work/.complete" ]; then
  phase "work root"
  remove_root "$work"
  remove_root "$work.partial"
  cp -a "$base" "$work.partial"
  mv "$work.partial" "$work"
fi

phase "sources"
mount_root "$work"
rm -rf --one-file-system "$work/src"
find "$work/tmp" -xdev -mindepth 1 -delete
mkdir "$work/src"
# The tracked files; outside a git checkout (an unpacked release), every file but the builds.
source_files() {
  if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$root" ls-files -z
  else
    (cd "$root" && find . -path ./.git -prune -o -path './build*' -prune -o \( -type f -o -type l \) -print0)
  fi
}
source_files | while IFS= read -r -d '' file; do
  # A tracked file deleted in the working tree is left out, as the next commit would.
  if [ -e "$root/$file" ] || [ -L "$root/$file" ]; then printf '%s\0' "$file"; fi
done | tar -C "$root" --null -T - -cf - | tar -C "$work/src" -xf -
# ccache keeps the work root's second run short; a fresh CI clone pays for its cache once.
in_root "$work" /src/scripts/deps.sh --only ccache

# Each check runs even when one before it failed, so that one run shows every failure.
check() {
  phase "$1"
  shift
  "$@" || failed+=("$phase_name")
}
check "scripts/test.sh" in_root "$work" /src/scripts/test.sh
check "scripts/package-check.sh" in_root "$work" /src/scripts/package-check.sh
# As the README installs: scripts/package.sh on the release at hand, then apt-get install, on
# a root that has nothing but the minimal system.
phase "scripts/package.sh"
if packaged=$(in_root "$work" /src/scripts/package.sh) && [ -n "$packaged" ]; then
  mapfile -t debs <<<"$packaged"
  printf '  %s\n' "${debs[@]}"
  phase "install check"
  remove_root "$fresh"
  cp -a "$base" "$fresh"
  mount_root "$fresh"
  mkdir "$fresh/tmp/debs"
  for deb in "${debs[@]}"; do cp "$work$deb" "$fresh/tmp/debs/"; done
  in_root "$fresh" /bin/bash -c "$install_check" || failed+=("$phase_name")
else
  failed+=("$phase_name")
fi
phase ""
[ ${#failed[@]} -eq 0 ] || exit 1
