#!/usr/bin/env bash
# Builds the Debian package, installs it on this machine, starts the installed program the
# way the application menu does under a virtual display, checks its run log and its window,
# and removes the package again. Needs root or sudo. Prints "package: N passed, M failed"
# at the end and exits non-zero when anything failed.
set -uo pipefail
cd "$(dirname "$0")/../.."
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive

passed=0 failed=0
pass() { passed=$((passed + 1)); echo "ok   $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1${2:+: $2}"; }
# check <description> <command...>: the command's output is kept, its end shown on failure.
check() {
    if "${@:2}" >"$work/check.log" 2>&1; then pass "$1"; else fail "$1" "$(tail -n 3 "$work/check.log" | tr '\n' ' ')"; return 1; fi
}
finish() {
    echo "package: $passed passed, $failed failed"
    exit $((failed > 0))
}

work=$(mktemp -d) || exit 1
app_group=""
installed=0
cleanup() {
    # xvfb-run and the program run in a process group of their own.
    [ -z "$app_group" ] || kill -- "-$app_group" 2>/dev/null
    [ "$installed" -eq 0 ] || $SUDO apt-get remove -y -qq korvahub >/dev/null 2>&1
    rm -rf -- "$work"
}
trap cleanup EXIT
./scripts/setup-deps.sh xvfb xauth x11-utils desktop-file-utils file || { fail "setup of the test's tools"; finish; }

# --- Build -----------------------------------------------------------------------------
deb=$(./package.sh | tail -n 1)
[ -f "$deb" ] || { fail "package built"; finish; }
pass "package built: $(basename "$deb") ($(stat -c %s "$deb") bytes)"
for dep in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6websockets6 libqt6charts6 \
    "fonts-wqy-microhei | fonts-noto-cjk"; do
    check "Depends names $dep" grep -qF -- "$dep" <<<"$(dpkg-deb -f "$deb" Depends)"
done
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/korvahub ./usr/share/applications/korvahub.desktop \
    ./usr/share/icons/hicolor/64x64/apps/korvahub.png ./usr/share/doc/korvahub/guide.html; do
    check "package holds $f" grep -qxF -- "$f" <<<"$(awk '{print $6}' <<<"$contents")"
done
check "package files belong to root" test -z "$(awk '$2 != "root/root"' <<<"$contents")"

# --- Install ---------------------------------------------------------------------------
# Without recommends: the hard dependencies alone must be enough to start the program.
check "apt-get install ./$(basename "$deb")" $SUDO apt-get -y -qq install --no-install-recommends "$deb" || finish
installed=1
check "/usr/bin/korvahub finds every shared library" bash -c 'out=$(ldd /usr/bin/korvahub) && ! grep -q "not found" <<<"$out"'
desktop=/usr/share/applications/korvahub.desktop
out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ] && pass "desktop-file-validate" || fail "desktop-file-validate" "$out"
check "menu name is SignalR调试助手" grep -qx 'Name=SignalR调试助手' "$desktop"
icon=/usr/share/icons/hicolor/64x64/apps/$(sed -n 's/^Icon=//p' "$desktop").png
check "menu icon $icon is a 64x64 PNG" grep -q 'PNG image data, 64 x 64' <<<"$(file -b "$icon")"
check "user guide installed" grep -q '<title>' /usr/share/doc/korvahub/guide.html

# --- Start from the menu's command -----------------------------------------------------
# What a menu runs: the Exec line, resolved on PATH; in a fresh home, on a display number
# that nothing else holds.
exec_cmd=$(sed -n 's/^Exec=//p' "$desktop")
check "menu command resolves to /usr/bin/korvahub" test "$(command -v "${exec_cmd%% *}")" = /usr/bin/korvahub
home=$work/home
runlog=$home/.local/share/korvahub/logs/Korvahub.log
display=$((100 + RANDOM % 400))
while [ -e "/tmp/.X$display-lock" ] || grep -qF "/tmp/.X11-unix/X$display" /proc/net/unix; do display=$((display + 1)); done
mkdir -p "$home"
setsid env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u XDG_RUNTIME_DIR HOME="$home" \
    xvfb-run -n "$display" -f "$work/xauth" -e "$work/xvfb.log" $exec_cmd >"$work/app.log" 2>&1 &
app_group=$!
# xvfb-run lives exactly as long as the program.
window_shown() { DISPLAY=:$display XAUTHORITY=$work/xauth xwininfo -root -tree 2>/dev/null | grep -qF '"SignalR调试助手"'; }
shown='^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} Window shown$'
deadline=$((SECONDS + 60))
until { grep -qE "$shown" "$runlog" 2>/dev/null && window_shown; } || [ $SECONDS -ge $deadline ] ||
    ! kill -0 "$app_group" 2>/dev/null; do sleep 0.2; done
check "run log has the run header" grep -qE '^=== [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} Korvahub ===$' "$runlog"
check "run log says DarkTheme QSS loaded" grep -qE '^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} DarkTheme QSS loaded$' "$runlog"
check "run log says Window shown" grep -qE "$shown" "$runlog"
check "a window titled SignalR调试助手 is on the display" window_shown
if kill -0 "$app_group" 2>/dev/null; then pass "installed program keeps running after its window is shown"; else
    fail "installed program keeps running after its window is shown" "$(tail -n 5 "$work/app.log" "$work/xvfb.log" | tr '\n' ' ')"
fi
kill -- "-$app_group" 2>/dev/null
wait "$app_group" 2>/dev/null
app_group=""

# --- Remove ----------------------------------------------------------------------------
check "apt-get remove korvahub" $SUDO apt-get -y -qq remove korvahub && installed=0
for f in /usr/bin/korvahub "$desktop" "$icon" /usr/share/doc/korvahub/guide.html; do
    check "$f is gone" test ! -e "$f"
done
finish
