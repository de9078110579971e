"""Reading and writing the log files of `varnode log` and the web panel.

One format in three encodings of the same records (CSV, JSON Lines, InfluxDB
line protocol); docs/log-format.md describes it. :func:`read` takes CSV or
JSON Lines and gives numpy arrays; :class:`Writer` writes any of the three and
flushes after every row, block and event, so a file cut short holds every
record completed before the cut::

    from varnode import log
    with log.Writer("oven.csv", {"mode": "polled", "interval": 1.0,
                                 "modules": [{"id": "oven", "kind": "HX01", "serial": 1017}],
                                 "channels": [{"column": "oven.3", "module": "oven", "channel": "3",
                                               "quantity": "temperature", "sensor": "K", "unit": "K"}]},
                    ["oven.3"]) as out:
        out.row(0, {"oven.3": 296.15}, {"oven": "ok"})
    print(log.read("oven.csv").values["oven.3"])
"""
from __future__ import annotations

import csv
import datetime
import io
import json
import math
import os
import re
import time
from dataclasses import dataclass, field
from typing import IO, Any, Dict, List, Mapping, Optional, Sequence, Union

import numpy
from numpy.typing import NDArray

VERSION = 1

# Result code -> the word a status column holds.
STATUS_WORDS = ("ok", "error", "failed", "parameter", "network", "not_found", "timeout", "aborted", "reserved",
                "configuration")

_HEADER_ORDER = ("start", "tool", "library", "mode", "interval", "frequency", "samples")
_MODULE_ORDER = ("id", "kind", "address", "serial", "name", "firmware")
_CHANNEL_ORDER = ("column", "module", "channel", "quantity", "sensor", "unit")
_ID = re.compile(r"[A-Za-z0-9_-]+")
_EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)

Time = Union[datetime.datetime, int, None]  # a datetime, or microseconds since the epoch
Value = Union[float, int, bool, None]


@dataclass
class Log:
    """A log file's records, one array entry per row (per sample when streamed).

    ``len(log)`` is the number of rows.

    :ivar dict header: the header's keys, `modules` and `channels` among them.
    :ivar list[str] columns: the channel columns, in the file's order.
    :ivar numpy.ndarray utc: each row's time (datetime64[us]).
    :ivar numpy.ndarray seconds: each row's monotonic seconds (float64).
    :ivar numpy.ndarray index: each row's index (int64).
    :ivar dict[str, numpy.ndarray] values: per column, float64, NaN for an empty cell.
    :ivar dict[str, numpy.ndarray] status: per module id, the status words.
    :ivar list[dict] events: the event lines, in order.
    """

    header: Dict[str, Any]
    columns: List[str]
    utc: NDArray[numpy.datetime64]
    seconds: NDArray[numpy.float64]
    index: NDArray[numpy.int64]
    values: Dict[str, NDArray[numpy.float64]]
    status: Dict[str, NDArray[numpy.str_]]
    events: List[Dict[str, Any]] = field(default_factory=list)

    def __len__(self) -> int:
        return len(self.index)


# ---- Reading --------------------------------------------------------------

def read(path: Union[str, os.PathLike]) -> Log:
    """Read a CSV or JSON Lines log file (told apart by its first character).

    A last line without its line end, as a crash or a full disk leaves it, is
    skipped; any other line that does not parse raises ValueError with its
    line number.

    :param path: the file.
    :type path: str or os.PathLike
    :returns: the file's records.
    :rtype: Log
    :raises OSError: the file cannot be opened.
    :raises UnicodeDecodeError: the file is not UTF-8.
    :raises ValueError: the file is no varnode log, or a line does not parse.
    """
    with open(path, "r", encoding="utf-8", newline="") as f:
        text = f.read()
    lines = text.split("\n")
    if lines and lines[-1] != "":
        lines[-1] = ""  # cut short: the one record that may be half-written
    lines = [line[:-1] if line.endswith("\r") else line for line in lines[:-1]]
    first = next((line for line in lines if line.strip()), "")
    if first.startswith("{"):
        return _read_jsonl(lines, str(path))
    if first.startswith("# varnode-log"):
        return _read_csv(lines, str(path))
    raise ValueError(f"{path}: not a varnode log (neither '# varnode-log' nor a JSON header first)")


