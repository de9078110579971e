// Exports of the counter module.
#include "modules/counter.hpp"

#include "api/channel_args.hpp"

using namespace varnode;

namespace {

template <void (QU01::*operation)(const ChannelSet&) const>
std::uint8_t apply_to_channels(std::uint32_t address, const std::uint8_t* channels, std::uint8_t count) {
  return api::guarded([&] {
    const ChannelSet set = api::channel_set(channels, count, QU01::channel_count);
    (QU01(Device(IP::Address(address))).*operation)(set);
  });
}

}  // namespace

extern "C" {

VARNODE_API uint8_t qu01_enable(uint32_t address, const uint8_t* channels, uint8_t count) {
  return apply_to_channels<&QU01::enable>(address, channels, count);
}

VARNODE_API uint8_t qu01_disable(uint32_t address, const uint8_t* channels, uint8_t count) {
  return apply_to_channels<&QU01::disable>(address, channels, count);
}

VARNODE_API uint8_t qu01_clear(uint32_t address, const uint8_t* channels, uint8_t count) {
  return apply_to_channels<&QU01::clear>(address, channels, count);
}

VARNODE_API uint8_t qu01_set_mode(uint32_t address, const uint8_t* channels, uint8_t count, const uint8_t* modes,
                                  uint8_t mode_count) {
  return api::guarded([&] {
    const auto map = api::value_map(channels, count, modes, mode_count, QU01::channel_count);
    QU01(Device(IP::Address(address))).set_mode(map);
  });
}

VARNODE_API uint8_t qu01_read(uint32_t address, const uint8_t* channels, uint8_t count, int64_t* values, uint8_t* size,
                              int64_t* reference) {
  return api::guarded([&] {
    api::require_pointer(reference);
    const ChannelSet set = api::read_set(channels, count, values, size, QU01::channel_count);
    const QU01::Reading reading = QU01(Device(IP::Address(address))).read(set);
    api::write_in_caller_order(channels, count, reading.counts, values, size);
    *reference = reading.reference;
  });
}

}  // extern "C"
