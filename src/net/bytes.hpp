#pragma once
// The byte strings every layer passes around.

#include <cstdint>
#include <vector>

namespace varnode {

using Bytes = std::vector<std::uint8_t>;

}  // namespace varnode
