"""Finding modules, their identity and status, and what every module does."""
from __future__ import annotations

import datetime
import ipaddress
import itertools
from ctypes import Array, byref, c_bool, c_char, c_float, c_uint8, c_uint16, c_uint32, create_string_buffer
from dataclasses import dataclass
from typing import Any, ClassVar, Iterable, Iterator, List, Mapping, Optional, Sequence, Union

from . import _checks as check
from ._library import call
from .errors import refuse

# Day 366 after 0000-01-01 (a leap year) is 0001-01-01, ordinal 1 of datetime.date.
_YEAR_ZERO_DAYS = 365
_FIND_CAPACITY = 65535  # the library counts results in 16 bits


def _text(buffer: "Array[c_char]", size: c_uint32) -> str:
    # Modules impose no character set: undecodable bytes survive as surrogates
    # (text.encode("utf-8", "surrogateescape") gives the bytes back).
    return buffer.raw[: size.value].decode("utf-8", "surrogateescape")


def _date(days: int) -> Optional[datetime.date]:
    """A day count since 0000-01-01 as a date; None for 0 (the module sent
    none) and for days outside datetime.date (years 1 to 9999)."""
    ordinal = days - _YEAR_ZERO_DAYS
    if days == 0 or not 1 <= ordinal <= datetime.date.max.toordinal():
        return None
    return datetime.date.fromordinal(ordinal)


@dataclass(frozen=True)
class Driver:
    """The C library's own identity, as :func:`driver` gives it.

    :ivar str vendor: who made the library.
    :ivar str version: its version, e.g. ``"2.5.0"``.
    :ivar build: the day it was built, or None when it names none.
    :vartype build: datetime.date or None
    """

    vendor: str
    version: str
    build: Optional[datetime.date]


def driver() -> Driver:
    """Vendor, version and build date of the loaded C library (sends nothing).

    Raises no varnode exception: the library's call cannot fail.

    :returns: the library's identity.
    :rtype: Driver

    >>> varnode.driver().vendor != ""
    True
    """
    vendor, version = create_string_buffer(64), create_string_buffer(64)
    vendor_size, version_size, build = c_uint32(64), c_uint32(64), c_uint32()
    call("get_driver", vendor, byref(vendor_size), version, byref(version_size), byref(build))
    return Driver(_text(vendor, vendor_size), _text(version, version_size), _date(build.value))


def find(serial_numbers: Optional[Iterable[int]] = None) -> List[ipaddress.IPv4Address]:
    """Find modules by broadcast on every local IPv4 interface.

    Without serial numbers: every module that answers within 1 s, sorted by
    address; always takes the whole second; none found gives an empty list.
    With serial numbers (each 0 to 2**32 - 1): the address of each, in the
    order given (a number listed twice is reported twice); returns as soon as
    the last one answered, or raises NotFoundError after 1 s.

    :param serial_numbers: the serial numbers to look for, or None for every module.
    :type serial_numbers: Iterable[int] or None
    :returns: the modules' addresses.
    :rtype: list[ipaddress.IPv4Address]
    :raises TypeError: `serial_numbers` is not an iterable of integers.
    :raises ParameterError: a serial number is outside 0 to 2**32 - 1, or more
        than 65535 are given; nothing is sent.
    :raises NetworkError: no socket could be opened or the broadcast not sent.
    :raises NotFoundError: a requested serial number did not answer within 1 s.

    >>> [str(a) for a in varnode.find([1048833])]
    ['198.18.0.11']
    """
    if serial_numbers is None:
        wanted: List[int] = []
    else:
        if isinstance(serial_numbers, (str, bytes)) or not isinstance(serial_numbers, Iterable):
            raise TypeError(f"find: serial_numbers must be an iterable of integers, not "
                            f"{check.type_name(serial_numbers)}")
        taken = list(itertools.islice(serial_numbers, _FIND_CAPACITY + 1))  # an endless iterable is refused
        if len(taken) > _FIND_CAPACITY:
            refuse("find", f"at most {_FIND_CAPACITY} serial numbers at once")
        wanted = [check.bounded(s, 0, 0xFFFFFFFF, "serial number", "find") for s in taken]
        if not wanted:
            return []
    capacity = max(len(wanted), 1) if wanted else _FIND_CAPACITY
    addresses = (c_uint32 * capacity)()
    size = c_uint32(capacity)
    serials = check.array(c_uint32, wanted)
    call("find", addresses, byref(size), serials, len(wanted))
    return [ipaddress.IPv4Address(addresses[i]) for i in range(size.value)]


