"""One class per module family, each a Module with its own operations.

Channels count from 1; a channel listed twice is refused. Per-channel results
follow the order in which you listed the channels.
"""
from __future__ import annotations

import math
import numbers
from ctypes import POINTER, byref, c_bool, c_float, c_int64, c_uint8, c_uint32
from typing import Iterable, List, Mapping, Optional, Tuple, Union

import numpy
from numpy.typing import NDArray

from . import _checks as check
from . import catalogue
from ._library import call, call_interruptible
from .device import Module
from .errors import refuse


class _Digital(Module):
    """KL01/KL02: eight digital channels, each an input or an output."""

    def read(self, channels: Iterable[int]) -> List[bool]:
        """Levels of up to 8 channels (1 to 8): an output's latch, an input's wire.

        :param Iterable[int] channels: the channels to read.
        :returns: one level per channel, in the order given.
        :rtype: list[bool]
        :raises TypeError: `channels` is not an iterable of integers.
        :raises ParameterError: a channel outside 1 to 8, listed twice, or none given;
            nothing is sent.
        :raises FailedError: the module answered, but not as the command expects.
        :raises NetworkError: a socket could not be opened or the request not sent.
        :raises TimeoutError: no matching reply within :attr:`timeout`.
        :raises ConfigurationError: the module refuses the read.

        >>> varnode.KL01("198.18.0.11").read([5, 6])
        [False, True]
        >>> varnode.KL01("198.18.0.11").read([9])
        Traceback (most recent call last):
        varnode.errors.ParameterError: kl01_read: channel 9 is outside 1 to 8 (result 3)
        """
        return [bool(v) for v in self._read_channels(f"{self.family}_read", channels, 8, c_bool)]

    def write(self, levels: Mapping[int, bool]) -> None:
        """Set the level of each channel given as {channel: level}.

        :param Mapping[int, bool] levels: {channel: level}, channels 1 to 8.
        :returns: None.
        :raises TypeError: not a mapping, or a channel or level of the wrong type.
        :raises ParameterError: a channel outside 1 to 8, or no channel given; nothing is sent.
        :raises FailedError: the module answered, but not as the command expects.
        :raises NetworkError: a socket could not be opened or the request not sent.
        :raises TimeoutError: no matching reply within :attr:`timeout`.
        :raises ConfigurationError: the module refuses, e.g. for an input.
        """
        self._send_flags(f"{self.family}_write", levels, "level")

    def set_direction(self, directions: Mapping[int, bool]) -> None:
        """Set each channel's direction bit, {channel: bit}; on the modules
        simulated here a set bit makes the channel an output.

        :param Mapping[int, bool] directions: {channel: bit}, channels 1 to 8.
        :returns: None.
        :raises TypeError: not a mapping, or a channel or bit of the wrong type.
        :raises ParameterError: a channel outside 1 to 8, or no channel given; nothing is sent.
        :raises FailedError: the module answered, but not as the command expects.
        :raises NetworkError: a socket could not be opened or the request not sent.
        :raises TimeoutError: no matching reply within :attr:`timeout`.
        """
        self._send_flags(f"{self.family}_set_direction", directions, "direction")


class KL01(_Digital):
    """KL01 digital I/O module (8 channels)."""

    family = "kl01"


class KL02(_Digital):
    """KL02 digital I/O module (8 channels), the KL01's twin."""

    family = "kl02"


class _Outputs(Module):
    def write(self, states: Mapping[int, bool]) -> None:
        """Switch each output given as {channel: on} (channels 1 to 8).

        :param Mapping[int, bool] states: {channel: on}.
        :returns: None.
        :raises TypeError: not a mapping, or a channel or state of the wrong type.
        :raises ParameterError: a channel outside 1 to 8, or no channel given; nothing is sent.
        :raises FailedError: the module answered, but not as the command expects.
        :raises NetworkError: a socket could not be opened or the request not sent.
        :raises TimeoutError: no matching reply within :attr:`timeout`.
        """
        self._send_flags(f"{self.family}_write", states, "state")


