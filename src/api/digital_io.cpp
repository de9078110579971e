// Exports of the digital I/O modules; KL01 and KL02 share every body.
#include "modules/digital_io.hpp"

#include "api/channel_args.hpp"

using namespace varnode;

extern "C" {

VARNODE_API uint8_t kl01_set_direction(uint32_t address, const uint8_t* channels, uint8_t count, const bool* directions,
                                       uint8_t direction_count) {
  return api::apply_flags<KL01, &KL01::set_direction>(address, channels, count, directions, direction_count);
}

VARNODE_API uint8_t kl02_set_direction(uint32_t address, const uint8_t* channels, uint8_t count, const bool* directions,
                                       uint8_t direction_count) {
  return api::apply_flags<KL02, &KL02::set_direction>(address, channels, count, directions, direction_count);
}

VARNODE_API uint8_t kl01_write(uint32_t address, const uint8_t* channels, uint8_t count, const bool* values,
                               uint8_t value_count) {
  return api::apply_flags<KL01, &KL01::write>(address, channels, count, values, value_count);
}

VARNODE_API uint8_t kl02_write(uint32_t address, const uint8_t* channels, uint8_t count, const bool* values,
                               uint8_t value_count) {
  return api::apply_flags<KL02, &KL02::write>(address, channels, count, values, value_count);
}

VARNODE_API uint8_t kl01_read(uint32_t address, const uint8_t* channels, uint8_t count, bool* values, uint8_t* size) {
  return api::read_channels<KL01, &KL01::read>(address, channels, count, values, size);
}

VARNODE_API uint8_t kl02_read(uint32_t address, const uint8_t* channels, uint8_t count, bool* values, uint8_t* size) {
  return api::read_channels<KL02, &KL02::read>(address, channels, count, values, size);
}

}  // extern "C"
