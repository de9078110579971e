#pragma once
// HX02: four channels of platinum, diode or PTC sensors.

#include "device/device.hpp"

namespace varnode {

class HX02 {
 public:
  struct Exception : Device::Exception {
    struct Aborted;
    struct Configuration;
    struct Reserved;
  };

  explicit HX02(const Device& device) : device_(device) {}

 private:
  Device device_;
};

struct HX02::Exception::Aborted : HX02::Exception {};
struct HX02::Exception::Configuration : HX02::Exception {};
struct HX02::Exception::Reserved : HX02::Exception {};

}  // namespace varnode
