#!/usr/bin/env bash
# Renders docs/screenshot.png: the frame with its toolbar and status bar and two documents
# tiled, examples/orders.xml (the first order selected and expanded, then validated) and
# examples/orders-invalid.xml opened through System > Open; and docs/screenshot-xsl.png: the
# result window of XSL Transform with examples/orders.xsl. Runs under a private Xvfb server (no
# window manager needed) with settings of its own, so no earlier run's layout shows.
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
outXsl=${2:-docs/screenshot-xsl.png}
width=1100
height=720

Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app=
settings=$(mktemp -d)
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$settings"
}
trap cleanup EXIT
export DISPLAY=$display XDG_CONFIG_HOME=$settings
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

shoot() {
  mkdir -p "$(dirname "$1")"
  import -window root -crop ${width}x${height}+0+0 +repage "$1"
  echo "wrote $1"
}
# Types a path into the file dialog with this title and accepts it.
answer_file_dialog() {
  local dialog
  dialog=$(timeout 20 xdotool search --sync --onlyvisible --name "$1" | head -1)
  xdotool windowfocus --sync "$dialog" type --delay 5 "$2"
  xdotool windowfocus --sync "$dialog" key Return
  sleep 1
}

ASAN_OPTIONS=detect_leaks=0 "$build/src/app/xmleditor" "$PWD/examples/orders.xml" &
app=$!
wid=$(timeout 20 xdotool search --sync --onlyvisible --classname xmleditor | head -1)
xdotool windowmove "$wid" 0 0 windowsize --sync "$wid" $width $height
sleep 1
# Click the tree's root row, go down to the first order (past the comment), expand it fully.
xdotool mousemove 60 90 click 1
sleep 0.3
xdotool windowfocus --sync "$wid" key Down Down F5
sleep 0.5
# A second document through System > Open (Ctrl+O), then Window > Tile.
xdotool windowfocus --sync "$wid" key ctrl+o
answer_file_dialog "Open an XML file" "$PWD/examples/orders-invalid.xml"
xdotool mousemove 130 8 click 1
sleep 0.5
xdotool key Down Down Return
sleep 1
# Validate XSD on the open orders.xml (toolbar): its window comes forward, the box says it is
# valid, and so does the status bar once the box is closed.
xdotool mousemove 198 38 click 1
answer_file_dialog "Choose the XML file to validate" "$PWD/examples/orders.xml"
box=$(timeout 20 xdotool search --sync --onlyvisible --name '^xmleditor$' | head -1)
xdotool windowfocus --sync "$box" key Return
sleep 0.5
shoot "$out"

# XSL Transform: the frame's toolbar button, then its two prompts.
xdotool mousemove 230 38 click 1
answer_file_dialog "Choose the XML file to transform" "$PWD/examples/orders.xml"
answer_file_dialog "Choose the stylesheet" "$PWD/examples/orders.xsl"
shoot "$outXsl"
