#pragma once
// A simulated physical quantity as a function of time: what an analog input
// sees, or how a temperature drifts.

#include <cstdint>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace varnode::sim {

class Signal {
 public:
  enum class Shape { constant, sine, ramp, noise };

  Signal() = default;
  static Signal constant(double value);
  static Signal sine(double offset, double amplitude, double hertz);
  static Signal ramp(double from, double to, double period_s);
  static Signal noise(double mean, double deviation, std::uint32_t seed);
  // {"signal": "sine", "offset": 5, "amplitude": 1, "hz": 2} and the like,
  // or a plain number for a constant. Throws std::invalid_argument.
  static Signal from_json(const nlohmann::json& value);

  // The value at `seconds` since the module's power-on. Noise is a pure
  // function of time too, so repeated reads of one instant agree.
  double at(double seconds) const;
  Shape shape() const { return shape_; }
  std::string describe() const;

 private:
  Shape shape_ = Shape::constant;
  double a_ = 0;  // constant value, offset, ramp start or mean
  double b_ = 0;  // amplitude, ramp end or deviation
  double c_ = 1;  // frequency in Hz or ramp period in s
  std::uint32_t seed_ = 1;
};

}  // namespace varnode::sim
