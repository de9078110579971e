// Stand-in curves for builds without the library's sensor tables. Platinum
// is exact (it is a formula); thermocouples are straight lines through 0 °C
// with each type's mean sensitivity, diodes a straight line through two
// points of curve 1 or 2, PTC sensors the parabola through three points of
// their curves. Good to a few kelvin near room temperature, no more.
#include <array>
#include <cmath>

#include "characteristic.hpp"

namespace varnode::sim {
namespace {

class Placeholder final : public Characteristic {
 public:
  double thermocouple_volts(std::uint8_t code, double kelvin) const override {
    // Mean sensitivity in µV/K of types B, C, D, E, G, J, K, M, N, P, R, S, T.
    static constexpr std::array<double, 13> sensitivity{7.6, 15.9, 16.4, 76.4, 16.7, 57.9, 41.3,
                                                        52.8, 36.7, 40.7, 11.9, 10.6, 51.9};
    if (code < 2 || code > 14) return 0;
    return sensitivity[code - 2] * 1e-6 * (kelvin - 273.15);
  }

  double sensor_x(std::uint8_t code, double kelvin) const override {
    const double t = kelvin - 273.15;
    switch (code) {
      case 2:
        return platinum_ratio(kelvin);
      case 3:
        return line(kelvin, 300, 0.51892, 100, 0.97550);
      case 4:
        return line(kelvin, 300, 0.55964, 100, 0.98697);
      case 5:
      case 7:
        return parabola(t, 814.86, 1000.00, 1695.96);
      case 6:
      case 8:
        return parabola(t, 1629.73, 2000.00, 3391.92);
      case 9:
        return parabola(t, 819.94, 1000.00, 1669.99);
      case 10:
        return parabola(t, 498.00, 602.88, 1000.00);
      default:
        return 0;
    }
  }

  std::string_view source() const override { return "placeholder curves"; }

 private:
  static double line(double x, double x0, double y0, double x1, double y1) {
    return y0 + (y1 - y0) * (x - x0) / (x1 - x0);
  }
  // Through (0, r0), (25, r25) and (100, r100), t in °C.
  static double parabola(double t, double r0, double r25, double r100) {
    const double s1 = (r25 - r0) / 25, s2 = (r100 - r25) / 75;
    const double c = (s2 - s1) / 100;
    const double b = s1 - c * 25;
    return r0 + b * t + c * t * t;
  }
};

}  // namespace

const Characteristic& characteristic() {
  static const Placeholder placeholder;
  return placeholder;
}

}  // namespace varnode::sim
