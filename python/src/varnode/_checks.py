"""Turning Python arguments into C values, refusing what the library would.

A value of the wrong type raises TypeError; a value the library would refuse
raises ParameterError, the exception of its result 3, before anything is sent.
"""
from __future__ import annotations

import ipaddress
import itertools
import math
import numbers
import struct
from typing import Any, Iterable, List, Mapping, Sequence, Tuple, TypeVar, Union

import numpy

from . import catalogue
from .errors import refuse

Address = Union[str, int, ipaddress.IPv4Address]
"""An IPv4 address: dotted text, a host-order integer (192.168.1.10 is
0xC0A8010A) or an ipaddress.IPv4Address."""

FREQUENCIES = catalogue.FREQUENCIES

T = TypeVar("T")


def type_name(value: object) -> str:
    return type(value).__name__


def integer(value: object, what: str, function: str) -> int:
    """An integer argument; bool counts as a flag, not a number."""
    if isinstance(value, (bool, numpy.bool_)) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{function}: {what} must be an integer, not {type_name(value)}")
    return int(value)


def bounded(value: object, lowest: int, highest: int, what: str, function: str) -> int:
    number = integer(value, what, function)
    if not lowest <= number <= highest:
        refuse(function, f"{what} {number} is outside {lowest} to {highest}")
    return number


def real(value: object, what: str, function: str) -> float:
    """A number that crosses as a C float (single precision)."""
    if isinstance(value, (bool, numpy.bool_)) or not isinstance(value, numbers.Real):
        raise TypeError(f"{function}: {what} must be a number, not {type_name(value)}")
    return single(float(value))


def single(value: float) -> float:
    """`value` rounded to single precision, as the library will see it."""
    try:
        return float(struct.unpack("f", struct.pack("f", value))[0])
    except OverflowError:
        return math.copysign(math.inf, value)


def flag(value: object, what: str, function: str) -> bool:
    if isinstance(value, (bool, numpy.bool_)):
        return bool(value)
    if isinstance(value, numbers.Integral):
        return int(value) != 0
    raise TypeError(f"{function}: {what} must be a bool, not {type_name(value)}")


def address(value: object, function: str) -> int:
    """A module address as the library's host-order uint32.

    0.0.0.0 and 255.255.255.255 name no module and are refused.
    """
    if isinstance(value, ipaddress.IPv4Address):
        number = int(value)
    elif isinstance(value, str):
        try:
            number = int(ipaddress.IPv4Address(value))
        except ValueError:
            refuse(function, f"{value!r} is not an IPv4 address")
    elif isinstance(value, numbers.Integral) and not isinstance(value, (bool, numpy.bool_)):
        number = int(value)
        if not 0 <= number <= 0xFFFFFFFF:
            refuse(function, f"address {number} is outside 0 to 0xFFFFFFFF")
    else:
        raise TypeError(f"{function}: an address is a str, int or IPv4Address, not {type_name(value)}")
    if number in (0, 0xFFFFFFFF):
        refuse(function, f"{ipaddress.IPv4Address(number)} names no module")
    return number


def any_address(value: object, what: str, function: str) -> int:
    """An address that is sent as it is (configure): every value is allowed."""
    if isinstance(value, ipaddress.IPv4Address):
        return int(value)
    if isinstance(value, str):
        try:
            return int(ipaddress.IPv4Address(value))
        except ValueError:
            refuse(function, f"{what} {value!r} is not an IPv4 address")
    if isinstance(value, numbers.Integral) and not isinstance(value, (bool, numpy.bool_)):
        return bounded(value, 0, 0xFFFFFFFF, what, function)
    raise TypeError(f"{function}: {what} is a str, int or IPv4Address, not {type_name(value)}")


def channels(values: Iterable[object], highest: int, function: str, allow_empty: bool = False) -> List[int]:
    """A list of distinct channels, each 1 to `highest`, at most `highest` of them."""
    if isinstance(values, (str, bytes)) or not isinstance(values, Iterable):
        raise TypeError(f"{function}: channels must be an iterable of integers, not {type_name(values)}")
    # Never more than one past the limit is taken: an endless iterable is refused, not consumed.
    taken = list(itertools.islice(values, highest + 1))
    if len(taken) > highest:
        refuse(function, f"more than {highest} channels given")
    result = [bounded(c, 1, highest, "channel", function) for c in taken]
    if not result and not allow_empty:
        refuse(function, "no channels given")
    if len(set(result)) != len(result):
        refuse(function, "a channel is listed twice")
    return result


def per_channel(mapping: Mapping[Any, T], highest: int, function: str) -> Tuple[List[int], List[T]]:
    """Channels and values of a {channel: value} mapping, in the mapping's order."""
    if not isinstance(mapping, Mapping):
        raise TypeError(f"{function}: give a mapping {{channel: value}}, not {type_name(mapping)}")
    keys = channels(list(mapping.keys()), highest, function)
    return keys, list(mapping.values())


def frequency_setting(value: object, function: str) -> int:
    number = integer(value, "frequency", function)
    if number not in FREQUENCIES:
        refuse(function, f"frequency {number} Hz is not one of {', '.join(map(str, FREQUENCIES))}")
    return number


def array(ctype, values: Sequence[object]):  # type: ignore[no-untyped-def]
    """A ctypes array holding `values` (at least one element, so never NULL)."""
    return (ctype * max(1, len(values)))(*values)
