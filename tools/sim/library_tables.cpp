// The simulator's sensors from the library's own tables, so that what the
// library converts back is what the rack was told to show.
#include <cmath>

#include "characteristic.hpp"
#include "temperature/sensors.hpp"

namespace varnode::sim {
namespace {

class LibraryTables final : public Characteristic {
 public:
  double thermocouple_volts(std::uint8_t code, double kelvin) const override {
    const auto& splines = Sensors::thermocouple_voltage();
    const auto found = splines.find(code);
    return found == splines.end() ? 0 : found->second.evaluate(static_cast<float>(kelvin));
  }

  // The registry maps x to kelvin; its inverse by bisection, since every
  // curve is monotonic over its table (rising, or falling for the diodes).
  double sensor_x(std::uint8_t code, double kelvin) const override {
    const auto& splines = Sensors::sensor_temperature();
    const auto found = splines.find(code);
    if (found == splines.end()) return 0;
    const Spline<float>& spline = found->second;
    float low = spline.first_knot(), high = spline.last_knot();
    const bool rising = spline.evaluate(high) > spline.evaluate(low);
    for (int i = 0; i < 60; ++i) {
      const float middle = low + (high - low) / 2;
      if (middle == low || middle == high) break;
      const bool below = spline.evaluate(middle) < kelvin;
      (below == rising ? low : high) = middle;
    }
    return low + (high - low) / 2;
  }

  std::string_view source() const override { return "library tables"; }
};

}  // namespace

const Characteristic& characteristic() {
  static const LibraryTables tables;
  return tables;
}

}  // namespace varnode::sim
