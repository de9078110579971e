#pragma once
// Numbers from the operating system's random source.

#include <cstdint>
#include <optional>

namespace varnode {

// Nothing when the system's source cannot be read.
std::optional<std::uint32_t> system_random();

}  // namespace varnode
