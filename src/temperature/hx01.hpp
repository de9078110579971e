#pragma once
// HX01: eight thermocouple channels with a cold-junction sensor.

#include "device/device.hpp"

namespace varnode {

class HX01 {
 public:
  struct Exception : Device::Exception {
    struct Aborted;
    struct Configuration;
    struct Reserved;
  };

  explicit HX01(const Device& device) : device_(device) {}

 private:
  Device device_;
};

struct HX01::Exception::Aborted : HX01::Exception {};
struct HX01::Exception::Configuration : HX01::Exception {};
struct HX01::Exception::Reserved : HX01::Exception {};

}  // namespace varnode
