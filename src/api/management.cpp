// Exports of device management that need no decoding: time-outs, reset,
// burn and configure.
#include "api/frame.hpp"
#include "device/configuration.hpp"

using namespace varnode;

extern "C" {

VARNODE_API uint8_t get_timeout(uint32_t address, uint16_t* timeout) {
  return api::guarded([&] {
    api::require_pointer(timeout);
    const std::uint16_t value = Device(IP::Address(address)).timeout();
    *timeout = value;
  });
}

VARNODE_API uint8_t set_timeout(uint32_t address, uint16_t timeout) {
  return api::guarded([&] { Device(IP::Address(address)).set_timeout(timeout); });
}

VARNODE_API uint8_t reset(uint32_t address) {
  return api::guarded([&] { Device(IP::Address(address)).reset(); });
}

VARNODE_API uint8_t burn(uint32_t address, const uint8_t* data, uint32_t data_size) {
  return api::guarded([&] {
    const Device device{IP::Address(address)};
    api::require_entries(data, data_size);
    device.burn(DCP::View(data, data_size));
  });
}

VARNODE_API uint8_t configure(uint32_t serial_number, const char* text, uint32_t text_size, uint8_t flag,
                              uint32_t first_address, uint32_t second_address, uint32_t third_address) {
  return api::guarded([&] {
    api::require_entries(text, text_size);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text);
    const Device::NetworkConfiguration configuration(DCP::View(bytes, text_size), flag, IP::Address(first_address),
                                                     IP::Address(second_address), IP::Address(third_address));
    Device::configure(serial_number, configuration);
  });
}

}  // extern "C"
