#include "modules/analog_output.hpp"

namespace varnode {

void WE01::control(const ChannelMap<float>& values) const {
  constexpr std::uint16_t control_command = 0x0800;
  channels::require_some(values);
  device_.acknowledged(control_command, channels::mask_and_values(values, channel_count, DCP::put_f32));
}

}  // namespace varnode
