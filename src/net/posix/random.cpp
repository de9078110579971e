#include <sys/random.h>

#include <cstdio>

#include "net/random.hpp"

namespace varnode {

std::optional<std::uint32_t> system_random() {
  std::uint32_t value = 0;
  if (::getentropy(&value, sizeof value) == 0) return value;
  // Kernels older than getrandom(2) still have the device.
  std::FILE* device = std::fopen("/dev/urandom", "rb");
  if (device == nullptr) return std::nullopt;
  const bool read = std::fread(&value, sizeof value, 1, device) == 1;
  std::fclose(device);
  if (!read) return std::nullopt;
  return value;
}

}  // namespace varnode
