#include "modules/digital_io.hpp"

#include "device/commands.hpp"
#include "device/reply.hpp"

namespace varnode {
namespace {

using commands::family_code;
template <std::uint8_t F> constexpr std::uint16_t set_direction_command = family_code(F, 0x00);
template <std::uint8_t F> constexpr std::uint16_t read_command = family_code(F, 0x01);
template <std::uint8_t F> constexpr std::uint16_t write_command = family_code(F, 0x02);
template <std::uint8_t F> constexpr std::uint16_t refusal_reply = family_code(F, 0x03);
template <std::uint8_t F> constexpr std::uint16_t levels_reply = family_code(F, 0x04);

}  // namespace

template <std::uint8_t Family>
void DigitalIO<Family>::judge(std::uint16_t reply, const Bytes& payload, reply::Expected expected) {
  reply::judge(reply, payload, expected, reply::Refusal<typename Exception::Configuration>{refusal_reply<Family>});
}

template <std::uint8_t Family>
void DigitalIO<Family>::set_direction(const ChannelMap<bool>& directions) const {
  channels::require_some(directions);
  // A refusal code is no valid answer to this command: it fails like any other.
  device_.acknowledged(set_direction_command<Family>, channels::mask_and_flags(directions, channel_count));
}

template <std::uint8_t Family>
void DigitalIO<Family>::write(const ChannelMap<bool>& levels) const {
  channels::require_some(levels);
  Bytes payload = channels::mask_and_flags(levels, channel_count);
  const std::uint16_t answer = device_.exchange(write_command<Family>, payload);
  judge(answer, payload, reply::exactly(commands::acknowledgement_reply, 0));
}

template <std::uint8_t Family>
ChannelMap<bool> DigitalIO<Family>::read(const ChannelSet& requested) const {
  channels::require_some(requested);
  Bytes payload{channels::mask(requested, channel_count)};
  const std::uint16_t answer = device_.exchange(read_command<Family>, payload);
  judge(answer, payload, reply::exactly(levels_reply<Family>, 1));
  return channels::flags_of(payload[0], requested);
}

template class DigitalIO<0x03>;
template class DigitalIO<0x0B>;

}  // namespace varnode
