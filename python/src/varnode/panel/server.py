"""The panel's HTTP and WebSocket server (aiohttp)."""
from __future__ import annotations

import asyncio
import concurrent.futures
import ipaddress
import json
import math
import os
import secrets
from typing import Any, Dict, List, Optional, Set

from aiohttp import WSMsgType, web

from .. import families
from ..device import find
from ..errors import Error
from .poller import CHANNELS, FREQUENCIES, HX01_NAMES, HX02_NAMES, Poller, module_for
from .recorder import Recorder

STATIC = os.path.join(os.path.dirname(__file__), "static")
QUEUE_LIMIT = 64  # messages waiting for one slow tab before its oldest readings are dropped


class Settings:
    """How the panel serves: where it listens, who may change what.

    :param str host: the address to listen on; on loopback the names
        127.0.0.1, localhost and [::1] are accepted in the Host header too.
    :param int port: the TCP port.
    :param token: the token every change must carry, or None for none.
    :type token: str or None
    :param bool read_only: serve no controls, only readings.
    :param float interval: seconds between two readings of a module.
    :param str record_dir: where recordings are written.
    :param allowed_hosts: further names the page is reached by.
    :type allowed_hosts: list[str] or None
    :param bool discover: look for modules when the panel starts.
    """

    def __init__(self, host: str = "127.0.0.1", port: int = 8470, token: Optional[str] = None,
                 read_only: bool = False, interval: float = 0.25, record_dir: str = ".",
                 allowed_hosts: Optional[List[str]] = None, discover: bool = True) -> None:
        self.host, self.port, self.token, self.read_only = host, port, token, read_only
        self.interval, self.record_dir, self.discover = interval, record_dir, discover
        names = {host, "127.0.0.1", "localhost", "[::1]"} if _is_loopback(host) else {host}
        names |= set(allowed_hosts or [])
        self.hosts: Set[str] = {f"{n}:{port}" for n in names} | ({*names} if port == 80 else set())
        self.origins: Set[str] = {f"http://{h}" for h in self.hosts}


def _is_loopback(host: str) -> bool:
    try:
        return ipaddress.ip_address(host.strip("[]")).is_loopback
    except ValueError:
        return host == "localhost"


class Panel:
    """The rack as the panel knows it: one Poller per module.

    :param Settings settings: the panel's settings.
    """

    def __init__(self, settings: Settings) -> None:
        self.settings = settings
        self.pollers: Dict[str, Poller] = {}
        self.pool = concurrent.futures.ThreadPoolExecutor(max_workers=48, thread_name_prefix="varnode-panel")
        self.recorder = Recorder(settings.record_dir)
        self.sockets: Set["Client"] = set()
        self.scanning = False

    async def scan(self) -> List[str]:
        """Find the modules a broadcast reaches and add each (a coroutine).

        :returns: the addresses found.
        :rtype: list[str]
        :raises varnode.NetworkError: no socket could be opened or the broadcast not sent.
        :raises varnode.Error: adding a module failed, as :meth:`add` raises.
        """
        self.scanning = True
        self.broadcast({"type": "scan", "scanning": True})
        try:
            found = await asyncio.get_running_loop().run_in_executor(self.pool, find)
        finally:
            self.scanning = False
        for address in found:
            await self.add(str(address))
        self.broadcast({"type": "scan", "scanning": False})
        return [str(a) for a in found]

    async def add(self, address: str) -> Poller:
        """Start polling the module at `address`, once per address (a coroutine).

        :param str address: the module's address.
        :returns: its poller.
        :raises TypeError: `address` is of another type.
        :raises varnode.ParameterError: `address` is no IPv4 address, or names no module.
        :raises varnode.FailedError: the module answered its identity request wrongly.
        :raises varnode.NetworkError: a socket could not be opened or the request not sent.
        :raises varnode.TimeoutError: the module did not answer.
        """
        if address in self.pollers:
            return self.pollers[address]
        probe = families.Module(address)  # refuses a bad address before anything is sent
        info = await asyncio.get_running_loop().run_in_executor(self.pool, probe.info)
        kind = info.text_2 if info.text_2 in families.FAMILIES else "unknown"
        key = str(probe.address)
        if key in self.pollers:
            return self.pollers[key]
        poller = Poller(module_for(kind, key), kind, self.pool, self.settings.interval)
        poller.listeners.append(self._relay)
        self.pollers[key] = poller
        poller.start()
        return poller

    def _relay(self, message: Dict[str, Any]) -> None:
        for client in list(self.sockets):
            client.offer(message)

    def broadcast(self, message: Dict[str, Any]) -> None:
        """Offer `message` to every open tab, even a slow one.

        :param dict message: a JSON-able message.
        """
        for client in list(self.sockets):
            client.offer(message, always=True)

    def rack(self) -> List[Dict[str, Any]]:
        """Every module's summary, by ascending address.

        :rtype: list[dict]
        """
        return [p.summary() for p in sorted(self.pollers.values(), key=lambda p: ipaddress.IPv4Address(p.address))]

    async def close(self) -> None:
        """Stop recording and every poller (a coroutine)."""
        await self.recorder.stop()
        for p in self.pollers.values():
            await p.close()
        self.pool.shutdown(wait=False, cancel_futures=True)