class KS01(_Outputs):
    """KS01 digital output module (8 channels) with a measured value per output."""

    family = "ks01"

    def measure(self, channels: Iterable[int]) -> List[float]:
        """One measured value per channel (1 to 8), unscaled: its meaning is the
        module's (the simulator gives the load current in amperes).

        :param Iterable[int] channels: the channels to measure.
        :returns: one value per channel, in the order given.
        :rtype: list[float]
        :raises TypeError: `channels` is not an iterable of integers.
        :raises ParameterError: a channel outside 1 to 8, listed twice, or none given;
            nothing is sent.
        :raises FailedError: the module answered, but not as the command expects.
        :raises NetworkError: a socket could not be opened or the request not sent.
        :raises TimeoutError: no matching reply within :attr:`timeout`.
        """
        return self._read_channels("ks01_measure", channels, 8, c_float)


class KS02(_Outputs):
    """KS02 digital output module (8 channels)."""

    family = "ks02"


class QU01(Module):
    """QU01 counter module (4 channels, 1 to 4).

    An empty channel list is sent as such; what the module makes of it is its
    own business.
    """

    family = "qu01"

    def _each(self, f: str, channels: Iterable[int]) -> None:
        chosen = check.channels(channels, 4, f, allow_empty=True)
        call(f, self._address, check.array(c_uint8, chosen), len(chosen))

    def enable(self, channels: Iterable[int]) -> None:
        """Start counting on these channels.

        :param Iterable[int] channels: channels 1 to 4 (an empty list is sent as such).
        :returns: None.
        :raises TypeError: `channels` is not an iterable of integers.
        :raises ParameterError: a channel outside 1 to 4, listed twice;
            nothing is sent.
        :raises FailedError: the module answered, but not as the command expects.
        :raises NetworkError: a socket could not be opened or the request not sent.
        :raises TimeoutError: no matching reply within :attr:`timeout`.
        """
        self._each("qu01_enable", channels)

    def disable(self, channels: Iterable[int]) -> None:
        """Stop counting on these channels (the counts stay).

        :param Iterable[int] channels: channels 1 to 4 (an empty list is sent as such).
        :returns: None.
        :raises TypeError: `channels` is not an iterable of integers.
        :raises ParameterError: a channel outside 1 to 4, listed twice;
            nothing is sent.
        :raises FailedError: the module answered, but not as the command expects.
        :raises NetworkError: a socket could not be opened or the request not sent.
        :raises TimeoutError: no matching reply within :attr:`timeout`.
        """
        self._each("qu01_disable", channels)

    def clear(self, channels: Iterable[int]) -> None:
        """Set these channels' counts to 0.

        :param Iterable[int] channels: channels 1 to 4 (an empty list is sent as such).
        :returns: None.
        :raises TypeError: `channels` is not an iterable of integers.
        :raises ParameterError: a channel outside 1 to 4, listed twice;
            nothing is sent.
        :raises FailedError: the module answered, but not as the command expects.
        :raises NetworkError: a socket could not be opened or the request not sent.
        :raises TimeoutError: no matching reply within :attr:`timeout`.
        """
        self._each("qu01_clear", channels)

    def set_mode(self, modes: Mapping[int, int]) -> None:
        """Set each counter's mode, {channel: mode}, modes 0 to 3 (their
        meaning is the module's; the simulator counts rising, falling or both
        edges, or counts down).

        :param Mapping[int, int] modes: {channel: mode}, channels 1 to 4.
        :returns: None.
        :raises TypeError: not a mapping, or a channel or mode of the wrong type.
        :raises ParameterError: a channel outside 1 to 4, no channel given, or a
            mode outside 0 to 3; nothing is sent.
        :raises FailedError: the module answered, but not as the command expects.
        :raises NetworkError: a socket could not be opened or the request not sent.
        :raises TimeoutError: no matching reply within :attr:`timeout`.
        """
        f = "qu01_set_mode"
        chosen, values = check.per_channel(modes, 4, f)
        self._send_per_channel(f, chosen, [check.bounded(m, 0, 3, "mode", f) for m in values], c_uint8)

    def read(self, channels: Iterable[int]) -> Tuple[List[int], int]:
        """The 64-bit counts of these channels, and the reference value the
        module sends with them (signed 64-bit, its bits unchanged; the
        simulator's is microseconds since power-on).

        :param Iterable[int] channels: channels 1 to 4.
        :returns: the counts in the order given, and the reference value.
        :rtype: tuple[list[int], int]
        :raises TypeError: `channels` is not an iterable of integers.
        :raises ParameterError: a channel outside 1 to 4, listed twice;
            nothing is sent.
        :raises FailedError: the module answered, but not as the command expects.
        :raises NetworkError: a socket could not be opened or the request not sent.
        :raises TimeoutError: no matching reply within :attr:`timeout`.
        """
        f = "qu01_read"
        chosen = check.channels(channels, 4, f, allow_empty=True)
        values = (c_int64 * max(1, len(chosen)))()
        size, reference = c_uint8(len(chosen)), c_int64()
        call(f, self._address, check.array(c_uint8, chosen), len(chosen), values, byref(size), byref(reference))
        return list(values[: size.value]), reference.value


