"""`varnode log` against the rack: what it records, and how it ends."""
from __future__ import annotations

import json
import os
import signal
import subprocess
import time

import numpy
import pytest

from varnode import log

TEN = ["198.18.0.11:1,2", "198.18.0.12:1", "198.18.0.13:1,2", "198.18.0.14:status.outputs",
       "198.18.0.15:1,reference", "198.18.0.16:1", "198.18.0.17:1", "198.18.0.18:status.supply",
       "198.18.0.19:1", "198.18.0.20:1"]
DROPPING = "198.18.0.36:1"  # drops half of its read replies
RAMP = "198.18.0.21"        # RE01 channel 1: a ramp of one volt per second


@pytest.fixture
def tool(rack):
    path = os.environ.get("VARNODE_CLI")
    if not path:
        pytest.skip("VARNODE_CLI names the varnode tool to test (scripts/python-test.sh sets it)")
    return path


def run(tool, *args, **kw):
    return subprocess.run([tool, *args], capture_output=True, text=True, timeout=120, **kw)


def wait_for(condition, what, seconds=60):
    end = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > end:
            pytest.fail(f"waited {seconds} s for {what() if callable(what) else what}")
        time.sleep(0.05)


def test_polled_ten_modules_rows_values_and_dropped_replies(tool, tmp_path):
    out = tmp_path / "ten.csv"
    done = run(tool, "--timeout", "100", "log", "-i", "0.25", "-n", "12", "-o", str(out), *TEN, DROPPING)
    assert done.returncode == 0, done.stderr
    got = log.read(out)
    assert got.index.tolist() == list(range(12))
    assert len(got.header["modules"]) == 11
    for module in got.header["modules"][:10]:
        assert set(got.status[module["id"]]) == {"ok"}, module
    numpy.testing.assert_allclose(got.values["hx01-3019.1"], 373.15, atol=0.05)  # its power-on K at 100 °C
    assert set(got.values["kl01-3011.1"]) <= {0.0, 1.0}
    assert numpy.all(numpy.diff(got.values["qu01-3015.reference"]) > 0)  # microseconds since power-on
    assert numpy.all(numpy.diff(got.seconds) > 0.1)
    dropped = got.status["kl01-3036"]
    assert set(dropped) <= {"ok", "timeout"} and "timeout" in dropped
    assert numpy.isnan(got.values["kl01-3036.1"][dropped == "timeout"]).all()
    assert not numpy.isnan(got.values["kl01-3036.1"][dropped == "ok"]).any()
    whats = [e["what"] for e in got.events]
    assert whats[-1] == "stop" and whats.count("lost") >= 1


def test_a_slow_module_misses_its_intervals_without_holding_up_the_others(tool, tmp_path):
    out = tmp_path / "slow.csv"
    done = run(tool, "log", "-i", "0.1", "-n", "12", "-o", str(out), "198.18.0.11:1", "198.18.0.38:1")
    assert done.returncode == 0, done.stderr
    got = log.read(out)
    assert got.index.tolist() == list(range(12))  # the fast module serves every interval
    assert set(got.status["kl01-3011"]) == {"ok"}
    slow = got.status["hx01-3038"]
    assert set(slow) == {"ok", "missed"} and (slow == "missed").sum() >= 6  # a 300 ms reply spans three intervals
    assert numpy.isnan(got.values["hx01-3038.1"][slow == "missed"]).all()


