// Export of the voltage output module.
#include "modules/analog_output.hpp"

#include "api/channel_args.hpp"

using namespace varnode;

extern "C" {

VARNODE_API uint8_t we01_control(uint32_t address, const uint8_t* channels, uint8_t count, const float* values,
                                 uint8_t value_count) {
  return api::guarded([&] {
    const ChannelMap<float> map = api::value_map(channels, count, values, value_count, WE01::channel_count);
    WE01(Device(IP::Address(address))).control(map);
  });
}

}  // extern "C"
