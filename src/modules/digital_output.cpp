#include "modules/digital_output.hpp"

#include "device/commands.hpp"
#include "device/reply.hpp"

namespace varnode {
namespace {

using commands::family_code;
template <std::uint8_t F> constexpr std::uint16_t write_command = family_code(F, 0x00);
template <std::uint8_t F> constexpr std::uint16_t measure_command = family_code(F, 0x01);
template <std::uint8_t F> constexpr std::uint16_t values_reply = family_code(F, 0x02);
constexpr std::size_t value_size = 4;

}  // namespace

template <std::uint8_t Family>
void DigitalOutput<Family>::write(const ChannelMap<bool>& states) const {
  channels::require_some(states);
  device_.acknowledged(write_command<Family>, channels::mask_and_flags(states, channel_count));
}

template <std::uint8_t Family>
ChannelMap<float> DigitalOutput<Family>::measure(const ChannelSet& requested) const requires(Family == 0x01) {
  channels::require_some(requested);
  Bytes payload{channels::mask(requested, channel_count)};
  const std::uint16_t answer = device_.exchange(measure_command<Family>, payload);
  reply::judge(answer, payload, reply::exactly(values_reply<Family>, value_size * requested.size()));
  return channels::values_of(requested, payload.data(), value_size, DCP::get_f32);
}

template class DigitalOutput<0x01>;
template class DigitalOutput<0x0A>;

}  // namespace varnode
