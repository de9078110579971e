// What the temperature conversion costs: building the sensor registries
// (paid once per process) and one compensated thermocouple reading.

#include <benchmark/benchmark.h>

#include "temperature/sensors.hpp"
#include "temperature/tables/tables.hpp"

namespace varnode {
namespace {

// The splines the library builds on first use: every thermocouple table in
// both directions, then the HX02 tables, one per sensor code.
void build_all_registries(benchmark::State& state) {
  const Tables::Table* thermocouples[] = {
      &Tables::thermocouple_b, &Tables::thermocouple_c, &Tables::thermocouple_d, &Tables::thermocouple_e,
      &Tables::thermocouple_g, &Tables::thermocouple_j, &Tables::thermocouple_k, &Tables::thermocouple_m,
      &Tables::thermocouple_n, &Tables::thermocouple_p, &Tables::thermocouple_r, &Tables::thermocouple_s,
      &Tables::thermocouple_t};
  const Tables::Table* sensors[] = {&Tables::platinum,    &Tables::diode_curve1,    &Tables::diode_curve2,
                                    &Tables::ptc_1000_25, &Tables::ptc_2000_25,     &Tables::ptc_1000_25,
                                    &Tables::ptc_2000_25, &Tables::ptc_1000_25_180, &Tables::ptc_1000_100};
  for (auto _ : state) {
    Sensors::Registry built;
    std::uint8_t code = 0;
    for (const Tables::Table* table : thermocouples) {
      built.emplace(code++, Spline<float>(table->data(), table->size() / 2, false));
      built.emplace(code++, Spline<float>(table->data(), table->size() / 2, true));
    }
    for (const Tables::Table* table : sensors)
      built.emplace(code++, Spline<float>(table->data(), table->size() / 2, false));
    benchmark::DoNotOptimize(built);
  }
}
BENCHMARK(build_all_registries)->Unit(benchmark::kMillisecond);

// Cold junction to volts, add the channel's voltage, back to kelvin: two
// map lookups, two binary searches and two cubics, nothing allocated.
void convert_type_k(benchmark::State& state) {
  const Sensors::Registry& to_volts = Sensors::thermocouple_voltage();
  const Sensors::Registry& to_kelvin = Sensors::thermocouple_temperature();
  float cold_junction = 298.15f;
  float channel = 0.003096f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(cold_junction);
    benchmark::DoNotOptimize(channel);
    const float e = to_volts.find(8)->second.evaluate(cold_junction) + channel;
    float kelvin = to_kelvin.find(8)->second.evaluate(e);
    benchmark::DoNotOptimize(kelvin);
  }
}
BENCHMARK(convert_type_k);

}  // namespace
}  // namespace varnode

BENCHMARK_MAIN();
