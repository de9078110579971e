#include "rack.hpp"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <set>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "kinds.hpp"
#include "schema.hpp"

namespace varnode::sim {
namespace {

using nlohmann::json;

// Where modules go when the description does not say: .11, .12, ... of the
// link in a namespace, or of 127.0.10.0 on loopback.
Address automatic_address(Placement placement, const Rack& rack, std::size_t index) {
  const std::uint32_t base = placement == Placement::loopback ? 0x7F000A00u : rack.client.host_value() & 0xFFFFFF00u;
  return Address(base + 11 + static_cast<std::uint32_t>(index));
}

float limit(const json& item, const char* key) {
  if (!item.contains(key) || item.at(key).is_null()) return std::numeric_limits<float>::quiet_NaN();
  return item.at(key).get<float>();
}

StatusItem status_item(const json& item) {
  StatusItem s;
  s.name = item.at("name").get<std::string>();
  if (s.name.empty()) throw std::invalid_argument("a status item needs a name");
  s.unit = item.value("unit", "");
  s.description = item.value("description", "");
  s.number_4 = item.value("number_4", 0.0f);
  s.lower = limit(item, "lower");
  s.upper = limit(item, "upper");
  s.value = item.value("value", 0.0f);
  return s;
}

std::unique_ptr<Module> module_from(const json& entry, std::size_t index, Placement placement, const Rack& rack) {
  if (!entry.is_object()) throw std::invalid_argument("a module is an object");
  Common common;
  const std::string kind = entry.at("kind").get<std::string>();
  const auto found = kind_from_name(kind);
  if (!found) throw std::invalid_argument("kind: unknown kind '" + kind + "'");
  common.kind = *found;
  common.address = entry.contains("address") ? parse_address(entry.at("address").get<std::string>())
                                             : automatic_address(placement, rack, index);
  common.serial = entry.value("serial", 0x00100000u + static_cast<std::uint32_t>(index + 1) * 0x101u);
  if (common.serial == 0) throw std::invalid_argument("serial: 0 is no serial number");
  const std::string layout = entry.value("identity", "extended");
  if (layout != "extended" && layout != "legacy") throw std::invalid_argument("identity: extended or legacy");
  common.layout = layout == "legacy" ? Layout::legacy : Layout::extended;
  common.name = entry.value("name", std::string(kind_name(common.kind)) + " #" + std::to_string(index + 1));
  common.restart_ms = entry.value("restart_ms", 0u);
  common.stream_speed = entry.value("stream_speed", 1.0);
  if (!(common.stream_speed > 0)) throw std::invalid_argument("stream_speed: above 0");
  common.seed = entry.value("seed", common.serial);
  if (placement == Placement::namespaced) {
    common.netmask = Address(rack.prefix == 0 ? 0 : 0xFFFFFFFFu << (32 - rack.prefix));
    common.gateway = rack.client;
  } else {
    common.netmask = Address(0xFF000000u);
  }
  if (entry.contains("status")) {
    for (const json& item : entry.at("status")) common.status.push_back(status_item(item));
  }
  if (entry.contains("faults")) {
    const json& faults = entry.at("faults");
    for (std::size_t i = 0; i < faults.size(); ++i) {
      try {
        common.faults.push_back(FaultRule::from_json(with_command_codes(faults.at(i), common.kind)));
      } catch (const std::exception& failure) {
        throw std::invalid_argument("faults[" + std::to_string(i) + "]: " + failure.what());
      }
    }
  }
  return make_module(std::move(common), entry);
}

}  // namespace

Address parse_address(const std::string& text) {
  unsigned a, b, c, d;
  char tail;
  if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4 || a > 255 || b > 255 || c > 255 ||
      d > 255)
    throw std::invalid_argument("'" + text + "' is not an IPv4 address");
  return Address((a << 24) | (b << 16) | (c << 8) | d);
}

std::string format_address(Address address) {
  const auto& b = address.bytes();
  return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." + std::to_string(b[3]);
}

void for_each_channel(const json& settings, const char* key, unsigned last,
                      const std::function<void(unsigned, const json&)>& each) {
  if (!settings.contains(key)) return;
  const json& channels = settings.at(key);
  if (!channels.is_object()) throw std::invalid_argument(std::string(key) + ": an object keyed by channel number");
  for (const auto& [name, value] : channels.items()) {
    unsigned channel = 0;
    try {
      channel = static_cast<unsigned>(std::stoul(name));
    } catch (const std::exception&) {
    }
    if (channel < 1 || channel > last)
      throw std::invalid_argument(std::string(key) + ": channel '" + name + "' is not 1 to " + std::to_string(last));
    try {
      each(channel, value);
    } catch (const std::exception& failure) {
      throw std::invalid_argument(std::string(key) + "." + name + ": " + failure.what());
    }
  }
}

std::uint8_t byte_setting(const json& settings, const char* key, std::uint8_t fallback) {
  if (!settings.contains(key)) return fallback;
  const json& value = settings.at(key);
  const unsigned long byte = value.is_string() ? std::stoul(value.get<std::string>(), nullptr, 0) : value.get<unsigned long>();
  if (byte > 0xFF) throw std::invalid_argument(std::string(key) + ": one byte, 0 to 0xFF");
  return static_cast<std::uint8_t>(byte);
}

