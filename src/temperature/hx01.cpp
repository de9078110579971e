#include "temperature/hx01.hpp"

#include "device/commands.hpp"
#include "device/frequency.hpp"
#include "device/reply.hpp"
#include "temperature/measurement.hpp"
#include "temperature/sensors.hpp"

namespace varnode {
namespace {

using commands::family_code;
constexpr std::uint8_t family = 0x06;
constexpr std::uint16_t measure_command = family_code(family, 0x00);
constexpr std::uint16_t values_reply = family_code(family, 0x01);
constexpr std::uint16_t refusal_reply = family_code(family, 0x02);
constexpr std::uint16_t set_frequency_command = family_code(family, 0x08);
constexpr std::uint16_t set_sensor_command = family_code(family, 0x09);

constexpr std::uint8_t no_sensor = 0;
constexpr std::uint8_t voltage_input = 1;
constexpr std::size_t cold_junction_size = 4;
constexpr std::size_t channel_size = 5;  // sensor code, voltage

// The module reports its cold-junction sensor as a divider voltage against
// 5 V; the table runs on the resistance ratio that voltage stands for, and
// the junction sits a fixed 1.55 K below the sensor's reading. A reading off
// the table (0 V from a shorted or missing sensor) gives an infinity rather
// than a temperature extrapolated from the table's end.
float cold_junction_temperature(float reading) {
  const auto ratio = static_cast<float>(100.0 * reading / (5.0 - reading));
  return measurement::within_table(Sensors::cold_junction(), ratio) - 1.55f;
}

}  // namespace

void HX01::Sensor::set_code(std::uint8_t code) {
  if (code > highest_code) throw Device::Exception::Parameter{};
  code_ = code;
}

float HX01::Sensor::convert(float voltage, float cold_junction) const {
  if (code_ == no_sensor) throw Device::Exception::Failed{};
  // A voltage input is raw data, handed on as the module sent it.
  if (code_ == voltage_input) return voltage;
  const Spline<float>& to_voltage = Sensors::thermocouple_voltage().at(code_);
  // Written so that a NaN cold junction fails too.
  if (!(cold_junction >= to_voltage.first_knot() && cold_junction <= to_voltage.end_knot()))
    throw Device::Exception::Failed{};
  // The tables are referred to a junction at 0 degrees Celsius.
  const float referred = to_voltage.evaluate(cold_junction) + voltage;
  return measurement::measured(
      measurement::within_table(Sensors::thermocouple_temperature().at(code_), referred));
}

ChannelMap<float> HX01::measure(const ChannelSet& requested) const {
  channels::require_some(requested);
  Bytes payload{channels::mask(requested, channel_count)};
  const std::uint16_t reply = device_.exchange(measure_command, payload);
  reply::judge(reply, payload, reply::exactly(values_reply, cold_junction_size + channel_size * requested.size()),
               reply::Refusal<Exception::Configuration>{refusal_reply});
  const float cold_junction = cold_junction_temperature(DCP::get_f32(payload.data()));
  return channels::values_of(requested, payload.data() + cold_junction_size, channel_size,
                             [cold_junction](const std::uint8_t* data) {
                               if (data[0] > Sensor::highest_code) throw Device::Exception::Failed{};
                               return Sensor(data[0]).convert(DCP::get_f32(data + 1), cold_junction);
                             });
}

void HX01::set_sensor(const ChannelMap<Sensor>& sensors) const {
  channels::require_some(sensors);
  device_.acknowledged(set_sensor_command, channels::mask_and_values(sensors, channel_count,
                                                                     [](Bytes& out, const Sensor& sensor) {
                                                                       out.push_back(sensor.code());
                                                                     }));
}

void HX01::set_frequency(std::uint16_t frequency) const {
  frequency::set(device_, set_frequency_command, frequency);
}

}  // namespace varnode
