#include "codec.hpp"

#include <cstring>

namespace varnode::sim::wire {

void put_u16(Bytes& out, std::uint16_t value) {
  out.insert(out.end(), {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value & 0xFF)});
}

void put_u32(Bytes& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
}

void put_f32(Bytes& out, float value) {
  static_assert(sizeof(float) == sizeof(std::uint32_t));
  std::uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  put_u32(out, bits);
}

std::uint16_t get_u16(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] * 256u + at[1]); }

std::uint32_t get_u32(const std::uint8_t* at) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = value * 256u + at[i];
  return value;
}

float get_f32(const std::uint8_t* at) {
  const std::uint32_t bits = get_u32(at);
  float value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

Bytes encode(std::uint16_t code, std::uint32_t transaction_id, View payload) {
  Bytes out;
  put_u16(out, code);
  put_u16(out, static_cast<std::uint16_t>(payload.size()));
  put_u32(out, transaction_id);
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

Message decode(View datagram) {
  constexpr std::size_t header = 8;
  if (datagram.size() < header) throw Malformed{};
  const std::size_t length = get_u16(&datagram[2]);
  if (datagram.size() - header < length) throw Malformed{};
  return Message{get_u16(&datagram[0]), get_u32(&datagram[4]), datagram.subspan(header, length)};
}

void append_element(Bytes& out, std::uint8_t tag, View value) {
  if (value.size() > 0xFF) throw Malformed{};
  out.push_back(tag);
  out.push_back(static_cast<std::uint8_t>(value.size()));
  out.insert(out.end(), value.begin(), value.end());
}

Element take_element(View& rest) {
  if (rest.size() < 2 || rest.size() - 2 < rest[1]) throw Malformed{};
  const Element element{rest[0], rest.subspan(2, rest[1])};
  rest = rest.subspan(2 + rest[1]);
  return element;
}

}  // namespace varnode::sim::wire
