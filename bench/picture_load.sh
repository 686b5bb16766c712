#!/bin/sh
# LoadBrush as a user meets it, whole processes side by side: the quillvane program loading a
# 4000x3000 PNG and JPEG into a brush, beside a bare libpng / libjpeg-turbo program decoding the
# same file into fresh huge-page memory (bench/picture_load_anchor.cpp). Every run is a new
# process, so every picture lands in fresh pages. Wall time, best of 7 rounds each, the two sides
# taking turns; an empty applet's time for the player's own start and end.
#   bench/picture_load.sh [BUILD_DIR] (default build/bench)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench}
player=$build/quillvane
qvasm=$build/tools/qvasm/qvasm
anchor=$build/bench/picture_load_anchor
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$anchor" make-png "$work/picture.png" 4000 3000
"$anchor" make-jpeg "$work/picture.jpg" 4000 3000
for kind in png jpg; do
  printf 'do LoadBrush(1, "%s")\n' "$work/picture.$kind" >"$work/$kind.qvs"
done
printf 'x = 1\n' >"$work/empty.qvs"
for kind in png jpg empty; do
  "$qvasm" --script "$work/$kind.qvs" -o "$work/$kind.qvasm"
  "$qvasm" --applet "$work/$kind.qvasm" -o "$work/$kind.qva"
done

python3 - "$player" "$anchor" "$work" <<'PY'
import subprocess, sys, time
player, anchor, work = sys.argv[1:]
def run(cmd):
    t = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    return (time.perf_counter() - t) * 1000
cases = [("PNG", [player, work + "/png.qva", "-QUIET"], [anchor, "png", work + "/picture.png"]),
         ("JPEG", [player, work + "/jpg.qva", "-QUIET"], [anchor, "jpeg", work + "/picture.jpg"])]
best = {}
for _ in range(7):
    for name, ours, theirs in cases:
        for side, cmd in (("ours", ours), ("theirs", theirs)):
            t = run(cmd)
            best[name, side] = min(best.get((name, side), t), t)
    t = run([player, work + "/empty.qva", "-QUIET"])
    best["empty"] = min(best.get("empty", t), t)
print("LoadBrush of a 4000x3000 picture, whole process, best of 7 (ms)")
for name, _, _ in cases:
    ours, theirs = best[name, "ours"], best[name, "theirs"]
    print("%-5s player %7.1f  bare library %7.1f  ratio %.2f (goal 1.2)" % (name, ours, theirs, ours / theirs))
print("empty applet  %.1f" % best["empty"])
PY
