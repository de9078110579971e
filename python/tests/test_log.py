"""The log format: what Writer writes, read gives back, in every encoding."""
from __future__ import annotations

import io
import json
import math

import numpy
import pytest

from varnode import log

START = 1796802000123456  # 2026-12-09T07:40:00.123456Z in microseconds

POLLED = {
    "start": START, "tool": "varnode 2.6.0", "library": "2.5.0", "mode": "polled", "interval": 1.0,
    "modules": [{"id": "hx01-1017", "kind": "HX01", "address": "198.18.0.17", "serial": 1017, "name": "oven 2",
                 "firmware": "1.0"},
                {"id": "kl01-1011", "kind": "KL01", "address": "198.18.0.11", "serial": 1011, "name": 'a="b"',
                 "firmware": "1.0"}],
    "channels": [{"column": "hx01-1017.3", "module": "hx01-1017", "channel": "3", "quantity": "temperature",
                  "sensor": "K", "unit": "K"},
                 {"column": "kl01-1011.1", "module": "kl01-1011", "channel": "1", "quantity": "level", "unit": ""},
                 {"column": "kl01-1011.status.supply", "module": "kl01-1011", "channel": "status.supply",
                  "quantity": "status", "unit": "V"}],
}
COLUMNS = ["hx01-1017.3", "kl01-1011.1", "kl01-1011.status.supply"]
STREAMED = {
    "start": START, "tool": "varnode 2.6.0", "library": "2.5.0", "mode": "streamed", "frequency": 4.0,
    "samples": 2,
    "modules": [{"id": "re01-1019", "kind": "RE01", "serial": 1019, "name": "", "firmware": "1.0"}],
    "channels": [{"column": f"re01-1019.{c}", "module": "re01-1019", "channel": str(c), "quantity": "voltage",
                  "unit": "V"} for c in (1, 2)],
}


def write_polled(target, fmt):
    with log.Writer(target, POLLED, COLUMNS, format=fmt) as w:
        w.row(0, {"hx01-1017.3": 296.15, "kl01-1011.1": True, "kl01-1011.status.supply": 24.5},
              {"hx01-1017": "ok", "kl01-1011": 0}, utc=START + 100, seconds=0.0001)
        # A failed module's cells are empty even when a value was handed in.
        w.row(1, {"hx01-1017.3": 296.2, "kl01-1011.1": False, "kl01-1011.status.supply": float("-inf")},
              {"hx01-1017": "timeout"}, utc=START + 1_000_014, seconds=1.000014)
        w.event("back", "hx01-1017", utc=START + 2_000_044, seconds=2.000044)
        w.row(3, {"hx01-1017.3": float("inf"), "kl01-1011.1": 1, "kl01-1011.status.supply": None},
              {"hx01-1017": "ok", "kl01-1011": 6}, utc=START + 3_000_000, seconds=3.0)


@pytest.mark.parametrize("fmt", ["csv", "jsonl"])
def test_polled_round_trip(tmp_path, fmt):
    path = tmp_path / f"run.{fmt}"
    write_polled(path, fmt)
    got = log.read(path)
    assert got.columns == COLUMNS
    assert got.header["start"] == "2026-12-09T07:40:00.123456Z"
    assert got.header["interval"] == 1.0 and got.header["mode"] == "polled"
    assert [m["name"] for m in got.header["modules"]] == ["oven 2", 'a="b"']
    assert got.header["modules"][0]["serial"] == 1017 and got.header["channels"][1]["unit"] == ""
    assert got.index.tolist() == [0, 1, 3]  # the interval never served stays visible
    assert str(got.utc[1]) == "2026-12-09T07:40:01.123470"
    assert got.seconds.tolist() == [0.0001, 1.000014, 3.0]
    numpy.testing.assert_array_equal(got.values["hx01-1017.3"], [296.15, math.nan, math.inf])
    numpy.testing.assert_array_equal(got.values["kl01-1011.1"], [1, 0, math.nan])
    numpy.testing.assert_array_equal(got.values["kl01-1011.status.supply"], [24.5, -math.inf, math.nan])
    assert got.status["hx01-1017"].tolist() == ["ok", "timeout", "ok"]
    assert got.status["kl01-1011"].tolist() == ["ok", "ok", "timeout"]
    assert [(e["what"], e["module"], e["seconds"]) for e in got.events] == [("back", "hx01-1017", 2.000044)]


def test_csv_text_is_the_documented_one():
    out = io.StringIO()
    write_polled(out, "csv")
    lines = out.getvalue().splitlines()
    assert lines[:6] == ["# varnode-log 1", "# start: 2026-12-09T07:40:00.123456Z", "# tool: varnode 2.6.0",
                         "# library: 2.5.0", "# mode: polled", "# interval: 1.0"]
    assert lines[6] == ('# module: id=hx01-1017 kind=HX01 address=198.18.0.17 serial=1017 name="oven 2" '
                        'firmware=1.0')
    assert lines[7].endswith(r'name="a=\"b\"" firmware=1.0')
    assert lines[9] == "# channel: column=kl01-1011.1 module=kl01-1011 channel=1 quantity=level unit="
    assert lines[11] == ("utc,seconds,index,hx01-1017.3,kl01-1011.1,kl01-1011.status.supply,"
                         "status.hx01-1017,status.kl01-1011")
    assert lines[12:] == [
        "2026-12-09T07:40:00.123556Z,0.000100,0,296.15,1,24.5,ok,ok",
        "2026-12-09T07:40:01.123470Z,1.000014,1,,0,-inf,timeout,ok",
        "# event: utc=2026-12-09T07:40:02.123500Z seconds=2.000044 module=hx01-1017 what=back",
        "2026-12-09T07:40:03.123456Z,3.000000,3,inf,,,ok,timeout",
    ]