class _Converter(Module):
    """A module whose converter runs at a frequency setting."""

    def set_frequency(self, frequency: int) -> None:
        """The converter's frequency setting in Hz: 6, 12, 25, 50, 100, 200,
        400, 800, 1500 or 3000.

        :param int frequency: the setting.
        :returns: None.
        :raises TypeError: `frequency` is not an integer.
        :raises ParameterError: `frequency` is none of the settings; nothing is sent.
        :raises FailedError: the module answered, but not as the command expects.
        :raises NetworkError: a socket could not be opened or the request not sent.
        :raises TimeoutError: no matching reply within :attr:`timeout`.
        """
        f = f"{self.family}_set_frequency"
        call(f, self._address, check.frequency_setting(frequency, f))


class _AnalogInput(_Converter):
    """RA01/RE01: eight analog inputs sampled in streams, never faster than
    the frequency setting."""

    def stop(self) -> None:
        """End a running measurement.

        :returns: None, once the module acknowledged.
        :raises FailedError: the module answered, but not as the command expects.
        :raises NetworkError: a socket could not be opened or the request not sent.
        :raises TimeoutError: no matching reply within :attr:`timeout`.
        """
        call(f"{self.family}_stop", self._address)

    def measure(self, channels: Iterable[int], samples: int, frequency: float = math.nan,
                out: Optional[NDArray[numpy.float32]] = None) -> NDArray[numpy.float32]:
        """Stream `samples` (1 to 1,000,000) samples of each channel (1 to 8)
        at `frequency` Hz (6 to 3000, needed when samples > 1).

        Returns a float32 array of shape (samples, len(channels)): column i
        holds channel channels[i], in the module's unit (A for RA01, V for
        RE01), unscaled. The library writes into the array itself, with no
        copy; pass `out` (C-contiguous float32 of that shape) to reuse one.
        Takes samples / frequency seconds; other Python threads run meanwhile.
        Ctrl-C on the main thread stops the module and raises KeyboardInterrupt.

        :param Iterable[int] channels: the channels to sample.
        :param int samples: samples per channel.
        :param float frequency: samples per second.
        :param out: an array to fill instead of a new one.
        :type out: numpy.ndarray or None
        :returns: the samples, `out` itself when given.
        :rtype: numpy.ndarray
        :raises TypeError: an argument has the wrong type.
        :raises ParameterError: a channel, `samples` or `frequency` out of range,
            or `out` of the wrong shape or layout; nothing is sent.
        :raises FailedError: the module answered, but not as the command expects.
        :raises NetworkError: a socket could not be opened or the request not sent.
        :raises TimeoutError: no chunk within :attr:`timeout`.
        :raises AbortedError: the module aborted the measurement.
        :raises ReservedError: another measurement runs on the module.
        :raises ConfigurationError: the module refuses the rate.
        :raises Error: an unexpected failure inside the library (result 1).
        """
        f = f"{self.family}_measure"
        chosen = check.channels(channels, 8, f)
        count = check.bounded(samples, 1, 1_000_000, "samples", f)
        rate = check.real(frequency, "frequency", f)
        if count > 1 and not 6.0 <= rate <= 3000.0:
            refuse(f, f"frequency {rate} Hz is outside 6 to 3000")
        shape = (count, len(chosen))
        if out is None:
            out = numpy.empty(shape, dtype=numpy.float32)
        elif not isinstance(out, numpy.ndarray):
            raise TypeError(f"{f}: out must be a numpy.ndarray, not {check.type_name(out)}")
        elif out.dtype != numpy.float32 or out.shape != shape or not out.flags.c_contiguous \
                or not out.flags.writeable or not out.flags.aligned:
            refuse(f, f"out must be a writeable, aligned, C-contiguous float32 array of shape {shape}")
        size = c_uint32(out.size)
        # Ctrl-C ends the stream: the module gets its stop and KeyboardInterrupt is raised.
        call_interruptible(f, f"{self.family}_stop", self._address, check.array(c_uint8, chosen), len(chosen),
                           count, rate, out.ctypes.data_as(POINTER(c_float)), byref(size))
        return out


