#!/usr/bin/python3
"""Scale benchmark of varnode-mqtt: a rack of N KL01 modules, 8 channels each
polled at 1 Hz, into one mosquitto broker on loopback; one bridge, then
four bridges each owning a quarter; beside it mosquitto_pub sending the same
number of messages. Prints messages/s, latency from reading to a
subscriber's receipt (p50/p90/p99), bridge CPU and RSS.

Run by bench/mqtt-scale.sh inside the rack's private namespace."""
import argparse
import json
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time
from datetime import datetime, timezone

import paho.mqtt.client as mqtt

PORT = 18840


def addresses(n):
    out, a = [], (198 << 24) | (18 << 16) | 11
    while len(out) < n:
        if a & 0xFF not in (0, 255):
            out.append(a)
        a += 1
    return ["%d.%d.%d.%d" % (a >> 24, (a >> 16) & 255, (a >> 8) & 255, a & 255) for a in out]


def parse_time(text):
    return datetime.strptime(text, "%Y-%m-%dT%H:%M:%S.%fZ").replace(tzinfo=timezone.utc).timestamp()


class Subscriber:
    def __init__(self, topic):
        self.lock = threading.Lock()
        self.latencies, self.count, self.counting = [], 0, False
        self.client = mqtt.Client(client_id="bench-subscriber")
        self.client.on_connect = lambda c, u, f, rc: c.subscribe(topic, qos=0)
        self.client.on_message = self.on_message
        self.client.connect("127.0.0.1", PORT)
        self.client.loop_start()

    def on_message(self, client, userdata, message):
        now = time.time()
        if not self.counting:
            return
        try:
            sent = parse_time(json.loads(message.payload)["time"])
        except (ValueError, KeyError, TypeError):
            return
        with self.lock:
            self.count += 1
            self.latencies.append(now - sent)

    def window(self, seconds):
        with self.lock:
            self.latencies, self.count = [], 0
        self.counting = True
        time.sleep(seconds)
        self.counting = False
        with self.lock:
            return self.count, sorted(self.latencies)

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def rss_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


def report(name, count, latencies, seconds, cpu=None, rss=None):
    def p(q):
        return 1000 * latencies[min(len(latencies) - 1, int(q * len(latencies)))] if latencies else float("nan")
    line = f"{name:<24} {count / seconds:9.0f} msg/s   latency p50 {p(0.5):7.2f} ms  p90 {p(0.9):7.2f} ms  p99 {p(0.99):7.2f} ms"
    if cpu is not None:
        line += f"   CPU {cpu:5.1f} %  RSS {rss:6.1f} MiB"
    print(line, flush=True)


def bridges(folder, modules, count, bridge):
    procs = []
    share = (len(modules) + count - 1) // count
    for b in range(count):
        mine = modules[b * share:(b + 1) * share]
        d = {"site": "bench", "broker": {"port": PORT, "client_id": f"bench-{b}"}, "workers": 8, "qos": 0,
             "modules": [{"kind": "KL01", "address": a, "status_interval": 3600,
                          "poll": {"channels": [1, 2, 3, 4, 5, 6, 7, 8], "interval": 1.0}} for a in mine]}
        path = os.path.join(folder, f"bridge-{b}.json")
        with open(path, "w") as f:
            json.dump(d, f)
        procs.append(subprocess.Popen([bridge, "--config", path]))
    return procs


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bridge", required=True)
    ap.add_argument("--modules", type=int, default=1000)
    ap.add_argument("--seconds", type=float, default=60)
    args = ap.parse_args()
    folder = tempfile.mkdtemp(prefix="varnode-mqtt-bench-")
    conf = os.path.join(folder, "mosquitto.conf")
    with open(conf, "w") as f:
        f.write(f"user root\nlistener {PORT} 127.0.0.1\nallow_anonymous true\nmax_queued_messages 100000\n")
    broker = subprocess.Popen(["mosquitto", "-c", conf], stderr=subprocess.DEVNULL)
    time.sleep(0.5)
    modules = addresses(args.modules)
    rate = 8 * args.modules
    print(f"{args.modules} modules x 8 channels at 1 Hz = {rate} values/s; {args.seconds:.0f} s windows", flush=True)
    try:
        # Baseline: mosquitto_pub -l, one message per line, the same payloads at the same rate.
        sub = Subscriber("baseline")
        pub = subprocess.Popen(["mosquitto_pub", "-p", str(PORT), "-t", "baseline", "-q", "0", "-l"],
                               stdin=subprocess.PIPE, text=True)
        stop = threading.Event()

        def feed():
            next_t = time.monotonic()
            while not stop.is_set():
                stamp = datetime.now(timezone.utc).strftime("%Y-%m-%dT%H:%M:%S.%fZ")
                line = json.dumps({"time": stamp, "value": 1, "unit": "", "status": "ok"})
                pub.stdin.write((line + "\n") * (rate // 100))
                pub.stdin.flush()
                next_t += 0.01
                time.sleep(max(0.0, next_t - time.monotonic()))
        feeder = threading.Thread(target=feed)
        feeder.start()
        time.sleep(2)
        count, lat = sub.window(args.seconds)
        stop.set()
        feeder.join()
        pub.stdin.close()
        pub.wait()
        sub.close()
        report("mosquitto_pub baseline", count, lat, args.seconds)

        for n in (1, 4):
            sub = Subscriber("varnode/bench/+/kl01/+")
            procs = bridges(folder, modules, n, args.bridge)
            time.sleep(5)  # every module identified and polled once
            cpu0 = sum(cpu_seconds(p.pid) for p in procs)
            count, lat = sub.window(args.seconds)
            cpu = (sum(cpu_seconds(p.pid) for p in procs) - cpu0) / args.seconds * 100
            rss = sum(rss_mib(p.pid) for p in procs)
            for p in procs:
                p.send_signal(signal.SIGTERM)
            for p in procs:
                p.wait(30)
            sub.close()
            report(f"{n} bridge{'s' if n > 1 else ''}", count, lat, args.seconds, cpu, rss)
    finally:
        broker.terminate()
        broker.wait()


if __name__ == "__main__":
    sys.exit(main())
