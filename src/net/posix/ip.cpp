#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstring>

#include "net/ip.hpp"

namespace varnode::IP {
namespace {

Address from_sockaddr(const sockaddr* address) {
  std::array<std::uint8_t, 4> bytes{};
  if (address != nullptr && address->sa_family == AF_INET) {
    // Copied byte-wise, not cast: on 32-bit ARM a sockaddr may be less aligned
    // than a sockaddr_in, and a BSD netmask entry may be shorter than one.
    const auto* raw = reinterpret_cast<const unsigned char*>(address);
    std::memcpy(bytes.data(), raw + offsetof(sockaddr_in, sin_addr), 4);
  }
  return Address{bytes};
}

}  // namespace

InterfaceTable interfaces() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) throw Exception::Internal{};
  InterfaceTable table;
  try {
    // No test of the flags: down, loopback and point-to-point interfaces all count.
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
      if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
      table.emplace(entry->ifa_name,
                    Interface{from_sockaddr(entry->ifa_addr), from_sockaddr(entry->ifa_netmask), Address{}});
    }
  } catch (...) {
    freeifaddrs(list);
    throw;
  }
  freeifaddrs(list);
  return table;
}

bool Address::is_broadcast() const {
  if (*this == broadcast_address) return true;
  for (const auto& [name, interface] : interfaces())
    if (is_directed_broadcast(*this, interface)) return true;
  return false;
}

}  // namespace varnode::IP