class RA01(_AnalogInput):
    """RA01 current input module (8 channels, amperes)."""

    family = "ra01"


class RE01(_AnalogInput):
    """RE01 voltage input module (8 channels, volts)."""

    family = "re01"


class WE01(Module):
    """WE01 voltage output module (8 channels)."""

    family = "we01"

    def control(self, volts: Mapping[int, float]) -> None:
        """Set each output, {channel: volts}, sent as single-precision floats
        without scaling or range check (the module decides what it can do).

        :param Mapping[int, float] volts: {channel: volts}, channels 1 to 8.
        :returns: None.
        :raises TypeError: not a mapping, or a channel or value of the wrong type.
        :raises ParameterError: a channel outside 1 to 8, or no channel given; nothing is sent.
        :raises FailedError: the module answered, but not as the command expects.
        :raises NetworkError: a socket could not be opened or the request not sent.
        :raises TimeoutError: no matching reply within :attr:`timeout`.
        """
        f = "we01_control"
        chosen, values = check.per_channel(volts, 8, f)
        self._send_per_channel(f, chosen, [check.real(v, "volts", f) for v in values], c_float)


class _Temperature(_Converter):
    channel_count = catalogue.FAMILIES["HX01"].channels

    def measure(self, channels: Iterable[int]) -> List[float]:
        """Temperatures in kelvin, one per channel (volts for a voltage input).

        A reading beyond its sensor's table gives -inf or +inf for that channel.
        Raises ConfigurationError when the module refuses the measurement
        (as it does for a channel without a sensor), FailedError when the
        reply cannot be converted (a channel reported without a sensor or
        current, a temperature that would be NaN).

        :param Iterable[int] channels: the channels to measure (HX01 1 to 8, HX02 1 to 4).
        :returns: one value per channel, in the order given.
        :rtype: list[float]
        :raises TypeError: `channels` is not an iterable of integers.
        :raises ParameterError: a channel out of range, listed twice, or none
            given; nothing is sent.
        :raises FailedError: the module answered, but not as the command expects.
        :raises NetworkError: a socket could not be opened or the request not sent.
        :raises TimeoutError: no matching reply within :attr:`timeout`.
        :raises ConfigurationError: the module refuses the measurement.

        >>> round(varnode.HX01("198.18.0.19").measure([1])[0] - 273.15)
        100
        """
        return self._read_channels(f"{self.family}_measure", channels, self.channel_count, c_float)


