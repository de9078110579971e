#pragma once
// What HX01 and HX02 share: the shape of a measure reply, and the rules that turn a table lookup into a reported
// value.

#include <cstddef>
#include <cstdint>

#include "device/device.hpp"
#include "temperature/spline.hpp"

namespace varnode::measurement {

// Judges a measure reply: `refusal` with an empty payload is the module
// saying its channels are not set up for this; any other answer but
// `accepted` with exactly `size` bytes is a failure.
template <class Refused>
void judge(std::uint16_t reply, const Bytes& payload, std::uint16_t accepted, std::uint16_t refusal,
           std::size_t size) {
  if (reply == refusal && payload.empty()) throw Refused{};
  if (reply != accepted || payload.size() != size) throw Device::Exception::Failed{};
}

// `x` read through `spline` within its knots; outside them the value is the
// infinity on that side, which tells the caller the sensor is off the table
// without inventing a temperature.
float within_table(const Spline<float>& spline, float x);

// A NaN is never passed off as a temperature: it fails the call.
float measured(float value);

}  // namespace varnode::measurement