class _Builder:
    def __init__(self, header: Dict[str, Any], columns: List[str]):
        self.header, self.columns = header, columns
        self.modules = [m["id"] for m in header.get("modules", [])]
        self.utc: List[int] = []
        self.seconds: List[float] = []
        self.index: List[int] = []
        self.values: Dict[str, List[float]] = {c: [] for c in columns}
        self.status: Dict[str, List[str]] = {m: [] for m in self.modules}
        self.events: List[Dict[str, Any]] = []

    def add(self, utc: int, seconds: float, index: int, values: Mapping[str, float], status: Mapping[str, str]):
        self.utc.append(utc)
        self.seconds.append(seconds)
        self.index.append(index)
        for c in self.columns:
            self.values[c].append(values.get(c, math.nan))
        for m in self.modules:
            self.status[m].append(status.get(m, ""))

    def build(self) -> Log:
        return Log(self.header, self.columns, numpy.array(self.utc, dtype="datetime64[us]"),
                   numpy.array(self.seconds, dtype=numpy.float64), numpy.array(self.index, dtype=numpy.int64),
                   {c: numpy.array(v, dtype=numpy.float64) for c, v in self.values.items()},
                   {m: numpy.array(s, dtype=str) for m, s in self.status.items()}, self.events)


def _number(cell: str) -> float:
    return math.nan if cell == "" else float(cell)


def _read_csv(lines: List[str], path: str) -> Log:
    header: Dict[str, Any] = {"modules": [], "channels": []}
    at = 0
    while at < len(lines) and lines[at].startswith("#"):
        key, _, value = lines[at][1:].strip().partition(":")
        if key.startswith("varnode-log"):
            header["varnode_log"] = int(key.split()[1])
        elif key in ("module", "channel"):
            header[key + "s"].append(_typed(_parse_pairs(value.strip(), path, at + 1)))
        elif key and key != "event":
            header[key] = _scalar(value.strip())
        at += 1
    if at >= len(lines):
        return _Builder(header, []).build()
    names = next(csv.reader([lines[at]]))
    statuses = {f"status.{m['id']}": m["id"] for m in header["modules"]}
    if names[:3] != ["utc", "seconds", "index"]:
        raise ValueError(f"{path}:{at + 1}: the column line must start with utc,seconds,index")
    columns = [n for n in names[3:] if n not in statuses]
    built = _Builder(header, columns)
    for number, line in enumerate(lines[at + 1:], at + 2):
        if line.startswith("#"):
            key, _, value = line[1:].strip().partition(":")
            if key == "event":
                event = _typed(_parse_pairs(value.strip(), path, number))
                built.events.append(event)
            continue
        if not line:
            continue
        cells = line.split(",") if '"' not in line else next(csv.reader([line]))
        if len(cells) != len(names):
            raise ValueError(f"{path}:{number}: {len(cells)} cells where the column line names {len(names)}")
        try:
            values = {n: _number(c) for n, c in zip(names[3:], cells[3:]) if n not in statuses}
            status = {statuses[n]: c for n, c in zip(names[3:], cells[3:]) if n in statuses}
            built.add(_micros(cells[0]), float(cells[1]), int(cells[2]), values, status)
        except ValueError as failure:
            raise ValueError(f"{path}:{number}: {failure}") from None
    return built.build()


