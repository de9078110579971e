#pragma once
// QU01: four 64-bit counters. Raises only Device exceptions.

#include <cstdint>

#include "device/device.hpp"
#include "device/channels.hpp"

namespace varnode {

class QU01 {
 public:
  static constexpr Channel channel_count = 4;
  static constexpr std::uint8_t highest_mode = 3;

  struct Reading {
    // Sent by the module ahead of the counts; its bits are passed through.
    std::int64_t reference = 0;
    ChannelMap<std::int64_t> counts;
  };

  explicit QU01(const Device& device) : device_(device) {}

  // An empty set is sent as the mask 0x00; what that does is the module's.
  void enable(const ChannelSet& channels) const;
  void disable(const ChannelSet& channels) const;
  void clear(const ChannelSet& channels) const;
  // Modes 0 to 3; their meaning is the module's.
  void set_mode(const ChannelMap<std::uint8_t>& modes) const;
  Reading read(const ChannelSet& channels) const;

 private:
  // The shape of enable, disable and clear: the mask, acknowledged.
  void acknowledged(std::uint16_t command, const ChannelSet& channels) const;

  Device device_;
};

}  // namespace varnode
