#pragma once
// The rack description: which modules, where, and how they behave. Read
// from a JSON file (see rack.md) or the built-in default of one module of
// each kind.

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "module.hpp"

namespace varnode::sim {

enum class Placement { namespaced, loopback };

struct Rack {
  // The private link between the client's namespace and the modules'.
  Address client{0xC6120001u};  // 198.18.0.1
  unsigned prefix = 24;
  std::vector<std::unique_ptr<Module>> modules;
};

// Throws std::invalid_argument naming the offending entry.
Rack parse_rack(const nlohmann::json& description, Placement placement);
// A description file that cannot be opened.
struct MissingFile : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A description read from a file (comments allowed), one module of each
// kind, or the modules of KIND[@ADDRESS] words.
nlohmann::json read_description(const std::string& path);
nlohmann::json default_description();
nlohmann::json quick_description(const std::vector<std::string>& words);

Address parse_address(const std::string& text);
std::string format_address(Address address);

}  // namespace varnode::sim
