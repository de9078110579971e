#pragma once
// Every export of the library as a soak call: it makes one call with
// arguments drawn at random, times it, and checks the outcome against what
// the soak's rack must answer.

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "rack.hpp"

namespace soak {

using Random = std::mt19937_64;

struct Outcome {
  std::uint8_t code = 0;
  std::uint16_t documented = 0;  // bit n: the header documents code n for this call
  double took_ms = 0;
  double allowed_ms = 0;         // the call's own time-out (or find's window), before any margin
  std::string wrong;             // why a success carried wrong data, or a failure wrote outputs
};

struct Call {
  const char* name;
  const char* family;
  unsigned weight;
  std::function<Outcome(Random&)> run;
};

// What the rack answers that cannot be written down beforehand without
// repeating the simulator (identities, status lists, converted
// temperatures) is learned once, before the soak, from replies that agree.
// False when a module never gave such replies.
bool learn_references(std::string& failure);
// Brings every module's state to what the soak's writes keep it at,
// retrying through the faults. False when a module never accepted.
bool prepare_rack(std::string& failure);

std::vector<Call> all_calls();

}  // namespace soak