def test_a_module_switched_off_mid_run_shows_timeouts_and_comes_back(tool, tmp_path):
    # "Switched off": its neighbour entry in this private namespace points nowhere, so requests go unanswered.
    device = next(line.split()[1] for line in subprocess.run(["ip", "-o", "addr"], capture_output=True, text=True,
                                                               check=True).stdout.splitlines() if "198.18.0.1/" in line)
    out = tmp_path / "off.csv"
    process = subprocess.Popen([tool, "--timeout", "100", "log", "-i", "0.2", "-o", str(out), "198.18.0.11:1",
                                "198.18.0.12:1"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    events = lambda: [line for line in (out.read_text().splitlines() if out.exists() else []) if "# event" in line]
    try:
        wait_for(lambda: out.exists() and out.read_text().count(",ok,ok") >= 2, "rows from both modules")
        subprocess.run(["ip", "neigh", "replace", "198.18.0.12", "lladdr", "02:00:00:00:00:99", "dev", device,
                        "nud", "permanent"], check=True)
        wait_for(lambda: any("what=lost" in e for e in events()), "the module to be lost")
        subprocess.run(["ip", "neigh", "del", "198.18.0.12", "dev", device], check=True)
        wait_for(lambda: any("what=back" in e for e in events()), "the module to come back")
        process.send_signal(signal.SIGTERM)
        process.communicate(timeout=60)
    finally:
        subprocess.run(["ip", "neigh", "del", "198.18.0.12", "dev", device], capture_output=True)
        if process.poll() is None:
            process.kill()
    got = log.read(out)
    off = got.status["kl02-3012"]
    assert set(got.status["kl01-3011"]) == {"ok"} and got.index.tolist() == list(range(len(got)))
    first, last = numpy.flatnonzero(off == "timeout")[[0, -1]]
    assert (off[:first] == "ok").all() and (off[first:last + 1] == "timeout").all() and off[last + 1] == "ok"
    assert numpy.isnan(got.values["kl02-3012.1"][off == "timeout"]).all()
    assert [e["what"] for e in got.events if e.get("module") == "kl02-3012"] == ["lost", "back"]


def test_streamed_ramp_loses_nothing_across_blocks_and_rotations(tool, tmp_path):
    base = tmp_path / "ramp.csv"
    done = run(tool, "log", "--stream", "-f", "3000", "-s", "600", "-n", "12", "--rotate", "40k", "-o", str(base),
               f"{RAMP}:1,2")
    assert done.returncode == 0, done.stderr
    files = sorted(tmp_path.glob("ramp-*.csv"))
    assert len(files) > 2
    logs = [log.read(f) for f in files]
    # Each file but the last names the next one in its last event.
    for this, following in zip(logs, files[1:]):
        assert this.events[-1]["what"] == "rotate" and this.events[-1]["next"] == following.name
    index = numpy.concatenate([g.index[g.status["re01-3021"] == "ok"] for g in logs])
    ramp = numpy.concatenate([g.values["re01-3021.1"][g.status["re01-3021"] == "ok"] for g in logs])
    assert index.tolist() == list(range(12 * 600))
    steps = numpy.diff(ramp.reshape(12, 600), axis=1)  # within a block: one sample period each
    numpy.testing.assert_allclose(steps, 1 / 3000, rtol=0.05)
    assert numpy.all(numpy.diff(ramp.reshape(12, 600)[:, 0]) > 0)  # blocks in order
    blocks = [e for g in logs for e in g.events if e["what"] == "block"]
    assert [b["index"] for b in blocks] == list(range(0, 7200, 600)) and blocks[0]["gap"] == ""
    assert all(b["gap"] >= 0 for b in blocks[1:])


@pytest.mark.parametrize("stop, stream, fmt", [(signal.SIGINT, True, "csv"), (signal.SIGTERM, True, "jsonl"),
                                               (signal.SIGTERM, False, "csv")])
def test_a_signal_finishes_the_file_and_leaves_the_module_ready(tool, tmp_path, stop, stream, fmt):
    out = tmp_path / f"stopped.{fmt}"
    args = ["--stream", "-f", "100", "-s", "1000"] if stream else ["-i", "0.1"]
    process = subprocess.Popen([tool, "log", *args, "--format", fmt, "-o", str(out), f"{RAMP}:1"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        wait_for(lambda: out.exists() and out.read_text().count("\n") > 3, "the first records")
        process.send_signal(stop)
        _, err = process.communicate(timeout=60)
    finally:
        if process.poll() is None:
            process.kill()
    assert process.returncode == 130, err
    got = log.read(out)
    assert out.read_text().endswith("\n") and got.events[-1]["what"] == "stop"
    assert got.events[-1]["reason"] == "signal"
    again = run(tool, "re01", "measure", RAMP, "1", "-n", "10", "-f", "3000")
    assert again.returncode == 0, again.stderr  # not left busy streaming


@pytest.mark.parametrize("how", [
    ["-i", "0.001", "198.18.0.11:1,2,3,4,5,6,7,8", "198.18.0.15:1,2,3,4"],
    # Streamed blocks are written by a thread of their own: its failure must still end the run.
    ["--stream", "-f", "3000", "-s", "100", RAMP + ":1"],
], ids=["polled", "streamed"])
def test_a_full_disk_exits_74_naming_the_file_and_keeps_what_was_written(tool, tmp_path, how):
    disk = tmp_path / "disk"
    disk.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", str(disk)]).returncode != 0:
        pytest.skip("cannot mount a small tmpfs here")
    try:
        out = disk / "full.csv"
        done = run(tool, "log", "-o", str(out), *how)
        assert done.returncode == 74, done.stderr
        assert str(out) in done.stderr and "No space left on device" in done.stderr
        got = log.read(out)
        assert len(got) > 100 and got.index.tolist() == sorted(got.index.tolist())
    finally:
        subprocess.run(["umount", str(disk)], check=True)


def test_a_misspelled_plan_key_is_refused_by_its_path(tool, tmp_path):
    plan = tmp_path / "plan.json"
    plan.write_text(json.dumps({"interval": 1, "modules": [{"address": "198.18.0.11", "chanels": [1]}]}))
    done = run(tool, "log", "--plan", str(plan), "-n", "1")
    assert done.returncode == 64
    assert "modules[0].chanels: unknown key" in done.stderr and not (tmp_path / "varnode-log").exists()
    plan.write_text(json.dumps({"interval": 0.2, "count": 2, "output": str(tmp_path / "p.jsonl"), "format": "jsonl",
                                "modules": [{"address": "198.18.0.19", "id": "oven", "channels": [1],
                                             "sensors": {"1": "K"}}]}))
    done = run(tool, "log", "--plan", str(plan))
    assert done.returncode == 0, done.stderr
    got = log.read(tmp_path / "p.jsonl")
    assert got.header["channels"][0]["sensor"] == "K" and got.header["channels"][0]["unit"] == "K"
    assert got.index.tolist() == [0, 1]


@pytest.mark.parametrize("setting, why", [(["-f", "5000"], "--frequency: 6 to 3000 Hz"),
                                          (["-f", "3"], "--frequency: 6 to 3000 Hz"),
                                          (["-s", "1000001"], "--samples: 2 to 1000000 per block")])
def test_stream_settings_out_of_range_are_refused_before_any_module_is_asked(tool, tmp_path, setting, why):
    # No module holds .99: had the tool asked it anything, the run would end in a time-out (6), not 64.
    done = run(tool, "--timeout", "5000", "log", "--stream", *setting, "-o", str(tmp_path / "s.csv"), "198.18.0.99:1")
    assert done.returncode == 64, done.stderr
    assert why in done.stderr and not (tmp_path / "s.csv").exists()


def test_influx_lines_load_into_influxdb_and_query_back(tool, tmp_path):
    import shutil
    import urllib.error
    import urllib.parse
    import urllib.request
    influxd = shutil.which("influxd")
    if influxd is None:
        pytest.skip("influxd is not installed (Debian package influxdb)")
    config = tmp_path / "influxdb.conf"
    config.write_text(f'reporting-disabled = true\nbind-address = "127.0.0.1:18088"\n'
                      f'[meta]\n  dir = "{tmp_path}/meta"\n[data]\n  dir = "{tmp_path}/data"\n'
                      f'  wal-dir = "{tmp_path}/wal"\n[http]\n  bind-address = "127.0.0.1:18086"\n'
                      f'  log-enabled = false\n')
    server = subprocess.Popen([influxd, "-config", str(config)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    url = "http://127.0.0.1:18086"

    def ping():
        try:
            return urllib.request.urlopen(f"{url}/ping", timeout=1).status == 204
        except OSError:
            return server.poll() is not None

    try:
        wait_for(ping, "influxd to answer")
        assert server.poll() is None, "influxd ended"
        done = run(tool, "log", "--format", "influx", "-i", "0.2", "-n", "5", "-o", "-", "198.18.0.15:1,reference",
                   "198.18.0.19:1", DROPPING, "--timeout", "100")
        assert done.returncode == 0, done.stderr
        lines = done.stdout.splitlines()
        assert len(lines) == 15

        # influxd may answer /ping before it takes a database; wait until the
        # database is listed and a write is taken, and name influxd's own
        # words if it never is.
        said = []

        def created():
            ask = urllib.parse.urlencode({"q": "CREATE DATABASE t"}).encode()
            said.append(urllib.request.urlopen(urllib.request.Request(f"{url}/query", data=ask), timeout=10).read())
            shown = urllib.request.urlopen(f"{url}/query?q=SHOW%20DATABASES", timeout=10).read()
            return b'"t"' in shown

        def written():
            try:
                urllib.request.urlopen(urllib.request.Request(f"{url}/write?db=t&precision=ns",
                                                              data=done.stdout.encode()), timeout=10)
                return True
            except urllib.error.HTTPError as refused:
                said.append(refused.read())
                if refused.code != 404:
                    pytest.fail(f"influxd refused the lines: {refused.code} {said[-1]!r}")
                return False

        wait_for(created, lambda: f"influxd to create the database (it said {said[-1:]!r})", seconds=30)
        wait_for(written, lambda: f"influxd to take the lines (it said {said[-1:]!r})", seconds=30)
        query = urllib.parse.urlencode({"db": "t", "epoch": "ns", "q": "SELECT * FROM varnode GROUP BY *"})
        answer = json.load(urllib.request.urlopen(f"{url}/query?{query}", timeout=10))
        stored = {}
        for series in answer["results"][0]["series"]:
            for point in series["values"]:
                fields = {k: v for k, v in zip(series["columns"], point) if v is not None and k != "time"}
                stored[(series["tags"]["module"], point[0])] = (series["tags"], fields)
        for line in lines:
            head, field_text, stamp = line.split(" ")
            tags = dict(t.split("=") for t in head.split(",")[1:])
            fields = dict(f.split("=") for f in field_text.split(","))
            got_tags, got = stored[(tags["module"], int(stamp))]
            assert got_tags == tags
            assert got.pop("status") == fields.pop("status").strip('"')
            assert got.pop("index") == int(fields.pop("index").rstrip("i"))
            assert got == pytest.approx({k: float(v) for k, v in fields.items()})
    finally:
        server.terminate()
        server.wait(timeout=30)
