"""The web panel under load, in headless Chromium against the default rack.

1. Ten modules, every channel, polled at 10 Hz, shown in 4 tabs (KL01, QU01,
   HX01 and the rack): the server's CPU, and the time from a KL01 output
   changing in the rack to the KL01 tab drawing it (p50/p90/p99), beside a
   program of its own polling the same channel at 10 Hz.
2. An RE01 stream of 8 channels at 3 kHz drawn in one tab for --stream
   seconds: blocks made and drawn, browser and server RSS at start and end.

Run inside the rack's namespace (as root):
  varnode-sim --netns --exec "python3 python/benchmarks/panel_bench.py --stream 180"
with VARNODE_LIBRARY set and the panel's assets fetched (scripts/panel-assets.sh).
"""
from __future__ import annotations

import argparse
import json
import os
import random
import socket
import subprocess
import sys
import threading
import time
import urllib.request
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "python" / "src"))

import varnode  # noqa: E402

KL01, QU01, RE01, HX01 = "198.18.0.11", "198.18.0.15", "198.18.0.17", "198.18.0.19"
PORT = 18471


def rss_kib(pid: int) -> int:
    for line in open(f"/proc/{pid}/status"):
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def browser_rss_kib() -> int:
    total = 0
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                if open(f"/proc/{entry}/comm").read().strip().startswith(("chrom", "chrome")):
                    total += rss_kib(int(entry))
            except OSError:
                pass
    return total


def cpu_seconds(pid: int) -> float:
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def percentiles(values):
    s = sorted(values)
    pick = lambda q: s[min(len(s) - 1, int(q * len(s)))]  # noqa: E731
    return pick(0.5), pick(0.9), pick(0.99)


def api(path, body=None):
    request = urllib.request.Request(f"http://127.0.0.1:{PORT}{path}",
                                     data=None if body is None else json.dumps(body).encode(),
                                     headers={"Content-Type": "application/json"})
    with urllib.request.urlopen(request, timeout=10) as reply:
        return json.load(reply)


