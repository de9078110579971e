#pragma once
// The rack description checked like a config file before any module is
// built: every key known, every value of its type, each mistake named by
// its path ("modules[2].faults[0]: unknown key \"probabilty\""), and fault
// rules' command names turned into codes.

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "module.hpp"

namespace varnode::sim {

// The most status items a module may hold: its status reply is one datagram.
constexpr std::size_t max_status_items = 64;
// How deeply a rack description may nest; deeper is refused while parsing.
constexpr int max_description_depth = 32;

// Throws std::invalid_argument naming the path of the first mistake.
void check_description(const nlohmann::json& description);

// A command named as the varnode tool names it ("measure", "read", "info",
// ...) for a module of `kind`; nullopt for a name that kind lacks.
std::optional<std::uint16_t> command_by_name(Kind kind, const std::string& name);
// The names `kind` takes, for messages.
std::string command_names(Kind kind);

// A fault rule with its command names replaced by their codes.
nlohmann::json with_command_codes(const nlohmann::json& fault, Kind kind);

}  // namespace varnode::sim
