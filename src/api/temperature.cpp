// Exports of the temperature modules.
#include "temperature/hx01.hpp"
#include "temperature/hx02.hpp"

#include "api/channel_args.hpp"

using namespace varnode;

extern "C" {

VARNODE_API uint8_t hx01_set_sensor(uint32_t address, const uint8_t* channels, uint8_t count, const uint8_t* sensors,
                                    uint8_t sensor_count) {
  return api::guarded([&] {
    api::require_entries(sensors, sensor_count);
    const auto map = api::channel_map(channels, count, sensor_count, HX01::channel_count,
                                      [sensors](std::size_t i) { return HX01::Sensor(sensors[i]); });
    HX01(Device(IP::Address(address))).set_sensor(map);
  });
}

VARNODE_API uint8_t hx01_set_frequency(uint32_t address, uint16_t frequency) {
  return api::guarded([&] { HX01(Device(IP::Address(address))).set_frequency(frequency); });
}

VARNODE_API uint8_t hx01_measure(uint32_t address, const uint8_t* channels, uint8_t count, float* values,
                                 uint8_t* size) {
  return api::read_channels<HX01, &HX01::measure>(address, channels, count, values, size);
}

VARNODE_API uint8_t hx02_set_sensor(uint32_t address, const uint8_t* channels, uint8_t count, const uint8_t* sensors,
                                    uint8_t sensor_count, const float* ranges, uint8_t range_count,
                                    const float* currents, uint8_t current_count, const float* nominals,
                                    uint8_t nominal_count) {
  return api::guarded([&] {
    api::require(range_count == count && current_count == count && nominal_count == count);
    api::require_entries(sensors, sensor_count);
    api::require_entries(ranges, range_count);
    api::require_entries(currents, current_count);
    api::require_entries(nominals, nominal_count);
    const auto map = api::channel_map(channels, count, sensor_count, HX02::channel_count, [&](std::size_t i) {
      HX02::Sensor sensor;
      sensor.set_code(sensors[i]);
      sensor.set_range(ranges[i]);
      sensor.set_current(currents[i]);
      sensor.set_nominal(nominals[i]);
      return sensor;
    });
    HX02(Device(IP::Address(address))).set_sensor(map);
  });
}

VARNODE_API uint8_t hx02_set_frequency(uint32_t address, uint16_t frequency) {
  return api::guarded([&] { HX02(Device(IP::Address(address))).set_frequency(frequency); });
}

VARNODE_API uint8_t hx02_measure(uint32_t address, const uint8_t* channels, uint8_t count, float* values,
                                 uint8_t* size) {
  return api::read_channels<HX02, &HX02::measure>(address, channels, count, values, size);
}

}  // extern "C"
