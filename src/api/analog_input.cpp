// Exports of the analog input modules RA01 and RE01.
#include "api/channel_args.hpp"
#include "api/frame.hpp"
#include "modules/analog_input.hpp"
#include "varnode/catalogue.h"

using namespace varnode;

namespace {

// The twins share one channel count.
static_assert(VARNODE_RA01_CHANNELS == VARNODE_RE01_CHANNELS);

template <class Module>
Module module_at(std::uint32_t address) {
  return Module(Device(IP::Address(address)));
}

template <class Module>
api::Result set_frequency(std::uint32_t address, std::uint16_t frequency) {
  return api::guarded([&] { module_at<Module>(address).set_frequency(frequency); });
}

template <class Module>
api::Result stop(std::uint32_t address) {
  return api::guarded([&] { module_at<Module>(address).stop(); });
}

template <class Module>
api::Result measure(std::uint32_t address, const std::uint8_t* channels, std::uint8_t count,
                    std::uint32_t samples, float frequency, float* values, std::uint32_t* size) {
  return api::guarded([&] {
    const ChannelSet set = api::channel_set(channels, count, Module::channel_count);
    api::require_pointer(size);
    // In 32 bits as the caller counts; a product that wraps is caught by the
    // sample limit before anything is sent.
    const std::uint32_t total = count * samples;
    if (*size < total) throw Device::Exception::Parameter{};
    api::require_entries(values, total);
    const Measurement measurement = module_at<Module>(address).measure(set, samples, frequency);
    measurement.write(std::span(channels, count), values);
    *size = total;
  });
}

}  // namespace

extern "C" {

VARNODE_API uint8_t ra01_set_frequency(uint32_t address, uint16_t frequency) {
  return set_frequency<RA01>(address, frequency);
}

VARNODE_API uint8_t re01_set_frequency(uint32_t address, uint16_t frequency) {
  return set_frequency<RE01>(address, frequency);
}

VARNODE_API uint8_t ra01_stop(uint32_t address) { return stop<RA01>(address); }

VARNODE_API uint8_t re01_stop(uint32_t address) { return stop<RE01>(address); }

VARNODE_API uint8_t ra01_measure(uint32_t address, const uint8_t* channels, uint8_t count, uint32_t samples,
                                 float frequency, float* values, uint32_t* size) {
  return measure<RA01>(address, channels, count, samples, frequency, values, size);
}

VARNODE_API uint8_t re01_measure(uint32_t address, const uint8_t* channels, uint8_t count, uint32_t samples,
                                 float frequency, float* values, uint32_t* size) {
  return measure<RE01>(address, channels, count, samples, frequency, values, size);
}

}  // extern "C"
