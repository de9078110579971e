#pragma once
// KS01 and KS02: eight digital outputs. Both switch outputs with the same
// payload under different family bytes; KS01 also measures one value per
// channel. Neither has an exception family of its own.

#include <cstdint>

#include "device/device.hpp"
#include "device/channels.hpp"

namespace varnode {

template <std::uint8_t Family>
class DigitalOutput {
 public:
  static constexpr Channel channel_count = 8;

  explicit DigitalOutput(const Device& device) : device_(device) {}

  // A set flag switches the channel's output on.
  void write(const ChannelMap<bool>& states) const;
  // One value per requested channel, unscaled; its meaning is the module's.
  ChannelMap<float> measure(const ChannelSet& channels) const requires(Family == 0x01);

 private:
  Device device_;
};

extern template class DigitalOutput<0x01>;
extern template class DigitalOutput<0x0A>;

using KS01 = DigitalOutput<0x01>;
using KS02 = DigitalOutput<0x0A>;

}  // namespace varnode
