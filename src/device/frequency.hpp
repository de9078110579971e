#pragma once
// The sampling-frequency setting RA01, RE01, HX01 and HX02 share: the same
// ten values, sent as one 16-bit number under each family's own command.

#include <cstdint>

#include "device/device.hpp"

namespace varnode::frequency {

// Refuses anything but 6, 12, 25, 50, 100, 200, 400, 800, 1500 or 3000
// before sending; the module alone knows what the value selects.
void set(const Device& device, std::uint16_t command, std::uint16_t setting);

}  // namespace varnode::frequency
