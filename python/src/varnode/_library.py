"""Loading libvarnode and declaring the prototypes of its 36 functions.

ctypes calls through a ``CDLL`` release the GIL for the length of each call,
so a stream that takes seconds leaves every other Python thread running.
"""
from __future__ import annotations

import atexit
import ctypes
import ipaddress
import os
import sys
import threading
from ctypes import POINTER, byref, c_bool, c_char_p, c_float, c_int64, c_uint8, c_uint16, c_uint32
from typing import Callable, Dict, List, Optional

from .errors import BY_CODE, CODE_NAMES, Error

ENVIRONMENT = "VARNODE_LIBRARY"


def loader_names() -> List[str]:
    """The names handed to the system's loader, for this platform."""
    if sys.platform == "win32":
        return ["varnode.dll"]
    if sys.platform == "darwin":
        return ["libvarnode.2.dylib"]
    return ["libvarnode.so.2"]


def load() -> ctypes.CDLL:
    """Load the library named by VARNODE_LIBRARY, else by the system's loader.

    A path in VARNODE_LIBRARY is the only candidate when it is set, so that a
    build under test is never silently replaced by an installed library.
    """
    tried = []
    explicit = os.environ.get(ENVIRONMENT, "")
    candidates = [explicit] if explicit else loader_names()
    for name in candidates:
        try:
            return ctypes.CDLL(name)
        except OSError as failure:
            origin = f"{ENVIRONMENT}={name}" if explicit else f"{name} through the system loader"
            tried.append(f"  {origin}: {failure}")
    hint = (
        f"unset {ENVIRONMENT} to use the installed library"
        if explicit
        else f"install libvarnode, or set {ENVIRONMENT} to the path of libvarnode"
    )
    raise ImportError("varnode: cannot load the varnode C library; tried\n" + "\n".join(tried) + "\n" + hint)


u8p, u16p, u32p = POINTER(c_uint8), POINTER(c_uint16), POINTER(c_uint32)
f32p, i64p = POINTER(c_float), POINTER(c_int64)
text = c_char_p  # output buffers are made with ctypes.create_string_buffer

# argument types of every export; each returns uint8.
PROTOTYPES = {
    "get_driver": [text, u32p, text, u32p, u32p],
    "find": [u32p, u32p, u32p, c_uint32],
    "get_info": [c_uint32,
                 text, u32p, text, u32p, text, u32p, u32p, text, u32p, text, u32p,
                 u32p, u32p, text, u32p, text, u32p, u32p, u32p, u32p, u32p, u32p, u32p,
                 u8p, u32p, u32p, u32p, u8p,
                 text, u32p, text, u32p, text, u32p, text, u32p],
    "get_status": [c_uint32, text, u32p, text, u32p, text, u32p, f32p, f32p, f32p, f32p, u32p, u8p],
    "configure": [c_uint32, c_char_p, c_uint32, c_uint8, c_uint32, c_uint32, c_uint32],
    "burn": [c_uint32, c_char_p, c_uint32],
    "reset": [c_uint32],
    "get_timeout": [c_uint32, u16p],
    "set_timeout": [c_uint32, c_uint16],
    "qu01_enable": [c_uint32, u8p, c_uint8],
    "qu01_disable": [c_uint32, u8p, c_uint8],
    "qu01_clear": [c_uint32, u8p, c_uint8],
    "qu01_set_mode": [c_uint32, u8p, c_uint8, u8p, c_uint8],
    "qu01_read": [c_uint32, u8p, c_uint8, i64p, u8p, i64p],
    "we01_control": [c_uint32, u8p, c_uint8, f32p, c_uint8],
    "ks01_measure": [c_uint32, u8p, c_uint8, f32p, u8p],
    "hx01_set_sensor": [c_uint32, u8p, c_uint8, u8p, c_uint8],
    "hx01_set_frequency": [c_uint32, c_uint16],
    "hx01_measure": [c_uint32, u8p, c_uint8, f32p, u8p],
    "hx02_set_sensor": [c_uint32, u8p, c_uint8, u8p, c_uint8, f32p, c_uint8, f32p, c_uint8, f32p, c_uint8],
    "hx02_set_frequency": [c_uint32, c_uint16],
    "hx02_measure": [c_uint32, u8p, c_uint8, f32p, u8p],
}
for _family in ("kl01", "kl02"):
    # bool arrays cross as bytes: the library reads any non-zero byte as set.
    PROTOTYPES[f"{_family}_set_direction"] = [c_uint32, u8p, c_uint8, POINTER(c_bool), c_uint8]
    PROTOTYPES[f"{_family}_write"] = [c_uint32, u8p, c_uint8, POINTER(c_bool), c_uint8]
    PROTOTYPES[f"{_family}_read"] = [c_uint32, u8p, c_uint8, POINTER(c_bool), u8p]
for _family in ("ks01", "ks02"):
    PROTOTYPES[f"{_family}_write"] = [c_uint32, u8p, c_uint8, POINTER(c_bool), c_uint8]
for _family in ("ra01", "re01"):
    PROTOTYPES[f"{_family}_set_frequency"] = [c_uint32, c_uint16]
    PROTOTYPES[f"{_family}_stop"] = [c_uint32]
    PROTOTYPES[f"{_family}_measure"] = [c_uint32, u8p, c_uint8, c_uint32, c_float, f32p, u32p]

library = load()
for _name, _arguments in PROTOTYPES.items():
    _function = getattr(library, _name)
    _function.argtypes = _arguments
    _function.restype = c_uint8


