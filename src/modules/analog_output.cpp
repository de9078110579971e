#include "modules/analog_output.hpp"

namespace varnode {
namespace {

constexpr std::uint16_t control_command = 0x0800;

}  // namespace

void WE01::control(const ChannelMap<float>& values) const {
  channels::require_some(values);
  device_.acknowledged(control_command, channels::mask_and_values(values, channel_count, DCP::put_f32));
}

}  // namespace varnode
