// The discovery export: every module on the local networks, or the
// addresses of given serial numbers.
#include <algorithm>
#include <vector>

#include "api/frame.hpp"

using namespace varnode;

extern "C" {

VARNODE_API uint8_t find(uint32_t* addresses, uint32_t* size, const uint32_t* serial_numbers,
                         uint32_t serial_count) {
  return api::guarded([&] {
    api::require_pointer(size);
    api::require_entries(addresses, *size);
    api::require_entries(serial_numbers, serial_count);
    std::vector<std::uint32_t> found;
    if (serial_count == 0) {
      for (const IP::Address address : Device::discover()) found.push_back(address.host_value());
    } else {
      // Answers follow the caller's order; a serial number listed twice is
      // looked for once and reported twice.
      const std::vector<std::uint32_t> wanted(serial_numbers, serial_numbers + serial_count);
      const auto located = Device::locate(std::set<std::uint32_t>(wanted.begin(), wanted.end()));
      for (const std::uint32_t serial : wanted) found.push_back(located.at(serial).host_value());
    }
    const std::size_t count = std::min<std::size_t>(*size, found.size());
    *size = static_cast<std::uint32_t>(count);
    std::copy_n(found.begin(), count, addresses);
  });
}

}  // extern "C"
