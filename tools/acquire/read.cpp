// Reading channels, streams and identities through the public C header.
#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

#include <varnode/varnode.h>

#include "acquire.hpp"
#include "catalogue.hpp"

namespace varnode::acquire {
namespace {

// What each family reads, in the order of Family; names and channel counts
// come from the catalogue.
constexpr FamilyInfo row(Family family, bool readable, bool streams, const char* quantity, const char* unit) {
  const catalogue::Family& f = catalogue::families[static_cast<std::size_t>(family)];
  // The catalogue's texts are string literals, so data() ends in a zero.
  return {family, f.name.data(), f.channels, readable, streams, quantity, unit};
}
constexpr std::array<FamilyInfo, std::size(catalogue::families)> table{{
    row(Family::KL01, true, false, "level", ""),
    row(Family::KL02, true, false, "level", ""),
    row(Family::KS01, true, false, "measured", ""),
    row(Family::KS02, false, false, "", ""),
    row(Family::QU01, true, false, "count", ""),
    row(Family::RA01, true, true, "current", ""),
    row(Family::RE01, true, true, "voltage", "V"),
    row(Family::WE01, false, false, "", ""),
    row(Family::HX01, true, false, "temperature", ""),
    row(Family::HX02, true, false, "temperature", ""),
}};
constexpr bool in_order() {
  constexpr const char* names[] = {"KL01", "KL02", "KS01", "KS02", "QU01", "RA01", "RE01", "WE01", "HX01", "HX02"};
  for (std::size_t i = 0; i < table.size(); ++i)
    if (catalogue::families[i].name != names[i] || static_cast<std::size_t>(table[i].family) != i) return false;
  return true;
}
static_assert(in_order(), "Family and the catalogue list the families in one order");

using Levels = std::uint8_t (*)(std::uint32_t, const std::uint8_t*, std::uint8_t, bool*, std::uint8_t*);
using Floats = std::uint8_t (*)(std::uint32_t, const std::uint8_t*, std::uint8_t, float*, std::uint8_t*);
using Samples = std::uint8_t (*)(std::uint32_t, const std::uint8_t*, std::uint8_t, std::uint32_t, float, float*,
                                 std::uint32_t*);

struct StatusItems {
  std::vector<std::string> names;
  std::vector<float> values;
};

std::uint8_t status_items(std::uint32_t address, StatusItems& out) {
  constexpr std::uint32_t text_capacity = 16384, capacity = 256;
  std::string names(text_capacity, '\0');
  std::uint32_t names_size = text_capacity, no_texts_2 = 0, no_texts_3 = 0, size = capacity;
  std::vector<float> numbers(capacity), lower(capacity), upper(capacity), values(capacity);
  std::uint8_t ok = 0;
  const std::uint8_t code = get_status(address, names.data(), &names_size, nullptr, &no_texts_2, nullptr, &no_texts_3,
                                       numbers.data(), lower.data(), upper.data(), values.data(), &size, &ok);
  if (code != VARNODE_SUCCESS) return code;
  names.resize(names_size);
  out.names.clear();
  for (std::size_t start = 0; out.names.size() < size;) {
    const std::size_t tab = names.find('\t', start);
    out.names.push_back(names.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  out.values.assign(values.begin(), values.begin() + size);
  return VARNODE_SUCCESS;
}

// The numbered channels of a reading, each once, with where each one's
// value goes.
struct Numbered {
  std::vector<std::uint8_t> channels;
  std::vector<std::size_t> slot;  // per Channel asked for: its position in `channels`, or npos
};

Numbered numbered(std::span<const Channel> channels) {
  Numbered n;
  n.slot.assign(channels.size(), std::string::npos);
  for (std::size_t i = 0; i < channels.size(); ++i) {
    if (channels[i].kind != Channel::Kind::number) continue;
    const auto at = std::find(n.channels.begin(), n.channels.end(), channels[i].number);
    n.slot[i] = static_cast<std::size_t>(at - n.channels.begin());
    if (at == n.channels.end()) n.channels.push_back(channels[i].number);
  }
  return n;
}

std::uint8_t read_numbers(std::uint32_t address, Family family, const Numbered& n, bool reference_wanted,
                          std::vector<Value>& out, Value& reference) {
  const auto count = static_cast<std::uint8_t>(n.channels.size());
  std::uint8_t size = count;
  out.assign(count, Value{});
  switch (family) {
    case Family::KL01:
    case Family::KL02: {
      if (count == 0) return VARNODE_SUCCESS;
      bool levels[8] = {};
      const Levels call = family == Family::KL01 ? kl01_read : kl02_read;
      const std::uint8_t code = call(address, n.channels.data(), count, levels, &size);
      if (code != VARNODE_SUCCESS) return code;
      for (std::uint8_t i = 0; i < count; ++i) out[i] = std::int64_t{levels[i] ? 1 : 0};
      return code;
    }
    case Family::KS01:
    case Family::HX01:
    case Family::HX02: {
      if (count == 0) return VARNODE_SUCCESS;
      float values[8] = {};
      const Floats call = family == Family::KS01 ? ks01_measure : family == Family::HX01 ? hx01_measure : hx02_measure;
      const std::uint8_t code = call(address, n.channels.data(), count, values, &size);
      if (code != VARNODE_SUCCESS) return code;
      for (std::uint8_t i = 0; i < count; ++i) out[i] = double{values[i]};
      return code;
    }
    case Family::QU01: {
      if (count == 0 && !reference_wanted) return VARNODE_SUCCESS;
      std::int64_t values[4] = {}, ref = 0;
      const std::uint8_t code = qu01_read(address, n.channels.data(), count, values, &size, &ref);
      if (code != VARNODE_SUCCESS) return code;
      for (std::uint8_t i = 0; i < count; ++i) out[i] = values[i];
      reference = ref;
      return code;
    }
    case Family::RA01:
    case Family::RE01: {
      if (count == 0) return VARNODE_SUCCESS;
      // A single sample: the frequency matters only for a stream.
      float values[8] = {};
      std::uint32_t floats = count;
      const Samples call = family == Family::RA01 ? ra01_measure : re01_measure;
      const std::uint8_t code = call(address, n.channels.data(), count, 1, 1000.0f, values, &floats);
      if (code != VARNODE_SUCCESS) return code;
      for (std::uint8_t i = 0; i < count; ++i) out[i] = double{values[i]};
      return code;
    }
    case Family::KS02:
    case Family::WE01:
      return count == 0 ? VARNODE_SUCCESS : VARNODE_PARAMETER;
  }
  return VARNODE_PARAMETER;
}

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

const FamilyInfo& info(Family family) { return table[static_cast<std::size_t>(family)]; }

std::span<const FamilyInfo> families() { return table; }

std::optional<Family> family_named(std::string_view name) {
  const std::string wanted = upper(name);
  for (const FamilyInfo& f : table)
    if (wanted == f.name) return f.family;
  return std::nullopt;
}

std::string Channel::name() const {
  switch (kind) {
    case Kind::number: return std::to_string(number);
    case Kind::reference: return "reference";
    case Kind::status: return "status." + item;
  }
  return {};
}

std::string parse_channel(Family family, std::string_view text, Channel& out) {
  const FamilyInfo& f = info(family);
  if (text.starts_with("status.")) {
    const std::string_view item = text.substr(7);
    if (item.empty()) return "'" + std::string(text) + "': name the status item after 'status.'";
    // The item's name becomes part of a column and an Influx field key.
    for (char c : item)
      if (static_cast<unsigned char>(c) < 0x21 || c == ',' || c == '"' || c == '=' || c == 0x7f)
        return "'" + std::string(text) + "': a status item's name here has no space, comma, '\"' or '='";
    out = Channel{Channel::Kind::status, 0, std::string(item)};
    return {};
  }
  if (text == "reference") {
    if (family != Family::QU01) return "'reference' is QU01's; " + std::string(f.name) + " has none";
    out = Channel{Channel::Kind::reference, 0, {}};
    return {};
  }
  unsigned number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc{} || end != text.data() + text.size() || text.empty())
    return "'" + std::string(text) + "': a channel is a number, " +
           (family == Family::QU01 ? "'reference', " : "") + "or status.ITEM";
  if (!f.readable)
    return "channel " + std::string(text) + ": " + f.name + " has outputs only; its status items (status.ITEM) can be read";
  if (number < 1 || number > f.channels)
    return "channel " + std::string(text) + ": " + f.name + " has channels 1 to " + std::to_string(f.channels);
  out = Channel{Channel::Kind::number, static_cast<std::uint8_t>(number), {}};
  return {};
}

Reading read(std::uint32_t address, Family family, std::span<const Channel> channels) {
  Reading reading;
  const Numbered n = numbered(channels);
  const bool wants_reference =
      std::any_of(channels.begin(), channels.end(), [](const Channel& c) { return c.kind == Channel::Kind::reference; });
  const bool wants_status =
      std::any_of(channels.begin(), channels.end(), [](const Channel& c) { return c.kind == Channel::Kind::status; });
  std::vector<Value> numbers;
  Value reference;
  reading.code = read_numbers(address, family, n, wants_reference, numbers, reference);
  StatusItems items;
  if (reading.code == VARNODE_SUCCESS && wants_status) reading.code = status_items(address, items);
  reading.values.assign(channels.size(), Value{});
  if (reading.code != VARNODE_SUCCESS) return reading;
  for (std::size_t i = 0; i < channels.size(); ++i) {
    switch (channels[i].kind) {
      case Channel::Kind::number: reading.values[i] = numbers[n.slot[i]]; break;
      case Channel::Kind::reference: reading.values[i] = reference; break;
      case Channel::Kind::status: {
        // An item the module did not send this time stays empty.
        const auto at = std::find(items.names.begin(), items.names.end(), channels[i].item);
        if (at != items.names.end()) {
          const float v = items.values[static_cast<std::size_t>(at - items.names.begin())];
          if (!std::isnan(v)) reading.values[i] = double{v};
        }
        break;
      }
    }
  }
  return reading;
}

Block stream(std::uint32_t address, Family family, std::span<const std::uint8_t> channels, std::uint32_t samples,
             float frequency) {
  Block block;
  if (!info(family).streams || channels.empty() || channels.size() > 8) {
    block.code = VARNODE_PARAMETER;
    return block;
  }
  block.values.resize(static_cast<std::size_t>(samples) * channels.size());
  auto size = static_cast<std::uint32_t>(block.values.size());
  const Samples call = family == Family::RA01 ? ra01_measure : re01_measure;
  block.code = call(address, channels.data(), static_cast<std::uint8_t>(channels.size()), samples, frequency,
                    block.values.data(), &size);
  if (block.code != VARNODE_SUCCESS)
    block.values.clear();
  else
    block.values.resize(size);
  return block;
}

std::uint8_t stop(std::uint32_t address, Family family) {
  if (family == Family::RA01) return ra01_stop(address);
  if (family == Family::RE01) return re01_stop(address);
  return VARNODE_PARAMETER;
}

std::uint8_t identify(std::uint32_t address, Identity& out) {
  constexpr std::uint32_t capacity = 256;
  char t[11][capacity];
  std::uint32_t s[11];
  for (auto& size : s) size = capacity;
  std::uint32_t serial = 0, n8, n9, d11, d12, d13, n14, n15, n16, ip = 0, a19, a20;
  std::uint8_t mac[6], flag;
  const std::uint8_t code =
      get_info(address, t[0], &s[0], t[1], &s[1], t[2], &s[2], &serial, t[3], &s[3], t[4], &s[4], &n8, &n9, t[5],
               &s[5], t[6], &s[6], &d11, &d12, &d13, &n14, &n15, &n16, mac, &ip, &a19, &a20, &flag, t[7], &s[7], t[8],
               &s[8], t[9], &s[9], t[10], &s[10]);
  if (code != VARNODE_SUCCESS) return code;
  // t[5] is text_7 (firmware), t[8] text_22 (the configured name).
  out = Identity{std::string(t[1], s[1]), serial,       std::string(t[8], s[8]), std::string(t[5], s[5]),
                 std::string(t[0], s[0]), std::string(t[2], s[2]), ip};
  return code;
}

std::string dotted(std::uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

}  // namespace varnode::acquire
