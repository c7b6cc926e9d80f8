#!/usr/bin/env bash
# Builds the Debian package, installs it on this machine, starts the installed program the
# way the application menu does under a virtual display, checks its run log, and removes
# the package again. Needs root or sudo. Prints "package: N passed, M failed" at the end
# and exits non-zero when anything failed.
set -uo pipefail
cd "$(dirname "$0")/../.."

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1${2:+: $2}"; }
check() { # check <description> <command...>
    local what=$1
    shift
    if "$@" >/dev/null 2>&1; then pass "$what"; else fail "$what"; fi
}
summary() {
    echo "package: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}

work=$(mktemp -d)
app_pid=""
xvfb_pid=""
installed=0
cleanup() {
    if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then kill "$app_pid" 2>/dev/null; fi
    if [ -n "$xvfb_pid" ]; then
        # xvfb-run stops its X server once the program is gone.
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
    if [ "$installed" -eq 1 ]; then $SUDO apt-get remove -y -qq korvahub >/dev/null 2>&1; fi
    rm -rf "$work"
}
trap cleanup EXIT

./scripts/setup-deps.sh xvfb xauth x11-utils desktop-file-utils file || { fail "setup of the test's tools"; summary; exit 1; }

# --- Build -----------------------------------------------------------------------------
deb=$(./package.sh | tail -n 1)
if [ -f "$deb" ]; then pass "package built: $(basename "$deb") ($(stat -c %s "$deb") bytes)"; else
    fail "package built"
    summary
    exit 1
fi
field() { dpkg-deb -f "$deb" "$1"; }
check "package name is korvahub" test "$(field Package)" = korvahub
check "package version is the project's, 1.0.0" test "$(field Version)" = 1.0.0
for dep in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6websockets6 libqt6charts6 \
    "fonts-wqy-microhei | fonts-noto-cjk"; do
    check "Depends names $dep" grep -qF -- "$dep" <<<"$(field Depends)"
done
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/korvahub ./usr/share/applications/korvahub.desktop \
    ./usr/share/icons/hicolor/64x64/apps/korvahub.png ./usr/share/doc/korvahub/guide.html; do
    check "package holds $f" grep -qxF -- "$f" <<<"$contents"
done
check "package files belong to root" test -z "$(dpkg-deb -c "$deb" | awk '$2 != "root/root"')"

# --- Install ---------------------------------------------------------------------------
# Without recommends: the hard dependencies alone must be enough to start the program.
if $SUDO apt-get install -y -qq --no-install-recommends "$deb" >"$work/apt-install.log" 2>&1; then
    installed=1
    pass "apt-get install ./$(basename "$deb")"
else
    fail "apt-get install ./$(basename "$deb")" "$(tail -n 3 "$work/apt-install.log" | tr '\n' ' ')"
    summary
    exit 1
fi
check "dpkg reports korvahub installed" grep -qx "install ok installed" \
    <<<"$(dpkg-query -W -f='${Status}' korvahub 2>/dev/null)"
check "/usr/bin/korvahub is executable" test -x /usr/bin/korvahub
check "no shared library is missing" test -z "$(ldd /usr/bin/korvahub | grep 'not found')"
desktop=/usr/share/applications/korvahub.desktop
check "desktop entry installed" test -f "$desktop"
if command -v desktop-file-validate >/dev/null; then
    if out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ]; then pass "desktop-file-validate"; else
        fail "desktop-file-validate" "$out"
    fi
else
    echo "skip desktop-file-validate (not installed)"
fi
check "menu name is SignalR调试助手" grep -qx 'Name=SignalR调试助手' "$desktop"
icon=/usr/share/icons/hicolor/64x64/apps/$(sed -n 's/^Icon=//p' "$desktop").png
check "menu icon $icon is a 64x64 PNG" grep -q 'PNG image data, 64 x 64' <<<"$(file -b "$icon")"
check "user guide installed" grep -q '<title>' /usr/share/doc/korvahub/guide.html

