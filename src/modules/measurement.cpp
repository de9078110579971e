#include "modules/measurement.hpp"

#include <algorithm>

#include "dcp/datagram.hpp"
#include "device/device.hpp"

namespace varnode {

Measurement::Measurement(std::vector<std::uint8_t> channels, std::uint32_t samples, Bytes buffer)
    : channels_(std::move(channels)), samples_(samples), buffer_(std::move(buffer)) {}

std::size_t Measurement::position(std::uint8_t channel) const {
  const auto found = std::find(channels_.begin(), channels_.end(), channel);
  if (found == channels_.end()) throw Device::Exception::Parameter{};
  return static_cast<std::size_t>(found - channels_.begin());
}

float Measurement::value(std::uint32_t sample, std::uint8_t channel) const {
  if (sample >= samples_) throw Device::Exception::Parameter{};
  return DCP::get_f32(buffer_.data() + (std::size_t{sample} * channels_.size() + position(channel)) * 4);
}

void Measurement::write(std::span<const std::uint8_t> order, float* out) const {
  std::vector<std::size_t> offsets;
  for (const std::uint8_t channel : order) offsets.push_back(position(channel) * 4);
  const std::size_t stride = channels_.size() * 4;
  const std::uint8_t* row = buffer_.data();
  // Asked for in the module's own order: the buffer is read straight
  // through, a loop the compiler turns into wide byte swaps.
  bool in_place = offsets.size() == channels_.size();
  for (std::size_t i = 0; in_place && i < offsets.size(); ++i) in_place = offsets[i] == i * 4;
  if (in_place) {
    const std::size_t count = std::size_t{samples_} * channels_.size();
    for (std::size_t i = 0; i < count; ++i) out[i] = DCP::get_f32(row + 4 * i);
    return;
  }
  for (std::uint32_t s = 0; s < samples_; ++s, row += stride) {
    for (const std::size_t offset : offsets) *out++ = DCP::get_f32(row + offset);
  }
}

}  // namespace varnode
