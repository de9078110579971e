#pragma once
// RA01 (current) and RE01 (voltage): eight analog inputs with streamed
// multi-sample measurements. Same commands under different family bytes.

#include <cstdint>
#include <vector>

#include "device/channels.hpp"
#include "device/device.hpp"
#include "modules/measurement.hpp"

namespace varnode {

template <std::uint8_t Family>
class AnalogInput {
 public:
  struct Exception : Device::Exception {
    struct Aborted;
    struct Configuration;
    struct Reserved;
  };

  static constexpr Channel channel_count = 8;
  static constexpr std::uint32_t max_samples = 1'000'000;

  explicit AnalogInput(const Device& device) : device_(device) {}

  // One of 6, 12, 25, 50, 100, 200, 400, 800, 1500, 3000.
  void set_frequency(std::uint16_t setting) const;
  void stop() const;
  // One request answered by a stream of chunks placed by offset. The
  // time-out restarts with every chunk but an exact repeat of an earlier one.
  Measurement measure(const ChannelSet& channels, std::uint32_t samples, float frequency) const;

 private:
  Bytes stream(const Bytes& request, std::size_t size) const;

  Device device_;
};

template <std::uint8_t Family>
struct AnalogInput<Family>::Exception::Aborted : AnalogInput<Family>::Exception {};
template <std::uint8_t Family>
struct AnalogInput<Family>::Exception::Configuration : AnalogInput<Family>::Exception {};
template <std::uint8_t Family>
struct AnalogInput<Family>::Exception::Reserved : AnalogInput<Family>::Exception {};

using RA01 = AnalogInput<0x04>;
using RE01 = AnalogInput<0x09>;

extern template class AnalogInput<0x04>;
extern template class AnalogInput<0x09>;

// The 9-byte payload that starts a measurement.
Bytes measurement_request(std::uint8_t channel_mask, std::uint32_t samples, float frequency);

}  // namespace varnode
