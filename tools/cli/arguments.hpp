#pragma once
// Reading what the user typed: addresses, channel lists and CH=VALUE
// pairs, checked before anything is sent.

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "output.hpp"

namespace varnode::cli {

// A dotted IPv4 address as the library takes it: host order.
std::uint32_t parse_address(const std::string& text);
// Channels 1 to `last`, each once.
std::vector<std::uint8_t> parse_channels(const std::vector<std::string>& words, unsigned last);
// One channel number 1 to `last` not yet in `seen`.
std::uint8_t parse_channel(const std::string& text, unsigned last, std::set<std::uint8_t>& seen);
// CH=VALUE words; `value` turns the text after '=' into T or throws
// UsageError. Channels 1 to `last`, each once.
template <class T>
std::pair<std::vector<std::uint8_t>, std::vector<T>> parse_pairs(const std::vector<std::string>& words, unsigned last,
                                                                 const std::function<T(const std::string&)>& value) {
  std::pair<std::vector<std::uint8_t>, std::vector<T>> pairs;
  std::set<std::uint8_t> seen;
  for (const std::string& word : words) {
    const auto equals = word.find('=');
    if (equals == std::string::npos) throw UsageError("'" + word + "': write CHANNEL=VALUE, e.g. 3=1");
    pairs.first.push_back(parse_channel(word.substr(0, equals), last, seen));
    pairs.second.push_back(value(word.substr(equals + 1)));
  }
  return pairs;
}
bool parse_level(const std::string& text);    // 1/0, on/off, high/low, true/false
bool parse_direction(const std::string& text);  // out/in, 1/0
double parse_double(const std::string& text, const char* what);
unsigned long parse_unsigned(const std::string& text, const char* what, unsigned long most);

}  // namespace varnode::cli
