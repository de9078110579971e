"""Control varnode Ethernet I/O modules from Python.

A binding of the C library libvarnode through ctypes. Find modules with
:func:`find`, then talk to one through the class of its family::

    import varnode
    for address in varnode.find():
        print(address, varnode.Module(address).info().text_2)
    hx01 = varnode.HX01("198.18.0.19")
    hx01.set_sensor({1: "K"})
    print(hx01.measure([1]))           # kelvin

Addresses are dotted text, host-order ints or ipaddress.IPv4Address. Every
failure raises a subclass of :class:`Error`, one per result code of the
library. The library is loaded from the path in the environment variable
VARNODE_LIBRARY when that is set, else by the system's loader
(libvarnode.so.2, libvarnode.2.dylib or varnode.dll). Calls release the GIL
while they wait, and every object may be used from any thread.
"""
from ._checks import Address
from .device import Driver, Info, Module, Status, StatusItem, configure, driver, find
from .errors import (AbortedError, ConfigurationError, Error, FailedError, NetworkError, NotFoundError,
                     ParameterError, ReservedError, TimeoutError)
from .families import HX01, HX01_SENSORS, HX02, HX02_SENSORS, KL01, KL02, KS01, KS02, QU01, RA01, RE01, WE01, \
    module_at

__version__ = "2.5.0"

__all__ = [
    "Address", "Driver", "Info", "Module", "Status", "StatusItem", "configure", "driver", "find", "module_at",
    "Error", "FailedError", "ParameterError", "NetworkError", "NotFoundError", "TimeoutError", "AbortedError",
    "ReservedError", "ConfigurationError",
    "KL01", "KL02", "KS01", "KS02", "QU01", "RA01", "RE01", "WE01", "HX01", "HX02", "HX01_SENSORS", "HX02_SENSORS",
]
