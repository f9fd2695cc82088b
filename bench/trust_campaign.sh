#!/usr/bin/env bash
# Folder trust, the ports folder's lock and the emulator's memory, tried the way they are
# attacked: with real processes of a victim and of another user.
#
#   sudo bench/trust_campaign.sh [BUILD_FOLDER] [SWAPS]      (defaults: build, 300)
#
# The victim is uid 100 with group 102 and the other user uid 4002: on Debian 12 uid 100 is
# messagebus, whose primary group 102 nobody else is in (a private group, as on a umask 002
# desk), and 4002 is nobody at all. Both only need to read the build folder. Prints what each
# attempt did; the counts that must be 0 end the script with status 1 when they are not.
set -u
root_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root_dir/build}" && pwd)
swaps=${2:-300}
cli=$build/tarnavel-cli
sim=$build/tarnavel-sim
[ "$(id -u)" = 0 ] || { echo "trust_campaign: run as root (it plays two users)" >&2; exit 2; }

work=$(mktemp -d /tmp/trust-campaign.XXXXXX)
chmod 755 "$work"
home=$work/home
mkdir -p "$home"
chown 100:102 "$home"
chmod 755 "$home"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Commands as the victim (with its XDG_CONFIG_HOME for VX), and as the other user. Arrays, not
# functions, so that a command started in the background is itself $!.
V=(env -i HOME="$home" PATH=/usr/bin:/bin setpriv --reuid=100 --regid=102 --clear-groups)
VX=(env -i HOME="$home" PATH=/usr/bin:/bin XDG_CONFIG_HOME="$work/xdg"
    setpriv --reuid=100 --regid=102 --clear-groups)
O=(env -i PATH=/usr/bin:/bin setpriv --reuid=4002 --regid=4002 --clear-groups)
# A process of "$@" (V or O) that holds an flock on the file or folder $1 until killed.
hold() {
    local path=$1
    shift
    "$@" python3 -c "
import fcntl, os, sys, time
fd = os.open(sys.argv[1], os.O_RDONLY if os.path.isdir(sys.argv[1]) else os.O_RDWR | os.O_CREAT, 0o600)
fcntl.flock(fd, fcntl.LOCK_EX)
if not os.path.isdir(sys.argv[1]): os.write(fd, b'pid %d\\n' % os.getpid())
time.sleep(1000)" "$path" &
    pids+=($!)
    sleep 0.3
}
faults=0
must_be_zero() { # label count
    printf '  %-62s %s\n' "$1" "$2"
    [ "$2" = 0 ] || faults=$((faults + 1))
}
# Starts the victim's emulator (as sim_as says) with the given arguments; sets sim_pid and
# sim_device.
sim_as=("${V[@]}")
start_sim() {
    local out=$work/sim.$RANDOM
    "${sim_as[@]}" "$sim" --quiet "$@" </dev/null >"$out" 2>&1 &
    sim_pid=$!
    pids+=("$sim_pid")
    for _ in $(seq 100); do grep -q 'serving on' "$out" 2>/dev/null && break; sleep 0.05; done
    sim_device=$(sed -n 's/^tarnavel-sim: serving on //p' "$out")
}

echo "1. Desks and their configuration folders (victim uid 100, private group 102)"
config=$home/.config/quorvex-tarnavel
check_desk() { # label setup expected-word
    rm -rf "$home/.config"
    "${V[@]}" sh -c "$2"
    local said
    said=$("${V[@]}" "$cli" -p COM1 version 2>&1)
    if [[ $said == *"$3"* ]]; then echo "  ok    $1"; else echo "  WRONG $1: $said"; faults=$((faults + 1)); fi
}
check_desk "umask 002, no ports folder: COM1 is /dev/ttyS0" \
    "umask 002; mkdir -p $config" "/dev/ttyS0"
check_desk "umask 002, configuration folder 0777, no ports folder: /dev/ttyS0" \
    "umask 002; mkdir -p $config; chmod 777 $config" "/dev/ttyS0"
check_desk "umask 002, ports folder: trusted" \
    "umask 002; mkdir -p $config/ports" "/dev/ttyS0"
rm -rf "$home/.config"
"${V[@]}" sh -c "umask 002; mkdir -p $config/ports"
chgrp 65534 "$config"
said=$("${V[@]}" "$cli" ports 2>&1)
[[ $said == *"belong(s) to as well"*"Fix: chmod 700"* ]] && echo "  ok    group shared with others: refused, with the cure" ||
    { echo "  WRONG group shared: $said"; faults=$((faults + 1)); }
chown 4002 "$config"
said=$("${V[@]}" "$cli" ports 2>&1)
[[ $said == *"belongs to uid 4002"* ]] && echo "  ok    another owner: refused" ||
    { echo "  WRONG another owner: $said"; faults=$((faults + 1)); }
rm -rf "$home/.config"
"${V[@]}" sh -c "umask 002; mkdir -p $home/.config"
start_sim --com 1
said=$("${V[@]}" "$cli" -p COM1 version 2>&1)
[[ $said == *"Reader type 8"* ]] && echo "  ok    umask 002, emulator linked as COM1: answers" ||
    { echo "  WRONG umask 002 emulator: $said"; faults=$((faults + 1)); }
kill -TERM "$sim_pid"; wait "$sim_pid" 2>/dev/null

