// hx01/hx02 sensor, frequency, measure: temperatures in kelvin and °C.
#include <cmath>
#include <limits>
#include <memory>

#include "arguments.hpp"
#include "commands.hpp"
#include "varnode/varnode.h"

namespace varnode::cli {
namespace {

constexpr float open = std::numeric_limits<float>::quiet_NaN();

std::uint8_t thermocouple(const std::string& text) {
  static const std::string types = "..BCDEGJKMNPRST";
  if (text == "none") return 0;
  if (text == "voltage") return 1;
  if (text.size() == 1 && text != "." && types.find(static_cast<char>(std::toupper(text[0]))) != std::string::npos)
    return static_cast<std::uint8_t>(types.find(static_cast<char>(std::toupper(text[0]))));
  return static_cast<std::uint8_t>(parse_unsigned(text, "sensor (none, voltage, B C D E G J K M N P R S T, or 0-14)", 14));
}

struct Resistive {
  std::uint8_t code = 0;
  float range = open, current = open, nominal = 100;
};

// TYPE[,range=V][,current=A][,nominal=OHM]
Resistive resistive(const std::string& text) {
  Resistive r;
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
    parts.push_back(text.substr(start, comma - start));
  parts.push_back(text.substr(start));
  const std::string& type = parts[0];
  if (type == "none") r.code = 0;
  else if (type == "voltage") r.code = 1;
  else if (type == "platinum" || type == "pt100") r.code = 2;
  else if (type == "pt1000") r.code = 2, r.nominal = 1000;
  else if (type == "diode1") r.code = 3;
  else if (type == "diode2") r.code = 4;
  else r.code = static_cast<std::uint8_t>(parse_unsigned(type, "sensor (none, voltage, pt100, pt1000, diode1, diode2, or 0-10)", 10));
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

void print_temperatures(const Context& c, const std::string& address, const std::vector<std::uint8_t>& channels,
                        const float* values, std::uint8_t size) {
  nlohmann::json out = nlohmann::json::object();
  Table table({"channel", "kelvin", "°C"});
  for (std::uint8_t i = 0; i < size; ++i) {
    const float k = values[i];
    const std::string name = std::to_string(channels[i]);
    out[name] = {{"kelvin", kelvin_json(k)}, {"celsius", kelvin_json(k - 273.15f)}};
    if (std::isinf(k)) out[name]["outside"] = k > 0 ? "above the sensor's table" : "below the sensor's table";
    const std::string outside = std::isinf(k) ? (k > 0 ? "above range" : "below range") : "";
    table.add({name, outside.empty() ? format_number(k, 6) : outside,
               outside.empty() ? format_number(k - 273.15, 5) : outside});
  }
  if (c.json) return print_json({{"address", address}, {"temperatures", out}});
  table.print();
}

void add_measure(CLI::App& family, const Context& c, const std::shared_ptr<Words>& w, const std::string& prefix,
                 unsigned last, std::uint8_t (*call)(std::uint32_t, const std::uint8_t*, std::uint8_t, float*, std::uint8_t*)) {
  auto* take = family.add_subcommand("measure", "measure channels: kelvin and °C (a voltage input reads volts)");
  take->add_option("address", w->address, "the module's IPv4 address")->required();
  take->add_option("channels", w->items, "channels 1 to " + std::to_string(last))->required();
  take->callback([&c, w, prefix, last, call] {
    const std::uint32_t address = parse_address(w->address);
    const auto channels = parse_channels(w->items, last);
    c.prepare(address);
    float values[8] = {};
    std::uint8_t size = 8;
    check(call(address, channels.data(), static_cast<std::uint8_t>(channels.size()), values, &size),
          prefix + " measure " + w->address);
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
  sensor->add_option("items", w->items, "CHANNEL=TYPE: none, voltage, B C D E G J K M N P R S T (or code 0-14)")
      ->required();
  sensor->callback([&c, w] {
    const std::uint32_t address = parse_address(w->address);
    const auto [channels, codes] = parse_pairs<std::uint8_t>(w->items, 8, thermocouple);
    c.prepare(address);
    const auto n = static_cast<std::uint8_t>(channels.size());
    check(hx01_set_sensor(address, channels.data(), n, codes.data(), n), "hx01 sensor " + w->address);
    done(c, "hx01 sensor", w->address);
  });
  add_frequency_command(*hx01, c, "hx01", hx01_set_frequency);
  add_measure(*hx01, c, w, "hx01", 8, hx01_measure);

  auto* hx02 = app.add_subcommand("hx02", "hx02 platinum, diode and PTC inputs, channels 1 to 4");
  hx02->require_subcommand(1);
  auto* choose = hx02->add_subcommand("sensor", "choose each channel's sensor, range, current and nominal resistance");
  choose->add_option("address", w->address, "the module's IPv4 address")->required();
  choose->add_option("items", w->items,
                     "CHANNEL=TYPE[,range=V][,current=A][,nominal=OHM]; TYPE none, voltage, pt100, pt1000, "
                     "diode1, diode2 or code 0-10; range and current left out are chosen by the library")
      ->required();
  choose->callback([&c, w] {
    const std::uint32_t address = parse_address(w->address);
    const auto [channels, sensors] = parse_pairs<Resistive>(w->items, 4, resistive);
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
          "hx02 sensor " + w->address);
    done(c, "hx02 sensor", w->address);
  });
  add_frequency_command(*hx02, c, "hx02", hx02_set_frequency);
  add_measure(*hx02, c, w, "hx02", 4, hx02_measure);
}

}  // namespace varnode::cli