HX01_SENSORS = {name: s.code for name, s in catalogue.HX01_SENSORS.items()}
"""HX01 sensor names and their codes: thermocouple types by letter."""

HX02_SENSORS = {name: s.code for name, s in catalogue.HX02_SENSORS.items()}
"""HX02 sensor names and their codes (pt1000 also implies a nominal
resistance of 1000 ohms)."""

Sensor = Union[str, int]


def _spelling(value: str, names: Mapping[str, int]) -> str:
    """The catalogue's spelling of a sensor name given in any case."""
    return next((name for name in names if name.lower() == value.lower()), value)


def _sensor_code(value: object, names: Mapping[str, int], highest: int, f: str) -> int:
    if isinstance(value, str):
        code = names.get(_spelling(value, names))
        if code is None:
            refuse(f, f"unknown sensor {value!r}: {', '.join(names)} or a code 0 to {highest}")
        return code
    if isinstance(value, numbers.Integral) and not isinstance(value, bool):
        return check.bounded(value, 0, highest, "sensor code", f)
    raise TypeError(f"{f}: a sensor is a name or a code, not {check.type_name(value)}")


class HX01(_Temperature):
    """HX01 thermocouple module (8 channels), cold junction compensated."""

    family = "hx01"

    def set_sensor(self, sensors: Mapping[int, Sensor]) -> None:
        """Choose each channel's sensor, {channel: sensor}: a thermocouple type
        letter ("B", "C", "D", "E", "G", "J", "K", "M", "N", "P", "R", "S",
        "T"), "voltage" (volts, unconverted), "none", or a code 0 to 14.

        :param sensors: {channel: sensor}, channels 1 to 8.
        :type sensors: Mapping[int, str or int]
        :returns: None.
        :raises TypeError: not a mapping, or a sensor neither name nor code.
        :raises ParameterError: a channel out of range, an unknown name or a
            code outside 0 to 14; nothing is sent.
        :raises FailedError: the module answered, but not as the command expects.
        :raises NetworkError: a socket could not be opened or the request not sent.
        :raises TimeoutError: no matching reply within :attr:`timeout`.
        """
        f = "hx01_set_sensor"
        chosen, values = check.per_channel(sensors, self.channel_count, f)
        highest = catalogue.HX01_SENSOR_LAST
        self._send_per_channel(f, chosen, [_sensor_code(v, HX01_SENSORS, highest, f) for v in values], c_uint8)


_RANGES = tuple(check.single(v) for v in (0.5, 1.0, 2.5, 5.0))
_CURRENTS = tuple(check.single(v) for v in (0.0, 0.00001, 0.001))
PerChannel = Union[float, Mapping[int, float]]


