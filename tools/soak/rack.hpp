#pragma once
// The soak's virtual rack: one module of each kind plus a second KS02 that
// only gets reset, every signal a constant and every state one that the
// soak's own writes keep as it is, so that every value a call returns is
// known beforehand. Each module carries the same fault rules.

#include <cstdint>
#include <string>

namespace soak {

enum Slot : unsigned { kl01, kl02, ks01, ks02, qu01, ra01, re01, we01, hx01, hx02, reset_target, slot_count };

struct RackModule {
  const char* kind;
  std::uint32_t address;  // host order
  std::uint32_t serial;
  std::uint16_t timeout_ms;
};
RackModule module(Slot slot);

inline constexpr std::uint32_t client_address = 0xC6120001;  // 198.18.0.1
// The longest a fault holds back a reply (delay, reorder).
inline constexpr unsigned longest_fault_delay_ms = 40;
// RA01/RE01 streams run this many times faster than their sample rate.
inline constexpr double stream_speed = 20;

// KL01/KL02: channels 1-4 are outputs, which the soak always drives to the
// latch below; the inputs 5-8 read as the rack's input byte.
inline constexpr std::uint8_t kl_directions = 0x0F;
inline constexpr std::uint8_t kl_inputs = 0xA0;
inline constexpr std::uint8_t kl_latch = 0x05;
bool kl_level(unsigned channel);

// KS01/KS02: the outputs the soak keeps switched on, and KS01's load
// current per channel (exact in binary, so floats compare exactly).
inline constexpr std::uint8_t ks_outputs = 0x35;
float ks01_reading(unsigned channel);

// RA01/RE01 constant inputs, WE01 outputs.
float analog_input(Slot slot, unsigned channel);
float we01_output(unsigned channel);

struct Thermocouple {
  std::uint8_t code;  // as hx01_set_sensor takes it
  double celsius;     // or volts for code 1
};
inline constexpr Thermocouple hx01_channels[8] = {{8, 100},   {7, 250},  {14, -20}, {1, 0.0125},
                                                  {13, 1000}, {5, 300}, {10, 500}, {12, 700}};
inline constexpr double hx01_cold_junction = 25;

struct Resistance {
  std::uint8_t code;
  float range, current, nominal;
  double celsius;
};
inline constexpr Resistance hx02_channels[4] = {{2, 0.5f, 0.001f, 100, 21.5},
                                                {3, 2.5f, 0.00001f, 100, -196},
                                                {5, 2.5f, 0.001f, 100, 40},
                                                {2, 5.0f, 0.001f, 1000, 150}};
inline constexpr std::uint16_t converter_frequency = 50;

// The text and bytes that configure and burn always send.
inline constexpr char configured_text[] = "soak";
inline constexpr std::uint8_t burned_bytes[] = {0x50, 0x0A, 0x4B};

// The rack description for varnode-sim --config.
std::string rack_json();

}  // namespace soak
