#include "modules/analog_input.hpp"

#include <cstring>
#include <optional>

#include "dcp/exchange.hpp"
#include "device/commands.hpp"
#include "device/frequency.hpp"
#include "modules/arrived_chunks.hpp"
#include "net/clock.hpp"

namespace varnode {

Bytes measurement_request(std::uint8_t channel_mask, std::uint32_t samples, float frequency) {
  Bytes payload{channel_mask};
  DCP::put_u32(payload, samples);
  DCP::put_f32(payload, frequency);
  return payload;
}

namespace {

using commands::family_code;
template <std::uint8_t F> constexpr std::uint16_t measure_command = family_code(F, 0x00);
template <std::uint8_t F> constexpr std::uint16_t chunk_reply = family_code(F, 0x01);
template <std::uint8_t F> constexpr std::uint16_t reserved_reply = family_code(F, 0x02);
template <std::uint8_t F> constexpr std::uint16_t configuration_reply = family_code(F, 0x03);
template <std::uint8_t F> constexpr std::uint16_t stop_command = family_code(F, 0x04);
template <std::uint8_t F> constexpr std::uint16_t aborted_reply = family_code(F, 0x05);
template <std::uint8_t F> constexpr std::uint16_t set_frequency_command = family_code(F, 0x08);

// Datagrams the measurement cannot be sent to: loopback, which the modules
// never use, and broadcast, which would start every module on a subnet.
void refuse_unreachable(IP::Address address) {
  try {
    if (address.is_loopback() || address.is_broadcast()) throw Device::Exception::Network{};
  } catch (const IP::Exception&) {
    throw Device::Exception::Network{};
  }
}

}  // namespace

template <std::uint8_t Family>
void AnalogInput<Family>::set_frequency(std::uint16_t setting) const {
  frequency::set(device_, set_frequency_command<Family>, setting);
}

template <std::uint8_t Family>
void AnalogInput<Family>::stop() const {
  device_.acknowledged(stop_command<Family>, {});
}

template <std::uint8_t Family>
Measurement AnalogInput<Family>::measure(const std::set<std::uint8_t>& channels, std::uint32_t samples,
                                         float frequency) const {
  if (channels.empty()) throw Device::Exception::Parameter{};
  // Two ordered comparisons, so that NaN passes as the module's business.
  if (samples > 1 && (frequency < 6.0f || frequency > 3000.0f)) throw Device::Exception::Parameter{};
  if (samples == 0 || samples > max_samples) throw Device::Exception::Parameter{};
  std::uint8_t mask = 0;
  for (const std::uint8_t channel : channels) {
    if (channel < 1 || channel > 8) throw Device::Exception::Parameter{};
    mask = static_cast<std::uint8_t>(mask | 1u << (channel - 1));
  }
  refuse_unreachable(device_.address());
  const std::size_t size = channels.size() * std::size_t{samples} * 4;
  return Measurement(std::vector(channels.begin(), channels.end()), samples,
                     stream(measurement_request(mask, samples, frequency), size));
}

// Every byte of the buffer must arrive exactly once. An exact repeat of a
// chunk is taken for a retransmission and dropped; any other overlap means
// the stream cannot be trusted, and ending when the byte count adds up would
// report success with a hole in the data.
template <std::uint8_t Family>
Bytes AnalogInput<Family>::stream(const Bytes& request, std::size_t size) const {
  // The buffer is made before the request goes out: touching 32 MB takes
  // long enough for the first chunks to overflow the receive queue.
  Bytes buffer(size);
  std::optional<DCP::Transaction> transaction;
  try {
    transaction.emplace(device_.address());
    transaction->send(measure_command<Family>, request);
  } catch (const DCP::Exception&) {
    throw Device::Exception::Network{};
  }

  ArrivedChunks arrived;
  std::size_t remaining = size;
  std::uint64_t deadline = current_milliseconds() + device_.timeout();
  for (;;) {
    std::optional<DCP::Message> next;
    try {
      next = transaction->next_reply(deadline);
    } catch (const DCP::Exception&) {
      throw Device::Exception::Network{};
    }
    if (!next) throw Device::Exception::Timeout{};
    const DCP::Message& reply = *next;

    const bool bare = reply.payload.empty();
    switch (reply.code) {
      case aborted_reply<Family>:
        if (bare) throw typename Exception::Aborted{};
        throw Device::Exception::Failed{};
      case configuration_reply<Family>:
        if (bare) throw typename Exception::Configuration{};
        throw Device::Exception::Failed{};
      case reserved_reply<Family>:
        if (bare) throw typename Exception::Reserved{};
        throw Device::Exception::Failed{};
      case chunk_reply<Family>:
        if (reply.payload.size() >= 4) break;
        [[fallthrough]];
      default:
        throw Device::Exception::Failed{};
    }

    const std::uint32_t offset = DCP::get_u32(reply.payload.data());
    const DCP::View chunk = reply.payload.subspan(4);
    if (std::uint64_t{offset} + chunk.size() > size) throw Device::Exception::Failed{};
    if (!chunk.empty()) {
      switch (arrived.add(offset, static_cast<std::uint32_t>(chunk.size()))) {
        case ArrivedChunks::Outcome::repeated:
          // Neither counted nor a sign of progress: a module repeating a
          // chunk for ever must still meet the time-out.
          if (current_milliseconds() >= deadline) throw Device::Exception::Timeout{};
          continue;
        case ArrivedChunks::Outcome::overlapping:
          throw Device::Exception::Failed{};
        case ArrivedChunks::Outcome::added:
          break;
      }
      std::memcpy(buffer.data() + offset, chunk.data(), chunk.size());
      remaining -= chunk.size();
      if (remaining == 0) return buffer;
    }
    deadline = current_milliseconds() + device_.timeout();
  }
}

template class AnalogInput<0x04>;
template class AnalogInput<0x09>;

}  // namespace varnode
