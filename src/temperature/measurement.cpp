#include "temperature/measurement.hpp"

#include <cmath>
#include <limits>

namespace varnode::measurement {

float within_table(const Spline<float>& spline, float x) {
  constexpr float infinity = std::numeric_limits<float>::infinity();
  if (x < spline.first_knot()) return -infinity;
  if (x > spline.end_knot()) return infinity;
  return spline.evaluate(x);
}

float measured(float value) {
  if (std::isnan(value)) throw Device::Exception::Failed{};
  return value;
}

}  // namespace varnode::measurement
