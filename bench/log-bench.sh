#!/bin/sh
# varnode log at length against the virtual rack: a polled run of the ten
# modules at 10 Hz and a streamed run of RE01's 8 channels at 3 kHz in 1 s
# blocks, SECONDS each (default 3600). Prints rows, missed intervals, the
# lateness of rows against their deadlines beside a bare sleep loop's, CPU
# and RSS at start and end; samples, coverage, the longest gap, lost samples.
# Needs root (network namespaces) and a built tree: BUILD=build/dev by default.
#   bench/log-bench.sh [SECONDS]      STREAM_SPEED=10 streams ten times faster;
#                                     TOGETHER=1 runs the three at once
set -eu
cd "$(dirname "$0")/.."
build=$(realpath "${BUILD:-build/dev}")
seconds=${1:-3600}
speed=${STREAM_SPEED:-1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python=/usr/bin/python3
export VARNODE_LIBRARY="$build/src/libvarnode.so.2" PYTHONPATH="$PWD/python/src"
tool="$build/tools/cli/varnode"
ten="198.18.0.11:1,2 198.18.0.12:1 198.18.0.13:1 198.18.0.14:status.outputs 198.18.0.15:1,reference"
ten="$ten 198.18.0.16:1 198.18.0.17:1 198.18.0.18:status.supply 198.18.0.19:1 198.18.0.20:1"
# The tool's CPU time and RSS a second after it starts and a second before it ends.
watch="$PWD/bench/log-watch.py"
polled="$python $watch $seconds $work/polled.usage $tool log -i 0.1 -d $seconds -o $work/polled.csv $ten"
streamed="$python $watch $seconds $work/streamed.usage $tool log --stream -f 3000 -s 3000 -d $seconds \
  -o $work/streamed.csv 198.18.0.17:1,2,3,4,5,6,7,8"
sleep_loop="$python $watch --sleep-loop $seconds $work/sleep.usage"
rack() { "$build/tools/sim/varnode-sim" --netns --config bench/log-rack.json --stream-speed "$speed" --exec "$1" >/dev/null; }
if [ "${TOGETHER:-0}" = 1 ]; then
  # The three at once, each in a rack of its own: a third of the wall time,
  # with each run as load beside the others.
  rack "$polled" & p=$!
  rack "$streamed" & s=$!
  $sleep_loop
  wait $p
  wait $s
else
  rack "$polled && $streamed && $sleep_loop"
fi
$python - "$work" "$seconds" "$speed" <<'PY'
import json, sys
import numpy
from varnode import log
work, seconds, speed = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
pct = lambda a: " / ".join(f"{numpy.percentile(a, p) * 1e3:.3f}" for p in (50, 90, 99)) + f" / {a.max() * 1e3:.3f} ms"
polled = log.read(f"{work}/polled.csv")
late = polled.seconds - polled.index * 0.1
due = int(round(seconds / 0.1))
words = numpy.concatenate(list(polled.status.values()))
sleep = json.load(open(f"{work}/sleep.usage"))
print(f"polled 10 Hz, ten modules, {seconds:.0f} s: {len(polled)} rows of {due} due, "
      f"{due - len(polled)} intervals left out, {int((words == 'missed').sum())} missed readings, "
      f"{int((~numpy.isin(words, ['ok', 'missed'])).sum())} failed")
print(f"  row lateness against its deadline p50/p90/p99/worst: {pct(late)}")
print(f"  bare sleep loop to the same deadlines:            {pct(numpy.array(sleep['lateness']))}")
for name in ("polled", "streamed"):
    u = json.load(open(f"{work}/{name}.usage"))
    print(f"  {name}: CPU {u['cpu_percent']:.2f} %, RSS {u['rss_start_kib']} KiB at start, {u['rss_end_kib']} KiB at end")
s = log.read(f"{work}/streamed.csv")
ok = s.status["re01-1017"] == "ok"
blocks = [e for e in s.events if e["what"] == "block"]
gaps = numpy.array([b["gap"] for b in blocks[1:]] or [0.0])
wall = s.events[-1]["seconds"]
covered = sum(b["samples"] for b in blocks) / 3000 / speed
lost = int(s.index[ok][-1] + 1 - ok.sum()) if ok.any() else 0
contiguous = s.index[ok].tolist() == list(range(int(ok.sum())))
print(f"streamed RE01 8 ch 3 kHz, 1 s blocks, stream speed {speed:g}: {int(ok.sum())} samples in {len(blocks)} blocks, "
      f"coverage {100 * covered / wall:.2f} % of {wall:.1f} s, longest gap {gaps.max() * 1e3:.1f} ms, "
      f"{lost} lost, indexes contiguous: {contiguous}, failed blocks {int((~ok).sum())}")
PY
