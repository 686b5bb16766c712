#!/bin/sh
# Sound as a user meets it, whole processes side by side, in processor time (user + system):
# the quillvane program playing a 20 s MP3 stream to its end through SDL's dummy audio driver,
# beside `ffmpeg -i x.mp3 -f null -` decoding the same file. Best of the rounds (ROUNDS, default
# 5), in the same run. Usage: bench/sound_process.sh [BUILD_DIR] (default build/release; QVASM
# names another assembler, for a build that has none).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
player=$build/quillvane
qvasm=${QVASM:-$build/tools/qvasm/qvasm}
rounds=${ROUNDS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ffmpeg -loglevel error -y -f lavfi -i "sine=frequency=440:duration=20" \
  -f lavfi -i "sine=frequency=554:duration=20" -filter_complex amerge -ar 44100 -b:a 192k \
  "$work/x.mp3"
# 1000 ticks of 20 ms: the stream plays whole while the script waits.
printf 'do OpenMusic(1, "%s")\ndo PlayMusic(1)\ndo Wait(1000)\n' "$work/x.mp3" >"$work/play.qvs"
"$qvasm" --script "$work/play.qvs" -o "$work/play.qvasm"
"$qvasm" --applet "$work/play.qvasm" -o "$work/play.qva"

# The least processor time (user + system of the process and its children) over the rounds, in
# seconds; the rounds of both commands alternate so that both meet the same load.
python3 - "$rounds" "$player" "$work" <<'PY'
import os, resource, subprocess, sys
rounds, player, work = int(sys.argv[1]), sys.argv[2], sys.argv[3]
env = dict(os.environ, SDL_AUDIODRIVER="dummy")
env.pop("DISPLAY", None)
env.pop("WAYLAND_DISPLAY", None)

def cpu(cmd):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(cmd, check=True, env=env, stdout=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)

ours, theirs = [], []
for _ in range(rounds):
    ours.append(cpu([player, work + "/play.qva", "-QUIET"]))
    theirs.append(cpu(["ffmpeg", "-loglevel", "error", "-i", work + "/x.mp3", "-f", "null", "-"]))
print("20 s MP3 stream played, processor time, best of %d" % rounds)
print("  quillvane %.3f s, ffmpeg decode %.3f s: ratio %.2f (goal 1.5)"
      % (min(ours), min(theirs), min(ours) / min(theirs)))
PY
