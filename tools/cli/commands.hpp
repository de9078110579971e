#pragma once
// The subcommands, one family per file; each registers itself on the app.

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

#include "output.hpp"

namespace varnode::cli {

struct Context {
  bool json = false;
  bool csv = false;
  unsigned timeout_ms = 0;  // 0: the library's default
  // Sets the module's reply time-out when --timeout was given.
  void prepare(std::uint32_t address) const;
};

void add_device_commands(CLI::App& app, Context& context);
void add_digital_commands(CLI::App& app, Context& context);
void add_counter_commands(CLI::App& app, Context& context);
void add_analog_commands(CLI::App& app, Context& context);
void add_temperature_commands(CLI::App& app, Context& context);
void add_log_command(CLI::App& app, Context& context);
// "frequency ADDRESS HERTZ" under a module family.
void add_frequency_command(CLI::App& family, const Context& context, const std::string& prefix,
                           std::uint8_t (*call)(std::uint32_t, std::uint16_t));

// The kind a module says it is (identity text_2), when it answers.
std::optional<std::string> module_kind(std::uint32_t address);

// Bools handed to the library as the bytes it reads.
inline std::vector<std::uint8_t> as_bytes(const std::vector<bool>& flags) {
  return std::vector<std::uint8_t>(flags.begin(), flags.end());
}

}  // namespace varnode::cli
