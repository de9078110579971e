#include "modules/counter.hpp"

#include "device/commands.hpp"
#include "device/reply.hpp"

namespace varnode {
namespace {

using commands::family_code;
constexpr std::uint8_t family = 0x07;
constexpr std::uint16_t disable_command = family_code(family, 0x00);
constexpr std::uint16_t enable_command = family_code(family, 0x01);
constexpr std::uint16_t read_command = family_code(family, 0x02);
constexpr std::uint16_t counts_reply = family_code(family, 0x03);
constexpr std::uint16_t clear_command = family_code(family, 0x04);
constexpr std::uint16_t set_mode_command = family_code(family, 0x05);
constexpr std::size_t value_size = 8;

std::int64_t get_i64(const std::uint8_t* data) { return static_cast<std::int64_t>(DCP::get_u64(data)); }

}  // namespace

void QU01::acknowledged(std::uint16_t command, const ChannelSet& requested) const {
  device_.acknowledged(command, Bytes{channels::mask(requested, channel_count)});
}

void QU01::enable(const ChannelSet& channels) const { acknowledged(enable_command, channels); }
void QU01::disable(const ChannelSet& channels) const { acknowledged(disable_command, channels); }
void QU01::clear(const ChannelSet& channels) const { acknowledged(clear_command, channels); }

void QU01::set_mode(const ChannelMap<std::uint8_t>& modes) const {
  device_.acknowledged(set_mode_command,
                       channels::mask_and_values(modes, channel_count, [](Bytes& out, std::uint8_t mode) {
                         if (mode > highest_mode) throw Device::Exception::Parameter{};
                         out.push_back(mode);
                       }));
}

QU01::Reading QU01::read(const ChannelSet& requested) const {
  Bytes payload{channels::mask(requested, channel_count)};
  const std::uint16_t answer = device_.exchange(read_command, payload);
  reply::judge(answer, payload, reply::exactly(counts_reply, value_size * (1 + requested.size())));
  return Reading{get_i64(payload.data()),
                 channels::values_of(requested, payload.data() + value_size, value_size, get_i64)};
}

}  // namespace varnode
