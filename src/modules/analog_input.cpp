#include "modules/analog_input.hpp"

#include <cstring>
#include <optional>

#include "device/commands.hpp"
#include "device/frequency.hpp"
#include "device/reply.hpp"
#include "device/stream.hpp"
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
Measurement AnalogInput<Family>::measure(const ChannelSet& requested, std::uint32_t samples,
                                         float frequency) const {
  channels::require_some(requested);
  // Two ordered comparisons, so that NaN passes as the module's business.
  if (samples > 1 && (frequency < 6.0f || frequency > 3000.0f)) throw Device::Exception::Parameter{};
  if (samples == 0 || samples > max_samples) throw Device::Exception::Parameter{};
  const std::uint8_t mask = channels::mask(requested, channel_count);
  refuse_unreachable(device_.address());
  const std::size_t size = requested.size() * std::size_t{samples} * 4;
  return Measurement(std::vector(requested.begin(), requested.end()), samples,
                     stream(measurement_request(mask, samples, frequency), size));
}

// Every byte of the buffer must arrive exactly once. An exact repeat of a
// chunk, the same bytes at the same place, is taken for a retransmission and
// dropped; any other overlap means the stream cannot be trusted, and ending
// when the byte count adds up would report success with a hole in the data.
// So does a stream broken into more separate runs than its bookkeeping may
// hold.
template <std::uint8_t Family>
Bytes AnalogInput<Family>::stream(const Bytes& request, std::size_t size) const {
  // The buffer is made before the request goes out: touching 32 MB takes
  // long enough for the first chunks to overflow the receive queue.
  Bytes buffer(size);
  Device::Stream replies(device_, measure_command<Family>, request);

  ArrivedChunks arrived;
  // The bookkeeping may cost about as much as the buffer (a run takes some 64
  // bytes), no more: a stream scattered finer than that is not one a module
  // sends.
  const std::size_t largest_runs = size / 64 + 64;
  std::size_t remaining = size;
  std::uint64_t deadline = current_milliseconds() + device_.timeout();
  for (;;) {
    const std::optional<DCP::Message> next = replies.next(deadline);
    if (!next) throw Device::Exception::Timeout{};
    const DCP::Message& reply = *next;
    reply::judge(reply.code, reply.payload, reply::at_least(chunk_reply<Family>, 4),
                 reply::Refusal<typename Exception::Aborted>{aborted_reply<Family>},
                 reply::Refusal<typename Exception::Configuration>{configuration_reply<Family>},
                 reply::Refusal<typename Exception::Reserved>{reserved_reply<Family>});

    const std::uint32_t offset = DCP::get_u32(reply.payload.data());
    const DCP::View chunk = reply.payload.subspan(4);
    if (std::uint64_t{offset} + chunk.size() > size) throw Device::Exception::Failed{};
    if (!chunk.empty()) {
      switch (arrived.add(offset, static_cast<std::uint32_t>(chunk.size()))) {
        case ArrivedChunks::Outcome::repeated:
          // Only the same bytes again are a retransmission: other bytes in
          // the same place leave no way to tell which copy is right.
          if (std::memcmp(buffer.data() + offset, chunk.data(), chunk.size()) != 0) throw Device::Exception::Failed{};
          // Neither counted nor a sign of progress: a module repeating a
          // chunk for ever must still meet the time-out.
          if (current_milliseconds() >= deadline) throw Device::Exception::Timeout{};
          continue;
        case ArrivedChunks::Outcome::overlapping:
          throw Device::Exception::Failed{};
        case ArrivedChunks::Outcome::added:
          break;
      }
      if (arrived.runs() > largest_runs) throw Device::Exception::Failed{};
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
