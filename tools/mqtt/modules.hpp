#pragma once
// What the bridge asks of a module, over the library's C functions only:
// a polled reading, a streamed block, identity and status, and commands.

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "description.hpp"

namespace mqtt_bridge {

// The word of a result code, as the log format writes it.
const char* code_word(std::uint8_t code);

struct Reading {
  std::uint8_t code = 0;
  std::vector<nlohmann::json> values;  // one per polled channel, in the poll's order
  nlohmann::json reference;            // QU01 only
};
Reading read(const ModuleEntry& module);

// One block of the module's stream: values[s * count + i].
std::uint8_t stream_block(const ModuleEntry& module, std::vector<float>& values);

struct Identity {
  std::uint8_t code = 0;
  std::uint32_t serial = 0;
  nlohmann::json info;
};
Identity identity(std::uint32_t address);

struct Status {
  std::uint8_t code = 0;
  nlohmann::json status;
};
Status status(std::uint32_t address);

// A command from a .../set message, already parsed as JSON (or the reason
// it is not). Checked completely before anything is sent: a bad one comes
// back with code 3 and says why.
struct Outcome {
  std::uint8_t code = 0;
  std::string error;
};
Outcome run_command(const ModuleEntry& module, const nlohmann::json& request);

}  // namespace mqtt_bridge