_FAMILIES = ("kl01", "kl02", "ks01", "ks02", "qu01", "ra01", "re01", "we01", "hx01", "hx02")
_ADDRESSED = ("get_info", "get_status", "reset", "burn", "get_timeout", "set_timeout")


def _kind(address: int) -> Optional[str]:
    """The kind a module's identity names (text_2), or None when it does not answer."""
    texts = [ctypes.create_string_buffer(256) for _ in range(11)]
    sizes = [c_uint32(256) for _ in range(11)]
    numbers = [c_uint32() for _ in range(15)]
    mac, flag = (c_uint8 * 6)(), c_uint8()
    t = [(texts[i], byref(sizes[i])) for i in range(11)]
    n = [byref(x) for x in numbers]
    code = library.get_info(address, *t[0], *t[1], *t[2], n[0], *t[3], *t[4], n[1], n[2], *t[5], *t[6],
                            n[3], n[4], n[5], n[6], n[7], n[8], mac, n[9], n[10], n[11], byref(flag),
                            *t[7], *t[8], *t[9], *t[10])
    return texts[1].raw[: sizes[1].value].decode("utf-8", "replace") if code == 0 else None


def cause(code: int, name: str, address: Optional[int]) -> Optional[str]:
    """Why a call failed, as far as asking the module finds out.

    The same findings, in the same words, as the varnode tool's explain() in
    tools/cli/main.cpp: keep the two alike.
    """
    if address is None:
        return None
    family = name.split("_", 1)[0]
    where = str(ipaddress.IPv4Address(address))
    streams = family in ("ra01", "re01")
    if family in _FAMILIES and code == 2:
        expected = family.upper()
        kind = _kind(address)
        if kind is not None and kind != expected:
            return f"{where} answers as a {kind}, not a {expected}"
        if kind is not None and family in ("hx01", "hx02"):
            return ("a listed channel has no sensor, or a reading the library cannot convert "
                    f"(see {family.upper()}.set_sensor)")
    if streams and code == 8:
        return f"the module is busy: a measurement may still be streaming; {family.upper()}('{where}').stop() ends it"
    if streams and code == 4 and address >> 24 == 127:
        return ("streams cannot come from a loopback address; run the rack with 'varnode-sim --netns' and "
                "Python in its namespace")
    if code == 6:
        ms = c_uint16()
        if library.get_timeout(address, byref(ms)) != 0:
            return None
        if streams:
            return (f"no stream data from {where} for {ms.value} ms: the module stopped streaming, "
                    "or a datagram was lost")
        return f"{where} did not answer within {ms.value} ms"
    return None


def _raise(code: int, name: str, address: Optional[int]) -> None:
    found = cause(code, name, address)
    message = f"{CODE_NAMES.get(code, 'unknown result')}: {found}" if found else None
    raise BY_CODE.get(code, Error)(name, message, code=code)


def call(name: str, *arguments: object) -> None:
    """Call export `name`; a result code other than 0 raises its exception,
    whose message names the cause when asking the module finds one."""
    function: Callable[..., int] = getattr(library, name)
    code = function(*arguments)
    if code != 0:
        addressed = name.split("_", 1)[0] in _FAMILIES or name in _ADDRESSED
        _raise(code, name, arguments[0] if addressed else None)  # type: ignore[arg-type]


# Stops still being sent for streams that Ctrl-C interrupted, by address:
# the next measurement there waits for its stop to have taken effect.
_stopping: Dict[int, threading.Thread] = {}
_stopping_lock = threading.Lock()


def _keep_stopping(stop: Callable[[int], int], address: int, worker: threading.Thread) -> None:
    # A stop could overtake the measure request it is meant to end, so it is
    # sent again every second until the library call has returned.
    while worker.is_alive():
        stop(address)
        worker.join(1.0)


def wait_for_stop(address: int) -> None:
    """Wait until a stream that Ctrl-C interrupted at `address` has ended."""
    with _stopping_lock:
        pending = _stopping.get(address)
    if pending is not None:
        pending.join()


@atexit.register
def _finish_stops() -> None:
    with _stopping_lock:
        pending = list(_stopping.values())
    for thread in pending:
        thread.join(5.0)


def call_interruptible(name: str, stop_name: str, address: int, *arguments: object) -> None:
    """call() for a stream that may run for minutes, so that Ctrl-C ends it.

    The library call runs on a worker thread while this one waits. Ctrl-C
    sends the module's stop at once and raises KeyboardInterrupt; stops are
    sent again every second, from a background thread, until the library
    call has returned, and the next measurement on the address waits for
    that. Only the main thread receives Ctrl-C: elsewhere this is call().
    """
    if threading.current_thread() is not threading.main_thread():
        return call(name, address, *arguments)
    wait_for_stop(address)
    function: Callable[..., int] = getattr(library, name)
    stop: Callable[[int], int] = getattr(library, stop_name)
    outcome: List[int] = []
    worker = threading.Thread(target=lambda: outcome.append(function(address, *arguments)),
                              name=f"varnode {name}", daemon=True)
    worker.start()
    try:
        while worker.is_alive():
            worker.join(0.1)
    except KeyboardInterrupt:
        stop(address)
        stopper = threading.Thread(target=_keep_stopping, args=(stop, address, worker),
                                   name=f"varnode {stop_name}", daemon=True)
        with _stopping_lock:
            _stopping[address] = stopper
        stopper.start()
        raise
    if outcome and outcome[0] != 0:
        _raise(outcome[0], name, address)
