#include "rack.hpp"

#include <cstdio>

#include <nlohmann/json.hpp>

namespace soak {
namespace {

using nlohmann::json;

constexpr const char* kinds[slot_count] = {"KL01", "KL02", "KS01", "KS02", "QU01", "RA01",
                                           "RE01", "WE01", "HX01", "HX02", "KS02"};

std::string dotted(std::uint32_t a) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
  return text;
}

// A bit mask as the rack description writes it, "0x0F".
std::string hex_byte(std::uint8_t bits) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(bits));
  return text;
}

// The load on each KS01 output, which it measures while the output is on.
float ks01_load(unsigned channel) { return 0.25f * static_cast<float>(channel); }

// Every kind of fault on every module, each rarely enough that most calls
// still succeed. DCP carries no checksum, so a malformed reply that happens
// to have a valid form is taken as sent; the sizes here rule that out: one
// byte cut or added, and random payloads of 3 bytes (no reply of the rack
// has that size or is made of elements that fit) or 1 byte for status
// (which may be as short as one 3-byte element).
json fault_rules(Slot slot) {
  const char* refusal = slot == kl01 || slot == kl02 || slot == hx01 || slot == hx02 ? "configuration"
                        : slot == re01                                               ? "aborted"
                                                                                     : "reserved";
  return json::array({
      {{"fault", "drop"}, {"probability", 0.02}},
      {{"fault", "duplicate"}, {"probability", 0.02}},
      // A stream chunk repeated with other bytes: the measurement must fail.
      {{"fault", "altered_duplicate"}, {"probability", 0.005}, {"commands", {0x0400, 0x0900}}},
      {{"fault", "delay"}, {"probability", 0.02}, {"delay_ms", longest_fault_delay_ms}},
      {{"fault", "reorder"}, {"probability", 0.02}, {"delay_ms", longest_fault_delay_ms - 10}},
      {{"fault", "wrong_id"}, {"probability", 0.02}, {"then_correct", true}},
      {{"fault", "refuse"}, {"probability", 0.01}, {"refusal", refusal}},
      {{"fault", "silent"}, {"probability", 0.03}, {"chunks", 1}},
      {{"fault", "abort"}, {"probability", 0.03}, {"chunks", 2}},
      {{"fault", "truncated"}, {"probability", 0.01}},
      {{"fault", "over_long"}, {"probability", 0.01}},
      {{"fault", "wrong_code"}, {"probability", 0.01}},
      {{"fault", "random"}, {"probability", 0.01}, {"commands", {7}}, {"bytes", 1}},
      {{"fault", "random"}, {"probability", 0.01}, {"bytes", 3}},
  });
}

// Status items that change with time are pinned, so that whole status
// replies can be compared.
json pinned_status(Slot slot) {
  json items = json::array({
      {{"name", "uptime"}, {"unit", "s"}, {"description", "pinned by the soak"}, {"value", 1}},
      {{"name", "resets"}, {"description", "pinned by the soak"}, {"value", 0}},
  });
  if (slot == ra01 || slot == re01)
    items.push_back({{"name", "measuring"}, {"description", "pinned by the soak"}, {"value", 0}});
  return items;
}

}  // namespace

RackModule module(Slot slot) {
  const std::uint32_t address = client_address - 1 + 11 + slot;  // 198.18.0.11 on
  return {kinds[slot], address, 0x00200000u + 0x101u * (slot + 1), static_cast<std::uint16_t>(80 + 15 * slot)};
}

bool kl_level(unsigned channel) {
  const std::uint8_t bit = static_cast<std::uint8_t>(1u << (channel - 1));
  return ((kl_directions & bit) != 0 ? kl_latch & bit : kl_inputs & bit) != 0;
}

float ks01_reading(unsigned channel) {
  return (ks_outputs & (1u << (channel - 1))) != 0 ? ks01_load(channel) : 0.0f;
}

float analog_input(Slot slot, unsigned channel) {
  const auto c = static_cast<float>(channel);
  return slot == ra01 ? c / 256.0f : 0.75f * c - 3.0f;
}

float we01_output(unsigned channel) { return 0.5f * static_cast<float>(channel) - 2.5f; }

std::string rack_json() {
  json modules = json::array();
  for (unsigned s = 0; s < slot_count; ++s) {
    const Slot slot = static_cast<Slot>(s);
    const RackModule entry = module(slot);
    json m = {{"kind", entry.kind},
              {"address", dotted(entry.address)},
              {"serial", entry.serial},
              {"name", std::string(entry.kind) + " soak"},
              {"faults", fault_rules(slot)},
              {"status", pinned_status(slot)}};
    switch (slot) {
      case kl01:
      case kl02:
        m["directions"] = hex_byte(kl_directions);
        m["inputs"] = hex_byte(kl_inputs);
        break;
      case ks01:
        for (unsigned c = 1; c <= 8; ++c) m["loads"][std::to_string(c)] = ks01_load(c);
        break;
      case qu01:
        for (unsigned c = 1; c <= 4; ++c) m["rates"][std::to_string(c)] = 0;
        break;
      case ra01:
      case re01:
        m["stream_speed"] = stream_speed;
        for (unsigned c = 1; c <= 8; ++c) m["channels"][std::to_string(c)] = analog_input(slot, c);
        break;
      case hx01:
        m["cold_junction"] = hx01_cold_junction;
        for (unsigned c = 1; c <= 8; ++c) {
          const Thermocouple& t = hx01_channels[c - 1];
          m["channels"][std::to_string(c)] = {{"sensor", t.code}, {t.code == 1 ? "volts" : "celsius", t.celsius}};
        }
        break;
      case hx02:
        for (unsigned c = 1; c <= 4; ++c) {
          const Resistance& r = hx02_channels[c - 1];
          m["channels"][std::to_string(c)] = {{"sensor", r.code},       {"range", r.range},
                                              {"current", r.current},   {"nominal", r.nominal},
                                              {"celsius", r.celsius}};
        }
        break;
      default:
        break;
    }
    modules.push_back(m);
  }
  return json{{"client", dotted(client_address)}, {"prefix", 24}, {"modules", modules}}.dump(2) + "\n";
}

}  // namespace soak