echo "2. Another user swaps the configuration folder (XDG_CONFIG_HOME open to all), $swaps runs"
XDG=$work/xdg
mkdir -p "$XDG"
chown 100:102 "$XDG"
chmod 777 "$XDG"
"${V[@]}" mkdir -m 700 -p "$XDG/quorvex-tarnavel.real/ports" "$home/precious" "$home/empty"
"${V[@]}" chmod 755 "$home/precious"
start_sim
device=$sim_device
# The victim's own COM1 is that emulator, linked by hand in its real configuration folder.
"${V[@]}" ln -s "$device" "$XDG/quorvex-tarnavel.real/ports/com1"
# Whatever stands as quorvex-tarnavel is moved away (the folder above lets anyone rename in
# it) and replaced by a link to a folder of the victim's, to one without ports/, or to the real
# one.
touch "$work/swapping"
"${O[@]}" sh -c "cd $XDG; i=0; while [ -e $work/swapping ]; do
      for to in $home/precious $home/empty quorvex-tarnavel.real; do
        i=\$((i + 1)); mv quorvex-tarnavel gone.\$i 2>/dev/null; rm -f gone.\$i 2>/dev/null
        ln -s \$to quorvex-tarnavel; sleep 0.001
      done
    done" 2>/dev/null &
pids+=($!)
changed=0 made=0 fellback=0 linked=0 hangs=0 answered=0
for _ in $(seq "$swaps"); do
    said=$(timeout 20 "${VX[@]}" "$cli" ports link 2 "$device" 2>&1)
    [ $? = 124 ] && hangs=$((hangs + 1))
    said2=$(timeout 20 "${VX[@]}" "$cli" -p COM1 -t 1 version 2>&1)
    [ $? = 124 ] && hangs=$((hangs + 1))
    [ "$(stat -c %a "$home/precious")" = 755 ] || { changed=$((changed + 1)); chmod 755 "$home/precious"; }
    [ -e "$home/precious/ports" ] && { made=$((made + 1)); rm -rf "$home/precious/ports"; }
    [[ $said2 == *"/dev/ttyS0"* ]] && fellback=$((fellback + 1))
    [[ $said2 == *"Reader type"* ]] && answered=$((answered + 1))
    [[ $said == *"now stands for"* ]] && linked=$((linked + 1))
done
echo "  last refusal: ${said#*: }"
rm -f "$work/swapping"
kill -TERM "$sim_pid"
must_be_zero "victim's folders whose mode changed" "$changed"
must_be_zero "ports folders made in a folder the link led to" "$made"
must_be_zero "runs where COM1 quietly became /dev/ttyS0" "$fellback"
must_be_zero "ports link runs that went through" "$linked"
must_be_zero "hangs" "$hangs"
echo "  (COM1 answered by the victim's emulator through a judged path: $answered of $swaps)"

echo "3. The ports folder's lock"
rm -rf "$home/.config"
"${V[@]}" sh -c "umask 022; mkdir -p $config/ports"
# The other user opens the folder while it is 0755 and keeps an flock on it.
hold "$config/ports" "${O[@]}"
chmod 700 "$config" "$config/ports"
start_sim
device=$sim_device
timeout 20 "${V[@]}" "$cli" ports link 9 "$device" >/dev/null 2>&1
must_be_zero "ports link held up by another user's flock on the folder (hangs)" \
    "$([ $? = 124 ] && echo 1 || echo 0)"
timeout 20 "${V[@]}" "$cli" ports unlink 9 >/dev/null 2>&1
# A process of the victim that holds the lock file and does not let go: named, within the bound.
hold "$config/ports/.lock" "${V[@]}"
holder=${pids[-1]}
start=$(date +%s%N)
said=$(timeout 20 "${V[@]}" "$cli" ports link 9 "$device" 2>&1)
ms=$((($(date +%s%N) - start) / 1000000))
[[ $said == *"locked by process $holder (python3)"* ]] &&
    echo "  ok    a stuck holder is named after ${ms} ms: ${said#*: }" ||
    { echo "  WRONG stuck holder: $said"; faults=$((faults + 1)); }
"${V[@]}" "$sim" --com 4 --quiet </dev/null >/dev/null 2>&1 &
waiting=$!
pids+=("$waiting")
sleep 0.5
start=$(date +%s%N)
kill -TERM "$waiting"
for _ in $(seq 100); do kill -0 "$waiting" 2>/dev/null || break; sleep 0.05; done
kill -KILL "$waiting" 2>/dev/null
wait "$waiting"
status=$?
ms=$((($(date +%s%N) - start) / 1000000))
[ $status = 143 ] && [ ! -e "$config/ports/com4" ] && [ ! -e "$config/ports/.com4.tarnavel-sim" ] &&
    echo "  ok    SIGTERM while the emulator waits for the lock: ended in ${ms} ms, status 143, nothing left" ||
    { echo "  WRONG SIGTERM while waiting: status $status after $ms ms"; faults=$((faults + 1)); }
kill -KILL "$holder"

echo "4. The emulator's memory, read by another process of the same user"
readable=0
for dumps in 0 1; do
    "${V[@]}" env TARNAVEL_CORE_DUMPS=$dumps "$sim" --quiet </dev/null >/dev/null 2>&1 &
    pid=$!
    pids+=("$pid")
    sleep 0.5
    if "${V[@]}" head -c 16 "/proc/$pid/environ" >/dev/null 2>&1; then
        [ $dumps = 1 ] && echo "  ok    TARNAVEL_CORE_DUMPS=1: /proc/$pid/environ readable, as asked" ||
            readable=1
    else
        [ $dumps = 0 ] && echo "  ok    not dumpable: /proc/$pid/environ not readable by its own user" ||
            echo "  WRONG TARNAVEL_CORE_DUMPS=1 and still not readable"
    fi
    kill -TERM "$pid"
done
must_be_zero "release emulators whose memory another process of the user read" "$readable"

echo "faults: $faults"
[ "$faults" = 0 ]
