#pragma once
// The clock deadlines run on.

#include <cstdint>

namespace varnode {

// Milliseconds on a monotonic clock: only differences are meaningful.
std::uint64_t current_milliseconds();
void pause_millisecond();

}  // namespace varnode
