"""One poller per module: reads its live values and status, and publishes
each reading to whoever listens (every browser tab, the recorder), so that
any number of tabs cause the traffic of one."""
from __future__ import annotations

import asyncio
import concurrent.futures
import math
import time
from typing import Any, Callable, Dict, List, Optional

import numpy

from .. import catalogue, families, log
from ..device import Module
from ..errors import ConfigurationError, Error, FailedError, NetworkError, ReservedError, TimeoutError

# Names by code: several spellings share a code (pt100, platinum); the first
# spelling of a code in the catalogue is the one shown.
HX01_NAMES: Dict[int, str] = {}
HX02_NAMES: Dict[int, str] = {}
for _table, _names in ((catalogue.HX01_SENSORS, HX01_NAMES), (catalogue.HX02_SENSORS, HX02_NAMES)):
    for _name, _sensor in _table.items():
        _names.setdefault(_sensor.code, _name)
CHANNELS = {kind: family.channels for kind, family in catalogue.FAMILIES.items()}
FREQUENCIES = catalogue.FREQUENCIES
# Result words by code, as the log format writes them.
WORDS = dict(enumerate(log.STATUS_WORDS))

STATUS_EVERY = 2.0  # seconds between status reads: items change slowly
SILENT_RETRY = 1.0  # seconds between tries while a module does not answer
BLOCK_KEEP = 1_000_000  # floats of the last block kept for the CSV download

Listener = Callable[[Dict[str, Any]], None]


def _number(value: float) -> Any:
    """A float as JSON can carry it: inf and NaN as strings."""
    if math.isnan(value):
        return None
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    return value


def _word(failure: Exception) -> str:
    return WORDS.get(getattr(failure, "code", 1), "error")


