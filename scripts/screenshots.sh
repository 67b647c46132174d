#!/usr/bin/env bash
# Writes docs/screenshot.png: the program on a generated catalogue (50 nodes,
# seed 7) under Xvfb, with openbox when it is installed, captured with
# ImageMagick's import (or xwd and convert). Needs xvfb, imagemagick (or
# x11-apps) and optionally openbox; not run by CI.
#   scripts/screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=docs/screenshot.png

cmake --build "$build" --target quorvel make_catalog >/dev/null

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

"$build/bench/make_catalog" "$work" --nodes 50 --seed 7 --levels 4 >/dev/null
# The window maximized on the screen, the tree pane wide enough for the captions.
printf '[Window]\r\nRestore=1\r\nWindowState=1\r\nTreeWidth=280\r\n' > "$work/Quorvel.ini"

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 960x600x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done 2>/dev/null || sleep 2
if command -v openbox >/dev/null 2>&1; then
  openbox >/dev/null 2>&1 &
  pids+=($!)
  sleep 1
fi

QT_QPA_PLATFORM=xcb "$build/quorvel" "$work" >/dev/null 2>&1 &
pids+=($!)
sleep 4

mkdir -p docs
if command -v import >/dev/null 2>&1; then
  import -window root "$out"
else
  xwd -root -silent | convert xwd:- "$out"
fi
echo "screenshots: wrote $out"
