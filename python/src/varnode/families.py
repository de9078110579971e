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
from ._library import call
from .device import Module
from .errors import refuse


class _Digital(Module):
    """KL01/KL02: eight digital channels, each an input or an output."""

    def read(self, channels: Iterable[int]) -> List[bool]:
        """Levels of up to 8 channels (1 to 8): an output's latch, an input's wire.

        Raises ConfigurationError when the module refuses the read.
        """
        return [bool(v) for v in self._read_channels(f"{self.family}_read", channels, 8, c_bool)]

    def write(self, levels: Mapping[int, bool]) -> None:
        """Set the level of each channel given as {channel: level}.

        Raises ConfigurationError when the module refuses, e.g. for an input.
        """
        self._send_flags(f"{self.family}_write", levels, "level")

    def set_direction(self, directions: Mapping[int, bool]) -> None:
        """Set each channel's direction bit, {channel: bit}; on the modules
        simulated here a set bit makes the channel an output."""
        self._send_flags(f"{self.family}_set_direction", directions, "direction")


class KL01(_Digital):
    """KL01 digital I/O module (8 channels)."""

    family = "kl01"


class KL02(_Digital):
    """KL02 digital I/O module (8 channels), the KL01's twin."""

    family = "kl02"


class _Outputs(Module):
    def write(self, states: Mapping[int, bool]) -> None:
        """Switch each output given as {channel: on} (channels 1 to 8)."""
        self._send_flags(f"{self.family}_write", states, "state")


class KS01(_Outputs):
    """KS01 digital output module (8 channels) with a measured value per output."""

    family = "ks01"

    def measure(self, channels: Iterable[int]) -> List[float]:
        """One measured value per channel (1 to 8), unscaled: its meaning is the
        module's (the simulator gives the load current in amperes)."""
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
        """Start counting on these channels."""
        self._each("qu01_enable", channels)

    def disable(self, channels: Iterable[int]) -> None:
        """Stop counting on these channels (the counts stay)."""
        self._each("qu01_disable", channels)

    def clear(self, channels: Iterable[int]) -> None:
        """Set these channels' counts to 0."""
        self._each("qu01_clear", channels)

    def set_mode(self, modes: Mapping[int, int]) -> None:
        """Set each counter's mode, {channel: mode}, modes 0 to 3 (their
        meaning is the module's; the simulator counts rising, falling or both
        edges, or counts down)."""
        f = "qu01_set_mode"
        chosen, values = check.per_channel(modes, 4, f)
        self._send_per_channel(f, chosen, [check.bounded(m, 0, 3, "mode", f) for m in values], c_uint8)

    def read(self, channels: Iterable[int]) -> Tuple[List[int], int]:
        """The 64-bit counts of these channels, and the reference value the
        module sends with them (signed 64-bit, its bits unchanged; the
        simulator's is microseconds since power-on)."""
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
        400, 800, 1500 or 3000."""
        f = f"{self.family}_set_frequency"
        call(f, self._address, check.frequency_setting(frequency, f))


class _AnalogInput(_Converter):
    """RA01/RE01: eight analog inputs sampled in streams, never faster than
    the frequency setting."""

    def stop(self) -> None:
        """End a running measurement."""
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
        Raises ReservedError while another measurement runs, ConfigurationError
        when the module refuses the rate, AbortedError when it aborts, and
        TimeoutError when no chunk arrives within the time-out.
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
        call(f, self._address, check.array(c_uint8, chosen), len(chosen), count, rate,
             out.ctypes.data_as(POINTER(c_float)), byref(size))
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
        without scaling or range check (the module decides what it can do)."""
        f = "we01_control"
        chosen, values = check.per_channel(volts, 8, f)
        self._send_per_channel(f, chosen, [check.real(v, "volts", f) for v in values], c_float)


class _Temperature(_Converter):
    channel_count = 8

    def measure(self, channels: Iterable[int]) -> List[float]:
        """Temperatures in kelvin, one per channel (volts for a voltage input).

        A reading beyond its sensor's table gives -inf or +inf for that channel.
        Raises ConfigurationError when the module refuses the measurement
        (as it does for a channel without a sensor), FailedError when the
        reply cannot be converted (a channel reported without a sensor or
        current, a temperature that would be NaN).
        """
        return self._read_channels(f"{self.family}_measure", channels, self.channel_count, c_float)


HX01_SENSORS = {"none": 0, "voltage": 1, **{t: 2 + i for i, t in enumerate("BCDEGJKMNPRST")}}
"""HX01 sensor names and their codes: thermocouple types by letter."""

HX02_SENSORS = {"none": 0, "voltage": 1, "platinum": 2, "diode1": 3, "diode2": 4}
"""HX02 sensor names and their codes; codes 5 to 10 are PTC curves."""

Sensor = Union[str, int]


def _sensor_code(value: object, names: Mapping[str, int], highest: int, f: str) -> int:
    if isinstance(value, str):
        code = names.get(value if value in names else value.upper() if len(value) == 1 else value.lower())
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
        "T"), "voltage" (volts, unconverted), "none", or a code 0 to 14."""
        f = "hx01_set_sensor"
        chosen, values = check.per_channel(sensors, 8, f)
        self._send_per_channel(f, chosen, [_sensor_code(v, HX01_SENSORS, 14, f) for v in values], c_uint8)


_RANGES = tuple(check.single(v) for v in (0.5, 1.0, 2.5, 5.0))
_CURRENTS = tuple(check.single(v) for v in (0.0, 0.00001, 0.001))
PerChannel = Union[float, Mapping[int, float]]


class HX02(_Temperature):
    """HX02 module for platinum, diode and PTC sensors (4 channels)."""

    family = "hx02"
    channel_count = 4

    def set_sensor(self, sensors: Mapping[int, Sensor], range: PerChannel = math.nan,
                   current: PerChannel = math.nan, nominal: PerChannel = 100.0) -> None:
        """Choose each channel's sensor, {channel: sensor}.

        sensor: "platinum", "diode1", "diode2", "voltage", "none", or a code 0
        to 10 (5 to 10 are PTC curves). range (V): 0.5, 1, 2.5 or 5, or NaN to
        let the library choose. current (A): 0, 0.00001 or 0.001, or NaN to
        choose by sensor; 0 is refused for a sensor that needs one. nominal
        (ohms): R0 of a platinum thermometer, 1 to 1000, checked for every
        sensor. Each of the three is one value for every channel, or a mapping
        {channel: value} (missing channels take the default).
        """
        f = "hx02_set_sensor"
        chosen, values = check.per_channel(sensors, 4, f)
        codes = [_sensor_code(v, HX02_SENSORS, 10, f) for v in values]

        def each(value: PerChannel, default: float, what: str) -> List[float]:
            if isinstance(value, Mapping):
                extra = set(value) - set(chosen)
                if extra:
                    refuse(f, f"{what} given for channel {sorted(extra)[0]}, which has no sensor here")
                return [check.real(value.get(c, default), what, f) for c in chosen]
            return [check.real(value, what, f)] * len(chosen)

        ranges = each(range, math.nan, "range")
        currents = each(current, math.nan, "current")
        nominals = each(nominal, 100.0, "nominal")
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
    the kind its identity names (text_2); a plain Module for an unknown kind."""
    kind = Module(address).info().text_2
    return FAMILIES.get(kind, Module)(address)