def configure(serial_number: int, address: check.Address, netmask: check.Address, gateway: check.Address,
              text: Union[str, bytes] = "", flag: bool = False) -> None:
    """Broadcast a new network configuration to the module with this serial number.

    `text` is up to 64 bytes (str is sent as UTF-8). Nothing is awaited: a
    return means the command was sent on every local interface; whether a
    module took it shows in its identity (``info().text_21``, ``flag_23``).

    :param int serial_number: the module's serial number, 0 to 2**32 - 1.
    :param address: its new address.
    :param netmask: its new netmask.
    :param gateway: its new gateway.
    :type address: str, int or ipaddress.IPv4Address
    :type netmask: str, int or ipaddress.IPv4Address
    :type gateway: str, int or ipaddress.IPv4Address
    :param text: a text the module keeps, at most 64 bytes.
    :type text: str or bytes
    :param bool flag: a flag the module keeps.
    :returns: None.
    :raises TypeError: an argument has the wrong type.
    :raises ParameterError: the serial number or an address is out of range,
        or `text` is longer than 64 bytes; nothing is sent.
    :raises NetworkError: no socket could be opened or the command not sent.
    """
    f = "configure"
    serial = check.bounded(serial_number, 0, 0xFFFFFFFF, "serial number", f)
    first = check.any_address(address, "address", f)
    second = check.any_address(netmask, "netmask", f)
    third = check.any_address(gateway, "gateway", f)
    if isinstance(text, str):
        data = text.encode("utf-8")
    elif isinstance(text, (bytes, bytearray, memoryview)):
        data = bytes(text)
    else:
        raise TypeError(f"{f}: text must be str or bytes, not {check.type_name(text)}")
    if len(data) > 64:
        refuse(f, f"text holds {len(data)} bytes, at most 64")
    call(f, serial, data, len(data), int(check.flag(flag, "flag", f)), first, second, third)


@dataclass(frozen=True)
class Info:
    """A module's identity, fields named as in the C header.

    Texts are decoded as UTF-8 (bytes that are not survive as surrogates);
    dates are None when the module sent none; addresses are IPv4Address.
    The simulator's meanings: text_1 maker, text_2 kind (``"KL01"``), text_3
    description, text_5 hardware revision, text_6 microcontroller, text_7
    firmware, date_11/12/13 production, calibration and firmware dates,
    address_19 netmask, address_20 gateway, text_21 and flag_23 what the last
    configure set, text_22 name.

    :ivar int serial_number: the module's serial number.
    :ivar str mac_address: its MAC address, ``"02:00:..."``.
    :ivar ipaddress.IPv4Address ip_address: the address it answered from.
    """

    text_1: str
    text_2: str
    text_3: str
    serial_number: int
    text_5: str
    text_6: str
    number_8: int
    number_9: int
    text_7: str
    text_10: str
    date_11: Optional[datetime.date]
    date_12: Optional[datetime.date]
    date_13: Optional[datetime.date]
    number_14: int
    number_15: int
    number_16: int
    mac_address: str
    ip_address: ipaddress.IPv4Address
    address_19: ipaddress.IPv4Address
    address_20: ipaddress.IPv4Address
    flag_23: int
    text_21: str
    text_22: str
    text_24: str
    text_25: str


def _in_range(value: float, lower: float, upper: float) -> bool:
    # A NaN limit imposes nothing; a NaN value fails any limit that is a number.
    below = lower == lower and not value >= lower
    above = upper == upper and not value <= upper
    return not below and not above


@dataclass(frozen=True)
class StatusItem:
    """One status item; numbers are NaN where the module sent none.

    :ivar str name: the item's name.
    :ivar str text_2: its unit, e.g. ``"V"``.
    :ivar str text_3: a description.
    :ivar float number_4: a number the module sends with it.
    :ivar float lower_limit: the lowest value in range (NaN: no limit).
    :ivar float upper_limit: the highest value in range (NaN: no limit).
    :ivar float value: the item's value.
    """

    name: str
    text_2: str  # the unit, e.g. "V"
    text_3: str  # a description
    number_4: float
    lower_limit: float
    upper_limit: float
    value: float

    @property
    def in_range(self) -> bool:
        """Whether value lies within the limits that are numbers (inclusive).

        :rtype: bool
        """
        return _in_range(self.value, self.lower_limit, self.upper_limit)


