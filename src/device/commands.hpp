#pragma once
// The device-management command codes every module answers, and the code of
// the plain acknowledgement many commands of every family expect.

#include <cstdint>

namespace varnode::commands {

inline constexpr std::uint16_t acknowledgement_reply = 1;
inline constexpr std::uint16_t reset_command = 3;
inline constexpr std::uint16_t identity_command = 5;
inline constexpr std::uint16_t identity_reply = 6;
inline constexpr std::uint16_t status_command = 7;
inline constexpr std::uint16_t status_reply = 8;
inline constexpr std::uint16_t configure_command = 9;
inline constexpr std::uint16_t burn_command = 10;

// A module family's command or reply: the family byte, then the operation.
// Families that share their operations under several family bytes (KL01
// and KL02, KS01 and KS02, RA01 and RE01) name each code once with it.
constexpr std::uint16_t family_code(std::uint8_t family, std::uint8_t operation) {
  return static_cast<std::uint16_t>(family << 8 | operation);
}

}  // namespace varnode::commands