def baseline(changes: int):
    """A program of its own polling KL01 channel 1 at 10 Hz."""
    kl01 = varnode.KL01(KL01)
    seen, stop = [], threading.Event()
    state = {"level": kl01.read([1])[0], "changed": None}

    def poll():
        deadline = time.monotonic()
        while not stop.is_set():
            level = kl01.read([1])[0]
            if level != state["level"] and state["changed"] is not None:
                seen.append(time.time() - state["changed"])
                state["level"], state["changed"] = level, None
            deadline += 0.1
            time.sleep(max(0.0, deadline - time.monotonic()))

    thread = threading.Thread(target=poll)
    thread.start()
    writer = varnode.KL01(KL01)
    for _ in range(changes):
        time.sleep(random.uniform(0.25, 0.45))
        writer.write({1: not state["level"]})
        state["changed"] = time.time()
        end = time.monotonic() + 2
        while state["changed"] is not None and time.monotonic() < end:
            time.sleep(0.005)
    stop.set()
    thread.join()
    return [1000 * s for s in seen]


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--changes", type=int, default=100)
    parser.add_argument("--stream", type=float, default=180.0, help="seconds of the RE01 stream")
    args = parser.parse_args()
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    panel = subprocess.Popen([sys.executable, "-m", "varnode.panel", "--port", str(PORT), "--interval", "0.1",
                              "--record-dir", "/tmp"], env={**os.environ, "PYTHONPATH": str(ROOT / "python" / "src")},
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    options = webdriver.ChromeOptions()
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--window-size=1200,900"):
        options.add_argument(flag)
    options.binary_location = "/usr/bin/chromium"
    try:
        while True:
            try:
                socket.create_connection(("127.0.0.1", PORT), 1).close()
                break
            except OSError:
                time.sleep(0.1)
        while len([m for m in api("/api/modules")["modules"] if m["state"] == "ok"]) < 10:
            time.sleep(0.2)
        browser = webdriver.Chrome(options=options, service=Service("/usr/bin/chromedriver"))
        base = f"http://127.0.0.1:{PORT}/"
        tabs = []
        for page in (f"#/module/{KL01}", f"#/module/{QU01}", f"#/module/{HX01}", "#/"):
            if tabs:
                browser.switch_to.new_window("tab")
            browser.get(base + page)
            tabs.append(browser.current_window_handle)
        browser.switch_to.window(tabs[0])
        while not browser.execute_script("return window.panel.state.module !== null"):
            time.sleep(0.05)

        kl01 = varnode.KL01(KL01)
        latencies = []
        cpu0, wall0 = cpu_seconds(panel.pid), time.monotonic()
        level = kl01.read([1])[0]
        for _ in range(args.changes):
            time.sleep(random.uniform(0.25, 0.45))
            level = not level
            kl01.write({1: level})
            changed = time.time() * 1000
            want = 1 if level else 0
            end = time.monotonic() + 3
            while time.monotonic() < end:
                drawn = browser.execute_script(
                    "const r = window.panel.renders(); for (const x of r) if (x[0] >= arguments[0] && x[2]['1'] === "
                    "arguments[1]) return x[0]; return null;", changed - 1, want)
                if drawn:
                    latencies.append(max(0.0, drawn - changed))
                    break
                time.sleep(0.01)
        cpu = (cpu_seconds(panel.pid) - cpu0) / (time.monotonic() - wall0)
        own = baseline(args.changes)
        p = percentiles(latencies)
        b = percentiles(own)
        print(f"10 modules x all channels at 10 Hz, 4 tabs: server CPU {100 * cpu:.1f} % of one core")
        print(f"rack change -> page (ms, n={len(latencies)}): p50 {p[0]:.0f}  p90 {p[1]:.0f}  p99 {p[2]:.0f}")
        print(f"baseline, own program polling at 10 Hz (ms, n={len(own)}): p50 {b[0]:.0f}  p90 {b[1]:.0f}  "
              f"p99 {b[2]:.0f}")

        browser.switch_to.window(tabs[0])
        browser.get(base + f"#/module/{RE01}")
        while not browser.execute_script("return window.panel.state.module !== null"):
            time.sleep(0.05)
        api(f"/api/modules/{RE01}/start", {"channels": list(range(1, 9)), "samples": 1500, "frequency": 3000})
        while browser.execute_script("return window.panel.blockSamples()") != 1500:
            time.sleep(0.05)
        start_rss = (rss_kib(panel.pid), browser_rss_kib())
        t0 = time.monotonic()
        cpu0 = cpu_seconds(panel.pid)
        first_server = api(f"/api/modules/{RE01}")["stream"]["blocks"]
        first_page = browser.execute_script("return window.panel.state.block.block")
        # RSS once a minute, to tell growth that levels off from a leak.
        samples = []
        while time.monotonic() - t0 < args.stream:
            time.sleep(min(60.0, args.stream - (time.monotonic() - t0)))
            samples.append((time.monotonic() - t0, rss_kib(panel.pid), browser_rss_kib()))
        server_blocks = api(f"/api/modules/{RE01}")["stream"]["blocks"]
        page_block = browser.execute_script("return window.panel.state.block.block")
        cpu = (cpu_seconds(panel.pid) - cpu0) / (time.monotonic() - t0)
        end_rss = (rss_kib(panel.pid), browser_rss_kib())
        api(f"/api/modules/{RE01}/stop", {})
        print(f"RE01 8 x 3 kHz, 1500-sample blocks, {args.stream:.0f} s: server made {server_blocks - first_server} "
              f"blocks, page drew up to block {page_block} (server at {server_blocks}; behind by "
              f"{server_blocks - page_block}), first seen {first_page}/{first_server}; server CPU {100 * cpu:.1f} %")
        print(f"RSS start -> end: server {start_rss[0] / 1024:.1f} -> {end_rss[0] / 1024:.1f} MiB, "
              f"browser (all processes) {start_rss[1] / 1024:.1f} -> {end_rss[1] / 1024:.1f} MiB")
        print("RSS by minute (s: server / browser MiB): " +
              ", ".join(f"{t:.0f}: {server / 1024:.1f} / {browser_kib / 1024:.0f}" for t, server, browser_kib in samples))
        browser.quit()
    finally:
        panel.terminate()
        panel.wait(20)
    return 0


if __name__ == "__main__":
    sys.exit(main())
