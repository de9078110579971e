// hx01/hx02 sensor, frequency, measure: temperatures in kelvin and °C.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <span>

#include "arguments.hpp"
#include "catalogue.hpp"
#include "commands.hpp"
#include "varnode/varnode.h"

namespace varnode::cli {
namespace {

constexpr float open = std::numeric_limits<float>::quiet_NaN();

namespace cat = varnode::catalogue;

struct SensorName {
  int code;
  float nominal;  // HX02 nominal resistance the name implies
};

std::span<const cat::Sensor> sensors_of(bool hx02) {
  if (hx02) return cat::hx02_sensors;
  return cat::hx01_sensors;
}

// A sensor name (any case) or code for HX01 (`hx02` false) or HX02; the
// refusal lists every name the module takes.
SensorName sensor(const std::string& text, bool hx02) {
  const unsigned last = hx02 ? cat::hx02_sensor_last : cat::hx01_sensor_last;
  std::string choices;
  for (const cat::Sensor& s : sensors_of(hx02)) {
    if (cat::same_name(text, s.name)) return {s.code, s.nominal != 0 ? s.nominal : cat::hx02_nominal};
    choices += std::string(choices.empty() ? "" : ", ") + std::string(s.name);
  }
  for (const cat::Sensor& s : sensors_of(!hx02)) {
    if (cat::same_name(text, s.name))
      throw UsageError("sensor '" + text + "' is for " + (hx02 ? "HX01" : "HX02") + ", not " +
                       (hx02 ? "HX02" : "HX01"));
  }
  if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0])))
    return {static_cast<int>(parse_unsigned(text, "sensor code", static_cast<unsigned long>(last))), cat::hx02_nominal};
  throw UsageError("sensor '" + text + "' is unknown; choose " + choices + " (or a code 0 to " + std::to_string(last) +
                   ")");
}

// The names of one module's sensors, for the help.
std::string sensor_list(bool hx02) {
  std::string list;
  for (const cat::Sensor& s : sensors_of(hx02)) list += std::string(list.empty() ? "" : ", ") + std::string(s.name);
  return list;
}

std::uint8_t thermocouple(const std::string& text) { return static_cast<std::uint8_t>(sensor(text, false).code); }

struct Resistive {
  std::uint8_t code = 0;
  float range = open, current = open, nominal = cat::hx02_nominal;
};

// TYPE[,range=V][,current=A][,nominal=OHM]
Resistive resistive(const std::string& text) {
  Resistive r;
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
    parts.push_back(text.substr(start, comma - start));
  parts.push_back(text.substr(start));
  const SensorName named = sensor(parts[0], true);
  r.code = static_cast<std::uint8_t>(named.code);
  r.nominal = named.nominal;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const auto equals = parts[i].find('=');
    const std::string key = parts[i].substr(0, equals);
    if (equals == std::string::npos) throw UsageError("'" + parts[i] + "': write range=V, current=A or nominal=OHM");
    const auto value = static_cast<float>(parse_double(parts[i].substr(equals + 1), key.c_str()));
    if (key == "range") {
      if (value != 0.5f && value != 1.0f && value != 2.5f && value != 5.0f)
        throw UsageError("range: 0.5, 1, 2.5 or 5 V");
      r.range = value;
    } else if (key == "current") {
      if (value != 0.0f && value != 0.00001f && value != 0.001f) throw UsageError("current: 0, 0.00001 or 0.001 A");
      if (value == 0.0f && r.code > 1) throw UsageError("current: this sensor needs an excitation current");
      r.current = value;
    } else if (key == "nominal") {
      if (!(value >= 1 && value <= 1000)) throw UsageError("nominal: 1 to 1000 ohm");
      r.nominal = value;
    } else {
      throw UsageError("'" + key + "': range, current or nominal");
    }
  }
  return r;
}

struct Words {
  std::string address;
  std::vector<std::string> items;
};

// A voltage input gives volts in the same array as the kelvin values and
// the C API does not say which channels those are. No sensor's table goes
// below 1 K, so a smaller reading can only be volts; a larger one might be
// either, which the note under the table says.
constexpr float surely_volts = 1.0f;
constexpr float maybe_volts = 10.0f;

void print_temperatures(const Context& c, const std::string& address, const std::vector<std::uint8_t>& channels,
                        const float* values, std::uint8_t size) {
  nlohmann::json out = nlohmann::json::object();
  Table table({"channel", "kelvin", "°C"});
  std::string doubtful;
  for (std::uint8_t i = 0; i < size; ++i) {
    const float k = values[i];
    const std::string name = std::to_string(channels[i]);
    // °C from the kelvin value as printed, so 373.15 K shows as 100 °C.
    const auto celsius = static_cast<float>(std::strtod(format_float(k).c_str(), nullptr) - 273.15);
    if (std::isfinite(k) && k < maybe_volts) doubtful += (doubtful.empty() ? "" : ", ") + name;
    if (std::isfinite(k) && k < surely_volts) {
      out[name] = {{"volts", json_float(k)}};
      table.add({name, format_float(k) + " V", "-"});
      continue;
    }
    out[name] = {{"kelvin", kelvin_json(k)}, {"celsius", kelvin_json(celsius)}};
    if (std::isinf(k)) out[name]["outside"] = k > 0 ? "above the sensor's table" : "below the sensor's table";
    const std::string outside = std::isinf(k) ? (k > 0 ? "above range" : "below range") : "";
    table.add({name, outside.empty() ? format_float(k) : outside, outside.empty() ? format_float(celsius) : outside});
  }
  if (c.json) return print_json({{"address", address}, {"temperatures", out}});
  table.print();
  if (!doubtful.empty())
    std::cout << "channel " << doubtful << ": a channel set to sensor 'voltage' gives volts, not kelvin "
              << "(readings below 1 are shown as volts; the tool cannot tell which channels are voltage inputs)\n";
}

