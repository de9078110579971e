#include "modules/digital_io.hpp"

namespace varnode {
namespace {

constexpr std::uint8_t set_direction_operation = 0x00;
constexpr std::uint8_t read_operation = 0x01;
constexpr std::uint8_t write_operation = 0x02;
constexpr std::uint8_t refusal_reply = 0x03;
constexpr std::uint8_t levels_reply = 0x04;

}  // namespace

template <std::uint8_t Family>
void DigitalIO<Family>::refused(std::uint16_t reply, const Bytes& payload) {
  if (reply == code(refusal_reply) && payload.empty()) throw typename Exception::Configuration{};
  throw Device::Exception::Failed{};
}

template <std::uint8_t Family>
void DigitalIO<Family>::set_direction(const ChannelMap<bool>& directions) const {
  channels::require_some(directions);
  // A refusal code is no valid answer to this command: it fails like any other.
  device_.acknowledged(code(set_direction_operation), channels::mask_and_flags(directions, channel_count));
}

template <std::uint8_t Family>
void DigitalIO<Family>::write(const ChannelMap<bool>& levels) const {
  channels::require_some(levels);
  Bytes payload = channels::mask_and_flags(levels, channel_count);
  const std::uint16_t reply = device_.exchange(code(write_operation), payload);
  if (reply != 1 || !payload.empty()) refused(reply, payload);
}

template <std::uint8_t Family>
ChannelMap<bool> DigitalIO<Family>::read(const ChannelSet& requested) const {
  channels::require_some(requested);
  Bytes payload{channels::mask(requested, channel_count)};
  const std::uint16_t reply = device_.exchange(code(read_operation), payload);
  if (reply != code(levels_reply) || payload.size() != 1) refused(reply, payload);
  return channels::flags_of(payload[0], requested);
}

template class DigitalIO<0x03>;
template class DigitalIO<0x0B>;

}  // namespace varnode
