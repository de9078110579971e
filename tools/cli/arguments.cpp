#include "arguments.hpp"

#include <cmath>
#include <cstdio>
#include <set>

#include "output.hpp"

namespace varnode::cli {

std::uint32_t parse_address(const std::string& text) {
  unsigned a, b, c, d;
  char tail;
  if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4 || a > 255 || b > 255 || c > 255 ||
      d > 255)
    throw UsageError("'" + text + "' is not an IPv4 address such as 198.18.0.11");
  return (a << 24) | (b << 16) | (c << 8) | d;
}

std::uint8_t parse_channel(const std::string& text, unsigned last, std::set<std::uint8_t>& seen) {
  unsigned long n = 0;
  try {
    n = parse_unsigned(text, "channel", last);
  } catch (const UsageError&) {
  }
  if (n < 1) throw UsageError("channel " + text + ": channels count from 1 to " + std::to_string(last));
  if (!seen.insert(static_cast<std::uint8_t>(n)).second) throw UsageError("channel " + text + " is listed twice");
  return static_cast<std::uint8_t>(n);
}

std::vector<std::uint8_t> parse_channels(const std::vector<std::string>& words, unsigned last) {
  std::vector<std::uint8_t> channels;
  std::set<std::uint8_t> seen;
  for (const std::string& word : words) channels.push_back(parse_channel(word, last, seen));
  return channels;
}

bool parse_level(const std::string& text) {
  if (text == "1" || text == "on" || text == "high" || text == "true") return true;
  if (text == "0" || text == "off" || text == "low" || text == "false") return false;
  throw UsageError("'" + text + "' is no level: 1/0, on/off, high/low");
}

bool parse_direction(const std::string& text) {
  if (text == "out" || text == "1") return true;
  if (text == "in" || text == "0") return false;
  throw UsageError("'" + text + "' is no direction: out (1) or in (0)");
}

double parse_double(const std::string& text, const char* what) {
  try {
    std::size_t used = 0;
    const double value = std::stod(text, &used);
    if (used == text.size() && std::isfinite(value)) return value;
  } catch (const std::exception&) {
  }
  // NaN and infinities would be sent as they are and taken by a module.
  throw UsageError(std::string(what) + " '" + text + "' is not a finite number");
}

unsigned long parse_unsigned(const std::string& text, const char* what, unsigned long most) {
  try {
    std::size_t used = 0;
    if (!text.empty() && text[0] != '-') {
      const unsigned long value = std::stoul(text, &used, 0);
      if (used == text.size() && value <= most) return value;
    }
  } catch (const std::exception&) {
  }
  throw UsageError(std::string(what) + " '" + text + "' is not a whole number from 0 to " + std::to_string(most));
}

}  // namespace varnode::cli
