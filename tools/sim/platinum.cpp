#include "characteristic.hpp"

namespace varnode::sim {

double platinum_ratio(double kelvin) {
  constexpr double A = 3.90802e-3, B = -5.802e-7, C = -4.2735e-12;
  const double t = kelvin - 273.15;
  double ratio = 1 + A * t + B * t * t;
  if (t < 0) ratio += C * (t - 100) * t * t * t;
  return ratio;
}

}  // namespace varnode::sim
