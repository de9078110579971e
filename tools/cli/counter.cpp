// qu01 enable, disable, clear, mode, read.
#include <memory>

#include "arguments.hpp"
#include "commands.hpp"
#include "varnode/varnode.h"

namespace varnode::cli {

void add_counter_commands(CLI::App& app, Context& context) {
  const Context& c = context;
  struct Words {
    std::string address;
    std::vector<std::string> items;
  };
  auto w = std::make_shared<Words>();
  auto* family = app.add_subcommand("qu01", "qu01 counters, channels 1 to 4");
  family->require_subcommand(1);
  using Mask = std::uint8_t (*)(std::uint32_t, const std::uint8_t*, std::uint8_t);
  for (const auto& [name, call, help] :
       {std::tuple{"enable", Mask{qu01_enable}, "start counting"}, std::tuple{"disable", Mask{qu01_disable}, "stop counting"},
        std::tuple{"clear", Mask{qu01_clear}, "set counts to zero"}}) {
    auto* sub = family->add_subcommand(name, help);
    sub->add_option("address", w->address, "the module's IPv4 address")->required();
    sub->add_option("channels", w->items, "channels (none: an empty mask)");
    const std::string what = std::string("qu01 ") + name;
    sub->callback([&c, w, f = call, what] {
      const std::uint32_t address = parse_address(w->address);
      const auto channels = parse_channels(w->items, 4);
      c.prepare(address);
      check(f(address, channels.data(), static_cast<std::uint8_t>(channels.size())), what + " " + w->address, address);
      if (c.json) return print_json({{"address", w->address}, {"result", "success"}});
      std::cout << what << " " << w->address << ": done\n";
    });
  }

  auto* mode = family->add_subcommand("mode", "set each channel's counting mode, 0 to 3");
  mode->add_option("address", w->address, "the module's IPv4 address")->required();
  mode->add_option("settings", w->items, "CHANNEL=MODE, e.g. 1=0 2=3")->required();
  mode->callback([&c, w] {
    const std::uint32_t address = parse_address(w->address);
    const auto [channels, modes] = parse_pairs<std::uint8_t>(w->items, 4, [](const std::string& text) {
      return static_cast<std::uint8_t>(parse_unsigned(text, "mode", 3));
    });
    c.prepare(address);
    const auto n = static_cast<std::uint8_t>(channels.size());
    check(qu01_set_mode(address, channels.data(), n, modes.data(), n), "qu01 mode " + w->address, address);
    if (c.json) return print_json({{"address", w->address}, {"result", "success"}});
    std::cout << "qu01 mode " << w->address << ": done\n";
  });

  auto* read = family->add_subcommand("read", "read counts and the module's reference value");
  read->add_option("address", w->address, "the module's IPv4 address")->required();
  read->add_option("channels", w->items, "channels (default: all four)");
  read->callback([&c, w] {
    const std::uint32_t address = parse_address(w->address);
    const auto channels = w->items.empty() ? std::vector<std::uint8_t>{1, 2, 3, 4} : parse_channels(w->items, 4);
    c.prepare(address);
    std::int64_t values[4] = {}, reference = 0;
    std::uint8_t size = 4;
    check(qu01_read(address, channels.data(), static_cast<std::uint8_t>(channels.size()), values, &size, &reference),
          "qu01 read " + w->address, address);
    nlohmann::json counts = nlohmann::json::object();
    Table table({"channel", "count"});
    for (std::uint8_t i = 0; i < size; ++i) {
      counts[std::to_string(channels[i])] = values[i];
      table.add({std::to_string(channels[i]), std::to_string(values[i])});
    }
    if (c.json) return print_json({{"address", w->address}, {"reference", reference}, {"counts", counts}});
    table.print();
    std::cout << "reference: " << reference << "\n";
  });
}

}  // namespace varnode::cli