class Client:
    """One WebSocket: what it watches, and a bounded queue so one slow tab
    never holds up the pollers or the other tabs."""

    def __init__(self, socket: web.WebSocketResponse) -> None:
        self.socket = socket
        self.watching: Set[str] = set()  # addresses, or "rack"
        self.queue: asyncio.Queue = asyncio.Queue()
        self.dropped = 0

    def offer(self, message: Dict[str, Any], always: bool = False) -> None:
        address = message.get("address")
        if not always:
            wanted = address in self.watching or ("rack" in self.watching and message.get("type") == "module")
            if not wanted:
                return
            if address not in self.watching:  # the rack page needs the summary only
                message = {"type": "summary", "address": address, "summary": message["state"] and
                           {k: message["state"][k] for k in ("address", "kind", "serial", "name", "state",
                                                              "last_seen", "error", "status_ok", "out_of_range",
                                                              "requests")}, "event": message.get("event")}
        if self.queue.qsize() >= QUEUE_LIMIT:
            try:
                self.queue.get_nowait()
                self.dropped += 1
            except asyncio.QueueEmpty:
                pass
        self.queue.put_nowait(message)


def _json(data: Any, status: int = 200) -> web.Response:
    return web.json_response(data, status=status, dumps=lambda d: json.dumps(d, allow_nan=False))


def _refuse(status: int, why: str) -> web.Response:
    return _json({"error": why}, status)


@web.middleware
async def guard(request: web.Request, handler: Any) -> web.StreamResponse:
    """Host on every request, Origin where a browser sends one, the token on
    every change: a page of another site, or one reached through a rebound
    name, cannot drive the modules."""
    s: Settings = request.app["settings"]
    if request.headers.get("Host", "") not in s.hosts:
        return _refuse(421, "this Host is not served here")
    origin = request.headers.get("Origin")
    if origin is not None and origin not in s.origins:
        return _refuse(403, "cross-origin requests are refused")
    if request.method not in ("GET", "HEAD"):
        if s.read_only:
            return _refuse(403, "the panel is read-only")
        if request.content_type != "application/json":
            return _refuse(415, "send JSON")
        if s.token is not None:
            given = request.headers.get("Authorization", "")
            if not secrets.compare_digest(given.encode(), f"Bearer {s.token}".encode()):
                return _refuse(401, "a token is needed (printed when the panel started)")
    response = await handler(request)
    response.headers.setdefault("X-Content-Type-Options", "nosniff")
    response.headers.setdefault("X-Frame-Options", "DENY")
    response.headers.setdefault("Cache-Control", "no-store")
    return response


