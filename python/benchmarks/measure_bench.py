#!/usr/bin/env python3
"""RE01.measure from Python against re01_measure from C, on the same
simulated stream: 8 channels x SAMPLES samples at 3000 Hz from one RE01 of a
rack in a private network namespace, runs alternating C, Python, C, Python.

    python3 python/benchmarks/measure_bench.py [--build build/dev] [--samples 100000] [--runs 5]

Needs root (the namespace) and a C compiler; builds the C side itself. Prints
p50/p90/p99 of each and the ratio of the medians, Python over C, for the
stream and for a single sample (where the per-call cost of the binding shows).
"""
from __future__ import annotations

import argparse
import json
import os
import shlex
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
TOP = HERE.parent.parent
ADDRESS = "198.18.0.11"


def percentiles(ns: list) -> str:
    q = sorted(ns)
    pick = lambda p: q[min(len(q) - 1, int(p * len(q)))] / 1e6  # noqa: E731
    return f"p50 {pick(0.5):9.3f}  p90 {pick(0.9):9.3f}  p99 {pick(0.99):9.3f} ms  (n={len(q)})"


def c_runs(program: str, samples: int, runs: int) -> list:
    out = subprocess.run([program, ADDRESS, str(samples), "3000", str(runs)], capture_output=True, text=True)
    lines = out.stdout.split()
    if out.returncode != 0:
        sys.exit(f"C side: {out.stdout.strip()} {out.stderr.strip()}")
    return [int(x) for x in lines]


def python_runs(samples: int, runs: int, reuse: bool) -> list:
    import numpy
    import varnode
    re01 = varnode.RE01(ADDRESS)
    channels = [1, 2, 3, 4, 5, 6, 7, 8]
    buffer = numpy.empty((samples, 8), numpy.float32)
    took = []
    for _ in range(runs):
        start = time.perf_counter_ns()
        re01.measure(channels, samples, 3000, out=buffer if reuse else None)
        took.append(time.perf_counter_ns() - start)
    return took


def inside(arguments: argparse.Namespace) -> None:
    import varnode
    print(f"library {os.environ['VARNODE_LIBRARY']} ({varnode.driver().version})")
    for samples, runs, label in [(arguments.samples, arguments.runs, "stream"), (1, 300, "single sample")]:
        c, py, reused = [], [], []
        for _ in range(2):  # alternate, so that drift of the machine's load hits both alike
            c += c_runs(arguments.program, samples, runs)
            py += python_runs(samples, runs, reuse=False)
            reused += python_runs(samples, runs, reuse=True)
        print(f"\n{label}: 8 channels x {samples} samples at 3000 Hz, stream_speed {arguments.speed}")
        print(f"  C re01_measure + malloc    {percentiles(c)}")
        print(f"  RE01.measure               {percentiles(py)}")
        print(f"  RE01.measure(out=reused)   {percentiles(reused)}")
        print(f"  ratio of medians Python/C: {statistics.median(py) / statistics.median(c):.4f} "
              f"(reused buffer {statistics.median(reused) / statistics.median(c):.4f}); "
              f"difference {(statistics.median(py) - statistics.median(c)) / 1e3:+.1f} us")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=str(TOP / "build" / "dev"))
    parser.add_argument("--samples", type=int, default=100_000)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--speed", type=float, default=20, help="stream_speed of the simulated RE01")
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--program", help=argparse.SUPPRESS)
    arguments = parser.parse_args()
    if arguments.inside:
        inside(arguments)
        return 0

    build = Path(arguments.build).resolve()
    work = Path(tempfile.mkdtemp(prefix="varnode-bench-"))
    program = work / "re01_measure_bench"
    subprocess.run(["cc", "-O2", f"-I{TOP / 'include'}", str(HERE / "re01_measure_bench.c"), "-o", str(program),
                    f"-L{build / 'src'}", "-lvarnode", f"-Wl,-rpath,{build / 'src'}"], check=True)
    rack = work / "rack.json"
    channels = {str(c): float(c) for c in range(1, 9)}
    rack.write_text(json.dumps({"modules": [{"kind": "RE01", "address": ADDRESS, "stream_speed": arguments.speed,
                                             "channels": channels}]}))
    env = dict(os.environ, VARNODE_LIBRARY=str(build / "src" / "libvarnode.so.2"),
               PYTHONPATH=str(TOP / "python" / "src"))
    command = " ".join(shlex.quote(x) for x in [
        sys.executable, __file__, "--inside", "--program", str(program), "--samples", str(arguments.samples),
        "--runs", str(arguments.runs), "--speed", str(arguments.speed)])
    run = subprocess.run([str(build / "tools" / "sim" / "varnode-sim"), "--netns", "--config", str(rack),
                          "--exec", command], env=env, stdout=subprocess.PIPE, text=True)
    print("\n".join(line for line in run.stdout.splitlines()
                    if not line.startswith(("kind ", "RE01 ", "sensor curves", "ready:"))))
    return run.returncode


if __name__ == "__main__":
    sys.exit(main())