def _read_jsonl(lines: List[str], path: str) -> Log:
    built: Optional[_Builder] = None
    for number, line in enumerate(lines, 1):
        if not line.strip():
            continue
        try:
            record = json.loads(line)
        except json.JSONDecodeError as failure:
            raise ValueError(f"{path}:{number}: {failure}") from None
        if built is None:
            if "varnode_log" not in record:
                raise ValueError(f"{path}:{number}: the first line must be the header object")
            header = dict(record)
            header.setdefault("modules", [])
            header.setdefault("channels", [])
            built = _Builder(header, [c["column"] for c in header["channels"]])
            continue
        try:
            _jsonl_record(built, record)
        except (KeyError, TypeError, ValueError) as failure:
            raise ValueError(f"{path}:{number}: {failure!r}") from None
    if built is None:
        raise ValueError(f"{path}: no header")
    return built.build()


def _json_number(v: Any) -> float:
    return math.nan if v is None else float(v)  # float("inf") reads the "inf" strings too


def _jsonl_record(built: _Builder, record: Dict[str, Any]) -> None:
    if "event" in record:
        event = {"what": record["event"]}
        event.update((k, v) for k, v in record.items() if k != "event")
        built.events.append(event)
        return
    utc, seconds, index, status = _micros(record["utc"]), float(record["seconds"]), int(record["index"]), \
        record.get("status", {})
    if "frequency" not in record:
        built.add(utc, seconds, index, {k: _json_number(v) for k, v in record["values"].items()}, status)
        return
    frequency = float(record["frequency"])
    series = {k: [_json_number(v) for v in vs] for k, vs in record["values"].items()}
    samples = max((len(vs) for vs in series.values()), default=0)
    module = next(iter(status), None)
    built.events.append({"what": "block", "utc": record["utc"], "seconds": seconds, "module": module,
                         "index": index, "samples": samples, "gap": record.get("gap")})
    if samples == 0:  # a failed block: one entry with its status and no value
        built.add(utc, seconds, index, {}, status)
    for i in range(samples):
        built.add(utc + round(i * 1e6 / frequency), seconds + i / frequency, index + i,
                  {k: vs[i] for k, vs in series.items() if i < len(vs)}, status)


def _parse_pairs(text: str, path: str, line: int) -> Dict[str, str]:
    pairs: Dict[str, str] = {}
    decoder = json.JSONDecoder()
    at = 0
    while at < len(text):
        if text[at] == " ":
            at += 1
            continue
        equals = text.find("=", at)
        if equals < 0:
            raise ValueError(f"{path}:{line}: '{text[at:]}' is no key=value pair")
        key = text[at:equals]
        at = equals + 1
        if text.startswith('"', at):
            try:
                value, at = decoder.raw_decode(text, at)
            except json.JSONDecodeError as failure:
                raise ValueError(f"{path}:{line}: the value of {key}: {failure}") from None
        else:
            end = text.find(" ", at)
            end = len(text) if end < 0 else end
            value, at = text[at:end], end
        pairs[key] = value
    return pairs


def _scalar(text: str) -> Any:
    try:
        return int(text)
    except ValueError:
        pass
    try:
        return float(text)
    except ValueError:
        return text


_NUMERIC_PAIRS = {"serial", "index", "samples", "gap", "seconds", "interval", "frequency"}


def _typed(pairs: Dict[str, str]) -> Dict[str, Any]:
    return {k: (_scalar(v) if k in _NUMERIC_PAIRS and v != "" else v) for k, v in pairs.items()}


def _micros(text: str) -> int:
    """An ISO 8601 UTC time ('...Z') as microseconds since the epoch."""
    if not text.endswith("Z"):
        raise ValueError(f"'{text}' is no UTC time ending in Z")
    moment = datetime.datetime.fromisoformat(text[:-1]).replace(tzinfo=datetime.timezone.utc)
    delta = moment - _EPOCH
    return (delta.days * 86400 + delta.seconds) * 1_000_000 + delta.microseconds


# ---- Writing --------------------------------------------------------------

