#pragma once
// One IPv4 address as the rack names it: a module's, the client's, or a
// datagram's source and destination. The rack keeps its own type so that it
// depends on nothing of the library but the public header.

#include <array>
#include <cstdint>

namespace varnode::sim {

// Kept as its four bytes in network order.
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

  friend constexpr bool operator==(const Address&, const Address&) = default;
  friend constexpr bool operator<(const Address& a, const Address& b) { return a.host_value() < b.host_value(); }

 private:
  std::array<std::uint8_t, 4> bytes_{};
};

inline constexpr Address broadcast_address{0xFFFFFFFFu};
inline constexpr Address unspecified_address{};

}  // namespace varnode::sim
