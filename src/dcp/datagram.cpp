#include "dcp/datagram.hpp"

namespace varnode::DCP {

Bytes encode(std::uint16_t code, std::uint32_t transaction_id, View payload) {
  Bytes out;
  encode(code, transaction_id, payload, out);
  return out;
}

void encode(std::uint16_t code, std::uint32_t transaction_id, View payload, Bytes& out) {
  out.clear();
  out.reserve(header_size + payload.size());
  put_u16(out, code);
  put_u16(out, static_cast<std::uint16_t>(payload.size()));
  put_u32(out, transaction_id);
  out.insert(out.end(), payload.begin(), payload.end());
}

Message decode(View datagram) {
  if (datagram.size() < header_size) throw Exception::Parameter{};
  const std::uint16_t length = get_u16(datagram.data() + 2);
  if (header_size + length > datagram.size()) throw Exception::Parameter{};
  return Message{get_u16(datagram.data()), get_u32(datagram.data() + 4), datagram.subspan(header_size, length)};
}

void append_element(Bytes& out, std::uint8_t tag, View value) {
  if (value.size() > 255) throw Exception::Parameter{};
  out.push_back(tag);
  out.push_back(static_cast<std::uint8_t>(value.size()));
  out.insert(out.end(), value.begin(), value.end());
}

Element take_element(View& rest) {
  if (rest.size() < 2) throw Exception::Parameter{};
  const std::size_t length = rest[1];
  if (length + 2 > rest.size()) throw Exception::Parameter{};
  Element element{rest[0], rest.subspan(2, length)};
  rest = rest.subspan(length + 2);
  return element;
}

}  // namespace varnode::DCP
