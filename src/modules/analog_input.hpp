#pragma once
// RA01 (current) and RE01 (voltage): eight analog inputs with streamed
// multi-sample measurements. Same commands under different family bytes.

#include <cstdint>

#include "device/device.hpp"

namespace varnode {

template <std::uint8_t Family>
class AnalogInput {
 public:
  struct Exception : Device::Exception {
    struct Aborted;
    struct Configuration;
    struct Reserved;
  };

  explicit AnalogInput(const Device& device) : device_(device) {}

 private:
  Device device_;
};

template <std::uint8_t Family>
struct AnalogInput<Family>::Exception::Aborted : AnalogInput<Family>::Exception {};
template <std::uint8_t Family>
struct AnalogInput<Family>::Exception::Configuration : AnalogInput<Family>::Exception {};
template <std::uint8_t Family>
struct AnalogInput<Family>::Exception::Reserved : AnalogInput<Family>::Exception {};

using RA01 = AnalogInput<0x04>;
using RE01 = AnalogInput<0x09>;

}  // namespace varnode
