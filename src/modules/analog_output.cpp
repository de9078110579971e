#include "modules/analog_output.hpp"

#include "device/commands.hpp"

namespace varnode {
namespace {

constexpr std::uint16_t control_command = commands::family_code(0x08, 0x00);

}  // namespace

void WE01::control(const ChannelMap<float>& values) const {
  channels::require_some(values);
  device_.acknowledged(control_command, channels::mask_and_values(values, channel_count, DCP::put_f32));
}

}  // namespace varnode
