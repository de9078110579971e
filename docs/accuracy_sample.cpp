// Prints the library's own sensor conversions, sampled between the rows of
// each built-in table, as CSV for docs/_ext/accuracy.py: the manual's
// accuracy figures come from what the library computes, not from a copy.
#include <cstdint>
#include <cstdio>

#include "temperature/sensors.hpp"
#include "temperature/tables/tables.hpp"

namespace {

using varnode::Spline;
namespace Tables = varnode::Tables;
namespace Sensors = varnode::Sensors;

constexpr int steps_per_row = 4;

struct Named {
  const char* name;
  std::uint8_t code;
  const Tables::Table& table;
};

// `column` 0 samples the table's x, 1 its y (for the inverse spline).
void sample(const char* name, const char* direction, const Tables::Table& table, int column,
            const Spline<float>& spline) {
  const std::size_t rows = table.size() / 2;
  for (std::size_t i = 0; i + 1 < rows; ++i) {
    const double a = table[2 * i + column], b = table[2 * i + 2 + column];
    for (int s = 0; s < steps_per_row; ++s) {
      const float in = static_cast<float>(a + (b - a) * s / steps_per_row);
      std::printf("%s,%s,%.9g,%.9g\n", name, direction, in, spline.evaluate(in));
    }
  }
  const float last = table[2 * (rows - 1) + column];
  std::printf("%s,%s,%.9g,%.9g\n", name, direction, last, spline.evaluate(last));
}

}  // namespace

int main() {
  const Named thermocouples[] = {
      {"B", 2, Tables::thermocouple_b},  {"C", 3, Tables::thermocouple_c},  {"D", 4, Tables::thermocouple_d},
      {"E", 5, Tables::thermocouple_e},  {"G", 6, Tables::thermocouple_g},  {"J", 7, Tables::thermocouple_j},
      {"K", 8, Tables::thermocouple_k},  {"M", 9, Tables::thermocouple_m},  {"N", 10, Tables::thermocouple_n},
      {"P", 11, Tables::thermocouple_p}, {"R", 12, Tables::thermocouple_r}, {"S", 13, Tables::thermocouple_s},
      {"T", 14, Tables::thermocouple_t},
  };
  const Named sensors[] = {
      {"platinum", 2, Tables::platinum},        {"diode_curve1", 3, Tables::diode_curve1},
      {"diode_curve2", 4, Tables::diode_curve2}, {"ptc_1000_25", 5, Tables::ptc_1000_25},
      {"ptc_2000_25", 6, Tables::ptc_2000_25},   {"ptc_1000_25_180", 9, Tables::ptc_1000_25_180},
      {"ptc_1000_100", 10, Tables::ptc_1000_100},
  };
  std::printf("sensor,direction,input,output\n");
  for (const Named& t : thermocouples) {
    sample(t.name, "volts_to_kelvin", t.table, 0, Sensors::thermocouple_temperature().at(t.code));
    sample(t.name, "kelvin_to_volts", t.table, 1, Sensors::thermocouple_voltage().at(t.code));
  }
  for (const Named& s : sensors) sample(s.name, "x_to_kelvin", s.table, 0, Sensors::sensor_temperature().at(s.code));
  sample("cold_junction", "x_to_kelvin", Tables::cold_junction, 0, Sensors::cold_junction());
  return 0;
}
