#pragma once
// KL01 and KL02: eight digital I/O channels. The two speak the same commands
// under different family bytes and raise their own exception families.

#include <cstdint>

#include "device/device.hpp"
#include "device/channels.hpp"
#include "device/reply.hpp"

namespace varnode {

template <std::uint8_t Family>
class DigitalIO {
 public:
  struct Exception : Device::Exception {
    // The module refused a read or a write.
    struct Configuration;
  };

  static constexpr Channel channel_count = 8;

  explicit DigitalIO(const Device& device) : device_(device) {}

  // A set flag sets the channel's direction bit; what that selects is the
  // module's own convention.
  void set_direction(const ChannelMap<bool>& directions) const;
  void write(const ChannelMap<bool>& levels) const;
  // The level of exactly the requested channels.
  ChannelMap<bool> read(const ChannelSet& channels) const;

 private:
  // The expected answer, or the module's refusal as Exception::Configuration.
  static void judge(std::uint16_t reply, const Bytes& payload, reply::Expected expected);

  Device device_;
};

template <std::uint8_t Family>
struct DigitalIO<Family>::Exception::Configuration : DigitalIO<Family>::Exception {};

extern template class DigitalIO<0x03>;
extern template class DigitalIO<0x0B>;

using KL01 = DigitalIO<0x03>;
using KL02 = DigitalIO<0x0B>;

}  // namespace varnode
