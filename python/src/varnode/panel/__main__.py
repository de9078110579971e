"""Command line of varnode-panel."""
from __future__ import annotations

import argparse
import ipaddress
import os
import socket
import sys
from typing import List, Optional

from aiohttp import web

from .server import STATIC, Settings, make_app, new_token


def _listen(text: str) -> tuple:
    host, _, port = text.rpartition(":")
    try:
        ipaddress.ip_address(host.strip("[]"))
        number = int(port)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not ADDRESS:PORT")
    if not 1 <= number <= 65535:
        raise argparse.ArgumentTypeError(f"port {number} is outside 1 to 65535")
    return host, number


def _enter_namespace(name: str) -> None:
    """Moves this process's module traffic into network namespace `name`
    (ip netns): threads started from here on live there."""
    import ctypes

    libc = ctypes.CDLL(None, use_errno=True)
    clone_newnet = 0x40000000
    path = name if "/" in name else f"/run/netns/{name}"
    descriptor = os.open(path, os.O_RDONLY | os.O_CLOEXEC)
    try:
        if libc.setns(descriptor, clone_newnet) != 0:
            raise OSError(ctypes.get_errno(), f"cannot enter network namespace {name}")
    finally:
        os.close(descriptor)


def main(argv: Optional[List[str]] = None) -> int:
    """Run ``varnode-panel`` until it is stopped.

    :param argv: the command's arguments; None for ``sys.argv[1:]``.
    :type argv: list[str] or None
    :returns: the exit status, 0 or 1.
    :rtype: int
    :raises SystemExit: bad arguments (status 2).
    :raises OSError: the port cannot be bound.
    """
    parser = argparse.ArgumentParser(prog="varnode-panel", description="A web panel for a rack of varnode modules.")
    parser.add_argument("--port", type=int, default=8470, help="port on 127.0.0.1 (default 8470)")
    parser.add_argument("--listen", type=_listen, metavar="ADDR:PORT",
                        help="listen here instead, for other hosts: every change then needs the printed token")
    parser.add_argument("--allow-host", action="append", default=[], metavar="NAME",
                        help="another name the page is reached by (Host header); repeatable")
    parser.add_argument("--read-only", action="store_true", help="serve no controls: watch only")
    parser.add_argument("--interval", type=float, default=0.25, help="seconds between readings (default 0.25)")
    parser.add_argument("--record-dir", default=".", help="where recordings are written (default: here)")
    parser.add_argument("--no-scan", action="store_true", help="do not look for modules at start")
    parser.add_argument("--add", action="append", default=[], metavar="ADDRESS",
                        help="a module to show from the start (one a broadcast cannot reach); repeatable")
    parser.add_argument("--netns", metavar="NAME",
                        help="serve HTTP here but talk to the modules inside network namespace NAME (root)")
    args = parser.parse_args(argv)
    if not 0.05 <= args.interval <= 60:
        parser.error("--interval is 0.05 to 60 seconds")
    if args.listen:
        host, port = args.listen
        token: Optional[str] = new_token()
    else:
        if not 1 <= args.port <= 65535:
            parser.error("--port is 1 to 65535")
        host, port, token = "127.0.0.1", args.port, None
    if not os.path.exists(os.path.join(STATIC, "vendor", "uPlot.iife.min.js")):
        print("varnode-panel: the chart library is missing; run scripts/panel-assets.sh", file=sys.stderr)
        return 1
    settings = Settings(host=host, port=port, token=token, read_only=args.read_only, interval=args.interval,
                        record_dir=args.record_dir, allowed_hosts=args.allow_host, discover=not args.no_scan)
    listening = None
    if args.netns:
        # The HTTP socket is bound here, before the move: the page is reached
        # from this side, the modules only from the namespace's.
        listening = socket.socket(socket.AF_INET6 if ":" in host else socket.AF_INET, socket.SOCK_STREAM)
        listening.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listening.bind((host.strip("[]"), port))
        listening.listen(128)
        try:
            _enter_namespace(args.netns)
        except OSError as failure:
            print(f"varnode-panel: {failure}", file=sys.stderr)
            return 1
    app = make_app(settings)

    async def add_listed(app: web.Application) -> None:
        for address in args.add:
            try:
                await app["panel"].add(address)
            except Exception as failure:
                print(f"varnode-panel: {address}: {failure}", file=sys.stderr)

    app.on_startup.append(add_listed)
    shown = host if ":" not in host else f"[{host}]"
    url = f"http://{shown}:{port}/" + (f"#token={token}" if token else "")
    print(f"varnode-panel: open {url}", flush=True)
    if token:
        print(f"varnode-panel: token {token} (needed for every change; the URL above carries it)", flush=True)
    if listening is not None:
        web.run_app(app, sock=listening, print=None, access_log=None)
    else:
        web.run_app(app, host=host.strip("[]"), port=port, print=None, access_log=None)
    return 0


if __name__ == "__main__":
    sys.exit(main())