class Poller:
    """Polls one module on the event loop's executor; never raises."""

    def __init__(self, module: Module, kind: str, pool: concurrent.futures.Executor, interval: float) -> None:
        self.module = module
        self.kind = kind
        self.address = str(module.address)
        self.pool = pool
        self.interval = interval
        self.listeners: List[Listener] = []
        self.requests = 0  # calls that went to the module, for the page and the tests
        self.info: Dict[str, Any] = {}
        self.status: Dict[str, Any] = {"items": [], "ok": None}
        self.values: Dict[str, Any] = {}
        self.state = "new"  # new, ok, silent
        self.last_seen: Optional[float] = None
        self.last_error = ""
        self.word = "ok"  # the outcome of the latest reading, for the recorder
        self.reading_time = 0.0
        self.channels = CHANNELS.get(kind, 0)
        self.sensors: Dict[int, str] = {}  # as set through the panel: the module does not say
        self.no_sensor: set = set()
        self.directions: Dict[int, bool] = {}
        self.outputs: Dict[int, Any] = {}
        self.stream: Optional[Dict[str, Any]] = None
        self.last_block: Optional[Dict[str, Any]] = None
        self._block_data: Optional[numpy.ndarray] = None
        self._task: Optional[asyncio.Task] = None
        self._stream_task: Optional[asyncio.Task] = None
        self._wake = asyncio.Event()
        self._next_status = 0.0

    # ---- running

    def start(self) -> None:
        if self._task is None:
            self._task = asyncio.get_running_loop().create_task(self._run())

    async def close(self) -> None:
        tasks = [t for t in (self._task, self._stream_task) if t is not None]
        for task in tasks:
            task.cancel()
        await asyncio.gather(*tasks, return_exceptions=True)
        if self.stream is not None:
            try:
                await self.call(self.module.stop)  # type: ignore[attr-defined]
            except Error:
                pass

    async def call(self, function: Callable[..., Any], *arguments: Any) -> Any:
        self.requests += 1
        return await asyncio.get_running_loop().run_in_executor(self.pool, function, *arguments)

    def publish(self, message: Dict[str, Any]) -> None:
        for listener in list(self.listeners):
            listener(message)

    def summary(self) -> Dict[str, Any]:
        out_of_range = [i["name"] for i in self.status["items"] if i["in_range"] is False]
        return {"address": self.address, "kind": self.kind, "serial": self.info.get("serial"),
                "name": self.info.get("name", ""), "state": self.state, "last_seen": self.last_seen,
                "error": self.last_error, "status_ok": self.status["ok"], "out_of_range": out_of_range,
                "requests": self.requests}

    def snapshot(self) -> Dict[str, Any]:
        return {**self.summary(), "info": self.info, "status": self.status, "values": self.values,
                "sensors": {str(c): s for c, s in self.sensors.items()},
                "directions": {str(c): d for c, d in self.directions.items()},
                "outputs": {str(c): v for c, v in self.outputs.items()}, "stream": self.stream,
                "timeout": self.module.timeout, "channels": self.channels, "time": self.reading_time}

    def kick(self) -> None:
        """Read again now (after a command, so the page shows its effect at once)."""
        self._wake.set()

    async def _run(self) -> None:
        loop = asyncio.get_running_loop()
        deadline = loop.time()
        while True:
            try:
                await self._cycle()
            except asyncio.CancelledError:
                raise
            except Exception as failure:  # a fault of the panel's own must not end the poller
                self._failed(failure)
            pause = SILENT_RETRY if self.state == "silent" else self.interval
            deadline += pause
            now = loop.time()
            if deadline < now:  # fell behind: skip the readings missed rather than rush
                deadline = now
            self._wake.clear()
            try:
                await asyncio.wait_for(self._wake.wait(), deadline - now)
                deadline = loop.time()
            except asyncio.TimeoutError:
                pass

    async def _cycle(self) -> None:
        now = time.time()
        if not self.info:
            info = await self.call(self.module.info)
            self.info = {"maker": info.text_1, "kind": info.text_2, "description": info.text_3,
                         "serial": info.serial_number, "hardware": info.text_5, "firmware": info.text_7,
                         "mac": info.mac_address, "address": str(info.ip_address),
                         "netmask": str(info.address_19), "gateway": str(info.address_20), "name": info.text_22}
        if now >= self._next_status or self.state == "silent":
            try:
                await self._read_status()
            except ReservedError:
                pass  # busy with a stream: the stream itself shows it answers
            self._next_status = now + STATUS_EVERY
        if self.stream is None:
            await self._read_values()
        self._answered()

    async def _read_status(self) -> None:
        status = await self.call(self.module.status)
        self.status = {"ok": status.ok, "items": [
            {"name": i.name, "unit": i.text_2, "description": i.text_3, "value": _number(i.value),
             "lower": _number(i.lower_limit), "upper": _number(i.upper_limit), "in_range": i.in_range}
            for i in status.items]}

    async def _read_values(self) -> None:
        m: Any = self.module
        every = list(range(1, self.channels + 1))
        values: Dict[str, Any] = {}
        if self.kind in ("KL01", "KL02"):
            levels = await self.call(m.read, every)
            values = {str(c): int(v) for c, v in zip(every, levels)}
        elif self.kind == "KS01":
            measured = await self.call(m.measure, every)
            values = {str(c): _number(v) for c, v in zip(every, measured)}
        elif self.kind == "QU01":
            counts, reference = await self.call(m.read, every)
            values = {str(c): v for c, v in zip(every, counts)}
            values["reference"] = reference
        elif self.kind in ("HX01", "HX02"):
            values = await self._read_temperatures(every)
        self.values = values
        self.reading_time = time.time()
        self.word = "ok"

    async def _read_temperatures(self, every: List[int]) -> Dict[str, Any]:
        m: Any = self.module
        chosen = [c for c in every if c not in self.no_sensor]
        values: Dict[str, Any] = {}
        if chosen:
            try:
                for c, v in zip(chosen, await self.call(m.measure, chosen)):
                    values[str(c)] = _number(v)
                for c in self.no_sensor:
                    values[str(c)] = {"error": "configuration"}
                return values
            except (ConfigurationError, FailedError):
                pass  # one channel spoils the call: learn which, one by one
        self.no_sensor.clear()
        for c in every:
            try:
                values[str(c)] = _number((await self.call(m.measure, [c]))[0])
            except (ConfigurationError, FailedError) as failure:
                self.no_sensor.add(c)
                values[str(c)] = {"error": _word(failure)}
        return values

    def _answered(self) -> None:
        was = self.state
        self.state = "ok"
        self.last_seen = time.time()
        self.last_error = ""
        message = {"type": "module", "address": self.address, "state": self.snapshot()}
        if was == "silent":
            message["event"] = "back"
        self.publish(message)

    def _failed(self, failure: Exception) -> None:
        self.word = _word(failure)
        self.last_error = str(failure)
        if isinstance(failure, (TimeoutError, NetworkError)) or not isinstance(failure, Error):
            was = self.state
            self.state = "silent"
            self.values = {}
            message = {"type": "module", "address": self.address, "state": self.snapshot()}
            if was != "silent":
                message["event"] = "lost"
            self.publish(message)
        else:
            self.publish({"type": "module", "address": self.address, "state": self.snapshot()})

    # ---- streams (RA01, RE01)

    async def start_stream(self, channels: List[int], samples: int, frequency: int) -> None:
        if self.stream is not None:
            raise ReservedError("measure", "a stream is running: stop it first")
        await self.call(self.module.set_frequency, frequency)  # type: ignore[attr-defined]
        self.stream = {"channels": channels, "samples": samples, "frequency": frequency, "blocks": 0}
        self._stream_task = asyncio.get_running_loop().create_task(self._streaming())

    async def stop_stream(self) -> None:
        task, self._stream_task = self._stream_task, None
        if task is not None:
            task.cancel()
        self.stream = None
        await self.call(self.module.stop)  # type: ignore[attr-defined]

    async def _streaming(self) -> None:
        s = self.stream
        assert s is not None
        m: Any = self.module
        buffers = [numpy.empty((s["samples"], len(s["channels"])), dtype=numpy.float32) for _ in range(2)]
        turn = 0
        while self.stream is s:
            out = buffers[turn]
            turn ^= 1
            started = time.time()
            try:
                await self.call(m.measure, s["channels"], s["samples"], float(s["frequency"]), out)
            except asyncio.CancelledError:
                raise
            except Exception as failure:
                self.stream = None
                self._failed(failure)
                self.publish({"type": "stream", "address": self.address, "stopped": str(failure)})
                return
            s["blocks"] += 1
            self._block_data = out
            finite = numpy.where(numpy.isfinite(out), out, numpy.nan)
            with numpy.errstate(all="ignore"):
                stats = [{"min": _number(float(numpy.nanmin(col))), "mean": _number(float(numpy.nanmean(col))),
                          "max": _number(float(numpy.nanmax(col)))} for col in finite.T]
            self.last_block = {"time": started, "channels": s["channels"], "frequency": s["frequency"],
                               "samples": s["samples"], "block": s["blocks"], "stats": stats}
            self._answered()
            # Rounded to the float32's own precision: the page gets every sample, half the text.
            data = [[float(f"{v:.7g}") if math.isfinite(v) else None for v in col.tolist()] for col in out.T]
            self.publish({"type": "block", "address": self.address, **self.last_block, "data": data})

    def block_csv(self) -> Optional[str]:
        block, data = self.last_block, self._block_data
        if block is None or data is None:
            return None
        lines = ["seconds," + ",".join(f"{self.kind.lower()}.{c}" for c in block["channels"])]
        step = 1.0 / block["frequency"]
        for i, row in enumerate(data.tolist()):
            lines.append(f"{i * step:.6f}," + ",".join(f"{v:.9g}" for v in row))
        return "\n".join(lines) + "\n"


def module_for(kind: str, address: str) -> Module:
    return families.FAMILIES.get(kind, Module)(address)
