"""Loading libvarnode and declaring the prototypes of its 36 functions.

ctypes calls through a ``CDLL`` release the GIL for the length of each call,
so a stream that takes seconds leaves every other Python thread running.
"""
from __future__ import annotations

import ctypes
import os
import sys
from ctypes import POINTER, c_bool, c_char_p, c_float, c_int64, c_uint8, c_uint16, c_uint32
from typing import Callable, List

from .errors import raise_for

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


def call(name: str, *arguments: object) -> None:
    """Call export `name`; a result code other than 0 raises its exception."""
    function: Callable[..., int] = getattr(library, name)
    code = function(*arguments)
    if code != 0:
        raise_for(code, name)