async def _body(request: web.Request) -> Dict[str, Any]:
    try:
        body = await request.json()
    except (ValueError, UnicodeDecodeError):
        raise web.HTTPBadRequest(text=json.dumps({"error": "the body is not JSON"}), content_type="application/json")
    if not isinstance(body, dict):
        raise web.HTTPBadRequest(text=json.dumps({"error": "the body is a JSON object"}),
                                 content_type="application/json")
    return body


def _poller(request: web.Request) -> Poller:
    panel: Panel = request.app["panel"]
    poller = panel.pollers.get(request.match_info["address"])
    if poller is None:
        raise web.HTTPNotFound(text=json.dumps({"error": "no such module in the rack"}),
                               content_type="application/json")
    return poller


def _flags(value: Any) -> Dict[int, bool]:
    if not isinstance(value, dict) or not all(isinstance(v, bool) for v in value.values()):
        raise ValueError("give {channel: true|false}")
    return {int(k): v for k, v in value.items()}


def _channel_list(value: Any) -> List[int]:
    if not isinstance(value, list) or not all(isinstance(c, int) and not isinstance(c, bool) for c in value):
        raise ValueError("give a list of channel numbers")
    return value


def _numbers(value: Any) -> Dict[int, float]:
    if not isinstance(value, dict):
        raise ValueError("give {channel: number}")
    out = {}
    for k, v in value.items():
        if isinstance(v, bool) or not isinstance(v, (int, float)) or not math.isfinite(v):
            raise ValueError(f"channel {k}: a finite number")
        out[int(k)] = float(v)
    return out


# Each operation: the families that have it, and what it does.
async def _op(poller: Poller, op: str, body: Dict[str, Any]) -> Dict[str, Any]:
    m: Any = poller.module
    kind = poller.kind
    if op == "timeout":
        ms = body.get("milliseconds")
        if isinstance(ms, bool) or not isinstance(ms, int) or not 1 <= ms <= 65535:
            raise ValueError("milliseconds: 1 to 65535")
        m.timeout = ms
        return {"timeout": ms}
    if op == "write" and kind in ("KL01", "KL02", "KS01", "KS02"):
        levels = _flags(body.get("channels"))
        await poller.call(m.write, levels)
        if kind in ("KS01", "KS02"):
            poller.outputs.update(levels)
        return {}
    if op == "direction" and kind in ("KL01", "KL02"):
        directions = _flags(body.get("channels"))
        await poller.call(m.set_direction, directions)
        poller.directions.update(directions)
        return {}
    if op in ("enable", "disable", "clear") and kind == "QU01":
        await poller.call(getattr(m, op), _channel_list(body.get("channels")))
        return {}
    if op == "mode" and kind == "QU01":
        modes = body.get("channels")
        if not isinstance(modes, dict) or not all(isinstance(v, int) and not isinstance(v, bool)
                                                  for v in modes.values()):
            raise ValueError("give {channel: mode}")
        await poller.call(m.set_mode, {int(k): v for k, v in modes.items()})
        return {}
    if op == "set" and kind == "WE01":
        volts = _numbers(body.get("channels"))
        await poller.call(m.control, volts)
        poller.outputs.update(volts)
        return {}
    if op == "sensor" and kind in ("HX01", "HX02"):
        sensors = body.get("channels")
        names = HX01_NAMES if kind == "HX01" else HX02_NAMES
        if not isinstance(sensors, dict) or not all(isinstance(v, str) and v in names.values()
                                                    for v in sensors.values()):
            raise ValueError(f"give {{channel: sensor}}, sensors: {', '.join(names.values())}")
        chosen = {int(k): v for k, v in sensors.items()}
        await poller.call(m.set_sensor, chosen)
        poller.sensors.update(chosen)
        poller.no_sensor -= set(chosen)
        return {}
    if op == "frequency" and kind in ("HX01", "HX02", "RA01", "RE01"):
        frequency = body.get("frequency")
        if frequency not in FREQUENCIES or isinstance(frequency, bool):
            raise ValueError(f"frequency: one of {', '.join(map(str, FREQUENCIES))}")
        await poller.call(m.set_frequency, frequency)
        return {}
    if op == "start" and kind in ("RA01", "RE01"):
        channels = _channel_list(body.get("channels"))
        samples, frequency = body.get("samples"), body.get("frequency")
        last = CHANNELS[kind]
        if not channels or len(set(channels)) != len(channels) or not all(1 <= c <= last for c in channels):
            raise ValueError(f"channels: distinct, 1 to {last}")
        if isinstance(samples, bool) or not isinstance(samples, int) or not 1 <= samples <= 100_000:
            raise ValueError("samples per block: 1 to 100000")
        if frequency not in FREQUENCIES or isinstance(frequency, bool):
            raise ValueError(f"frequency: one of {', '.join(map(str, FREQUENCIES))}")
        await poller.start_stream(channels, samples, frequency)
        return {"stream": poller.stream}
    if op == "stop" and kind in ("RA01", "RE01"):
        await poller.stop_stream()
        return {}
    raise web.HTTPNotFound(text=json.dumps({"error": f"{kind} has no operation {op!r}"}),
                           content_type="application/json")


