#include "temperature/sensors.hpp"

#include "temperature/tables/tables.hpp"

namespace varnode::Sensors {
namespace {

struct Entry {
  std::uint8_t code;
  const Tables::Table& table;
};

// HX01 sensor codes, ascending.
constexpr Entry thermocouple_tables[] = {
    {2, Tables::thermocouple_b},  {3, Tables::thermocouple_c},  {4, Tables::thermocouple_d},
    {5, Tables::thermocouple_e},  {6, Tables::thermocouple_g},  {7, Tables::thermocouple_j},
    {8, Tables::thermocouple_k},  {9, Tables::thermocouple_m},  {10, Tables::thermocouple_n},
    {11, Tables::thermocouple_p}, {12, Tables::thermocouple_r}, {13, Tables::thermocouple_s},
    {14, Tables::thermocouple_t},
};

// HX02 sensor codes, ascending; the two pairs of PTC codes share a table.
constexpr Entry sensor_tables[] = {
    {2, Tables::platinum},    {3, Tables::diode_curve1}, {4, Tables::diode_curve2},
    {5, Tables::ptc_1000_25}, {6, Tables::ptc_2000_25},  {7, Tables::ptc_1000_25},
    {8, Tables::ptc_2000_25}, {9, Tables::ptc_1000_25_180}, {10, Tables::ptc_1000_100},
};

Spline<float> spline(const Tables::Table& table, bool swap) {
  return Spline<float>(table.data(), table.size() / 2, swap);
}

template <std::size_t N>
Registry build(const Entry (&entries)[N], bool swap) {
  Registry registry;
  for (const Entry& entry : entries) registry.emplace(entry.code, spline(entry.table, swap));
  return registry;
}

// Small enough to build while the library loads; it has no first use to wait for.
const Spline<float> cold_junction_spline = spline(Tables::cold_junction, false);

// A function-local static is built exactly once even under concurrent first
// calls; if building throws, nothing is kept and the next call tries again.
struct Thermocouples {
  Registry temperature;
  Registry voltage;
};

const Thermocouples& thermocouples() {
  static const Thermocouples built = {build(thermocouple_tables, false), build(thermocouple_tables, true)};
  return built;
}

}  // namespace

const Registry& thermocouple_temperature() { return thermocouples().temperature; }

const Registry& thermocouple_voltage() { return thermocouples().voltage; }

const Registry& sensor_temperature() {
  static const Registry built = build(sensor_tables, false);
  return built;
}

const Spline<float>& cold_junction() { return cold_junction_spline; }

}  // namespace varnode::Sensors
