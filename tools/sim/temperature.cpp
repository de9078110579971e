// HX01 thermocouples and HX02 platinum/diode/PTC sensors: each channel is
// told its temperature, and the module reports what its sensor would give.
#include <array>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "catalogue.hpp"
#include "characteristic.hpp"
#include "kinds.hpp"
#include "signal.hpp"

namespace varnode::sim {
namespace {

constexpr double zero_celsius = 273.15;

namespace cat = varnode::catalogue;
constexpr unsigned hx01_channels = VARNODE_HX01_CHANNELS;
constexpr unsigned hx02_channels = VARNODE_HX02_CHANNELS;

// A code up to `last`, or a sensor name as the varnode tool spells it, in
// any case; the refusal lists them all, the thermocouple types by letter.
template <std::size_t N>
const cat::Sensor& named_sensor(const nlohmann::json& value, const cat::Sensor (&table)[N], unsigned last) {
  for (const cat::Sensor& s : table) {
    if (value.is_number_integer() ? value.get<long long>() == s.code
                                  : value.is_string() && cat::same_name(s.name, value.get<std::string>()))
      return s;
  }
  std::string names, letters;
  for (const cat::Sensor& s : table) {
    std::string& list = s.name.size() == 1 ? letters : names;
    list += std::string(list.empty() ? "" : s.name.size() == 1 ? " " : ", ") + std::string(s.name);
  }
  throw std::invalid_argument("sensor: a code 0-" + std::to_string(last) + ", " + names +
                              (letters.empty() ? "" : ", or a thermocouple type " + letters));
}

std::uint8_t thermocouple_code(const nlohmann::json& value) {
  return named_sensor(value, cat::hx01_sensors, cat::hx01_sensor_last).code;
}

class Thermocouple final : public Module {
 public:
  Thermocouple(Common common, const nlohmann::json& settings)
      : Module(std::move(common)), cold_junction_(Signal::constant(25)) {
    // A furnace, an oven, a freezer, a cable run measured as a voltage.
    const std::array<std::uint8_t, hx01_channels> codes{8, 7, 14, 1, 13, 0, 0, 0};
    const std::array<double, hx01_channels> celsius{100, 250, -20, 0, 1000, 25, 25, 25};
    for (unsigned c = 0; c < hx01_channels; ++c)
      channels_[c] = {codes[c], Signal::constant(celsius[c]), Signal::constant(0.0125)};
    if (settings.contains("cold_junction")) cold_junction_ = Signal::from_json(settings.at("cold_junction"));
    for_each_channel(settings, "channels", hx01_channels, [&](unsigned channel, const nlohmann::json& value) {
      Channel& c = channels_[channel - 1];
      if (value.contains("sensor")) c.power_on_code = thermocouple_code(value.at("sensor"));
      if (value.contains("celsius")) c.celsius = Signal::from_json(value.at("celsius"));
      if (value.contains("volts")) c.volts = Signal::from_json(value.at("volts"));
    });
  }

  std::string describe() const override {
    return "cold junction " + cold_junction_.describe() + " °C; " + characteristic().source().data();
  }

 protected:
  std::optional<Reply> command(const Request& request, Time now) override {
    if (request.code >> 8 != 0x06) return std::nullopt;
    const Bytes& p = request.payload;
    switch (request.code & 0xFF) {
      case 0x00:
        return measure(p, now);
      case 0x08:
        return set_frequency(p, frequency_);
      case 0x09: {
        if (p.empty() || p.size() != 1 + bit_count(p[0])) return failure();
        for (std::size_t i = 1; i < p.size(); ++i) {
          if (p[i] > cat::hx01_sensor_last) return failure();
        }
        std::size_t at = 1;
        for (unsigned c = 0; c < hx01_channels; ++c) {
          if ((p[0] & (1u << c)) != 0) channels_[c].code = p[at++];
        }
        return acknowledge();
      }
      default:
        return std::nullopt;
    }
  }

  void restart(Time) override {
    frequency_ = 50;
    for (Channel& c : channels_) c.code = c.power_on_code;
  }

  std::optional<std::uint16_t> refusal_code(Refusal refusal) const override {
    if (refusal != Refusal::configuration) return std::nullopt;
    return 0x0602;
  }