# --- Start from the menu's command -----------------------------------------------------
# What a menu runs: the Exec line, resolved on PATH.
exec_cmd=$(sed -n 's/^Exec=//p' "$desktop")
check "menu command resolves to /usr/bin/korvahub" test "$(command -v "${exec_cmd%% *}")" = /usr/bin/korvahub

home="$work/home"
mkdir -p "$home"
runlog="$home/.local/share/korvahub/logs/Korvahub.log"
# Inside the virtual display: start the menu's command, note its pid, and note when a
# top-level window with the program's title is on the screen (bounded poll).
cat >"$work/inside.sh" <<'INSIDE'
"$1" &
echo $! >"$2/pid"
end=$(($(date +%s) + 60))
while [ "$(date +%s)" -lt "$end" ] && kill -0 "$(cat "$2/pid")" 2>/dev/null; do
    if xwininfo -root -tree 2>/dev/null | grep -qF '"SignalR调试助手"'; then
        echo mapped >"$2/window"
        break
    fi
    sleep 0.2
done
wait
INSIDE
# A random first display number keeps parallel xvfb-run users from racing for :99.
env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u XDG_RUNTIME_DIR \
    HOME="$home" \
    xvfb-run -a -n $((100 + RANDOM % 400)) -e "$work/xvfb.log" \
    sh "$work/inside.sh" "$exec_cmd" "$work" >"$work/app.log" 2>&1 &
xvfb_pid=$!
deadline=$((SECONDS + 20))
while [ ! -s "$work/pid" ] && [ $SECONDS -lt $deadline ] && kill -0 "$xvfb_pid" 2>/dev/null; do sleep 0.2; done
app_pid=$(cat "$work/pid" 2>/dev/null)

# Poll, bounded, until the run log says the window is shown or the program is gone
# (xvfb-run lives exactly as long as the program).
shown='^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} Window shown$'
deadline=$((SECONDS + 60))
until grep -qE "$shown" "$runlog" 2>/dev/null; do
    if [ $SECONDS -ge $deadline ] || ! kill -0 "$xvfb_pid" 2>/dev/null; then break; fi
    sleep 0.2
done
check "run log exists at ~/.local/share/korvahub/logs/Korvahub.log" test -f "$runlog"
check "run log has the run header" grep -qE '^=== [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} Korvahub ===$' "$runlog"
check "run log says DarkTheme QSS loaded" grep -qE '^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} DarkTheme QSS loaded$' "$runlog"
check "run log says Window shown" grep -qE "$shown" "$runlog"
deadline=$((SECONDS + 30))
until [ -s "$work/window" ] || [ $SECONDS -ge $deadline ] || ! kill -0 "$xvfb_pid" 2>/dev/null; do sleep 0.2; done
check "a window titled SignalR调试助手 is on the display" test -s "$work/window"
if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
    pass "installed program keeps running after its window is shown"
    kill "$app_pid"
    wait "$xvfb_pid" 2>/dev/null
else
    fail "installed program keeps running after its window is shown" \
        "$(tail -n 5 "$work/app.log" "$work/xvfb.log" 2>/dev/null | tr '\n' ' ')"
fi
app_pid=""
xvfb_pid=""

# --- Remove ----------------------------------------------------------------------------
if $SUDO apt-get remove -y -qq korvahub >"$work/apt-remove.log" 2>&1; then
    installed=0
    pass "apt-get remove korvahub"
else
    fail "apt-get remove korvahub" "$(tail -n 3 "$work/apt-remove.log" | tr '\n' ' ')"
fi
check "/usr/bin/korvahub is gone" test ! -e /usr/bin/korvahub
check "desktop entry is gone" test ! -e "$desktop"
check "menu icon is gone" test ! -e "$icon"
check "user guide is gone" test ! -e /usr/share/doc/korvahub/guide.html
check "dpkg no longer lists korvahub as installed" test -z "$(dpkg-query -W -f='${Status}' korvahub 2>/dev/null | grep ' installed$')"

summary
