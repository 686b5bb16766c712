#!/bin/bash
# Shown frames as a user meets them: a 1920x1080 brush put on a 1920x1080 display by DisplayBrush
# frame after frame (two brushes in turn), in its own Xvfb, beside a bare SDL2 program copying
# the same pictures into its software window surface (bench/frame_anchor.cpp); the player's window
# has its default title. The frames are
# counted at the window, by the X server's damage reports (bench/frame_counter.cpp): milliseconds
# per frame that reached the window, best of 3 runs each.
#   bench/shown_frames.sh [BUILD_DIR, default build/bench] [frames, default 600]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench}
frames=${2:-600}
work=$(mktemp -d)
display=:$((90 + RANDOM % 400))
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb; rm -rf "$work"' EXIT
sleep 1
export DISPLAY=$display

cat >"$work/frames.qvs" <<QVS
.display size 1920 1080
do CreateBrush(1, 1920, 1080, 0x336699)
do CreateBrush(2, 1920, 1080, 0x996633)
do Wait(15)
for i = 1, $((frames / 2))
  do DisplayBrush(1, 0, 0)
  do DisplayBrush(2, 0, 0)
end
QVS
"$build/tools/qvasm/qvasm" --script "$work/frames.qvs" -o "$work/frames.qvasm"
"$build/tools/qvasm/qvasm" --applet "$work/frames.qvasm" -o "$work/frames.qva"

# Runs the program beside a counter of the frames that reach its window; prints "frames ms".
count() {
  local title=$1
  shift
  "$build/bench/frame_counter" "$title" >"$work/count" &
  local counter=$!
  "$@" >/dev/null 2>&1
  wait $counter
  tail -n1 "$work/count"
}

best() {
  local title=$1
  shift
  for _ in 1 2 3; do count "$title" "$@"; done | awk '
    $1 > 1 { ms = $2 / ($1 - 1); if (best == "" || ms < best) { best = ms; n = $1 } }
    END { if (best == "") print "- -"; else printf "%.3f %d\n", best, n }'
}

read -r ours ourFrames < <(best Quillvane "$build/quillvane" "$work/frames.qva" -QUIET)
read -r theirs theirFrames < <(best qvframes-anchor "$build/bench/frame_anchor" qvframes-anchor "$frames")
echo "DisplayBrush of 1920x1080 per frame under Xvfb, ms per frame shown at the window:" \
  "player $ours ($ourFrames of $frames frames shown), bare SDL2 surface $theirs" \
  "($theirFrames shown), ratio $(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.2f", a / b }')" \
  "(goal 1.2)"
