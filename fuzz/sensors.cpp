// The conversions that turn HX01 and HX02 readings into temperatures: a
// sensor configuration as a module reports it, and any reading. A
// conversion gives a number, an infinity off the table, or fails with
// Failed; never NaN, never any other exception.
#include <cmath>
#include <cstring>

#include "dcp/datagram.hpp"
#include "input.hpp"
#include "temperature/hx01.hpp"
#include "temperature/hx02.hpp"

using namespace varnode;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input input(data, size);
  if (input.u8() & 1) {
    const std::uint8_t code = input.u8() % (HX01::Sensor::highest_code + 1);
    const float voltage = input.f32();
    const float cold_junction = input.f32();
    try {
      const float value = HX01::Sensor(code).convert(voltage, cold_junction);
      if (code == 1) FUZZ_CHECK(std::memcmp(&value, &voltage, sizeof value) == 0);
      else FUZZ_CHECK(!std::isnan(value));
    } catch (const Device::Exception::Failed&) {
      FUZZ_CHECK(code != 1);
    }
  } else {
    const Bytes configuration = input.bytes(HX02::Sensor::wire_size);
    if (configuration.size() < HX02::Sensor::wire_size) return 0;
    const float reading = input.f32();
    HX02::Sensor sensor;
    try {
      sensor = HX02::Sensor::reported(configuration.data());
    } catch (const Device::Exception::Failed&) {
      return 0;
    }
    FUZZ_CHECK(sensor.code() == configuration[0]);
    try {
      const float value = sensor.convert(reading);
      if (sensor.code() == 1) FUZZ_CHECK(std::memcmp(&value, &reading, sizeof value) == 0);
      else FUZZ_CHECK(!std::isnan(value));
    } catch (const Device::Exception::Failed&) {
    }
  }
  return 0;
}
