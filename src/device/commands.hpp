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

}  // namespace varnode::commands