def iso(micros: int) -> str:
    """Microseconds since the epoch as the format's UTC time text.

    :param int micros: microseconds since 1970-01-01 UTC.
    :returns: e.g. ``"1970-01-01T00:00:01.000000Z"``.
    :rtype: str
    :raises OverflowError: a time outside the years 1 to 9999.

    >>> from varnode import log
    >>> log.iso(1_500_000)
    '1970-01-01T00:00:01.500000Z'
    """
    moment = _EPOCH + datetime.timedelta(microseconds=micros)
    return moment.strftime("%Y-%m-%dT%H:%M:%S.%f") + "Z"


def _now_micros() -> int:
    return time.time_ns() // 1000


def _as_micros(moment: Time) -> int:
    if moment is None:
        return _now_micros()
    if isinstance(moment, datetime.datetime):
        if moment.tzinfo is None:
            raise ValueError("log times must be aware datetimes (UTC), not naive ones")
        delta = moment - _EPOCH
        return (delta.days * 86400 + delta.seconds) * 1_000_000 + delta.microseconds
    return int(moment)


def _pair(key: str, value: Any) -> str:
    text = "" if value is None else str(value)
    if any(c in text for c in ' "=') or any(ord(c) < 0x20 or c == "\x7f" for c in text):
        text = json.dumps(text, ensure_ascii=False, separators=(",", ":"))
    return f"{key}={text}"


def _cell(value: Value) -> str:
    if value is None:
        return ""
    if isinstance(value, (bool, numpy.bool_)):
        return "1" if value else "0"
    if isinstance(value, (int, numpy.integer)):
        return str(int(value))
    value = float(value)
    if math.isnan(value):
        return ""  # no value, as for a status item the module did not send
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    return "%.9g" % value


def _json_value(value: Value) -> Any:
    if value is None:
        return None
    if isinstance(value, (bool, numpy.bool_)):
        return int(bool(value))
    if isinstance(value, (int, numpy.integer)):
        return int(value)
    value = float(value)
    if math.isnan(value):
        return None
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    return float("%.9g" % value)


def _influx_escape(text: str, also: str) -> str:
    for c in "\\" + also:
        text = text.replace(c, "\\" + c)
    return text.replace("\n", "\\n")


def _influx_field(channel: str) -> str:
    if channel.isdigit():
        return "ch" + channel
    if channel.startswith("status."):
        return "status_" + channel[len("status."):]
    return channel


