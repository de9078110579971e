#pragma once
// WE01: eight voltage outputs.

#include "device/device.hpp"

namespace varnode {

class WE01 {
 public:
  struct Exception : Device::Exception {
    struct Aborted;
    struct Reserved;
  };

  explicit WE01(const Device& device) : device_(device) {}

 private:
  Device device_;
};

struct WE01::Exception::Aborted : WE01::Exception {};
struct WE01::Exception::Reserved : WE01::Exception {};

}  // namespace varnode
