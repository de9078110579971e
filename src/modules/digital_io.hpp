#pragma once
// KL01 and KL02: eight digital I/O channels. The two speak the same commands
// under different family bytes and raise their own exception families.

#include <cstdint>

#include "device/device.hpp"

namespace varnode {

template <std::uint8_t Family>
class DigitalIO {
 public:
  struct Exception : Device::Exception {
    struct Configuration;
  };

  explicit DigitalIO(const Device& device) : device_(device) {}

 private:
  Device device_;
};

template <std::uint8_t Family>
struct DigitalIO<Family>::Exception::Configuration : DigitalIO<Family>::Exception {};

using KL01 = DigitalIO<0x03>;
using KL02 = DigitalIO<0x0B>;

}  // namespace varnode