  void add_status(std::vector<StatusItem>& items, Time now) const override {
    Module::add_status(items, now);
    constexpr float none = std::numeric_limits<float>::quiet_NaN();
    items.push_back({"frequency", "Hz", "converter frequency setting", 0, none, none, static_cast<float>(frequency_)});
    items.push_back({"cold junction", "°C", "terminal block temperature", 0, -40, 85,
                     static_cast<float>(cold_junction_.at(seconds(now)))});
  }

 private:
  struct Channel {
    std::uint8_t power_on_code = 0;
    Signal celsius;
    Signal volts;
    std::uint8_t code = 0;
  };

  Reply measure(const Bytes& p, Time now) {
    if (p.size() != 1) return failure();
    // A channel without a sensor cannot be measured: refused as configured.
    bool unset = p[0] == 0;
    for (unsigned c = 0; c < hx01_channels; ++c) {
      if ((p[0] & (1u << c)) != 0 && channels_[c].code == 0) unset = true;
    }
    if (unset) return Reply{0x0602, {}};
    const double t = seconds(now);
    const double junction = cold_junction_.at(t) + zero_celsius;
    // The junction sensor is a platinum element in a divider that reads
    // 5 V * r / (100 + r), r = R/R0. It sits 1.55 K warmer than the
    // terminals, which is what the library allows for.
    const double ratio = platinum_ratio(junction + 1.55);
    Bytes out;
    wire::put_f32(out, static_cast<float>(5 * ratio / (100 + ratio)));
    const Characteristic& curves = characteristic();
    for (unsigned c = 0; c < hx01_channels; ++c) {
      if ((p[0] & (1u << c)) == 0) continue;
      const Channel& channel = channels_[c];
      out.push_back(channel.code);
      double volts = channel.volts.at(t);
      if (channel.code >= 2) {
        volts = curves.thermocouple_volts(channel.code, channel.celsius.at(t) + zero_celsius) -
                curves.thermocouple_volts(channel.code, junction);
      }
      wire::put_f32(out, static_cast<float>(volts));
    }
    return Reply{0x0601, out};
  }

  Signal cold_junction_;
  std::array<Channel, hx01_channels> channels_;
  std::uint16_t frequency_ = 50;
};

// One HX02 channel configuration as the wire carries it.
struct Configuration {
  std::uint8_t type = 0;
  float range = 5;
  float current = 0;
  float nominal = 100;

  bool valid() const {
    const bool range_ok = range == 0.5f || range == 1.0f || range == 2.5f || range == 5.0f;
    const bool current_ok = current == 0.0f || current == 0.00001f || current == 0.001f;
    return type <= cat::hx02_sensor_last && range_ok && current_ok && nominal >= 1 && nominal <= 1000;
  }
};

class Resistance final : public Module {
 public:
  Resistance(Common common, const nlohmann::json& settings) : Module(std::move(common)) {
    // A Pt100 in a room, a diode in liquid nitrogen, a PTC on a motor, a
    // Pt1000 in an oil bath.
    power_on_[0] = {{2, 0.5f, 0.001f, 100}, Signal::constant(21.5), Signal::constant(0)};
    power_on_[1] = {{3, 2.5f, 0.00001f, 100}, Signal::constant(-196), Signal::constant(0)};
    power_on_[2] = {{5, 2.5f, 0.001f, 100}, Signal::constant(40), Signal::constant(0)};
    power_on_[3] = {{2, 5.0f, 0.001f, 1000}, Signal::constant(150), Signal::constant(0)};
    for_each_channel(settings, "channels", hx02_channels, [&](unsigned channel, const nlohmann::json& value) {
      Channel& c = power_on_[channel - 1];
      if (value.contains("sensor")) {
        const cat::Sensor& s = named_sensor(value.at("sensor"), cat::hx02_sensors, cat::hx02_sensor_last);
        c.configuration.type = s.code;
        // A name such as pt1000 brings its own nominal resistance.
        if (s.nominal != 0) c.configuration.nominal = s.nominal;
      }
      c.configuration.range = value.value("range", c.configuration.range);
      c.configuration.current = value.value("current", c.configuration.current);
      c.configuration.nominal = value.value("nominal", c.configuration.nominal);
      if (!c.configuration.valid()) throw std::invalid_argument("channel " + std::to_string(channel) +
                                                                ": range, current or nominal not accepted");
      if (value.contains("celsius")) c.celsius = Signal::from_json(value.at("celsius"));
      if (value.contains("volts")) c.volts = Signal::from_json(value.at("volts"));
    });
  }

