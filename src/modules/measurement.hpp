#pragma once
// A completed analog-input measurement, read in place.

#include <cstdint>
#include <span>
#include <vector>

#include "net/bytes.hpp"

namespace varnode {

// A completed measurement in the module's layout: sample after sample, each
// one big-endian float per measured channel in ascending channel order. It is
// read in place rather than unpacked, because a measurement can hold 32 MB.
class Measurement {
 public:
  Measurement(std::vector<std::uint8_t> channels, std::uint32_t samples, Bytes buffer);

  const std::vector<std::uint8_t>& channels() const { return channels_; }
  std::uint32_t samples() const { return samples_; }
  // Throws Device::Exception::Parameter for a sample or channel not measured.
  float value(std::uint32_t sample, std::uint8_t channel) const;
  // out[s * order.size() + i] receives sample s of channel order[i]. Every
  // channel of `order` must have been measured; nothing is written otherwise.
  void write(std::span<const std::uint8_t> order, float* out) const;

 private:
  std::size_t position(std::uint8_t channel) const;

  std::vector<std::uint8_t> channels_;
  std::uint32_t samples_;
  Bytes buffer_;
};

}  // namespace varnode
