// What the temperature conversion costs: building the sensor registries
// (paid once per process) and one compensated thermocouple reading.

#include <benchmark/benchmark.h>

#include "temperature/sensors.hpp"

namespace varnode {
namespace {

void build_all_registries(benchmark::State& state) {
  for (auto _ : state) {
    Sensors::Thermocouples thermocouples = Sensors::build_thermocouples();
    Sensors::Registry sensors = Sensors::build_sensors();
    benchmark::DoNotOptimize(thermocouples);
    benchmark::DoNotOptimize(sensors);
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
