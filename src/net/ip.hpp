#pragma once
// IPv4 addresses and the local interface table.

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace varnode::IP {

struct Exception {
  virtual ~Exception() = default;
  struct Internal;
  struct Network;
};
struct Exception::Internal : Exception {};
struct Exception::Network : Exception {};

// One IPv4 address, kept as its four bytes in network order.
class Address {
 public:
  constexpr Address() = default;
  constexpr explicit Address(std::uint32_t host_value)
      : bytes_{static_cast<std::uint8_t>(host_value >> 24), static_cast<std::uint8_t>(host_value >> 16),
               static_cast<std::uint8_t>(host_value >> 8), static_cast<std::uint8_t>(host_value)} {}
  constexpr explicit Address(const std::array<std::uint8_t, 4>& network_bytes) : bytes_(network_bytes) {}

  constexpr std::uint32_t host_value() const {
    return (std::uint32_t{bytes_[0]} << 24) | (std::uint32_t{bytes_[1]} << 16) |
           (std::uint32_t{bytes_[2]} << 8) | std::uint32_t{bytes_[3]};
  }
  constexpr const std::array<std::uint8_t, 4>& bytes() const { return bytes_; }

  constexpr bool is_loopback() const { return bytes_[0] == 127; }
  // Limited broadcast, or the directed broadcast address of a local subnet
  // (reads the interface table afresh).
  bool is_broadcast() const;

  friend constexpr bool operator==(const Address&, const Address&) = default;
  friend constexpr bool operator<(const Address& a, const Address& b) { return a.host_value() < b.host_value(); }

 private:
  std::array<std::uint8_t, 4> bytes_{};
};

inline constexpr Address broadcast_address{0xFFFFFFFFu};
inline constexpr Address unspecified_address{};

struct Interface {
  Address address;
  Address netmask;
  Address gateway;  // first gateway on Windows, 0.0.0.0 elsewhere
};

// Every IPv4 address of every interface, by interface name: a link may carry
// several addresses, each an entry of its own.
using InterfaceTable = std::multimap<std::string, Interface>;

// Platform-specific: the operating system's IPv4 interfaces by name.
InterfaceTable interfaces();
std::set<std::string> interface_names();
// The interface's first address. Throws Exception::Network when it is gone.
Address interface_address(const std::string& name);

// The directed-broadcast test against one interface, shared by all platforms.
constexpr bool is_directed_broadcast(Address candidate, const Interface& local) {
  const std::uint32_t a = candidate.host_value();
  const std::uint32_t m = local.netmask.host_value();
  const std::uint32_t i = local.address.host_value();
  return ((i ^ a) & m) == 0 && (m | a) == 0xFFFFFFFFu;
}

}  // namespace varnode::IP
