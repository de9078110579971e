// The placement of stream chunks: a measurement of arbitrary shape and a
// sequence of chunks with arbitrary offsets and lengths, placed as the
// stream places them and checked against a byte-by-byte model: a chunk is
// added exactly when it touches no byte received before, is a repeat
// exactly when it equals an earlier chunk, and a completed buffer holds
// every chunk where its offset says. Then the completed measurement is read
// back in an arbitrary channel order.
#include <algorithm>
#include <utility>

#include "dcp/datagram.hpp"
#include "device/device.hpp"
#include "input.hpp"
#include "modules/arrived_chunks.hpp"
#include "modules/measurement.hpp"

using namespace varnode;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input input(data, size);
  std::vector<std::uint8_t> channels;
  const std::uint8_t mask = input.u8();
  for (std::uint8_t c = 1; c <= 8; ++c)
    if ((mask >> (c - 1)) & 1u) channels.push_back(c);
  if (channels.empty()) channels.push_back(1);
  // At most 16 KiB, so that the model stays cheap.
  const std::uint32_t samples = 1 + input.u16() % (4096 / channels.size());
  const std::size_t total = channels.size() * samples * 4;

  ArrivedChunks arrived;
  std::vector<int> owner(total, -1);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> chunks;
  Bytes buffer(total);
  Bytes model(total);
  std::size_t remaining = total;
  while (remaining > 0 && input.left() > 0) {
    // Mostly offsets near the buffer, now and then any 32-bit offset.
    const std::uint8_t how = input.u8();
    const std::uint32_t offset = (how & 0x80) ? input.u32() : input.u16();
    const std::uint32_t length = input.u16() % (UDP::largest_datagram - DCP::header_size - 4 + 1);
    if (std::uint64_t{offset} + length > total) break;  // the stream fails here
    if (length == 0) continue;

    bool touches = false;
    for (std::uint32_t i = offset; i < offset + length; ++i) touches = touches || owner[i] >= 0;
    const bool repeat = std::find(chunks.begin(), chunks.end(), std::pair{offset, length}) != chunks.end();
    const ArrivedChunks::Outcome outcome = arrived.add(offset, length);
    if (repeat) {
      FUZZ_CHECK(outcome == ArrivedChunks::Outcome::repeated);
      continue;
    }
    if (touches) {
      FUZZ_CHECK(outcome == ArrivedChunks::Outcome::overlapping);
      break;  // the stream fails here
    }
    FUZZ_CHECK(outcome == ArrivedChunks::Outcome::added);
    FUZZ_CHECK(arrived.runs() <= chunks.size() + 1);
    const int index = static_cast<int>(chunks.size());
    chunks.emplace_back(offset, length);
    for (std::uint32_t i = offset; i < offset + length; ++i) {
      owner[i] = index;
      model[i] = static_cast<std::uint8_t>(index * 7 + i);
    }
    std::copy(model.begin() + offset, model.begin() + offset + length, buffer.begin() + offset);
    remaining -= length;
  }
  if (remaining != 0) return 0;
  FUZZ_CHECK(std::all_of(owner.begin(), owner.end(), [](int o) { return o >= 0; }));
  FUZZ_CHECK(buffer == model);

  const Measurement measurement(channels, samples, buffer);
  std::vector<std::uint8_t> order;
  const std::size_t wanted = input.u8() % 9;
  for (std::size_t i = 0; i < wanted; ++i) order.push_back(channels[input.u8() % channels.size()]);
  std::vector<float> out(order.size() * samples + 1, -1.0f);
  measurement.write(order, out.data());
  for (std::uint32_t s = 0; s < samples; ++s)
    for (std::size_t i = 0; i < order.size(); ++i) {
      const float expected = measurement.value(s, order[i]);
      const float got = out[s * order.size() + i];
      FUZZ_CHECK(std::memcmp(&expected, &got, sizeof got) == 0);
    }
  FUZZ_CHECK(out.back() == -1.0f);
  try {
    (void)measurement.value(samples, channels[0]);
    FUZZ_CHECK(!"a sample beyond the measurement was read");
  } catch (const Device::Exception::Parameter&) {
  }
  return 0;
}
