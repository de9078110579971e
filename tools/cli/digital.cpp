// kl01/kl02 read, write, direction; ks01/ks02 write, ks01 measure; we01 set.
#include <cmath>
#include <limits>
#include <memory>

#include "arguments.hpp"
#include "commands.hpp"
#include "varnode/varnode.h"

namespace varnode::cli {
namespace {

using WriteFlags = std::uint8_t (*)(std::uint32_t, const std::uint8_t*, std::uint8_t, const bool*, std::uint8_t);
using ReadFlags = std::uint8_t (*)(std::uint32_t, const std::uint8_t*, std::uint8_t, bool*, std::uint8_t*);

struct Words {
  std::string address;
  std::vector<std::string> items;
};

CLI::App* subcommand(CLI::App& parent, const char* name, const char* help, Words& words, const char* items_help) {
  auto* sub = parent.add_subcommand(name, help);
  sub->add_option("address", words.address, "the module's IPv4 address")->required();
  // Named for what they hold, as CLI11 names a missing one.
  const bool pairs = std::string(items_help).find('=') != std::string::npos;
  sub->add_option(pairs ? "settings" : "channels", words.items, items_help)->required();
  return sub;
}

void write_flags(const Context& c, const Words& w, WriteFlags call, bool (*parse)(const std::string&),
                 const std::string& what) {
  const std::uint32_t address = parse_address(w.address);
  const auto [channels, flags] = parse_pairs<bool>(w.items, 8, parse);
  const auto bytes = as_bytes(flags);
  c.prepare(address);
  const auto n = static_cast<std::uint8_t>(channels.size());
  check(call(address, channels.data(), n, reinterpret_cast<const bool*>(bytes.data()), n), what + " " + w.address, address);
  if (c.json) {
    nlohmann::json set = nlohmann::json::object();
    for (std::size_t i = 0; i < channels.size(); ++i) set[std::to_string(channels[i])] = static_cast<bool>(flags[i]);
    return print_json({{"address", w.address}, {"set", set}, {"result", "success"}});
  }
  std::cout << what << " " << w.address << ": done\n";
}

void read_flags(const Context& c, const Words& w, ReadFlags call, const std::string& what) {
  const std::uint32_t address = parse_address(w.address);
  const auto channels = parse_channels(w.items, 8);
  c.prepare(address);
  std::uint8_t bytes[8] = {};
  std::uint8_t size = 8;
  check(call(address, channels.data(), static_cast<std::uint8_t>(channels.size()), reinterpret_cast<bool*>(bytes),
             &size),
        what + " " + w.address, address);
  nlohmann::json levels = nlohmann::json::object();
  Table table({"channel", "level"});
  for (std::uint8_t i = 0; i < size; ++i) {
    levels[std::to_string(channels[i])] = bytes[i] != 0;
    table.add({std::to_string(channels[i]), bytes[i] != 0 ? "1 (high)" : "0 (low)"});
  }
  if (c.json) return print_json({{"address", w.address}, {"levels", levels}});
  table.print();
}

void add_digital_io(CLI::App& app, const Context& c, const char* name, WriteFlags direction, WriteFlags write,
                    ReadFlags read) {
  auto* family = app.add_subcommand(name, std::string(name) + " digital I/O, channels 1 to 8");
  family->require_subcommand(1);
  auto w = std::make_shared<Words>();
  const std::string prefix = name;
  subcommand(*family, "read", "read the level of channels", *w, "channels, e.g. 1 3 8")->callback([&c, w, read, prefix] {
    read_flags(c, *w, read, prefix + " read");
  });
  subcommand(*family, "write", "set the level of output channels", *w, "CHANNEL=LEVEL, LEVEL 1/0, on/off, high/low")
      ->callback([&c, w, write, prefix] { write_flags(c, *w, write, parse_level, prefix + " write"); });
  subcommand(*family, "direction", "make channels outputs or inputs", *w, "CHANNEL=out or CHANNEL=in")
      ->callback([&c, w, direction, prefix] { write_flags(c, *w, direction, parse_direction, prefix + " direction"); });
}

}  // namespace

void add_digital_commands(CLI::App& app, Context& context) {
  const Context& c = context;
  add_digital_io(app, c, "kl01", kl01_set_direction, kl01_write, kl01_read);
  add_digital_io(app, c, "kl02", kl02_set_direction, kl02_write, kl02_read);

  auto w = std::make_shared<Words>();
  for (const auto& [name, call] : {std::pair<const char*, WriteFlags>{"ks01", ks01_write},
                                   std::pair<const char*, WriteFlags>{"ks02", ks02_write}}) {
    auto* family = app.add_subcommand(name, std::string(name) + " digital outputs, channels 1 to 8");
    family->require_subcommand(1);
    const std::string what = std::string(name) + " write";
    subcommand(*family, "write", "switch outputs on or off", *w, "CHANNEL=on or CHANNEL=off")
        ->callback([&c, w, f = call, what] { write_flags(c, *w, f, parse_level, what); });
    if (std::string(name) != "ks01") continue;
    subcommand(*family, "measure", "read the value each output measures (its load current)", *w, "channels")
        ->callback([&c, w] {
          const std::uint32_t address = parse_address(w->address);
          const auto channels = parse_channels(w->items, 8);
          c.prepare(address);
          float values[8] = {};
          std::uint8_t size = 8;
          check(ks01_measure(address, channels.data(), static_cast<std::uint8_t>(channels.size()), values, &size),
                "ks01 measure " + w->address, address);
          nlohmann::json out = nlohmann::json::object();
          Table table({"channel", "value"});
          for (std::uint8_t i = 0; i < size; ++i) {
            out[std::to_string(channels[i])] = json_float(values[i]);
            table.add({std::to_string(channels[i]), format_float(values[i])});
          }
          if (c.json) return print_json({{"address", w->address}, {"values", out}});
          table.print();
        });
  }

  auto* we01 = app.add_subcommand("we01", "we01 voltage outputs, channels 1 to 8");
  we01->require_subcommand(1);
  subcommand(*we01, "set", "set output values, sent unchanged", *w, "CHANNEL=VALUE, e.g. 2=2.5")->callback([&c, w] {
    const std::uint32_t address = parse_address(w->address);
    const auto [channels, values] = parse_pairs<float>(
        w->items, 8, [](const std::string& text) {
          const double value = parse_double(text, "value");
          if (std::abs(value) > std::numeric_limits<float>::max())
            throw UsageError("value '" + text + "' does not fit a single-precision number");
          return static_cast<float>(value);
        });
    c.prepare(address);
    const auto n = static_cast<std::uint8_t>(channels.size());
    check(we01_control(address, channels.data(), n, values.data(), n), "we01 set " + w->address, address);
    if (c.json) return print_json({{"address", w->address}, {"result", "success"}});
    std::cout << "we01 set " << w->address << ": done\n";
  });
}

}  // namespace varnode::cli
