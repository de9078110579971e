#pragma once
// What HX01 and HX02 share: the rules that turn a table lookup into a reported
// value.

#include <cstddef>
#include <cstdint>

#include "device/device.hpp"
#include "temperature/spline.hpp"

namespace varnode::measurement {

// `x` read through `spline` anywhere from its first to its last row, both
// included; outside them the value is the
// infinity on that side, which tells the caller the sensor is off the table
// without inventing a temperature.
float within_table(const Spline<float>& spline, float x);

// A NaN is never passed off as a temperature: it fails the call.
float measured(float value);

}  // namespace varnode::measurement
