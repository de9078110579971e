#pragma once
// DCP datagrams: an 8-byte big-endian header and a payload; payloads are
// often lists of tag-length-value elements.

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

#include "net/udp.hpp"

namespace varnode::DCP {

struct Exception {
  virtual ~Exception() = default;
  struct Network;
  struct Parameter;
};
struct Exception::Network : Exception {};
struct Exception::Parameter : Exception {};

inline constexpr std::uint16_t port = 30000;
inline constexpr std::size_t header_size = 8;

using View = std::span<const std::uint8_t>;

// A decoded datagram; the payload views the bytes it was decoded from.
struct Message {
  std::uint16_t code = 0;
  std::uint32_t transaction_id = 0;
  View payload;
};

Bytes encode(std::uint16_t code, std::uint32_t transaction_id, View payload);
// The same into `out`, whose capacity is kept: no allocation once it is big
// enough.
void encode(std::uint16_t code, std::uint32_t transaction_id, View payload, Bytes& out);
// Throws Exception::Parameter for a datagram shorter than its header claims.
Message decode(View datagram);

struct Element {
  std::uint8_t tag = 0;
  View value;
};

// Appends tag, length and value (at most 255 bytes).
void append_element(Bytes& out, std::uint8_t tag, View value);
// Reads the element at the front of `rest` and removes it from `rest`.
Element take_element(View& rest);

// Big-endian numbers, the only byte order on the wire.
inline void put_u16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}
inline void put_u32(Bytes& out, std::uint32_t v) {
  put_u16(out, static_cast<std::uint16_t>(v >> 16));
  put_u16(out, static_cast<std::uint16_t>(v));
}
inline void put_f32(Bytes& out, float v) { put_u32(out, std::bit_cast<std::uint32_t>(v)); }

inline std::uint16_t get_u16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }
inline std::uint32_t get_u32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}
inline std::uint64_t get_u64(const std::uint8_t* p) { return (std::uint64_t{get_u32(p)} << 32) | get_u32(p + 4); }
inline float get_f32(const std::uint8_t* p) { return std::bit_cast<float>(get_u32(p)); }

}  // namespace varnode::DCP