  std::string describe() const override { return std::string(characteristic().source()); }

 protected:
  std::optional<Reply> command(const Request& request, Time now) override {
    if (request.code >> 8 != 0x02) return std::nullopt;
    const Bytes& p = request.payload;
    switch (request.code & 0xFF) {
      case 0x00:
        return measure(p, now);
      case 0x08:
        return set_frequency(p, frequency_);
      case 0x09:
        return set_sensor(p);
      default:
        return std::nullopt;
    }
  }

  void restart(Time) override {
    channels_ = power_on_;
    frequency_ = 50;
  }

  std::optional<std::uint16_t> refusal_code(Refusal refusal) const override {
    if (refusal != Refusal::configuration) return std::nullopt;
    return 0x0202;
  }

  void add_status(std::vector<StatusItem>& items, Time now) const override {
    Module::add_status(items, now);
    constexpr float none = std::numeric_limits<float>::quiet_NaN();
    items.push_back({"frequency", "Hz", "converter frequency setting", 0, none, none, static_cast<float>(frequency_)});
  }

 private:
  struct Channel {
    Configuration configuration;
    Signal celsius;
    Signal volts;
  };

  Reply set_sensor(const Bytes& p) {
    if (p.empty() || (p[0] & 0xF0) != 0 || p.size() != 1 + 13 * bit_count(p[0])) return failure();
    std::array<Channel, hx02_channels> changed = channels_;
    std::size_t at = 1;
    for (unsigned c = 0; c < hx02_channels; ++c) {
      if ((p[0] & (1u << c)) == 0) continue;
      Configuration& k = changed[c].configuration;
      k = {p[at], wire::get_f32(&p[at + 1]), wire::get_f32(&p[at + 5]), wire::get_f32(&p[at + 9])};
      if (!k.valid()) return failure();
      at += 13;
    }
    channels_ = changed;
    return acknowledge();
  }

  Reply measure(const Bytes& p, Time now) {
    if (p.size() != 1 || (p[0] & 0xF0) != 0) return failure();
    bool unset = p[0] == 0;
    for (unsigned c = 0; c < hx02_channels; ++c) {
      if ((p[0] & (1u << c)) != 0 && channels_[c].configuration.type == 0) unset = true;
    }
    if (unset) return Reply{0x0202, {}};
    const double t = seconds(now);
    const Characteristic& curves = characteristic();
    Bytes out;
    for (unsigned c = 0; c < hx02_channels; ++c) {
      if ((p[0] & (1u << c)) == 0) continue;
      const Channel& channel = channels_[c];
      const Configuration& k = channel.configuration;
      out.push_back(k.type);
      wire::put_f32(out, k.range);
      wire::put_f32(out, k.current);
      wire::put_f32(out, k.nominal);
      const double kelvin = channel.celsius.at(t) + zero_celsius;
      double reading = channel.volts.at(t);
      if (k.type == 2) {
        reading = curves.sensor_x(2, kelvin) * k.current * k.nominal;
      } else if (k.type >= 3) {
        reading = curves.sensor_x(k.type, kelvin);
      }
      wire::put_f32(out, static_cast<float>(reading));
    }
    return Reply{0x0201, out};
  }

  std::array<Channel, hx02_channels> power_on_;
  std::array<Channel, hx02_channels> channels_;
  std::uint16_t frequency_ = 50;
};

}  // namespace

std::unique_ptr<Module> make_thermocouple(Common common, const nlohmann::json& settings) {
  return std::make_unique<Thermocouple>(std::move(common), settings);
}
std::unique_ptr<Module> make_resistance(Common common, const nlohmann::json& settings) {
  return std::make_unique<Resistance>(std::move(common), settings);
}

}  // namespace varnode::sim
