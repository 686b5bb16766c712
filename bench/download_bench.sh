#!/bin/sh
# DownloadFile as a user meets it, whole processes side by side: the quillvane program fetching a
# 200 MB body from the loopback HTTP/1.1 peer (tests/network/peers/http_peer.py) to a file and into
# memory, beside `curl -o` on the same resource from the same server. Wall time, best of 5 rounds
# each, and the ratios to curl. Usage: bench/download_bench.sh [BUILD_DIR] (default build/release).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
player=$build/quillvane
qvasm=$build/tools/qvasm/qvasm
size=209715200
rounds=5
work=$(mktemp -d)
python3 -u "$root/tests/network/peers/http_peer.py" >"$work/port" 2>/dev/null &
peer=$!
trap 'kill $peer 2>/dev/null; rm -rf "$work"' EXIT
while [ ! -s "$work/port" ]; do sleep 0.05; done
url="http://127.0.0.1:$(head -n1 "$work/port")/big/$size"

# One applet per destination, in the script notation.
printf 'do DownloadFile("%s", {file = "%s"})\n' "$url" "$work/ours.bin" >"$work/file.qvs"
printf 'data = DownloadFile("%s")\n' "$url" >"$work/memory.qvs"
for kind in file memory; do
  "$qvasm" --script "$work/$kind.qvs" -o "$work/$kind.qvasm"
  "$qvasm" --applet "$work/$kind.qvasm" -o "$work/$kind.qva"
done

# The peak resident memory of one run of the command, in MB.
peak() {
  python3 - "$@" <<'PY'
import resource, subprocess, sys
subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL)
print("%.0f" % (resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024))
PY
}

# The best wall time of the command over the rounds, in seconds.
best() {
  python3 - "$rounds" "$@" <<'PY'
import subprocess, sys, time
rounds, cmd = int(sys.argv[1]), sys.argv[2:]
times = []
for _ in range(rounds):
    t = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    times.append(time.perf_counter() - t)
print("%.3f" % min(times))
PY
}

curl=$(best curl -s -o "$work/curl.bin" "$url")
file=$(best "$player" "$work/file.qva" -QUIET)
memory=$(best "$player" "$work/memory.qva" -QUIET)
cmp -s "$work/curl.bin" "$work/ours.bin" || { echo "the downloads differ" >&2; exit 1; }
filePeak=$(peak "$player" "$work/file.qva" -QUIET)
memoryPeak=$(peak "$player" "$work/memory.qva" -QUIET)
python3 - "$curl" "$file" "$memory" "$filePeak" "$memoryPeak" <<'PY'
import sys
curl, f, m, fp, mp = map(float, sys.argv[1:])
mb = 209715200 / 1e6
print("200 MB over loopback HTTP/1.1, whole process, best of 5")
print("curl -o file          %6.3f s  %5.0f MB/s" % (curl, mb / curl))
print("DownloadFile to file  %6.3f s  %5.0f MB/s  %.2fx curl" % (f, mb / f, f / curl))
print("DownloadFile memory   %6.3f s  %5.0f MB/s  %.2fx curl, %.2fx to a file" % (m, mb / m, m / curl, m / f))
print("peak resident memory: to a file %.0f MB, into memory %.0f MB (the body is %.0f MB)" % (fp, mp, mb))
PY