routes = web.RouteTableDef()


@routes.get("/")
async def index(request: web.Request) -> web.StreamResponse:
    return web.FileResponse(os.path.join(STATIC, "index.html"))


@routes.get("/api/config")
async def config(request: web.Request) -> web.Response:
    s: Settings = request.app["settings"]
    return _json({"read_only": s.read_only, "token_needed": s.token is not None, "interval": s.interval,
                  "frequencies": list(FREQUENCIES), "channels": CHANNELS,
                  "sensors": {"HX01": list(HX01_NAMES.values()), "HX02": list(HX02_NAMES.values())}})


@routes.get("/api/modules")
async def modules(request: web.Request) -> web.Response:
    panel: Panel = request.app["panel"]
    return _json({"modules": panel.rack(), "scanning": panel.scanning})


@routes.get("/api/modules/{address}")
async def module(request: web.Request) -> web.Response:
    return _json(_poller(request).snapshot())


@routes.get("/api/modules/{address}/block.csv")
async def block_csv(request: web.Request) -> web.Response:
    poller = _poller(request)
    text = poller.block_csv()
    if text is None:
        return _refuse(404, "no block yet")
    name = f"{poller.kind.lower()}-{poller.info.get('serial', 0)}-block{poller.last_block['block']}.csv"  # type: ignore
    return web.Response(text=text, content_type="text/csv",
                        headers={"Content-Disposition": f'attachment; filename="{name}"'})


@routes.post("/api/scan")
async def scan(request: web.Request) -> web.Response:
    await _body(request)
    panel: Panel = request.app["panel"]
    try:
        found = await panel.scan()
    except Error as failure:
        return _refuse(502, str(failure))
    return _json({"found": found, "modules": panel.rack()})


@routes.post("/api/modules")
async def add(request: web.Request) -> web.Response:
    body = await _body(request)
    panel: Panel = request.app["panel"]
    address = body.get("address")
    if not isinstance(address, str):
        return _refuse(400, "give the module's address")
    try:
        poller = await panel.add(address.strip())
    except Error as failure:
        return _refuse(400 if failure.code == 3 else 502, str(failure))
    panel.broadcast({"type": "rack", "modules": panel.rack()})
    return _json(poller.summary())


@routes.post("/api/modules/{address}/{op}")
async def operate(request: web.Request) -> web.Response:
    poller = _poller(request)
    body = await _body(request)
    try:
        result = await _op(poller, request.match_info["op"], body)
    except (ValueError, TypeError) as failure:
        return _refuse(400, str(failure))
    except Error as failure:
        return _refuse(400 if failure.code == 3 else 502, str(failure))
    poller.kick()
    return _json({"ok": True, **result})


@routes.get("/api/recording")
async def recording(request: web.Request) -> web.Response:
    return _json(request.app["panel"].recorder.state())


