#include <sys/types.h>
// getentropy: glibc 2.25 and later, macOS 10.12 and later.
#include <sys/random.h>

#include "net/random.hpp"

namespace varnode {

std::optional<std::uint32_t> system_random() {
  std::uint32_t value = 0;
  if (::getentropy(&value, sizeof value) != 0) return std::nullopt;
  return value;
}

}  // namespace varnode
