#include "temperature/measurement.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace varnode::measurement {
namespace {

constexpr std::uint16_t frequencies[] = {6, 12, 25, 50, 100, 200, 400, 800, 1500, 3000};

}  // namespace

void set_frequency(const Device& device, std::uint16_t command, std::uint16_t frequency) {
  if (std::find(std::begin(frequencies), std::end(frequencies), frequency) == std::end(frequencies))
    throw Device::Exception::Parameter{};
  Bytes payload;
  DCP::put_u16(payload, frequency);
  device.acknowledged(command, std::move(payload));
}

float within_table(const Spline<float>& spline, float x) {
  constexpr float infinity = std::numeric_limits<float>::infinity();
  if (x < spline.first_knot()) return -infinity;
  if (x > spline.last_knot()) return infinity;
  return spline.evaluate(x);
}

float measured(float value) {
  if (std::isnan(value)) throw Device::Exception::Failed{};
  return value;
}

}  // namespace varnode::measurement
