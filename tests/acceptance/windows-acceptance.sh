#!/usr/bin/env bash
# The real quadview.exe under Wine, with a simulated kesmacap.dll beside it,
# driven by keys on a private X server.
# Usage: windows-acceptance.sh DIR DLL [OTHER_ARCHITECTURE_DLL]
# (DIR: build-windows/bin, build-windows64/bin or an unpacked zip; DLL:
# kesmacap.dll or kesmacap_stdcall.dll from DIR; OTHER_ARCHITECTURE_DLL: a
# kesmacap.dll that this quadview.exe must refuse). $WINE and $WINESERVER
# choose the Wine (default: the wine wrapper). Needs Xvfb, xdotool and
# ImageMagick; runs under xvfb-run when no display is set.
set -euo pipefail
bin="$(cd "$1" && pwd)"
dll="$2"
other="${3:-}"
WINE="${WINE:-wine}" WINESERVER="${WINESERVER:-wineserver}"
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
work="$(mktemp -d)"
# Screenshots, when asked for, also of a failed run.
finish() {
    "$WINESERVER" -k 2>/dev/null || true
    if [ -n "${QUADVIEW_SCREENSHOTS:-}" ]; then
        mkdir -p "$QUADVIEW_SCREENSHOTS" && cp "$work"/*.png "$QUADVIEW_SCREENSHOTS/" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap finish EXIT
mkdir "$work/program" "$work/empty" "$work/pictures"
cp "$bin/quadview.exe" "$work/program/"
cp "$bin/$dll" "$work/program/kesmacap.dll"
cp "$bin/quadview.exe" "$work/empty/"

fail() { import -window root "$work/failed.png" 2>/dev/null || true; echo "FAILED ($dll): $*" >&2; exit 1; }
step() { echo "--- $*"; }

start() {
    (cd "$work" && exec "$WINE" "$1/quadview.exe" 2>"$work/stderr.txt") &
    viewer=$!
}
# Waits until the viewer has ended and checks its status.
expect_exit() {
    local status=0
    for _ in $(seq 100); do kill -0 "$viewer" 2>/dev/null || break; sleep 0.1; done
    wait "$viewer" || status=$?
    [ "$status" = "$1" ] || fail "exit status $status, expected $1"
}
form_window() { timeout 20 xdotool search --sync --name '^Form1$' | head -1; }
key() { xdotool key --clearmodifiers "$@"; sleep 0.5; }
# No window manager runs here: give the X window the input focus directly.
focus() { timeout 5 xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"; sleep 0.3; }
# The colour class at a point of the screen: the channel whose colour dominates.
channel_at() {
    local rgb
    rgb="$(import -window root -crop "1x1+$1+$2" -depth 8 txt:- | tail -1 | grep -oE 'srgb\([0-9]+,[0-9]+,[0-9]+\)|#[0-9A-F]{6}')"
    local r g b
    if [[ "$rgb" == \#* ]]; then
        r=$((16#${rgb:1:2})); g=$((16#${rgb:3:2})); b=$((16#${rgb:5:2}))
    else
        IFS=, read -r r g b <<<"${rgb//[^0-9,]/}"
    fi
    if (( r > g + 30 && b > g + 30 )); then echo 4
    elif (( b > r + 30 && b > g + 30 )); then echo 1
    elif (( g > r + 30 && g > b + 30 )); then echo 2
    elif (( r > g + 30 && r > b + 30 )); then echo 3
    else echo "?($r,$g,$b)"; fi
}
# Tiled: Camera4 top left, Camera2 top right, Camera3 bottom left, Camera1 bottom right.
# Each point lies right of its picture's "CH" caption, where neither text nor
# the moving bar ever passes, only the channel's colour.
quadrants() {
    local x y w h left right top bottom
    eval "$(xdotool getwindowgeometry --shell "$form")"
    x=$X y=$Y w=$WIDTH h=$HEIGHT
    left=$((x + w * 38 / 100)) right=$((x + w * 88 / 100)) top=$((y + h * 17 / 100)) bottom=$((y + h * 65 / 100))
    echo "$(channel_at $left $top)$(channel_at $right $top)$(channel_at $left $bottom)$(channel_at $right $bottom)"
}
threads() { ls "/proc/$(pgrep -f 'quadview.exe' | head -1)/task" | wc -l; }

step "start: Form1 with its menu"
start "$work/program"
form="$(form_window)" || fail "Form1 did not appear"
sleep 1
import -window root "$work/start.png"

step "F1: each channel's picture in its own window"
focus "$form"
key F1
sleep 1.5
import -window root "$work/live.png"
seen="$(quadrants)"
[ "$seen" = 4231 ] || fail "after F1 the quadrants show channels $seen, expected 4231"
before="$(threads)"
for _ in 1 2 3 4 5; do key F1; done
sleep 1
[ "$(threads)" = "$before" ] || fail "threads went from $before to $(threads) over five restarts"
[ "$(quadrants)" = 4231 ] || fail "no live pictures after the restarts"

step "重疊 cascades, 非重疊 tiles again"
key alt Right Down Down Return
sleep 1
import -window root "$work/cascade.png"
[ "$(quadrants)" != 4231 ] || fail "the cascade left the tiled layout"
key alt Right Down Return
sleep 1
[ "$(quadrants)" = 4231 ] || fail "非重疊 did not tile: $(quadrants)"

step "儲存 through the common dialog writes four pictures"
key alt Right Right Down Return
dialog="$(timeout 20 xdotool search --sync --name 'Save|另存' | head -1)" || fail "no save dialog"
sleep 1
import -window root "$work/dialog.png"
xdotool type --delay 20 "Z:${work//\//\\}\\pictures\\photo"
key Return
for n in 1 2 3 4; do
    file="$work/pictures/photo-$n.bmp"
    for _ in $(seq 50); do [ -s "$file" ] && break; sleep 0.1; done
    identify "$file" | grep -q '640x480' || fail "$file is not a 640 x 480 picture"
done

step "F2 exits with status 0"
focus "$form"
key F2
expect_exit 0

step "the close box exits with status 0"
start "$work/program"
form="$(form_window)" || fail "Form1 did not appear again"
sleep 1
focus "$form"
key F1
key alt+F4
expect_exit 0

step "without kesmacap.dll: a message naming it, exit status 1"
start "$work/empty"
box="$(timeout 20 xdotool search --sync --name '^quadview$' | head -1)" || fail "no message box"
sleep 0.5
focus "$box"
key Return
expect_exit 1
grep -q 'kesmacap.dll' "$work/stderr.txt" || fail "the message does not name kesmacap.dll: $(cat "$work/stderr.txt")"
if [ -n "$other" ]; then
    step "a kesmacap.dll of the other architecture: a message saying so, exit status 1"
    [ -f "$other" ] || fail "no kesmacap.dll of the other architecture at $other: build the other Windows preset"
    mkdir "$work/other"
    cp "$bin/quadview.exe" "$work/other/"
    cp "$other" "$work/other/kesmacap.dll"
    start "$work/other"
    box="$(timeout 20 xdotool search --sync --name '^quadview$' | head -1)" || fail "no message box"
    sleep 0.5
    import -window root "$work/architecture.png"
    focus "$box"
    key Return
    expect_exit 1
    said="$(grep -oE 'kesmacap.dll is a (32|64)-bit library and this quadview.exe is (32|64)-bit: use the (32|64)-bit quadview' \
            "$work/stderr.txt")" || fail "the message does not name the architectures: $(cat "$work/stderr.txt")"
    read -r library program <<<"$(grep -oE '[0-9]+-bit' <<<"$said" | head -2 | tr '\n' ' ')"
    [ "$library" != "$program" ] || fail "the message gives one word size for both: $said"
fi
echo "passed ($dll)"
