#include "modules/digital_output.hpp"

namespace varnode {
namespace {

constexpr std::uint8_t write_operation = 0x00;
constexpr std::uint8_t measure_operation = 0x01;
constexpr std::uint8_t values_reply = 0x02;
constexpr std::size_t value_size = 4;

}  // namespace

template <std::uint8_t Family>
void DigitalOutput<Family>::write(const ChannelMap<bool>& states) const {
  channels::require_some(states);
  device_.acknowledged(code(write_operation), channels::mask_and_flags(states, channel_count));
}

template <std::uint8_t Family>
ChannelMap<float> DigitalOutput<Family>::measure(const ChannelSet& requested) const requires(Family == 0x01) {
  channels::require_some(requested);
  Bytes payload{channels::mask(requested, channel_count)};
  if (device_.exchange(code(measure_operation), payload) != code(values_reply) ||
      payload.size() != value_size * requested.size())
    throw Device::Exception::Failed{};
  return channels::values_of(requested, payload.data(), value_size, DCP::get_f32);
}

template class DigitalOutput<0x01>;
template class DigitalOutput<0x0A>;

}  // namespace varnode
