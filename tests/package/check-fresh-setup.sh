#!/usr/bin/env bash
# Proves that the README's two commands work on a brand-new Debian 12 machine: makes a
# minimal bookworm root with mmdebstrap (cached as a tarball between runs), clones this
# checkout's HEAD commit into it and, chrooted there as root, runs `./test.sh` and then
# `xvfb-run -a ./run.sh` until the program's run log says its window is shown.
# Whatever scripts/setup-deps.sh forgets shows up here and nowhere else, because every
# other check runs on a machine where someone already installed things by hand.
#
# Needs root (re-runs itself with sudo otherwise). The root lives on a tmpfs in a
# temporary folder, with its own /proc, /sys and a private tmpfs /dev: nothing of the
# host's /dev is ever reachable from it. Cleanup kills the root's processes, unmounts
# everything under it, and removes the folder only once nothing is mounted there.
# Prints each check with the seconds since the start, and "fresh-setup: N checks passed,
# M failed" at the end;
# exits non-zero when anything failed.
#   KORVAHUB_FRESH_ROOT_CACHE   where the root tarball is kept (/var/cache/korvahub-fresh-root)
#   KORVAHUB_FRESH_ROOT_REFRESH=1   make a new root even when a cached one exists
set -uo pipefail
[ "$(id -u)" -eq 0 ] || exec sudo -- "$0" "$@"
repo=$(cd "$(dirname "$0")/../.." && pwd)
export DEBIAN_FRONTEND=noninteractive
suite=bookworm
cache_dir=${KORVAHUB_FRESH_ROOT_CACHE:-/var/cache/korvahub-fresh-root}
# The window must show this long after run.sh starts (it only reconfigures and finds its
# build up to date).
window_wait_s=120

passed=0 failed=0
pass() { passed=$((passed + 1)); echo "ok   $1 (${SECONDS}s)"; }
# fail <what> [<log whose end explains it>]
fail() { failed=$((failed + 1)); echo "FAIL $1 (${SECONDS}s)"; [ -z "${2:-}" ] || tail -n 40 "$2" | sed 's/^/    /'; }
# step <what> <log> <command...>: the command with its output in the log, waited for in the
# background so that an interrupt reaches the cleanup at once.
step() {
    "${@:3}" >"$2" 2>&1 &
    if wait $!; then pass "$1"; else fail "$1" "$2"; return 1; fi
}
finish() { echo "fresh-setup: $passed checks passed, $failed failed in ${SECONDS}s"; exit $((failed > 0)); }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/korvahub-fresh.XXXXXX") && tmp=$(realpath "$tmp") || exit 1
root=$tmp/root
run_pid=""

