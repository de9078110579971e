#pragma once

#include <array>

#include "device/date.hpp"
#include "device/device.hpp"

namespace varnode {

// A module's identity, the payload of the identity reply (code 6). The
// fields are named after their tags in the extended layout; apart from
// serial_number and ip_address the library only checks and passes them on.
// The declaration order is neither the tag order nor get_info's parameter
// order, and need not be: the decoder places every field by its tag.
struct Device::Info {
  std::uint8_t flag_23 = 0;
  std::uint32_t number_16 = 0;
  std::uint32_t number_8 = 0;
  std::uint32_t number_9 = 0;
  std::uint32_t serial_number = 0;
  std::uint32_t number_14 = 0;
  std::uint32_t number_15 = 0;
  Bytes text_6;  // the module's microcontroller
  Bytes text_2;
  Bytes text_22;
  Bytes text_21;
  Bytes text_1;
  Bytes text_3;
  Bytes text_24;
  Bytes text_7;
  Bytes text_5;
  Bytes text_25;
  Bytes text_10;
  Date date_12;
  Date date_13;
  Date date_11;
  std::array<std::uint8_t, 6> mac_address{};
  IP::Address address_20;
  IP::Address ip_address;
  IP::Address address_19;

  Info() = default;
  // Reads the elements in either tag layout. Throws DCP::Exception::Parameter
  // for a cut-short element, a value of the wrong length, or a missing
  // text_1, text_2, text_3 or serial number.
  explicit Info(DCP::View payload);
};

}  // namespace varnode
