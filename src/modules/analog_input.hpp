#pragma once
// RA01 (current) and RE01 (voltage): eight analog inputs with streamed
// multi-sample measurements. Same commands under different family bytes.

#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <vector>

#include "device/device.hpp"

namespace varnode {

// Which chunks of a streamed buffer have arrived. Neighbouring chunks of the
// same length are kept as one run, so an orderly stream costs a single entry
// however long it is, while an exact repeat of an earlier chunk can still be
// told apart from a chunk that overlaps received bytes in any other way.
class ArrivedChunks {
 public:
  enum class Outcome { added, repeated, overlapping };

  // Records [offset, offset + length); length must not be 0.
  Outcome add(std::uint32_t offset, std::uint32_t length);
  std::size_t runs() const { return runs_.size(); }

 private:
  // Chunks of `length` bytes laid end to end from the key up to `end`.
  struct Run {
    std::uint32_t end;
    std::uint32_t length;
  };
  std::map<std::uint32_t, Run> runs_;
};

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

template <std::uint8_t Family>
class AnalogInput {
 public:
  struct Exception : Device::Exception {
    struct Aborted;
    struct Configuration;
    struct Reserved;
  };

  static constexpr std::uint32_t max_samples = 1'000'000;

  explicit AnalogInput(const Device& device) : device_(device) {}

  // One of 6, 12, 25, 50, 100, 200, 400, 800, 1500, 3000.
  void set_frequency(std::uint16_t setting) const;
  void stop() const;
  // One request answered by a stream of chunks placed by offset. The
  // time-out restarts with every chunk but an exact repeat of an earlier one.
  Measurement measure(const std::set<std::uint8_t>& channels, std::uint32_t samples, float frequency) const;

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
