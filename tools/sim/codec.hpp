#pragma once
// The simulator's own reading and writing of DCP datagrams: an 8-byte
// big-endian header (code, payload length, transaction id), then the
// payload, often a list of tag-length-value elements. It is written apart
// from the library's codec on purpose, so that the integration tests set
// two implementations against each other and a fault in either shows.

#include <cstdint>
#include <span>
#include <vector>

namespace varnode::sim {

using Bytes = std::vector<std::uint8_t>;

namespace wire {

inline constexpr std::uint16_t port = 30000;

using View = std::span<const std::uint8_t>;

// Thrown for a datagram shorter than its header says, or an element that
// runs past its payload or does not fit one.
struct Malformed {};

struct Message {
  std::uint16_t code = 0;
  std::uint32_t transaction_id = 0;
  View payload;  // views the datagram it was read from
};

Bytes encode(std::uint16_t code, std::uint32_t transaction_id, View payload);
// Bytes past the length the header states are ignored.
Message decode(View datagram);

struct Element {
  std::uint8_t tag = 0;
  View value;
};

void append_element(Bytes& out, std::uint8_t tag, View value);
// The element at the front of `rest`, which then starts after it.
Element take_element(View& rest);

void put_u16(Bytes& out, std::uint16_t value);
void put_u32(Bytes& out, std::uint32_t value);
void put_f32(Bytes& out, float value);
std::uint16_t get_u16(const std::uint8_t* at);
std::uint32_t get_u32(const std::uint8_t* at);
float get_f32(const std::uint8_t* at);

}  // namespace wire
}  // namespace varnode::sim