class HX02(_Temperature):
    """HX02 module for platinum, diode and PTC sensors (4 channels)."""

    family = "hx02"
    channel_count = catalogue.FAMILIES["HX02"].channels

    def set_sensor(self, sensors: Mapping[int, Sensor], range: PerChannel = math.nan,
                   current: PerChannel = math.nan, nominal: Optional[PerChannel] = None) -> None:
        """Choose each channel's sensor, {channel: sensor}.

        sensor: a name of HX02_SENSORS in any case ("platinum", "pt100",
        "pt1000", "diode1", "diode2", "ptc1000", ..., "voltage", "none"), or
        a code 0 to 10 (5 to 10 are PTC curves). range (V): 0.5, 1, 2.5 or 5,
        or NaN to let the library choose. current (A): 0, 0.00001 or 0.001, or
        NaN to choose by sensor; 0 is refused for a sensor that needs one.
        nominal (ohms): R0 of a platinum thermometer, 1 to 1000, checked for
        every sensor; left out, 100, or 1000 for "pt1000". Each of the three
        is one value for every channel, or a mapping
        {channel: value} (missing channels take the default).

        :param sensors: {channel: sensor}, channels 1 to 4.
        :type sensors: Mapping[int, str or int]
        :param range: volts, for every channel or per channel.
        :type range: float or Mapping[int, float]
        :param current: amperes, for every channel or per channel.
        :type current: float or Mapping[int, float]
        :param nominal: ohms, for every channel or per channel, or None.
        :type nominal: float, Mapping[int, float] or None
        :returns: None.
        :raises TypeError: an argument has the wrong type.
        :raises ParameterError: a channel, sensor, range, current or nominal
            that is refused as above; nothing is sent.
        :raises FailedError: the module answered, but not as the command expects.
        :raises NetworkError: a socket could not be opened or the request not sent.
        :raises TimeoutError: no matching reply within :attr:`timeout`.
        """
        f = "hx02_set_sensor"
        chosen, values = check.per_channel(sensors, self.channel_count, f)
        codes = [_sensor_code(v, HX02_SENSORS, catalogue.HX02_SENSOR_LAST, f) for v in values]
        # A name such as pt1000 brings its nominal resistance as the default.
        implied = [catalogue.HX02_SENSORS[_spelling(v, HX02_SENSORS)].nominal if isinstance(v, str) else None
                   for v in values]
        implied_nominals = [catalogue.HX02_NOMINAL if n is None else n for n in implied]

        def each(value: Optional[PerChannel], defaults: List[float], what: str) -> List[float]:
            if value is None:
                return defaults
            if isinstance(value, Mapping):
                extra = set(value) - set(chosen)
                if extra:
                    refuse(f, f"{what} given for channel {sorted(extra)[0]}, which has no sensor here")
                return [check.real(value.get(c, d), what, f) for c, d in zip(chosen, defaults)]
            return [check.real(value, what, f)] * len(chosen)

        ranges = each(range, [math.nan] * len(chosen), "range")
        currents = each(current, [math.nan] * len(chosen), "current")
        nominals = each(nominal, implied_nominals, "nominal")
        for code, u, i, r in zip(codes, ranges, currents, nominals):
            if not (math.isnan(u) or u in _RANGES):
                refuse(f, f"range {u} V is not 0.5, 1, 2.5 or 5")
            if not (math.isnan(i) or i in _CURRENTS):
                refuse(f, f"current {i} A is not 0, 0.00001 or 0.001")
            if not 1.0 <= r <= 1000.0:
                refuse(f, f"nominal {r} ohms is outside 1 to 1000")
            if i == 0.0 and code > 1:
                refuse(f, f"sensor code {code} needs an excitation current")
        n = len(chosen)
        call(f, self._address, check.array(c_uint8, chosen), n, check.array(c_uint8, codes), n,
             check.array(c_float, ranges), n, check.array(c_float, currents), n, check.array(c_float, nominals), n)


FAMILIES = {cls.__name__: cls for cls in (KL01, KL02, KS01, KS02, QU01, RA01, RE01, WE01, HX01, HX02)}


def module_at(address: check.Address) -> Module:
    """The module at `address` as an object of its family's class, chosen by
    the kind its identity names (text_2); a plain Module for an unknown kind.

    :param address: the module's address.
    :type address: str, int or ipaddress.IPv4Address
    :returns: e.g. a :class:`KL01`.
    :rtype: Module
    :raises TypeError: `address` is of another type.
    :raises ParameterError: `address` is no IPv4 address, or names no module.
    :raises FailedError: the module answered, but not as the command expects.
    :raises NetworkError: a socket could not be opened or the request not sent.
    :raises TimeoutError: no reply within the address's time-out.

    >>> varnode.module_at("198.18.0.19")
    HX01('198.18.0.19')
    """
    kind = Module(address).info().text_2
    return FAMILIES.get(kind, Module)(address)
