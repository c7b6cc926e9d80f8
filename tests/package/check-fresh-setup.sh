#!/usr/bin/env bash
# Proves that the README's two commands work on a brand-new Debian 12 machine: makes a
# minimal bookworm root with mmdebstrap (cached as a tarball between runs), clones this
# checkout's HEAD commit into it and, chrooted there as root, runs `./test.sh` and then
# `xvfb-run -a ./run.sh` until the program's run log says its window is shown.
# Whatever scripts/setup-deps.sh forgets shows up here and nowhere else, because every
# other check runs on a machine where someone already installed things by hand.
#
# Needs root (re-runs itself with sudo otherwise). The root lives in a temporary folder
# on a tmpfs, with its own /proc, /sys and a private tmpfs /dev: nothing of the host's
# /dev is ever reachable from it, and the folder is removed only once nothing is mounted
# under it.
# Prints how long each stage took and "fresh-setup: N passed, M failed" at the end; exits
# non-zero when anything failed.
#   KORVAHUB_FRESH_ROOT_CACHE   where the root tarball is kept (/var/cache/korvahub-fresh-root)
#   KORVAHUB_FRESH_ROOT_REFRESH=1   make a new root even when a cached one exists
#   KORVAHUB_FRESH_LOG_DIR      if set, the stages' full logs are copied there at the end
set -uo pipefail
if [ "$(id -u)" -ne 0 ]; then
    exec sudo -- "$0" "$@"
fi
repo=$(cd "$(dirname "$0")/../.." && pwd)
export DEBIAN_FRONTEND=noninteractive

suite=bookworm
cache_dir=${KORVAHUB_FRESH_ROOT_CACHE:-/var/cache/korvahub-fresh-root}
# Bounds: the program's window must show this long after run.sh starts (it only has to
# reconfigure and find its build up to date), and a killed process this long to go.
window_wait_s=120
kill_wait_s=10
# Upper bound of the in-memory root; it uses about 3 GiB (packages, checkout, build).
root_size=8G

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1${2:+: $2}"; }
summary() {
    printf 'time %-34s %dm%02ds\n' "whole check" $((SECONDS / 60)) $((SECONDS % 60))
    echo "fresh-setup: $passed checks passed, $failed failed"
    [ "$failed" -eq 0 ]
}
stage_start=$SECONDS
stage_done() { # stage_done <what>: how long the stage took, then start the next one
    local s=$((SECONDS - stage_start))
    printf 'time %-34s %dm%02ds\n' "$1" $((s / 60)) $((s % 60))
    stage_start=$SECONDS
}
show_tail() { # show_tail <log> <lines>: the end of a log, indented, for a failure
    echo "---- last $2 lines of $(basename "$1") ----"
    tail -n "$2" "$1" | sed 's/^/    /'
    echo "----"
}

tmp=$(mktemp -d "${TMPDIR:-/tmp}/korvahub-fresh.XXXXXX")
tmp=$(realpath "$tmp")
root="$tmp/root"
mounts=()  # mount points under $root, in the order they were mounted
run_pid=""