@routes.post("/api/recording/start")
async def record_start(request: web.Request) -> web.Response:
    body = await _body(request)
    panel: Panel = request.app["panel"]
    channels = body.get("channels")
    if not isinstance(channels, list) or not all(isinstance(c, dict) for c in channels):
        return _refuse(400, "channels: a list of {address, channel}")
    try:
        interval = float(body.get("interval", 1.0))
        state = panel.recorder.start(panel.pollers, channels, str(body.get("prefix", "panel")), interval,
                                     str(body.get("format", "csv")))
    except (ValueError, TypeError) as failure:
        return _refuse(400, str(failure))
    except OSError as failure:
        return _refuse(500, f"cannot write the file: {failure.strerror}")
    return _json(state)


@routes.post("/api/recording/stop")
async def record_stop(request: web.Request) -> web.Response:
    await _body(request)
    return _json(await request.app["panel"].recorder.stop())


@routes.get("/ws")
async def websocket(request: web.Request) -> web.StreamResponse:
    s: Settings = request.app["settings"]
    # Browsers always send Origin with a WebSocket; one from elsewhere, or
    # none at all, is refused before the upgrade.
    if request.headers.get("Origin") not in s.origins:
        return _refuse(403, "cross-origin WebSocket refused")
    panel: Panel = request.app["panel"]
    socket = web.WebSocketResponse(heartbeat=20, max_msg_size=64 * 1024)
    await socket.prepare(request)
    client = Client(socket)
    panel.sockets.add(client)
    client.queue.put_nowait({"type": "hello", "rack": panel.rack(), "recording": panel.recorder.state()})

    async def send() -> None:
        while True:
            message = await client.queue.get()
            await socket.send_str(json.dumps(message, allow_nan=False))

    sender = asyncio.get_running_loop().create_task(send())
    try:
        async for message in socket:
            if message.type != WSMsgType.TEXT:
                continue
            try:
                request_ = json.loads(message.data)
                watch = request_.get("watch")
            except (ValueError, AttributeError):
                continue
            if isinstance(watch, list) and len(watch) <= 1024 and all(isinstance(w, str) for w in watch):
                client.watching = set(watch)
                for address in watch:
                    poller = panel.pollers.get(address)
                    if poller is not None:
                        client.offer({"type": "module", "address": address, "state": poller.snapshot()})
    finally:
        sender.cancel()
        panel.sockets.discard(client)
    return socket


async def _recording_ticker(app: web.Application) -> None:
    panel: Panel = app["panel"]
    last = None
    while True:
        await asyncio.sleep(0.5)
        state = panel.recorder.state()
        if state != last:
            panel.broadcast({"type": "recording", **state})
            last = state


def make_app(settings: Settings, panel: Optional[Panel] = None) -> web.Application:
    """The panel's aiohttp application: its pages, JSON and WebSocket.

    :param Settings settings: how it serves.
    :param panel: the rack to serve; by default a new one for `settings`.
    :type panel: Panel or None
    :returns: the application, to run with ``aiohttp.web.run_app``.
    :rtype: aiohttp.web.Application
    """
    app = web.Application(middlewares=[guard], client_max_size=256 * 1024)
    app["settings"] = settings
    app["panel"] = panel or Panel(settings)
    app.add_routes(routes)
    app.router.add_static("/static/", STATIC, show_index=False, follow_symlinks=False)

    async def started(app: web.Application) -> None:
        app["ticker"] = asyncio.get_running_loop().create_task(_recording_ticker(app))
        if settings.discover:
            app["scan"] = asyncio.get_running_loop().create_task(app["panel"].scan())

    async def stopped(app: web.Application) -> None:
        for key in ("ticker", "scan"):
            if key in app:
                app[key].cancel()
        await app["panel"].close()

    async def closing(app: web.Application) -> None:
        # Open tabs would otherwise hold the shutdown for its whole grace time.
        for client in list(app["panel"].sockets):
            await client.socket.close(code=1001, message=b"the panel stops")

    app.on_startup.append(started)
    app.on_shutdown.append(closing)
    app.on_cleanup.append(stopped)
    return app


def new_token() -> str:
    """A fresh random token for :class:`Settings` (32 URL-safe characters)."""
    return secrets.token_urlsafe(24)
