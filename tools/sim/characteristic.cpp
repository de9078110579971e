// The rack's sensor curves, read from the same measured data the library's
// tables are generated from, but by the simulator's own code: straight
// lines between rows instead of the library's splines. What the library
// converts back therefore differs from what the rack was told to show by
// no more than the two interpolations differ, a few thousandths of a kelvin
// where rows lie one degree apart.
#include <algorithm>
#include <charconv>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "characteristic.hpp"
#include "sensor_data.hpp"

namespace varnode::sim {
namespace {

constexpr double zero_celsius = 273.15;

// A function of one variable through (argument, value) points, rising in
// the argument; beyond either end the end segment goes on straight.
class Curve {
 public:
  void add(double argument, double value) { points_.emplace_back(argument, value); }
  void sort() { std::sort(points_.begin(), points_.end()); }

  double at(double argument) const {
    auto upper = std::upper_bound(points_.begin(), points_.end(), std::pair(argument, 0.0),
                                  [](const auto& a, const auto& b) { return a.first < b.first; });
    upper = std::clamp(upper, std::next(points_.begin()), std::prev(points_.end()));
    const auto& [x0, y0] = *std::prev(upper);
    const auto& [x1, y1] = *upper;
    return y0 + (y1 - y0) * (argument - x0) / (x1 - x0);
  }

 private:
  std::vector<std::pair<double, double>> points_;
};

double number(std::string_view text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size())
    throw std::runtime_error("sensor data: not a number: " + std::string(text));
  return value;
}

// The rows of a two-column CSV text below its header line, as
// value(first, second) over argument(first, second).
template <class Argument, class Value>
Curve read(std::string_view csv, Argument argument, Value value) {
  Curve curve;
  std::size_t at = csv.find('\n') + 1;
  while (at < csv.size()) {
    std::size_t end = csv.find('\n', at);
    if (end == std::string_view::npos) end = csv.size();
    std::string_view row = csv.substr(at, end - at);
    if (!row.empty() && row.back() == '\r') row.remove_suffix(1);
    at = end + 1;
    if (row.empty()) continue;
    const std::size_t comma = row.find(',');
    const double first = number(row.substr(0, comma)), second = number(row.substr(comma + 1));
    curve.add(argument(first, second), value(first, second));
  }
  curve.sort();
  return curve;
}

class SensorData final : public Characteristic {
 public:
  SensorData() {
    // HX01 codes 2 to 14; rows are microvolts, degrees Celsius.
    const char* types = "BCDEGJKMNPRST";
    const auto from_celsius = [](double, double celsius) { return celsius + zero_celsius; };
    const auto from_microvolts = [](double microvolts, double) { return microvolts * 1e-6; };
    for (std::uint8_t code = 2; code <= 14; ++code)
      thermocouples_.emplace(code, read(csv(std::string("type_") + types[code - 2]), from_celsius, from_microvolts));
    // HX02 codes 2 to 10; rows are the reading, kelvin. 5 and 7, 6 and 8
    // are the same sensors.
    const std::pair<std::uint8_t, const char*> sensors[] = {
        {2, "platinum"},    {3, "diode_curve1"}, {4, "diode_curve2"},    {5, "ptc_1000_25"},  {6, "ptc_2000_25"},
        {7, "ptc_1000_25"}, {8, "ptc_2000_25"},  {9, "ptc_1000_25_180"}, {10, "ptc_1000_100"},
    };
    const auto as_kelvin = [](double, double kelvin) { return kelvin; };
    const auto as_reading = [](double x, double) { return x; };
    for (const auto& [code, name] : sensors) sensors_.emplace(code, read(csv(name), as_kelvin, as_reading));
  }

  double thermocouple_volts(std::uint8_t code, double kelvin) const override {
    const auto found = thermocouples_.find(code);
    return found == thermocouples_.end() ? 0 : found->second.at(kelvin);
  }

  double sensor_x(std::uint8_t code, double kelvin) const override {
    const auto found = sensors_.find(code);
    return found == sensors_.end() ? 0 : found->second.at(kelvin);
  }

  std::string_view source() const override { return "own curves from data/sensors"; }

 private:
  static std::string_view csv(const std::string& name) {
    for (const SensorFile& file : sensor_files)
      if (file.name == name) return file.text;
    throw std::logic_error("sensor data: no " + name + ".csv");
  }

  std::map<std::uint8_t, Curve> thermocouples_;
  std::map<std::uint8_t, Curve> sensors_;
};

}  // namespace

const Characteristic& characteristic() {
  static const SensorData data;
  return data;
}

}  // namespace varnode::sim
