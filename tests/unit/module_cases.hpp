#pragma once
// Table-driven checks of module exports against a FakeModule: the bytes a
// call sends, the result code it makes of a reply, and what it leaves in the
// caller's output buffers.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "dcp/datagram.hpp"

namespace varnode::test {

// One export call on the module at `address`. It renders every output it
// handed over into `outputs` whatever the result, so that a case can tell
// written outputs from untouched ones.
using Call = std::function<std::uint8_t(std::uint32_t address, std::string& outputs)>;

struct Datagram {
  std::uint16_t code = 0;
  Bytes payload;
};

// A call that sends exactly `request` and gets `reply` (none: the module
// stays silent and the call times out).
struct ExchangeCase {
  std::string name;
  Call call;
  Datagram request;
  std::optional<Datagram> reply;
  std::uint8_t result = 0;
  std::string outputs;
};

// A call refused with 3 before anything is sent. `registered`: whether the
// Device was built (the operation refused), or not (the export's own checks
// refused, or the address).
struct RefusalCase {
  std::string name;
  Call call;
  bool registered = false;
  std::string outputs;
};

inline void PrintTo(const ExchangeCase& c, std::ostream* out) { *out << c.name; }
inline void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.name; }

class ModuleExchange : public testing::TestWithParam<ExchangeCase> {};
class ModuleRefusal : public testing::TestWithParam<RefusalCase> {};

struct CaseName {
  template <class Case>
  std::string operator()(const testing::TestParamInfo<Case>& info) const {
    std::string name = info.param.name;
    for (char& c : name)
      if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
  }
};

using Channels = std::vector<std::uint8_t>;

inline std::uint8_t count_of(const Channels& channels) { return static_cast<std::uint8_t>(channels.size()); }

// Output buffers start filled with a marker, so an untouched entry shows.
inline constexpr unsigned char untouched_byte = 0xA5;
template <class Value>
void fill_untouched(Value* values, std::size_t n) {
  if constexpr (std::is_same_v<Value, bool>)
    std::memset(values, untouched_byte, n);
  else
    std::fill(values, values + n, Value(-77));
}

// "size: v0 v1 ..." over the first `shown` entries; bools as their bytes.
template <class Value, class Size>
std::string render(Size size, const Value* values, std::size_t shown) {
  std::ostringstream out;
  out << +size << ':';
  for (std::size_t i = 0; i < shown; ++i) {
    if constexpr (std::is_same_v<Value, bool>)
      out << ' ' << +reinterpret_cast<const unsigned char*>(values)[i];
    else
      out << ' ' << values[i];
  }
  return out.str();
}

// An export taking channels and one bool per channel, given as raw bytes.
template <class Function>
Call flags_call(Function function, Channels channels, Channels flags) {
  return [=](std::uint32_t address, std::string&) {
    return function(address, channels.data(), count_of(channels), reinterpret_cast<const bool*>(flags.data()),
                    count_of(flags));
  };
}

// An export taking channels and one value per channel.
template <class Function, class Value>
Call values_call(Function function, Channels channels, std::vector<Value> values) {
  return [=](std::uint32_t address, std::string&) {
    return function(address, channels.data(), count_of(channels), values.data(),
                    static_cast<std::uint8_t>(values.size()));
  };
}

// An export reading one value per channel into an array of `capacity`.
template <class Output, class Function>
Call read_call(Function function, Channels channels, std::uint8_t capacity) {
  return [=](std::uint32_t address, std::string& outputs) {
    Output values[16];
    fill_untouched(values, 16);
    std::uint8_t size = capacity;
    const std::uint8_t result = function(address, channels.data(), count_of(channels), values, &size);
    outputs = render(size, values, capacity);
    return result;
  };
}

// An export taking only channels.
template <class Function>
Call channels_call(Function function, Channels channels) {
  return [=](std::uint32_t address, std::string&) { return function(address, channels.data(), count_of(channels)); };
}

}  // namespace varnode::test
