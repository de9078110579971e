#pragma once
// The module kinds, each built from the common settings and its own part of
// the rack description.

#include <functional>
#include <memory>

#include <nlohmann/json_fwd.hpp>

#include "module.hpp"

namespace varnode::sim {

std::unique_ptr<Module> make_module(Common common, const nlohmann::json& settings);

std::unique_ptr<Module> make_digital_io(Common common, const nlohmann::json& settings);
std::unique_ptr<Module> make_digital_output(Common common, const nlohmann::json& settings);
std::unique_ptr<Module> make_analog_output(Common common, const nlohmann::json& settings);
std::unique_ptr<Module> make_counter(Common common, const nlohmann::json& settings);
std::unique_ptr<Module> make_analog_input(Common common, const nlohmann::json& settings);
std::unique_ptr<Module> make_thermocouple(Common common, const nlohmann::json& settings);
std::unique_ptr<Module> make_resistance(Common common, const nlohmann::json& settings);

// Calls `each` for every entry of settings[key], an object keyed by channel
// number ("1" to "last"). Throws std::invalid_argument for other keys.
void for_each_channel(const nlohmann::json& settings, const char* key, unsigned last,
                      const std::function<void(unsigned, const nlohmann::json&)>& each);
// A byte given as a number or a string such as "0x0F".
std::uint8_t byte_setting(const nlohmann::json& settings, const char* key, std::uint8_t fallback);

inline unsigned bit_count(std::uint8_t mask) { return static_cast<unsigned>(__builtin_popcount(mask)); }

}  // namespace varnode::sim
