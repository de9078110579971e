#pragma once
// The built-in sensor characteristics as splines, keyed by sensor code.
// Built once and read-only afterwards; lookups never insert.

#include <cstdint>
#include <map>

#include "temperature/spline.hpp"

namespace varnode::Sensors {

using Registry = std::map<std::uint8_t, Spline<float>>;

// HX01 codes 2-14: volts -> kelvin, and kelvin -> volts. Built together on
// the first call of either.
const Registry& thermocouple_temperature();
const Registry& thermocouple_voltage();
// HX02 codes 2-10: reading -> kelvin. Built on first call.
const Registry& sensor_temperature();
// Resistance ratio -> kelvin of the HX01 cold junction; built at load.
const Spline<float>& cold_junction();

}  // namespace varnode::Sensors
