#include "signal.hpp"

#include <cmath>
#include <cstdio>
#include <numbers>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace varnode::sim {

Signal Signal::constant(double value) {
  Signal s;
  s.a_ = value;
  return s;
}

Signal Signal::sine(double offset, double amplitude, double hertz) {
  Signal s;
  s.shape_ = Shape::sine;
  s.a_ = offset;
  s.b_ = amplitude;
  s.c_ = hertz;
  return s;
}

Signal Signal::ramp(double from, double to, double period_s) {
  if (!(period_s > 0)) throw std::invalid_argument("a ramp needs a period above 0 s");
  Signal s;
  s.shape_ = Shape::ramp;
  s.a_ = from;
  s.b_ = to;
  s.c_ = period_s;
  return s;
}

Signal Signal::noise(double mean, double deviation, std::uint32_t seed) {
  Signal s;
  s.shape_ = Shape::noise;
  s.a_ = mean;
  s.b_ = deviation;
  s.seed_ = seed;
  return s;
}

Signal Signal::from_json(const nlohmann::json& value) {
  if (value.is_number()) return constant(value.get<double>());
  if (!value.is_object()) throw std::invalid_argument("a signal is a number or an object");
  const std::string shape = value.value("signal", "constant");
  if (shape == "constant") return constant(value.value("value", 0.0));
  if (shape == "sine") return sine(value.value("offset", 0.0), value.value("amplitude", 1.0), value.value("hz", 1.0));
  if (shape == "ramp") return ramp(value.value("from", 0.0), value.value("to", 1.0), value.value("period", 1.0));
  if (shape == "noise")
    return noise(value.value("mean", 0.0), value.value("deviation", 1.0), value.value("seed", std::uint32_t{1}));
  throw std::invalid_argument("unknown signal '" + shape + "' (constant, sine, ramp or noise)");
}

namespace {
// A stateless hash of (seed, instant) to a uniform value in (0, 1].
double uniform(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  x ^= x >> 31;
  return (static_cast<double>(x >> 11) + 1.0) / 9007199254740993.0;
}
}  // namespace

double Signal::at(double seconds) const {
  switch (shape_) {
    case Shape::constant:
      return a_;
    case Shape::sine:
      return a_ + b_ * std::sin(2 * std::numbers::pi * c_ * seconds);
    case Shape::ramp: {
      const double phase = seconds / c_ - std::floor(seconds / c_);
      return a_ + (b_ - a_) * phase;
    }
    case Shape::noise: {
      // Box-Muller over two hashes of the instant in microseconds.
      const auto instant = static_cast<std::uint64_t>(std::llround(seconds * 1e6));
      const std::uint64_t key = (std::uint64_t{seed_} << 40) ^ instant;
      const double u = uniform(key * 2);
      const double v = uniform(key * 2 + 1);
      return a_ + b_ * std::sqrt(-2 * std::log(u)) * std::cos(2 * std::numbers::pi * v);
    }
  }
  return a_;
}

namespace {
std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}
}  // namespace

std::string Signal::describe() const {
  switch (shape_) {
    case Shape::constant:
      return "constant " + number(a_);
    case Shape::sine:
      return "sine " + number(a_) + " +- " + number(b_) + " at " + number(c_) + " Hz";
    case Shape::ramp:
      return "ramp " + number(a_) + " to " + number(b_) + " every " + number(c_) + " s";
    case Shape::noise:
      return "noise " + number(a_) + " sd " + number(b_);
  }
  return {};
}

}  // namespace varnode::sim