def test_influx_lines():
    out = io.StringIO()
    write_polled(out, "influx")
    assert out.getvalue().splitlines() == [
        'varnode,module=hx01-1017,kind=HX01,serial=1017 ch3=296.15,status="ok",index=0i 1796802000123556000',
        'varnode,module=kl01-1011,kind=KL01,serial=1011 ch1=1,status_supply=24.5,status="ok",index=0i '
        '1796802000123556000',
        'varnode,module=hx01-1017,kind=HX01,serial=1017 status="timeout",index=1i 1796802001123470000',
        # -inf cannot be stored in InfluxDB: the field is left out.
        'varnode,module=kl01-1011,kind=KL01,serial=1011 ch1=0,status="ok",index=1i 1796802001123470000',
        'varnode,module=hx01-1017,kind=HX01,serial=1017 status="ok",index=3i 1796802003123456000',
        'varnode,module=kl01-1011,kind=KL01,serial=1011 status="timeout",index=3i 1796802003123456000',
    ]


@pytest.mark.parametrize("fmt", ["csv", "jsonl"])
def test_streamed_blocks_and_a_failed_one(tmp_path, fmt):
    path = tmp_path / f"stream.{fmt}"
    with log.Writer(path, STREAMED, ["re01-1019.1", "re01-1019.2"], format=fmt) as w:
        w.block(0, {"re01-1019.1": [0.5, 1.5], "re01-1019.2": [2.0, 3.0]}, {"re01-1019": "ok"}, gap=None,
                utc=START, seconds=0.0)
        w.block(2, {"re01-1019.1": [], "re01-1019.2": []}, {"re01-1019": "timeout"}, gap=0.01,
                utc=START + 600_000, seconds=0.6)
        w.block(2, {"re01-1019.1": [4.0, 5.0], "re01-1019.2": [6.0, 7.0]}, {"re01-1019": "ok"}, gap=0.25,
                utc=START + 1_750_000, seconds=1.75)
    got = log.read(path)
    assert got.index.tolist() == [0, 1, 2, 2, 3]
    ok = got.status["re01-1019"] == "ok"
    assert got.index[ok].tolist() == [0, 1, 2, 3]
    numpy.testing.assert_array_equal(got.values["re01-1019.1"], [0.5, 1.5, math.nan, 4.0, 5.0])
    assert got.seconds.tolist() == [0.0, 0.25, 0.6, 1.75, 2.0]
    assert str(got.utc[4]) == "2026-12-09T07:40:02.123456"
    blocks = [(e["index"], e["samples"], e["gap"]) for e in got.events if e["what"] == "block"]
    assert blocks == [(0, 2, None if fmt == "jsonl" else ""), (2, 0, 0.01), (2, 2, 0.25)]


@pytest.mark.parametrize("fmt", ["csv", "jsonl"])
def test_a_line_cut_short_is_skipped_and_a_broken_one_named(tmp_path, fmt):
    path = tmp_path / f"cut.{fmt}"
    write_polled(path, fmt)
    whole = path.read_text()
    path.write_text(whole[:-7])  # the last row half-written, as a full disk leaves it
    assert log.read(path).index.tolist() == [0, 1]
    lines = whole.splitlines(keepends=True)
    lines[-2] = lines[-2][:10] + "\n"  # a broken line with its line end is an error, not a skip
    path.write_text("".join(lines))
    with pytest.raises(ValueError, match=f"cut.{fmt}:"):
        log.read(path)


@pytest.mark.parametrize("change, message", [
    (lambda h: h["modules"].append(dict(h["modules"][0])), "given twice"),
    (lambda h: h["modules"][0].update(id="hx 01"), "ids are made of"),
    (lambda h: h["channels"][0].update(module="nowhere"), "not in modules"),
])
def test_writer_refuses_a_header_that_would_not_read_back(change, message):
    header = json.loads(json.dumps(POLLED))
    change(header)
    with pytest.raises(ValueError, match=message):
        log.Writer(io.StringIO(), header, [c["column"] for c in header["channels"]])


def test_pair_values_with_line_breaks_stay_on_their_line(tmp_path):
    header = json.loads(json.dumps(POLLED))
    header["modules"][0]["name"] = "line\nbreak\tand, comma"
    path = tmp_path / "names.csv"
    with log.Writer(path, header, COLUMNS) as w:
        w.row(0, {}, {}, utc=START, seconds=0.0)
    got = log.read(path)
    assert got.header["modules"][0]["name"] == "line\nbreak\tand, comma" and len(got) == 1
