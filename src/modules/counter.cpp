#include "modules/counter.hpp"

namespace varnode {
namespace {

constexpr std::uint16_t disable_command = 0x0700;
constexpr std::uint16_t enable_command = 0x0701;
constexpr std::uint16_t read_command = 0x0702;
constexpr std::uint16_t counts_reply = 0x0703;
constexpr std::uint16_t clear_command = 0x0704;
constexpr std::uint16_t set_mode_command = 0x0705;
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
  if (device_.exchange(read_command, payload) != counts_reply || payload.size() != value_size * (1 + requested.size()))
    throw Device::Exception::Failed{};
  return Reading{get_i64(payload.data()),
                 channels::values_of(requested, payload.data() + value_size, value_size, get_i64)};
}

}  // namespace varnode
