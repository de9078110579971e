#pragma once
// Calls and reply payloads of the temperature module exports, for the
// module case tables.

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "dcp/datagram.hpp"
#include "module_cases.hpp"
#include "varnode/varnode.h"

namespace varnode::test {

inline const float nan = std::numeric_limits<float>::quiet_NaN();
inline const float infinity = std::numeric_limits<float>::infinity();

// One HX01 channel in a measure reply.
struct Thermocouple {
  std::uint8_t code = 0;
  float voltage = 0;
};

inline Bytes hx01_values(float cold_junction, const std::vector<Thermocouple>& channels) {
  Bytes out;
  DCP::put_f32(out, cold_junction);
  for (const Thermocouple& channel : channels) {
    out.push_back(channel.code);
    DCP::put_f32(out, channel.voltage);
  }
  return out;
}

// One HX02 channel configuration, in the order of the set-sensor arrays.
struct Config {
  std::uint8_t type = 0;
  float range = nan;
  float current = nan;
  float nominal = 100;
};

// A configuration and its reading as the module reports them.
inline Bytes hx02_channel(const Config& config, float reading) {
  Bytes out{config.type};
  for (const float value : {config.range, config.current, config.nominal, reading}) DCP::put_f32(out, value);
  return out;
}

inline Bytes joined(std::vector<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

using Frequency = std::uint8_t (*)(std::uint32_t, std::uint16_t);

inline Call frequency_call(Frequency function, std::uint16_t frequency) {
  return [=](std::uint32_t address, std::string&) { return function(address, frequency); };
}

inline Call hx01_measure_call(Channels channels, std::uint8_t capacity) {
  return read_call<float>(hx01_measure, std::move(channels), capacity);
}

inline Call hx02_measure_call(Channels channels, std::uint8_t capacity) {
  return read_call<float>(hx02_measure, std::move(channels), capacity);
}

// hx02_set_sensor with one array per field; `short_array` (0 sensors, 1
// ranges, 2 currents, 3 nominals) is passed with one entry less.
inline Call hx02_set_sensor_call(Channels channels, std::vector<Config> configs, int short_array = -1) {
  return [=](std::uint32_t address, std::string&) {
    std::vector<std::uint8_t> types;
    std::vector<float> ranges, currents, nominals;
    for (const Config& c : configs) {
      types.push_back(c.type);
      ranges.push_back(c.range);
      currents.push_back(c.current);
      nominals.push_back(c.nominal);
    }
    auto count = [&](int array) { return static_cast<std::uint8_t>(configs.size() - (array == short_array)); };
    return hx02_set_sensor(address, channels.data(), count_of(channels), types.data(), count(0), ranges.data(),
                           count(1), currents.data(), count(2), nominals.data(), count(3));
  };
}

}  // namespace varnode::test
