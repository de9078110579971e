// Exports of the digital output modules; the KS01 and KS02 writes share one body.
#include "modules/digital_output.hpp"

#include "api/channel_args.hpp"

using namespace varnode;

extern "C" {

VARNODE_API uint8_t ks01_write(uint32_t address, const uint8_t* channels, uint8_t count, const bool* values,
                               uint8_t value_count) {
  return api::apply_flags<KS01, &KS01::write>(address, channels, count, values, value_count);
}

VARNODE_API uint8_t ks02_write(uint32_t address, const uint8_t* channels, uint8_t count, const bool* values,
                               uint8_t value_count) {
  return api::apply_flags<KS02, &KS02::write>(address, channels, count, values, value_count);
}

VARNODE_API uint8_t ks01_measure(uint32_t address, const uint8_t* channels, uint8_t count, float* values,
                                 uint8_t* size) {
  return api::read_channels<KS01, &KS01::measure>(address, channels, count, values, size);
}

}  // extern "C"
