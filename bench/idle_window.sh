#!/bin/bash
# Processor time of an idle open 1920x1080 window in its own Xvfb, the player beside a bare SDL2
# window (the anchor), after a second of start-up.
#   bench/idle_window.sh [build dir, default build/bench] [seconds, default 5]
set -eu
build=${1:-build/bench}
seconds=${2:-5}

# Runs the command in the X server and prints its processor time (all threads, from schedstat) in
# milliseconds over the measured seconds.
measure() {
  "$@" >/dev/null 2>&1 &
  local pid=$!
  sleep 1
  local a b
  a=$(cat /proc/$pid/task/*/schedstat | awk '{t += $1} END {print t}')
  sleep "$seconds"
  b=$(cat /proc/$pid/task/*/schedstat | awk '{t += $1} END {print t}')
  kill -TERM $pid
  wait $pid || true
  awk -v a="$a" -v b="$b" 'BEGIN {printf "%.2f", (b - a) / 1e6}'
}

display=:$((90 + RANDOM % 400))
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb' EXIT
sleep 1
export DISPLAY=$display
player=$(measure "$build/quillvane" -QUIET "$build/bench/idle_window_bench_applet.qva")
anchor=$(measure "$build/bench/idle_window_anchor")
echo "idle 1920x1080 window, ${seconds} s: player ${player} ms, bare SDL2 window ${anchor} ms" \
  "(goal: at most $((3 * seconds)) ms)"