# Every process whose root directory is the fresh root (or below it).
root_pids() {
    local p r
    for p in /proc/[0-9]*; do
        r=$(readlink "$p/root" 2>/dev/null) || continue
        if [ "$r" = "$root" ] || [[ "$r" == "$root"/* ]]; then echo "${p#/proc/}"; fi
    done
}
kill_root_processes() {
    local pids end
    [ -n "$run_pid" ] && kill -TERM -- "-$run_pid" 2>/dev/null
    pids=$(root_pids)
    [ -n "$pids" ] && kill -TERM $pids 2>/dev/null
    end=$((SECONDS + kill_wait_s))
    while [ -n "$(root_pids)" ] && [ $SECONDS -lt $end ]; do sleep 0.2; done
    pids=$(root_pids)
    [ -n "$pids" ] && kill -KILL $pids 2>/dev/null
    [ -n "$run_pid" ] && wait "$run_pid" 2>/dev/null
    run_pid=""
}
# Mount points at or below $root, deepest first, as the kernel lists them.
mounted_under_root() {
    awk -v r="$root" '$5 == r || index($5, r "/") == 1 { print $5 }' /proc/self/mountinfo | sort -r
}
unmount_all() {
    local i m
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount "${mounts[i]}" 2>/dev/null
    done
    mounts=()
    # Anything left (a mount made by something inside) goes too; lazily as a last resort,
    # which still detaches it from the tree at once.
    for m in $(mounted_under_root); do umount "$m" 2>/dev/null || umount -l "$m"; done
}
cleanup() {
    set +e
    kill_root_processes
    if [ -n "${KORVAHUB_FRESH_LOG_DIR:-}" ] && mkdir -p "$KORVAHUB_FRESH_LOG_DIR"; then
        cp "$tmp"/*.log "$KORVAHUB_FRESH_LOG_DIR"/ 2>/dev/null
        cp "$root/root/.local/share/korvahub/logs/Korvahub.log" "$KORVAHUB_FRESH_LOG_DIR"/ 2>/dev/null
    fi
    unmount_all
    if [ -n "$(mounted_under_root)" ]; then
        echo "fresh-setup: still mounted under $root, leaving $tmp in place:" >&2
        mounted_under_root >&2
        return
    fi
    # Only ever the folder mktemp made, and never across into another file system.
    if [[ "$(basename "$tmp")" == korvahub-fresh.?????? ]] && [ "$tmp" != / ]; then
        rm -rf --one-file-system -- "$tmp"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mount_in_root() { # mount_in_root <path inside root> <mount arguments...>
    local target="$root$1"
    shift
    mkdir -p "$target" && mount "$@" "$target" && mounts+=("$target")
}
# A /dev of its own: the device nodes a build, apt and an X server use, pseudo-terminals
# from a new devpts instance and a tmpfs for shared memory.
make_dev() {
    mount_in_root /dev -t tmpfs -o mode=755,nosuid tmpfs || return 1
    local spec name major minor
    for spec in null:1:3 zero:1:5 full:1:7 random:1:8 urandom:1:9 tty:5:0; do
        IFS=: read -r name major minor <<<"$spec"
        mknod -m 666 "$root/dev/$name" c "$major" "$minor" || return 1
    done
    ln -s /proc/self/fd "$root/dev/fd"
    ln -s /proc/self/fd/0 "$root/dev/stdin"
    ln -s /proc/self/fd/1 "$root/dev/stdout"
    ln -s /proc/self/fd/2 "$root/dev/stderr"
    mount_in_root /dev/pts -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts || return 1
    ln -s pts/ptmx "$root/dev/ptmx"
    mount_in_root /dev/shm -t tmpfs -o mode=1777,nosuid,nodev tmpfs
}
# Runs a command line as root inside the fresh root with a fresh machine's environment.
root_env=(/usr/bin/env -i HOME=/root TERM=dumb
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin)
in_root() { chroot "$root" "${root_env[@]}" /bin/bash -c "$1"; }
# The same for a long command with its output in a log: waited for in the background, so
# that an interrupt reaches the cleanup at once instead of after the command.
in_root_logged() { # in_root_logged <log> <command line>
    in_root "$2" >"$1" 2>&1 &
    wait $!
}

# --- The minimal root ------------------------------------------------------------------
if ! command -v mmdebstrap >/dev/null; then
    echo "Installing: mmdebstrap"
    { apt-get update -qq && apt-get install -y -qq --no-install-recommends mmdebstrap; } >"$tmp/apt.log" 2>&1 ||
        { fail "install mmdebstrap"; show_tail "$tmp/apt.log" 20; summary; exit 1; }
fi
# The root gets the Debian archive this machine's own apt uses: its source files that
# name the suite (never third-party ones), and its setting for snapshot archives whose
# Release files are past their validity date.
mirrors=()
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    if [ -f "$f" ] && grep -qE "^[^#]*(^|[[:space:]])$suite([[:space:]]|\$)" "$f"; then
        mirrors+=("$f")
    fi
done
aptopts=()
eval "$(apt-config shell valid Acquire::Check-Valid-Until)"
if [[ "${valid:-}" =~ ^(false|no|0)$ ]]; then aptopts+=(--aptopt='Acquire::Check-Valid-Until "false"'); fi
key=$(cat /dev/null "${mirrors[@]}" <(printf '%s\n' "$suite" "${aptopts[@]}") | sha256sum | cut -c1-12)
tarball="$cache_dir/$suite-minbase-$key.tar"
mkdir -p "$cache_dir"
# One run at a time makes or reads the cache.
exec 9>"$cache_dir/lock"
flock 9
if [ -f "$tarball" ] && [ "${KORVAHUB_FRESH_ROOT_REFRESH:-0}" != 1 ]; then
    echo "Reusing $tarball"
else
    echo "Making a minimal $suite root with mmdebstrap from ${mirrors[*]:-its default mirror}"
    # Written beside its final name and moved there whole, so a broken run leaves no
    # half tarball to be reused.
    if mmdebstrap --variant=minbase --format=tar "${aptopts[@]}" "$suite" "$tarball.part" "${mirrors[@]}" \
        >"$tmp/mmdebstrap.log" 2>&1; then
        rm -f "$cache_dir/$suite"-minbase-*.tar
        mv "$tarball.part" "$tarball"
    else
        rm -f "$tarball.part"
        fail "mmdebstrap --variant=minbase $suite"
        show_tail "$tmp/mmdebstrap.log" 30
        summary
        exit 1
    fi
fi
stage_done "minimal root ready"

# In memory: dpkg's many syncs and the build cost no disk time, and once unmounted nothing
# of the root is left to delete.
mkdir "$root" && mount_in_root "" -t tmpfs -o "size=$root_size,mode=755" tmpfs &&
    tar -xf "$tarball" -C "$root" --numeric-owner ||
    { fail "unpack $tarball"; summary; exit 1; }
exec 9>&-
stage_done "root unpacked"

# --- The checkout ----------------------------------------------------------------------
# Root may be cloning a checkout that another user owns.
head=$(git -c safe.directory='*' -C "$repo" rev-parse HEAD)
if git -c safe.directory='*' clone -q --no-checkout "$repo" "$root/root/korvahub" >"$tmp/clone.log" 2>&1 &&
    git -C "$root/root/korvahub" checkout -q --detach "$head" >>"$tmp/clone.log" 2>&1; then
    pass "checkout cloned at ${head:0:12}"
else
    fail "clone $repo at $head"
    show_tail "$tmp/clone.log" 10
    summary
    exit 1
fi
# apt inside needs the machine's name service.
rm -f "$root/etc/resolv.conf"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
if mount_in_root /proc -t proc proc && mount_in_root /sys -t sysfs -o ro sysfs && make_dev; then :; else
    fail "mount /proc, /sys and /dev in the root"
    summary
    exit 1
fi
stage_done "checkout cloned, root mounted"

# --- ./test.sh -------------------------------------------------------------------------
# Node.js and .NET are not there, so the interop tests skip themselves.
if in_root_logged "$tmp/test.log" 'cd /root/korvahub && ./test.sh'; then
    pass "./test.sh on a fresh $suite root"
    grep -E '^ *[0-9]+/[0-9]+ Test|tests passed|tests failed' "$tmp/test.log" | sed 's/^/    /'
else
    fail "./test.sh on a fresh $suite root"
    show_tail "$tmp/test.log" 60
fi
stage_done "./test.sh"

# Every interop test must have skipped, not passed against something that is not there.
if [ -f "$root/root/korvahub/build/CTestTestfile.cmake" ]; then
    interop=$(in_root "cd /root/korvahub && ctest --test-dir build -N -R '^tst_interop'" 2>&1 |
        sed -nE 's/^ *Test +#([0-9]+): (tst_interop[^ ]*)$/\1 \2/p')
    out=$(in_root "cd /root/korvahub && ctest --test-dir build -R '^tst_interop' -V" 2>&1)
    [ -n "$interop" ] || fail "ctest lists the interop tests"
    while read -r number name; do
        [ -n "$name" ] || continue
        if skip=$(grep -m1 -E "^$number: SKIP " <<<"$out"); then
            pass "$name reports itself skipped"
            echo "    ${skip#*: }"
        else
            fail "$name reports itself skipped"
            grep -E "^$number: " <<<"$out" | tail -n 15 | sed 's/^/    /'
        fi
    done <<<"$interop"
fi

# --- xvfb-run -a ./run.sh --------------------------------------------------------------
# X servers listen on abstract sockets, which a chroot shares with the host: start the
# search at a display number that nothing on the host holds.
display=$((100 + RANDOM % 400))
while [ -e "/tmp/.X$display-lock" ] || grep -qF "/tmp/.X11-unix/X$display" /proc/net/unix; do
    display=$((display + 1))
done
runlog="$root/root/.local/share/korvahub/logs/Korvahub.log"
shown='^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} Window shown$'
# run.sh execs the program, so it runs in the background in a process group of its own
# and is killed once its window is shown.
setsid chroot "$root" "${root_env[@]}" /bin/bash -c "cd /root/korvahub && exec xvfb-run -a -n $display ./run.sh" \
    >"$tmp/run.log" 2>&1 &
run_pid=$!
deadline=$((SECONDS + window_wait_s))
until grep -qE "$shown" "$runlog" 2>/dev/null; do
    if [ $SECONDS -ge $deadline ] || ! kill -0 "$run_pid" 2>/dev/null; then break; fi
    sleep 0.5
done
if grep -qE "$shown" "$runlog" 2>/dev/null; then
    if kill -0 "$run_pid" 2>/dev/null; then
        pass "xvfb-run -a ./run.sh shows the window and keeps running"
    else
        fail "xvfb-run -a ./run.sh keeps running after its window is shown"
        show_tail "$tmp/run.log" 30
    fi
else
    fail "xvfb-run -a ./run.sh: run log says Window shown within ${window_wait_s}s"
    show_tail "$tmp/run.log" 30
    [ -f "$runlog" ] && show_tail "$runlog" 10
fi
kill_root_processes
stage_done "xvfb-run -a ./run.sh"
echo "root used $(df -h --output=used "$root" | tail -n 1 | tr -d ' ') of its $root_size tmpfs"

summary