class Writer:
    """Writes one log file in CSV, JSON Lines (`jsonl`) or InfluxDB line protocol (`influx`).

    header: `modules` (dicts with id, kind, address, serial, name, firmware),
    `channels` (dicts with column, module, channel, quantity, sensor, unit),
    `mode` (`polled` with `interval`, or `streamed` with `frequency` and
    `samples`); `start`, `tool` and `library` default to now, this package and
    the loaded library's version. columns: the channel columns in the order
    the cells are written. Times are aware datetimes or microseconds since the
    epoch, by default the moment of the call; seconds default to the
    monotonic clock since the writer was made. A context manager: leaving
    the ``with`` block closes it.

    :param path_or_file: a path to create, or a text file object to write to.
    :type path_or_file: str, os.PathLike or IO[str]
    :param Mapping[str, Any] header: the header, as above.
    :param Sequence[str] columns: the channel columns to write.
    :param str format: ``"csv"``, ``"jsonl"`` or ``"influx"``.
    :raises ValueError: an unknown format, a column without a channel in the
        header or named twice, a module id that is not made of A-Z, a-z, 0-9,
        _ and - or is given twice, a channel naming no module, or a naive
        datetime as `start`.
    :raises OSError: the file cannot be created.

    >>> import io
    >>> from varnode import log
    >>> out = io.StringIO()
    >>> header = {"start": 0, "tool": "doc", "library": "2", "interval": 1.0,
    ...           "modules": [{"id": "oven", "kind": "HX01"}],
    ...           "channels": [{"column": "oven.1", "module": "oven", "channel": "1"}]}
    >>> with log.Writer(out, header, ["oven.1"]) as w:
    ...     w.row(0, {"oven.1": 296.15}, {}, utc=0, seconds=0.0)
    >>> out.getvalue().splitlines()[-1]
    '1970-01-01T00:00:00.000000Z,0.000000,0,296.15,ok'
    """

    def __init__(self, path_or_file: Union[str, os.PathLike, IO[str]], header: Mapping[str, Any],
                 columns: Sequence[str], format: str = "csv"):
        if format not in ("csv", "jsonl", "influx"):
            raise ValueError(f"format must be csv, jsonl or influx, not {format!r}")
        self.format = format
        self.header = self._complete(header)
        self.modules = [m["id"] for m in self.header["modules"]]
        self.columns = list(columns)
        channels = {c["column"]: c for c in self.header["channels"]}
        unknown = [c for c in self.columns if c not in channels]
        if unknown:
            raise ValueError(f"columns without a channel in the header: {', '.join(unknown)}")
        if len(set(self.columns)) != len(self.columns):
            raise ValueError("a column is named twice")
        self._channels = channels
        self._monotonic = time.monotonic()
        self._own = not hasattr(path_or_file, "write")
        self._file: IO[str] = open(path_or_file, "w", encoding="utf-8", newline="") \
            if self._own else path_or_file  # type: ignore[arg-type, assignment]
        self._write(self._header_text())

    @staticmethod
    def _complete(header: Mapping[str, Any]) -> Dict[str, Any]:
        h = dict(header)
        h.setdefault("start", iso(_now_micros()))
        if isinstance(h["start"], (datetime.datetime, int)):
            h["start"] = iso(_as_micros(h["start"]))
        if "tool" not in h:
            from . import __version__
            h["tool"] = f"varnode-python {__version__}"
        if "library" not in h:
            from .device import driver
            h["library"] = driver().version
        h.setdefault("mode", "polled")
        h["modules"] = [dict(m) for m in h.get("modules", [])]
        h["channels"] = [dict(c) for c in h.get("channels", [])]
        ids = [m.get("id", "") for m in h["modules"]]
        for i in ids:
            if not isinstance(i, str) or not _ID.fullmatch(i):
                raise ValueError(f"module id {i!r}: ids are made of A-Z, a-z, 0-9, _ and -")
        if len(set(ids)) != len(ids):
            raise ValueError("a module id is given twice")
        for c in h["channels"]:
            if c.get("module") not in ids:
                raise ValueError(f"channel {c.get('column')!r} names module {c.get('module')!r}, not in modules")
        return h

    def _header_text(self) -> str:
        h = self.header
        if self.format == "influx":
            return ""
        if self.format == "jsonl":
            first = {"varnode_log": VERSION}
            first.update((k, h[k]) for k in _HEADER_ORDER if k in h)
            first.update((k, v) for k, v in h.items() if k not in first and k not in ("modules", "channels"))
            first["modules"], first["channels"] = h["modules"], h["channels"]
            return json.dumps(first, ensure_ascii=False, separators=(",", ":")) + "\n"
        lines = [f"# varnode-log {VERSION}"]
        keys = [k for k in _HEADER_ORDER if k in h] + \
            [k for k in h if k not in _HEADER_ORDER and k not in ("modules", "channels", "varnode_log")]
        lines += [f"# {k}: {h[k]}" for k in keys]
        for kind, items, order in (("module", h["modules"], _MODULE_ORDER), ("channel", h["channels"], _CHANNEL_ORDER)):
            for item in items:
                keys = [k for k in order if k in item] + [k for k in item if k not in order]
                lines.append(f"# {kind}: " + " ".join(_pair(k, item[k]) for k in keys))
        out = io.StringIO()
        csv.writer(out, lineterminator="\n").writerow(
            ["utc", "seconds", "index"] + self.columns + [f"status.{m}" for m in self.modules])
        return "\n".join(lines) + "\n" + out.getvalue()

    def _write(self, text: str) -> None:
        if text:
            self._file.write(text)
            self._file.flush()

    def _seconds(self, seconds: Optional[float]) -> float:
        return time.monotonic() - self._monotonic if seconds is None else float(seconds)

    def _status_words(self, status: Mapping[str, Union[str, int]]) -> Dict[str, str]:
        words = {}
        for m in self.modules:
            word = status.get(m, "ok")
            words[m] = STATUS_WORDS[word] if isinstance(word, int) else str(word)
        unknown = set(status) - set(self.modules)
        if unknown:
            raise ValueError(f"status for modules not in the header: {', '.join(sorted(unknown))}")
        return words

    def _line(self, utc: int, seconds: float, index: int, values: Mapping[str, Value], status: Dict[str, str]) -> str:
        # A module whose reading failed has every cell empty, whatever was passed.
        failed = {m for m, w in status.items() if w != "ok"}
        cells = {c: (None if self._channels[c]["module"] in failed else values.get(c)) for c in self.columns}
        if self.format == "csv":
            return ",".join([iso(utc), "%.6f" % seconds, str(index)] + [_cell(cells[c]) for c in self.columns]
                            + [status[m] for m in self.modules]) + "\n"
        if self.format == "jsonl":
            return json.dumps({"utc": iso(utc), "seconds": round(seconds, 6), "index": index,
                               "values": {c: _json_value(cells[c]) for c in self.columns}, "status": status},
                              ensure_ascii=False, separators=(",", ":")) + "\n"
        return "".join(self._influx(m, utc, index, cells, status[m]) for m in self.modules)

    def _influx(self, module: str, utc: int, index: int, cells: Mapping[str, Value], word: str) -> str:
        m = next(x for x in self.header["modules"] if x["id"] == module)
        tags = ",".join(f"{tag}={_influx_escape(str(m[key]), ', =')}"
                        for tag, key in (("module", "id"), ("kind", "kind"), ("serial", "serial"))
                        if str(m.get(key, "")) != "")
        fields = []
        for c in self.columns:
            v = cells[c]
            # InfluxDB takes no NaN or infinity: such a value is left out of the line.
            if self._channels[c]["module"] == module and v is not None and math.isfinite(float(v)):
                # A bare integer is a float field to InfluxDB, parsed from all its digits.
                fields.append(f"{_influx_escape(_influx_field(self._channels[c]['channel']), ', =')}={_cell(v)}")
        fields.append(f'status="{_influx_escape(word, chr(34))}"')
        fields.append(f"index={index}i")
        return f"varnode,{tags} {','.join(fields)} {utc * 1000}\n"

    def row(self, index: int, values: Mapping[str, Value], status: Mapping[str, Union[str, int]],
            utc: Time = None, seconds: Optional[float] = None) -> None:
        """One polled row: values by column (None or missing: an empty cell),
        status by module id (a word or a result code; missing modules are ok).

        :param int index: the row's index.
        :param values: {column: value}.
        :type values: Mapping[str, float, int, bool or None]
        :param status: {module id: word or result code}.
        :type status: Mapping[str, str or int]
        :param utc: the row's time; None for now.
        :type utc: datetime.datetime, int or None
        :param seconds: the row's seconds; None for the writer's clock.
        :type seconds: float or None
        :raises ValueError: a status for a module not in the header, or a naive datetime.
        :raises IndexError: a result code above 9.
        :raises OSError: writing failed.
        """
        self._write(self._line(_as_micros(utc), self._seconds(seconds), int(index), values,
                               self._status_words(status)))

    def block(self, index: int, values: Mapping[str, Sequence[Value]], status: Mapping[str, Union[str, int]],
              gap: Optional[float] = None, utc: Time = None, seconds: Optional[float] = None,
              frequency: Optional[float] = None) -> None:
        """One streamed block starting at sample `index`: a sequence of samples
        per column, all of one length; utc and seconds are the first sample's.
        A block whose status is not ok holds no samples: it is written as one
        row with empty cells (its index is the next block's first sample).

        :param int index: the first sample's index.
        :param values: {column: samples}.
        :type values: Mapping[str, Sequence[float, int, bool or None]]
        :param status: {module id: word or result code}.
        :type status: Mapping[str, str or int]
        :param gap: seconds since the block before, or None.
        :type gap: float or None
        :param utc: the first sample's time; None for now.
        :type utc: datetime.datetime, int or None
        :param seconds: the first sample's seconds; None for the writer's clock.
        :type seconds: float or None
        :param frequency: samples per second; None for the header's `frequency`.
        :type frequency: float or None
        :raises ValueError: columns of different lengths, a status for a module
            not in the header, or a naive datetime.
        :raises KeyError: no `frequency` given nor in the header.
        :raises OSError: writing failed.
        """
        frequency = float(frequency if frequency is not None else self.header["frequency"])
        words = self._status_words(status)
        lengths = {len(values.get(c, ())) for c in self.columns}
        if len(lengths) > 1:
            raise ValueError("every column of a block needs the same number of samples")
        samples = lengths.pop() if lengths else 0
        if any(w != "ok" for w in words.values()):
            samples = 0
        start, first = _as_micros(utc), self._seconds(seconds)
        module = next(iter(self.modules), "")
        if self.format == "jsonl":
            record = {"utc": iso(start), "seconds": round(first, 6), "index": int(index), "frequency": frequency,
                      "gap": gap, "values": {c: [_json_value(v) for v in values.get(c, ())][:samples]
                                             for c in self.columns}, "status": words}
            self._write(json.dumps(record, ensure_ascii=False, separators=(",", ":")) + "\n")
            return
        parts = []
        if self.format == "csv":
            parts.append(self._event_text("block", module, start, first,
                                          {"index": int(index), "samples": samples,
                                           "gap": "" if gap is None else "%.6f" % gap}))
        if samples == 0:
            parts.append(self._line(start, first, int(index), {}, words))
        for i in range(samples):
            parts.append(self._line(start + round(i * 1e6 / frequency), first + i / frequency, int(index) + i,
                                    {c: values[c][i] for c in self.columns}, words))
        self._write("".join(parts))

    def _event_text(self, what: str, module: Optional[str], utc: int, seconds: float, pairs: Mapping[str, Any]) -> str:
        if self.format == "influx":
            return ""
        if self.format == "jsonl":
            record: Dict[str, Any] = {"event": what, "utc": iso(utc), "seconds": round(seconds, 6)}
            if module is not None:
                record["module"] = module
            record.update(pairs)
            return json.dumps(record, ensure_ascii=False, separators=(",", ":")) + "\n"
        items = [("utc", iso(utc)), ("seconds", "%.6f" % seconds)]
        if module is not None:
            items.append(("module", module))
        items.append(("what", what))
        items += list(pairs.items())
        return "# event: " + " ".join(_pair(k, v) for k, v in items) + "\n"

    def event(self, what: str, module: Optional[str] = None, utc: Time = None, seconds: Optional[float] = None,
              **pairs: Any) -> None:
        """An event line: `lost`, `back`, `rotate` (next=...), `stop` (reason=...).

        Influx files hold no events: nothing is written there.

        :param str what: the event.
        :param module: the module id it concerns, or None.
        :type module: str or None
        :param utc: its time; None for now.
        :type utc: datetime.datetime, int or None
        :param seconds: its seconds; None for the writer's clock.
        :type seconds: float or None
        :param pairs: further key=value pairs of the line.
        :raises ValueError: a naive datetime.
        :raises OSError: writing failed.
        """
        self._write(self._event_text(what, module, _as_micros(utc), self._seconds(seconds), pairs))

    def close(self) -> None:
        """Close the file (a file object handed in is flushed, not closed).

        :raises OSError: flushing failed.
        """
        if self._file.closed:
            return
        self._file.flush()
        if self._own:
            self._file.close()

    def __enter__(self) -> "Writer":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()
