"""Runs a command and notes its CPU share and RSS a second after it starts and
a second before SECONDS are up; or (--sleep-loop) sleeps to absolute 10 Hz
deadlines for SECONDS and notes how late each wake-up was."""
import json
import subprocess
import sys
import time

if sys.argv[1] == "--sleep-loop":
    seconds, out = float(sys.argv[2]), sys.argv[3]
    start, late = time.monotonic() + 0.02, []
    for k in range(int(seconds / 0.1)):
        deadline = start + k * 0.1
        time.sleep(max(0.0, deadline - time.monotonic()))
        late.append(time.monotonic() - deadline)
    json.dump({"lateness": late}, open(out, "w"))
    sys.exit(0)

seconds, out, command = float(sys.argv[1]), sys.argv[2], sys.argv[3:]


def usage(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    rss = next(int(line.split()[1]) for line in open(f"/proc/{pid}/status") if line.startswith("VmRSS:"))
    return (int(fields[11]) + int(fields[12])) / 100.0, rss  # utime + stime in clock ticks of 10 ms


process = subprocess.Popen(command, stdout=subprocess.DEVNULL)
began = time.monotonic()
time.sleep(1)
cpu_start, rss_start = usage(process.pid)
time.sleep(max(0.0, seconds - 2))
cpu_end, rss_end = usage(process.pid)
elapsed = time.monotonic() - began
status = process.wait()
json.dump({"cpu_percent": 100 * cpu_end / elapsed, "rss_start_kib": rss_start, "rss_end_kib": rss_end}, open(out, "w"))
sys.exit(status)
