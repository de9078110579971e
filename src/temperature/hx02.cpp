#include "temperature/hx02.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "device/commands.hpp"
#include "device/frequency.hpp"
#include "device/reply.hpp"
#include "temperature/measurement.hpp"
#include "temperature/sensors.hpp"

namespace varnode {
namespace {

using commands::family_code;
constexpr std::uint8_t family = 0x02;
constexpr std::uint16_t measure_command = family_code(family, 0x00);
constexpr std::uint16_t values_reply = family_code(family, 0x01);
constexpr std::uint16_t refusal_reply = family_code(family, 0x02);
constexpr std::uint16_t set_frequency_command = family_code(family, 0x08);
constexpr std::uint16_t set_sensor_command = family_code(family, 0x09);

constexpr std::uint8_t no_sensor = 0;
constexpr std::uint8_t voltage_input = 1;
constexpr std::uint8_t platinum = 2;
constexpr std::size_t channel_size = HX02::Sensor::wire_size + 4;  // configuration, reading

constexpr float no_current = 0.0f;
constexpr float diode_current = 0.00001f;
constexpr float resistor_current = 0.001f;
constexpr float ranges[] = {0.5f, 1.0f, 2.5f, 5.0f};

bool is_diode(std::uint8_t code) { return code == 3 || code == 4; }

// Without a sensor there is nothing to excite; diodes take the small current.
float default_current(std::uint8_t code) {
  if (code <= voltage_input) return no_current;
  return is_diode(code) ? diode_current : resistor_current;
}

// A platinum thermometer gets the smallest range that holds its voltage at
// the top of its table; the other sensors' ranges follow from their curves.
float default_range(std::uint8_t code, float current, float nominal) {
  if (code == platinum) {
    const float highest = current * nominal * Sensors::sensor_temperature().at(platinum).last_knot();
    if (highest > 2.5f) return 5.0f;
    if (highest > 1.0f) return 2.5f;
    if (highest > 0.5f) return 1.0f;
    return 0.5f;
  }
  return is_diode(code) || code == 5 || code == 7 ? 2.5f : 5.0f;
}

}  // namespace

void HX02::Sensor::set_code(std::uint8_t code) {
  if (code > highest_code) throw Device::Exception::Parameter{};
  code_ = code;
}

void HX02::Sensor::set_current(float amperes) {
  if (!std::isnan(amperes) && amperes != no_current && amperes != diode_current && amperes != resistor_current)
    throw Device::Exception::Parameter{};
  current_ = amperes;
}

void HX02::Sensor::set_nominal(float ohms) {
  if (!(ohms >= 1.0f && ohms <= 1000.0f)) throw Device::Exception::Parameter{};
  nominal_ = ohms;
}

void HX02::Sensor::set_range(float volts) {
  if (!std::isnan(volts) && std::find(std::begin(ranges), std::end(ranges), volts) == std::end(ranges))
    throw Device::Exception::Parameter{};
  range_ = volts;
}

void HX02::Sensor::append_completed(Bytes& out) const {
  // Only a current the caller chose can be zero for a sensor that needs one.
  if (code_ > voltage_input && current_ == no_current) throw Device::Exception::Parameter{};
  const float current = std::isnan(current_) ? default_current(code_) : current_;
  const float range = std::isnan(range_) ? default_range(code_, current, nominal_) : range_;
  out.push_back(code_);
  DCP::put_f32(out, range);
  DCP::put_f32(out, current);
  DCP::put_f32(out, nominal_);
}

HX02::Sensor HX02::Sensor::reported(const std::uint8_t* data) {
  Sensor sensor;
  try {
    sensor.set_code(data[0]);
    sensor.set_range(DCP::get_f32(data + 1));
    sensor.set_current(DCP::get_f32(data + 5));
    sensor.set_nominal(DCP::get_f32(data + 9));
  } catch (const Device::Exception::Parameter&) {
    throw Device::Exception::Failed{};
  }
  return sensor;
}

float HX02::Sensor::convert(float reading) const {
  if (code_ == no_sensor) throw Device::Exception::Failed{};
  if (code_ != voltage_input && current_ == no_current) throw Device::Exception::Failed{};
  if (std::isnan(range_) || std::isnan(current_)) throw Device::Exception::Failed{};
  // A voltage input is raw data, handed on as the module sent it.
  if (code_ == voltage_input) return reading;
  const float x = code_ == platinum ? reading / (current_ * nominal_) : reading;
  return measurement::measured(measurement::within_table(Sensors::sensor_temperature().at(code_), x));
}

ChannelMap<float> HX02::measure(const ChannelSet& requested) const {
  channels::require_some(requested);
  Bytes payload{channels::mask(requested, channel_count)};
  const std::uint16_t reply = device_.exchange(measure_command, payload);
  reply::judge(reply, payload, reply::exactly(values_reply, channel_size * requested.size()),
               reply::Refusal<Exception::Configuration>{refusal_reply});
  return channels::values_of(requested, payload.data(), channel_size, [](const std::uint8_t* data) {
    return Sensor::reported(data).convert(DCP::get_f32(data + Sensor::wire_size));
  });
}

void HX02::set_sensor(const ChannelMap<Sensor>& sensors) const {
  channels::require_some(sensors);
  device_.acknowledged(set_sensor_command,
                       channels::mask_and_values(sensors, channel_count, [](Bytes& out, const Sensor& sensor) {
                         sensor.append_completed(out);
                       }));
}

void HX02::set_frequency(std::uint16_t frequency) const {
  frequency::set(device_, set_frequency_command, frequency);
}

}  // namespace varnode