// What a module's refusal to measure means: a listed channel has no sensor.
std::string no_sensor(const std::string& prefix, const std::string& address, const std::vector<std::uint8_t>& channels) {
  std::string list;
  for (std::uint8_t ch : channels) list += (list.empty() ? "" : ", ") + std::to_string(ch);
  const std::string example = std::to_string(channels.front()) + (prefix == "hx01" ? "=K" : "=pt100");
  return (channels.size() == 1 ? "channel " + list + " has no sensor" : "one of channels " + list + " has no sensor") +
         "; choose one with 'varnode " + prefix + " sensor " + address + " " + example + "'";
}

void add_measure(CLI::App& family, const Context& c, const std::shared_ptr<Words>& w, const std::string& prefix,
                 unsigned last, std::uint8_t (*call)(std::uint32_t, const std::uint8_t*, std::uint8_t, float*, std::uint8_t*)) {
  auto* take = family.add_subcommand("measure", "measure channels: kelvin and °C. A channel set to sensor 'voltage' gives volts instead, and the "
                                      "library does not say which channels those are: readings below 1 are shown as volts");
  take->add_option("address", w->address, "the module's IPv4 address")->required();
  take->add_option("channels", w->items, "channels 1 to " + std::to_string(last))->required();
  take->callback([&c, w, prefix, last, call] {
    const std::uint32_t address = parse_address(w->address);
    const auto channels = parse_channels(w->items, last);
    c.prepare(address);
    float values[8] = {};
    std::uint8_t size = 8;
    const std::uint8_t rc = call(address, channels.data(), static_cast<std::uint8_t>(channels.size()), values, &size);
    if (rc == VARNODE_CONFIGURATION) throw Failure{rc, prefix + " measure " + w->address, address, no_sensor(prefix, w->address, channels)};
    check(rc, prefix + " measure " + w->address, address);
    print_temperatures(c, w->address, channels, values, size);
  });
}

void done(const Context& c, const std::string& what, const std::string& address) {
  if (c.json) return print_json({{"address", address}, {"result", "success"}});
  std::cout << what << " " << address << ": done\n";
}

}  // namespace

void add_temperature_commands(CLI::App& app, Context& context) {
  const Context& c = context;
  auto w = std::make_shared<Words>();

  auto* hx01 = app.add_subcommand("hx01", "hx01 thermocouple inputs, channels 1 to 8");
  hx01->require_subcommand(1);
  auto* sensor = hx01->add_subcommand("sensor", "choose each channel's thermocouple type");
  sensor->add_option("address", w->address, "the module's IPv4 address")->required();
  sensor->add_option("settings", w->items, "CHANNEL=SENSOR: " + sensor_list(false) + " (any case, or code 0-" +
                                               std::to_string(cat::hx01_sensor_last) + ")")
      ->required();
  sensor->callback([&c, w] {
    const std::uint32_t address = parse_address(w->address);
    const auto [channels, codes] = parse_pairs<std::uint8_t>(w->items, VARNODE_HX01_CHANNELS, thermocouple);
    c.prepare(address);
    const auto n = static_cast<std::uint8_t>(channels.size());
    check(hx01_set_sensor(address, channels.data(), n, codes.data(), n), "hx01 sensor " + w->address, address);
    done(c, "hx01 sensor", w->address);
  });
  add_frequency_command(*hx01, c, "hx01", hx01_set_frequency);
  add_measure(*hx01, c, w, "hx01", VARNODE_HX01_CHANNELS, hx01_measure);

  auto* hx02 = app.add_subcommand("hx02", "hx02 platinum, diode and PTC inputs, channels 1 to 4");
  hx02->require_subcommand(1);
  auto* choose = hx02->add_subcommand("sensor", "choose each channel's sensor, range, current and nominal resistance");
  choose->add_option("address", w->address, "the module's IPv4 address")->required();
  choose->add_option("settings", w->items,
                     "CHANNEL=SENSOR[,range=V][,current=A][,nominal=OHM]; SENSOR " + sensor_list(true) +
                         ", any case, or code 0-" + std::to_string(cat::hx02_sensor_last) +
                         "; range and current left out are chosen by the library")
      ->required();
  choose->callback([&c, w] {
    const std::uint32_t address = parse_address(w->address);
    const auto [channels, sensors] = parse_pairs<Resistive>(w->items, VARNODE_HX02_CHANNELS, resistive);
    std::vector<std::uint8_t> codes;
    std::vector<float> ranges, currents, nominals;
    for (const Resistive& r : sensors) {
      codes.push_back(r.code);
      ranges.push_back(r.range);
      currents.push_back(r.current);
      nominals.push_back(r.nominal);
    }
    c.prepare(address);
    const auto n = static_cast<std::uint8_t>(channels.size());
    check(hx02_set_sensor(address, channels.data(), n, codes.data(), n, ranges.data(), n, currents.data(), n,
                          nominals.data(), n),
          "hx02 sensor " + w->address, address);
    done(c, "hx02 sensor", w->address);
  });
  add_frequency_command(*hx02, c, "hx02", hx02_set_frequency);
  add_measure(*hx02, c, w, "hx02", VARNODE_HX02_CHANNELS, hx02_measure);
}

}  // namespace varnode::cli