# Every process whose root directory is the fresh root (or below it).
root_pids() {
    local p r
    for p in /proc/[0-9]*; do
        r=$(readlink "$p/root" 2>/dev/null) && [[ "$r" == "$root" || "$r" == "$root"/* ]] && echo "${p#/proc/}"
    done
}
kill_root_processes() {
    local pids end=$((SECONDS + 10))
    [ -z "$run_pid" ] || kill -TERM -- "-$run_pid" 2>/dev/null
    pids=$(root_pids) && [ -n "$pids" ] && kill -TERM $pids 2>/dev/null
    while [ -n "$(root_pids)" ] && [ $SECONDS -lt $end ]; do sleep 0.2; done
    pids=$(root_pids) && [ -n "$pids" ] && kill -KILL $pids 2>/dev/null
    [ -z "$run_pid" ] || wait "$run_pid" 2>/dev/null
    run_pid=""
}
# Mount points at or below $root, deepest first, as the kernel lists them.
mounted() { awk -v r="$root" '$5 == r || index($5, r "/") == 1 { print $5 }' /proc/self/mountinfo | sort -r; }
cleanup() {
    set +e
    kill_root_processes
    # Lazily as a last resort, which still detaches the mount from the tree at once.
    mounted | while read -r m; do umount "$m" 2>/dev/null || umount -l "$m"; done
    if [ -n "$(mounted)" ]; then
        echo "fresh-setup: still mounted under $root, leaving $tmp in place" >&2
        return
    fi
    # Only ever the folder mktemp made, and never across into another file system.
    [[ "$(basename "$tmp")" == korvahub-fresh.?????? ]] && rm -rf --one-file-system -- "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A /dev of its own: the device nodes a build, apt and an X server use, pseudo-terminals
# from a new devpts instance and a tmpfs for shared memory.
make_dev() {
    local d=$root/dev entry name major minor
    mount -t tmpfs -o mode=755,nosuid tmpfs "$d" || return 1
    for entry in null:1:3 zero:1:5 full:1:7 random:1:8 urandom:1:9 tty:5:0; do
        IFS=: read -r name major minor <<<"$entry"
        mknod -m 666 "$d/$name" c "$major" "$minor" || return 1
    done
    for entry in fd:/proc/self/fd stdin:/proc/self/fd/0 stdout:/proc/self/fd/1 stderr:/proc/self/fd/2 ptmx:pts/ptmx; do
        ln -s "${entry#*:}" "$d/${entry%%:*}"
    done
    mkdir "$d/pts" "$d/shm" && mount -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts "$d/pts" &&
        mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$d/shm"
}
# A command line run as root in the checkout inside the fresh root, with a fresh machine's
# environment.
root_env=(/usr/bin/env -i HOME=/root TERM=dumb PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin)
in_root() { chroot "$root" "${root_env[@]}" /bin/bash -c "cd /root/korvahub && $1"; }

# --- The minimal root ------------------------------------------------------------------
command -v mmdebstrap >/dev/null || step "install mmdebstrap" "$tmp/apt.log" \
    sh -c 'apt-get update -qq && apt-get install -y -qq --no-install-recommends mmdebstrap' || finish
# The root gets the Debian archive this machine's own apt uses: its source files that
# name the suite (never third-party ones), and its setting for snapshot archives whose
# Release files are past their validity date.
mirrors=()
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && grep -qE "^[^#]*(^|[[:space:]])$suite([[:space:]]|\$)" "$f" && mirrors+=("$f")
done
aptopts=()
eval "$(apt-config shell valid Acquire::Check-Valid-Until)"
[[ "${valid:-}" =~ ^(false|no|0)$ ]] && aptopts+=(--aptopt='Acquire::Check-Valid-Until "false"')
key=$(cat /dev/null "${mirrors[@]}" <(printf '%s\n' "$suite" "${aptopts[@]}") | sha256sum | cut -c1-12)
tarball=$cache_dir/$suite-minbase-$key.tar
mkdir -p "$cache_dir"
exec 9>"$cache_dir/lock" # one run at a time makes or reads the cache
flock 9
if [ -f "$tarball" ] && [ "${KORVAHUB_FRESH_ROOT_REFRESH:-0}" != 1 ]; then
    echo "Reusing $tarball"
# Written beside its final name and moved there whole: a broken run leaves no half tarball.
elif step "mmdebstrap --variant=minbase $suite from ${mirrors[*]:-its default mirror}" "$tmp/mmdebstrap.log" \
    mmdebstrap --variant=minbase --format=tar "${aptopts[@]}" "$suite" "$tarball.part" "${mirrors[@]}"; then
    rm -f "$cache_dir/$suite"-minbase-*.tar
    mv "$tarball.part" "$tarball"
else
    rm -f "$tarball.part"
    finish
fi

# In memory: dpkg's many syncs and the build cost no disk time, and once unmounted nothing
# of the root is left to delete.
# It uses about 3 GiB.
mkdir "$root" && mount -t tmpfs -o size=8G,mode=755 tmpfs "$root" && tar -xf "$tarball" -C "$root" --numeric-owner ||
    { fail "unpack $tarball"; finish; }
exec 9>&-

# --- The checkout ----------------------------------------------------------------------
# Root may be cloning a checkout that another user owns.
head=$(git -c safe.directory='*' -C "$repo" rev-parse HEAD)
step "checkout cloned at ${head:0:12}" "$tmp/clone.log" sh -c 'git -c safe.directory="*" clone -q --no-checkout "$1" "$2" &&
    git -C "$2" checkout -q --detach "$3"' - "$repo" "$root/root/korvahub" "$head" || finish
# apt inside needs the machine's name service; the root's own file may be a link out of it.
cp --remove-destination -L /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc" && mount -t sysfs -o ro sysfs "$root/sys" && make_dev ||
    { fail "mount /proc, /sys and /dev in the root"; finish; }

# --- ./test.sh -------------------------------------------------------------------------
# Node.js and .NET are not there, so tst_interop skips every case.
step "./test.sh on a fresh $suite root" "$tmp/test.log" in_root ./test.sh &&
    grep -E 'tests passed|tests failed' "$tmp/test.log" | sed 's/^/    /'

# tst_interop must have skipped every case, passed none against a peer that is not there.
out=$(in_root "ctest --test-dir build -R '^tst_interop' -V" 2>&1)
skips=$(grep -cE '^[0-9]+: SKIP ' <<<"$out")
passes=$(grep -E '^[0-9]+: PASS ' <<<"$out" | grep -cvE '::(init|cleanup)TestCase\(\)$')
if [ "$skips" -gt 0 ] && [ "$passes" -eq 0 ]; then
    pass "tst_interop reports its cases skipped ($skips skips)"
else
    fail "tst_interop reports its cases skipped ($skips skips, $passes passes)" <(printf '%s\n' "$out")
fi

# --- xvfb-run -a ./run.sh --------------------------------------------------------------
# X servers listen on abstract sockets, which a chroot shares with the host: start the
# search at a display number that nothing on the host holds.
display=$((100 + RANDOM % 400))
while [ -e "/tmp/.X$display-lock" ] || grep -qF "/tmp/.X11-unix/X$display" /proc/net/unix; do
    display=$((display + 1))
done
runlog=$root/root/.local/share/korvahub/logs/Korvahub.log
shown='^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} Window shown$'
# run.sh execs the program: it runs in a process group of its own, killed once its window
# is shown.
setsid chroot "$root" "${root_env[@]}" /bin/bash -c "cd /root/korvahub && exec xvfb-run -a -n $display ./run.sh" \
    >"$tmp/run.log" 2>&1 &
run_pid=$!
deadline=$((SECONDS + window_wait_s))
until grep -qE "$shown" "$runlog" 2>/dev/null || [ $SECONDS -ge $deadline ] || ! kill -0 "$run_pid" 2>/dev/null; do
    sleep 0.5
done
if ! grep -qE "$shown" "$runlog" 2>/dev/null; then
    fail "xvfb-run -a ./run.sh: run log says Window shown within ${window_wait_s}s" "$tmp/run.log"
elif kill -0 "$run_pid" 2>/dev/null; then
    pass "xvfb-run -a ./run.sh shows the window and keeps running"
else
    fail "xvfb-run -a ./run.sh keeps running after its window is shown" "$tmp/run.log"
fi
kill_root_processes
finish
