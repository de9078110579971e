#pragma once
// Builders for the element lists that modules send as reply payloads.

#include <initializer_list>
#include <string_view>

#include "dcp/datagram.hpp"

namespace varnode::test {

inline Bytes element(std::uint8_t tag, const Bytes& value) {
  Bytes out;
  DCP::append_element(out, tag, value);
  return out;
}
inline Bytes element(std::uint8_t tag, std::string_view text) { return element(tag, Bytes(text.begin(), text.end())); }
inline Bytes u32(std::uint32_t value) {
  Bytes out;
  DCP::put_u32(out, value);
  return out;
}
inline Bytes f32(float value) {
  Bytes out;
  DCP::put_f32(out, value);
  return out;
}
inline Bytes join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// The smallest identity that decodes, in the extended layout: texts 1 to 3,
// the serial number and the module's address.
inline Bytes identity(std::uint32_t serial_number, std::uint32_t address) {
  return join({element(1, "KL01"), element(2, "Tervane"), element(3, "1.0"), element(4, u32(serial_number)),
               element(18, u32(address))});
}

}  // namespace varnode::test
