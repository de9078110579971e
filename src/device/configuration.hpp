#pragma once

#include <string>

#include "device/device.hpp"

namespace varnode {

// A module's new network settings, sent by broadcast to the module with a
// given serial number.
class Device::NetworkConfiguration {
 public:
  // Throws Device::Exception::Parameter for a text over 64 bytes or a flag
  // over 1, before copying the text.
  NetworkConfiguration(DCP::View text, std::uint8_t flag, IP::Address first, IP::Address second, IP::Address third);

  // The request payload of the configure command for the given serial number.
  Bytes payload(std::uint32_t serial_number) const;

 private:
  // payload() alone fixes the wire order (flag, first, second, third
  // address, text); the members' order carries no meaning.
  std::uint8_t flag_;
  Bytes text_;
  IP::Address third_address_;
  IP::Address first_address_;
  IP::Address second_address_;
};

}  // namespace varnode
