#pragma once
// WE01: eight voltage outputs.

#include "device/device.hpp"
#include "device/channels.hpp"

namespace varnode {

class WE01 {
 public:
  // The output operation raises only Device exceptions; the family exists
  // for the result-code table.
  struct Exception : Device::Exception {
    struct Aborted;
    struct Reserved;
  };

  static constexpr Channel channel_count = 8;

  explicit WE01(const Device& device) : device_(device) {}

  // Sends each value as given: no scaling, no range check.
  void control(const ChannelMap<float>& values) const;

 private:
  Device device_;
};

struct WE01::Exception::Aborted : WE01::Exception {};
struct WE01::Exception::Reserved : WE01::Exception {};

}  // namespace varnode