@dataclass(frozen=True)
class Status:
    """A module's status items in ascending order of their names.

    ``status["supply"]`` gives an item by name (KeyError when there is
    none); iterating gives the items.

    :ivar list[StatusItem] items: the items.
    :ivar bool ok: whether every item the module sent was in range.

    >>> status = varnode.WE01("198.18.0.18").status()
    >>> status.ok, status["supply"].value, status["supply"].in_range
    (True, 24.1..., True)
    """

    items: List[StatusItem]
    ok: bool  # every item the module sent was in range

    def __getitem__(self, name: str) -> StatusItem:
        for item in self.items:
            if item.name == name:
                return item
        raise KeyError(name)

    def __iter__(self) -> Iterator[StatusItem]:
        return iter(self.items)

    def __len__(self) -> int:
        return len(self.items)


class Module:
    """A module at one IPv4 address, with what every kind of module does.

    The address may be dotted text, a host-order int or an IPv4Address;
    0.0.0.0 and 255.255.255.255 raise ParameterError. Building a Module sends
    nothing. Instances hold only the address: use them from any thread.

    :param address: the module's address.
    :type address: str, int or ipaddress.IPv4Address
    :raises TypeError: `address` is of another type.
    :raises ParameterError: `address` is no IPv4 address, or names no module.
    """

    family: ClassVar[str] = ""

    def __init__(self, address: check.Address) -> None:
        self._address = check.address(address, type(self).__name__)

    @property
    def address(self) -> ipaddress.IPv4Address:
        """The module's address, as given to the constructor (sends nothing)."""
        return ipaddress.IPv4Address(self._address)

    def __repr__(self) -> str:
        return f"{type(self).__name__}('{self.address}')"

    def __eq__(self, other: object) -> bool:
        return type(other) is type(self) and other._address == self._address  # type: ignore[attr-defined]

    def __hash__(self) -> int:
        return hash((type(self).__name__, self._address))

    @property
    def timeout(self) -> int:
        """Reply time-out of this module in milliseconds, 1 to 65535.

        1000 until set. It belongs to the address, for the whole process: every
        Module object for the address and every thread share it, and a change
        applies to calls that start afterwards. Reading and setting send nothing.

        :raises TypeError: set to something other than an integer.
        :raises ParameterError: set outside 1 to 65535.
        """
        value = c_uint16()
        call("get_timeout", self._address, byref(value))
        return value.value

    @timeout.setter
    def timeout(self, milliseconds: int) -> None:
        call("set_timeout", self._address, check.bounded(milliseconds, 1, 65535, "time-out (ms)", "set_timeout"))

    def info(self) -> Info:
        """The module's identity (one request, waits up to the time-out).

        :returns: what the module says of itself.
        :rtype: Info
        :raises FailedError: the module answered, but not as the command expects.
        :raises NetworkError: a socket could not be opened or the request not sent.
        :raises TimeoutError: no matching reply within :attr:`timeout`.

        >>> varnode.Module("198.18.0.11").info().text_2
        'KL01'
        """
        n = 256  # a text is at most 255 bytes
        t = [create_string_buffer(n) for _ in range(11)]
        s = [c_uint32(n) for _ in range(11)]
        serial, n8, n9, d11, d12, d13, n14, n15, n16 = (c_uint32() for _ in range(9))
        ip, a19, a20 = c_uint32(), c_uint32(), c_uint32()
        mac, flag = (c_uint8 * 6)(), c_uint8()
        call("get_info", self._address,
             t[0], byref(s[0]), t[1], byref(s[1]), t[2], byref(s[2]), byref(serial),
             t[3], byref(s[3]), t[4], byref(s[4]), byref(n8), byref(n9), t[5], byref(s[5]),
             t[6], byref(s[6]), byref(d11), byref(d12), byref(d13), byref(n14), byref(n15), byref(n16),
             mac, byref(ip), byref(a19), byref(a20), byref(flag),
             t[7], byref(s[7]), t[8], byref(s[8]), t[9], byref(s[9]), t[10], byref(s[10]))
        texts = [_text(t[i], s[i]) for i in range(11)]
        return Info(
            text_1=texts[0], text_2=texts[1], text_3=texts[2], serial_number=serial.value,
            text_5=texts[3], text_6=texts[4], number_8=n8.value, number_9=n9.value, text_7=texts[5],
            text_10=texts[6], date_11=_date(d11.value), date_12=_date(d12.value), date_13=_date(d13.value),
            number_14=n14.value, number_15=n15.value, number_16=n16.value,
            mac_address=":".join(f"{b:02x}" for b in mac), ip_address=ipaddress.IPv4Address(ip.value),
            address_19=ipaddress.IPv4Address(a19.value), address_20=ipaddress.IPv4Address(a20.value),
            flag_23=flag.value, text_21=texts[7], text_22=texts[8], text_24=texts[9], text_25=texts[10])

    def status(self) -> Status:
        """The module's status items, each checked against its limits.

        :returns: the items, sorted by name.
        :rtype: Status
        :raises FailedError: the module answered, but not as the command expects.
        :raises NetworkError: a socket could not be opened or the request not sent.
        :raises TimeoutError: no matching reply within :attr:`timeout`.
        """
        items = 64
        while True:
            text_capacity = items * 256  # names and texts are at most 255 bytes
            lists = [create_string_buffer(text_capacity) for _ in range(3)]
            sizes = [c_uint32(text_capacity) for _ in range(3)]
            numbers = [(c_float * items)() for _ in range(4)]
            size, ok = c_uint32(items), c_uint8()
            call("get_status", self._address, lists[0], byref(sizes[0]), lists[1], byref(sizes[1]),
                 lists[2], byref(sizes[2]), *numbers, byref(size), byref(ok))
            if size.value < items:
                break
            items *= 4  # the arrays may have been too short: ask again with room to spare
        n = size.value
        names, units, texts = ((_text(lists[i], sizes[i]).split("\t") + [""] * n)[:n] for i in range(3))
        return Status(
            items=[StatusItem(names[i], units[i], texts[i], numbers[0][i], numbers[1][i], numbers[2][i],
                              numbers[3][i]) for i in range(n)],
            ok=bool(ok.value))

    def reset(self) -> None:
        """Restart the module once it acknowledges (it may then be silent for a while).

        :returns: None, once the module acknowledged.
        :raises FailedError: the module answered, but not as the command expects.
        :raises NetworkError: a socket could not be opened or the request not sent.
        :raises TimeoutError: no matching reply within :attr:`timeout`.
        """
        call("reset", self._address)

    def burn(self, data: Union[bytes, bytearray, memoryview]) -> None:
        """Hand the module 0 to 64 bytes and wait for its acknowledgement.

        :param data: the bytes to hand over.
        :type data: bytes, bytearray or memoryview
        :returns: None, once the module acknowledged.
        :raises TypeError: `data` is not bytes.
        :raises ParameterError: more than 64 bytes; nothing is sent.
        :raises FailedError: the module answered, but not as the command expects.
        :raises NetworkError: a socket could not be opened or the request not sent.
        :raises TimeoutError: no matching reply within :attr:`timeout`.
        """
        if not isinstance(data, (bytes, bytearray, memoryview)):
            raise TypeError(f"burn: data must be bytes, not {check.type_name(data)}")
        payload = bytes(data)
        if len(payload) > 64:
            refuse("burn", f"{len(payload)} bytes, at most 64")
        call("burn", self._address, payload, len(payload))

    # What the family classes share: a value per listed channel read back, or
    # sent with each channel.

    def _read_channels(self, f: str, channels: Iterable[int], most: int, kind: Any) -> List[Any]:
        chosen = check.channels(channels, most, f)
        values = (kind * len(chosen))()
        size = c_uint8(len(chosen))
        call(f, self._address, check.array(c_uint8, chosen), len(chosen), values, byref(size))
        return list(values[: size.value])

    def _send_per_channel(self, f: str, chosen: Sequence[int], values: Sequence[Any], kind: Any) -> None:
        call(f, self._address, check.array(c_uint8, chosen), len(chosen), check.array(kind, values), len(values))

    def _send_flags(self, f: str, flags: Mapping[int, bool], what: str) -> None:
        chosen, values = check.per_channel(flags, 8, f)
        self._send_per_channel(f, chosen, [check.flag(v, what, f) for v in values], c_bool)
