#pragma once
// How every module family judges a reply: the one answer it expects, the
// refusals a module may give instead, and failure for anything else.

#include <cstddef>
#include <cstdint>
#include <limits>

#include "device/device.hpp"

namespace varnode::reply {

// The good answer: its code and how many payload bytes it may carry.
struct Expected {
  std::uint16_t code;
  std::size_t least;
  std::size_t most;
};

constexpr Expected exactly(std::uint16_t code, std::size_t size) { return {code, size, size}; }
constexpr Expected at_least(std::uint16_t code, std::size_t size) {
  return {code, size, std::numeric_limits<std::size_t>::max()};
}

// A reply code by which the module, with an empty payload, declines the
// command; judge throws `Refused` for it.
template <class Refused>
struct Refusal {
  std::uint16_t code;
};

// Returns for the expected answer; a refusal code with an empty payload
// throws its exception; anything else is Device::Exception::Failed.
template <class... Refused>
void judge(std::uint16_t reply, DCP::View payload, Expected expected, Refusal<Refused>... refusals) {
  if (reply == expected.code && payload.size() >= expected.least && payload.size() <= expected.most) return;
  if (payload.empty()) ((reply == refusals.code ? throw Refused{} : void()), ...);
  throw Device::Exception::Failed{};
}

}  // namespace varnode::reply
