// rand_s is declared only when asked for before the first C header.
#define _CRT_RAND_S
#include <stdlib.h>

#include "net/random.hpp"

namespace varnode {

std::optional<std::uint32_t> system_random() {
  unsigned int value = 0;
  if (::rand_s(&value) != 0) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

}  // namespace varnode