std::unique_ptr<Module> make_module(Common common, const json& settings) {
  switch (common.kind) {
    case Kind::KL01:
    case Kind::KL02:
      return make_digital_io(std::move(common), settings);
    case Kind::KS01:
    case Kind::KS02:
      return make_digital_output(std::move(common), settings);
    case Kind::QU01:
      return make_counter(std::move(common), settings);
    case Kind::RA01:
    case Kind::RE01:
      return make_analog_input(std::move(common), settings);
    case Kind::WE01:
      return make_analog_output(std::move(common), settings);
    case Kind::HX01:
      return make_thermocouple(std::move(common), settings);
    case Kind::HX02:
      return make_resistance(std::move(common), settings);
  }
  throw std::invalid_argument("unknown kind");
}

Rack parse_rack(const json& description, Placement placement) {
  Rack rack;
  if (!description.is_object()) throw std::invalid_argument("the rack description is a JSON object");
  check_description(description);
  if (description.contains("client")) rack.client = parse_address(description.at("client").get<std::string>());
  rack.prefix = description.value("prefix", 24u);
  if (rack.prefix < 8 || rack.prefix > 30) throw std::invalid_argument("prefix: 8 to 30");
  const std::uint32_t mask = 0xFFFFFFFFu << (32 - rack.prefix);
  // The link's own network and broadcast addresses are no host's: a module
  // or client there would turn every datagram to it into a broadcast.
  const auto host_on_link = [&](Address address) {
    const std::uint32_t host = address.host_value() & ~mask;
    return host != 0 && host != ~mask;
  };
  if (placement == Placement::namespaced) {
    const std::uint32_t first = rack.client.host_value() >> 24;
    if (!host_on_link(rack.client) || first == 0 || first == 127 || first >= 224)
      throw std::invalid_argument("client: " + format_address(rack.client) + " is not a host address on a /" +
                                  std::to_string(rack.prefix) + " link");
  }
  if (!description.contains("modules")) throw std::invalid_argument("modules: missing");
  const json& modules = description.at("modules");
  std::set<std::uint32_t> addresses, serials;
  for (std::size_t i = 0; i < modules.size(); ++i) {
    try {
      auto module = module_from(modules.at(i), i, placement, rack);
      const Address address = module->address();
      if (placement == Placement::loopback && !address.is_loopback())
        throw std::invalid_argument("address: on loopback every module needs a 127.x.y.z address");
      if (placement == Placement::namespaced &&
          ((address.host_value() ^ rack.client.host_value()) & mask) != 0)
        throw std::invalid_argument("address: " + format_address(address) + " is not on the client's link " +
                                    format_address(rack.client) + "/" + std::to_string(rack.prefix));
      if (placement == Placement::namespaced && !host_on_link(address))
        throw std::invalid_argument("address: " + format_address(address) + " is the link's network or broadcast "
                                    "address");
      if (address == rack.client || !addresses.insert(address.host_value()).second)
        throw std::invalid_argument("address: " + format_address(address) + " is taken");
      if (!serials.insert(module->serial()).second) throw std::invalid_argument("serial: used twice");
      rack.modules.push_back(std::move(module));
    } catch (const std::exception& failure) {
      throw std::invalid_argument("modules[" + std::to_string(i) + "]: " + failure.what());
    }
  }
  return rack;
}

json read_description(const std::string& path) {
  std::ifstream file(path);
  if (!file) throw MissingFile(path + ": " + std::strerror(errno));
  try {
    // Refused while parsing: checking and printing a value recurse into it,
    // and 100,000 nested lists would overflow the stack there.
    const json::parser_callback_t shallow = [](int depth, json::parse_event_t, json&) {
      if (depth > max_description_depth)
        throw std::invalid_argument("nested more than " + std::to_string(max_description_depth) + " levels deep");
      return true;
    };
    return json::parse(file, shallow, true, true);
  } catch (const std::invalid_argument& failure) {
    throw std::invalid_argument(path + ": " + failure.what());
  } catch (const json::parse_error& failure) {
    // "[json.exception.parse_error.101] parse error at line 3, column 5: why"
    // becomes "PATH:3:5: why", the way compilers point at a place.
    const std::string what = failure.what();
    const auto line = what.find("at line ");
    const auto column = what.find(", column ");
    const auto colon = what.find(": ", column == std::string::npos ? 0 : column);
    if (line != std::string::npos && column != std::string::npos && colon != std::string::npos)
      throw std::invalid_argument(path + ":" + what.substr(line + 8, column - line - 8) + ":" +
                                  what.substr(column + 9, colon - column - 9) + ": " + what.substr(colon + 2));
    throw std::invalid_argument(path + ": " + what);
  } catch (const json::exception& failure) {
    throw std::invalid_argument(path + ": " + failure.what());
  }
}

json default_description() {
  json modules = json::array();
  for (Kind kind : all_kinds) modules.push_back({{"kind", kind_name(kind)}});
  return {{"modules", modules}};
}

json quick_description(const std::vector<std::string>& words) {
  json modules = json::array();
  for (const std::string& module : words) {
    const auto at = module.find('@');
    json entry{{"kind", module.substr(0, at)}};
    if (at != std::string::npos) entry["address"] = module.substr(at + 1);
    modules.push_back(entry);
  }
  return {{"modules", modules}};
}

}  // namespace varnode::sim
