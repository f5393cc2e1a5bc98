#!/usr/bin/env bash
# Renders docs/screenshot.png: the editor with examples/orders.xml open, the first order
# selected and expanded, under a private Xvfb server (no window manager needed).
#   scripts/screenshot.sh            builds xmleditor in build/ when it is missing
#   XE_BUILD_DIR=dir scripts/screenshot.sh   uses another build folder
set -euo pipefail
cd "$(dirname "$0")/.."
build=${XE_BUILD_DIR:-build}
if [ ! -x "$build/src/app/xmleditor" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DXE_TESTS=OFF >/dev/null
  cmake --build "$build" --target xmleditor
fi
display=":${XE_DISPLAY:-97}"
out=${1:-docs/screenshot.png}

Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app=
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

ASAN_OPTIONS=detect_leaks=0 "$build/src/app/xmleditor" "$PWD/examples/orders.xml" &
app=$!
wid=$(xdotool search --sync --onlyvisible --classname xmleditor | head -1)
xdotool windowmove "$wid" 0 0 windowsize --sync "$wid" 900 620
sleep 1
# Click the tree's root row, go down to the first order (past the comment), expand it fully.
xdotool mousemove 60 26 click 1
sleep 0.3
xdotool windowfocus --sync "$wid" key Down Down F5
sleep 1
mkdir -p "$(dirname "$out")"
import -window root -crop 900x620+0+0 +repage "$out"
echo "wrote $out"
