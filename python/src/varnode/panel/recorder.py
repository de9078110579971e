"""Recording chosen channels of the polled modules to the log format that
`varnode log` writes, through varnode.log.Writer."""
from __future__ import annotations

import asyncio
import datetime
import os
import re
import time
from typing import Any, Dict, List, Optional

from .. import __version__
from ..device import driver
from .poller import Poller

_PREFIX = re.compile(r"^[A-Za-z0-9_.-]{1,64}$")


def _utc(stamp: float) -> int:
    """A time.time() as the writer takes it: microseconds since the epoch."""
    return int(round(stamp * 1e6))


def module_id(poller: Poller) -> str:
    return f"{poller.kind.lower()}-{poller.info.get('serial', 0)}"


def _quantity(kind: str) -> str:
    return {"KL01": "level", "KL02": "level", "KS01": "current", "QU01": "count", "HX01": "temperature",
            "HX02": "temperature"}.get(kind, "value")


class Recorder:
    """One recording at a time: a row per interval of the latest readings."""

    def __init__(self, directory: str) -> None:
        self.directory = directory
        self.path: Optional[str] = None
        self.rows = 0
        self.columns: List[str] = []
        self._task: Optional[asyncio.Task] = None
        self._writer: Any = None
        self.error = ""
        self._start = 0.0

    def state(self) -> Dict[str, Any]:
        return {"recording": self._task is not None, "path": self.path, "rows": self.rows,
                "columns": self.columns, "error": self.error}

    def start(self, pollers: Dict[str, Poller], channels: List[Dict[str, Any]], prefix: str,
              interval: float, fmt: str) -> Dict[str, Any]:
        """channels: [{"address": ..., "channel": "3"}]; raises ValueError for a bad request."""
        from ..log import Writer  # the package's writer of the log format

        if self._task is not None:
            raise ValueError("a recording is running: stop it first")
        if not _PREFIX.match(prefix):
            raise ValueError("the prefix is 1 to 64 letters, digits, '_', '-' or '.'")
        if fmt not in ("csv", "jsonl"):
            raise ValueError("format is csv or jsonl")
        if not 0.05 <= interval <= 3600:
            raise ValueError("interval is 0.05 to 3600 seconds")
        chosen: List[tuple] = []
        for entry in channels:
            poller = pollers.get(str(entry.get("address")))
            channel = str(entry.get("channel"))
            if poller is None or not poller.info:
                raise ValueError(f"no module at {entry.get('address')!r} that has answered")
            valid = {str(c) for c in range(1, poller.channels + 1)} | ({"reference"} if poller.kind == "QU01" else set())
            if channel not in valid or poller.kind in ("RA01", "RE01", "WE01", "KS02"):
                raise ValueError(f"{poller.kind} at {poller.address} has no polled channel {channel!r}")
            if (poller, channel) not in chosen:
                chosen.append((poller, channel))
        if not chosen:
            raise ValueError("choose at least one channel")
        modules: List[Poller] = []
        for poller, _ in chosen:
            if poller not in modules:
                modules.append(poller)
        start = time.time()
        header = {
            "start": _utc(start), "tool": f"varnode-panel {__version__}", "library": driver().version,
            "mode": "polled", "interval": interval,
            "modules": [{"id": module_id(p), "kind": p.kind, "address": p.address, "serial": p.info.get("serial"),
                         "name": p.info.get("name", ""), "firmware": p.info.get("firmware", "")} for p in modules],
            "channels": [{"column": f"{module_id(p)}.{c}", "module": module_id(p), "channel": c,
                          "quantity": "reference" if c == "reference" else _quantity(p.kind),
                          **({"sensor": p.sensors.get(int(c), "")} if p.kind in ("HX01", "HX02") and c.isdigit() else {}),
                          "unit": "K" if p.kind in ("HX01", "HX02") else "A" if p.kind == "KS01" else ""}
                         for p, c in chosen],
        }
        os.makedirs(self.directory, exist_ok=True)
        stamp = datetime.datetime.fromtimestamp(start, datetime.timezone.utc).strftime("%Y%m%dT%H%M%SZ")
        path = os.path.join(self.directory, f"{prefix}-{stamp}.{fmt}")
        self.columns = [ch["column"] for ch in header["channels"]]
        self._writer = Writer(path, header, self.columns, format=fmt)
        self.path, self.rows, self.error, self._start = path, 0, "", start
        self._task = asyncio.get_running_loop().create_task(self._run(chosen, modules, start, interval))
        return self.state()

    async def _run(self, chosen: List[tuple], modules: List[Poller], start: float, interval: float) -> None:
        loop = asyncio.get_running_loop()
        origin = loop.time()
        index = 0
        seen = {p.address: p.state for p in modules}
        try:
            while True:
                for p in modules:  # lost and back, as the poller saw them
                    if p.state != seen[p.address] and p.state in ("ok", "silent"):
                        now = time.time()
                        self._writer.event("back" if p.state == "ok" else "lost", utc=_utc(now),
                                           seconds=now - start, module=module_id(p))
                        seen[p.address] = p.state
                values: Dict[str, Any] = {}
                for p, c in chosen:
                    value = p.values.get(c) if p.state == "ok" else None
                    values[f"{module_id(p)}.{c}"] = value if isinstance(value, (int, float)) else None
                status = {module_id(p): ("ok" if p.state == "ok" else p.word) for p in modules}
                when = max((p.reading_time for p in modules), default=time.time()) or time.time()
                self._writer.row(utc=_utc(when), seconds=when - start, index=index, values=values, status=status)
                self.rows += 1
                index += 1
                # Absolute deadlines: an interval that could not be served at
                # all leaves its index out, so the gap shows in the file.
                current = int((loop.time() - origin) / interval)
                if current > index:
                    index = current
                await asyncio.sleep(max(0.0, origin + index * interval - loop.time()))
        except asyncio.CancelledError:
            pass
        except Exception as failure:  # a full disk, say: the file keeps what was written
            self.error = str(failure)

    async def stop(self) -> Dict[str, Any]:
        task, self._task = self._task, None
        if task is not None:
            task.cancel()
            await asyncio.gather(task, return_exceptions=True)
        if self._writer is not None:
            try:
                now = time.time()
                self._writer.event("stop", utc=_utc(now), seconds=now - self._start, reason="end")
            except Exception:
                pass
            self._writer.close()
            self._writer = None
        return self.state()
