// Every module's reply decoder, reached through the module classes with the
// fuzz input as the module's replies (fake_net.cpp). Each call either
// succeeds with exactly what the accepted reply carries or throws one of
// the library's own exceptions.
#include <cmath>
#include <cstring>
#include <map>

#include "api/frame.hpp"
#include "dcp/datagram.hpp"
#include "device/info.hpp"
#include "device/status.hpp"
#include "fake_net.hpp"
#include "input.hpp"
#include "modules/analog_input.hpp"
#include "modules/analog_output.hpp"
#include "modules/counter.hpp"
#include "modules/digital_io.hpp"
#include "modules/digital_output.hpp"
#include "temperature/hx01.hpp"
#include "temperature/hx02.hpp"

using namespace varnode;

namespace {

std::uint32_t request_id() {
  FUZZ_CHECK(!fuzz::sent().empty());
  return DCP::get_u32(fuzz::sent().back().datagram.data() + 4);
}

// The reply an exchange took: the last one delivered, which must come from
// the module's port 30000 and carry the request's id.
DCP::Message accepted() {
  FUZZ_CHECK(!fuzz::delivered().empty());
  const fuzz::Delivered& last = fuzz::delivered().back();
  FUZZ_CHECK(last.source == fuzz::module_address && last.port == DCP::port);
  const DCP::Message message = DCP::decode(last.datagram);
  FUZZ_CHECK(message.transaction_id == request_id());
  return message;
}

float f32_at(DCP::View payload, std::size_t offset) { return DCP::get_f32(payload.data() + offset); }

bool same(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

ChannelSet channel_set(std::uint8_t mask, Channel last) {
  ChannelSet set;
  for (Channel c = 1; c <= last; ++c)
    if ((mask >> (c - 1)) & 1u) set.insert(c);
  if (set.empty()) set.insert(1);
  return set;
}

// The buffer the stream should have built: the first of each chunk that
// came from the module with the right id and code.
Bytes expected_stream(std::size_t size, std::uint16_t chunk_code) {
  const std::uint32_t id = request_id();
  Bytes buffer(size);
  std::map<std::pair<std::uint32_t, std::size_t>, bool> placed;
  for (const fuzz::Delivered& d : fuzz::delivered()) {
    if (d.source != fuzz::module_address || d.port != DCP::port) continue;
    DCP::Message m;
    try {
      m = DCP::decode(d.datagram);
    } catch (const DCP::Exception&) {
      continue;
    }
    if (m.transaction_id != id || m.code != chunk_code || m.payload.size() < 4) continue;
    const std::uint32_t offset = DCP::get_u32(m.payload.data());
    const std::size_t length = m.payload.size() - 4;
    if (length == 0 || !placed.emplace(std::pair{offset, length}, true).second) continue;
    FUZZ_CHECK(std::uint64_t{offset} + length <= size);
    std::memcpy(buffer.data() + offset, m.payload.data() + 4, length);
  }
  return buffer;
}

template <class Module>
void measure_stream(fuzz::Input& input, const ChannelSet& channels, std::uint16_t chunk_code) {
  const std::uint32_t samples = 1 + input.u16() % 64;
  fuzz::queue_replies(input);
  const Measurement m = Module(Device(fuzz::module_address)).measure(channels, samples, 100.0f);
  const Bytes expected = expected_stream(channels.size() * samples * 4, chunk_code);
  for (std::uint32_t s = 0; s < samples; ++s) {
    std::size_t i = 0;
    for (const Channel c : channels) FUZZ_CHECK(same(m.value(s, c), f32_at(expected, (s * channels.size() + i++) * 4)));
  }
}

void run(fuzz::Input& input) {
  const std::uint8_t operation = input.u8();
  const std::uint8_t mask = input.u8();
  const Device device(fuzz::module_address);
  switch (operation % 17) {
    case 0:
    case 1: {
      const ChannelSet channels = channel_set(mask, 8);
      fuzz::queue_replies(input);
      const ChannelMap<bool> levels =
          operation % 17 == 0 ? KL01(device).read(channels) : KL02(device).read(channels);
      const DCP::Message reply = accepted();
      FUZZ_CHECK(reply.payload.size() == 1 && levels.size() == channels.size());
      for (const auto& [c, level] : levels) FUZZ_CHECK(level == (((reply.payload[0] >> (c - 1)) & 1u) != 0));
      break;
    }
    case 2:
      fuzz::queue_replies(input);
      KL01(device).write({{1, true}, {8, false}});
      FUZZ_CHECK(accepted().code == 1 && accepted().payload.empty());
      break;
    case 3:
      fuzz::queue_replies(input);
      KL02(device).set_direction({{2, true}});
      FUZZ_CHECK(accepted().code == 1 && accepted().payload.empty());
      break;
    case 4: {
      const ChannelSet channels = channel_set(mask, 8);
      fuzz::queue_replies(input);
      const ChannelMap<float> values = KS01(device).measure(channels);
      const DCP::Message reply = accepted();
      FUZZ_CHECK(reply.code == 0x0102 && reply.payload.size() == 4 * channels.size());
      std::size_t i = 0;
      for (const auto& [c, v] : values) FUZZ_CHECK(same(v, f32_at(reply.payload, 4 * i++)));
      break;
    }
    case 5:
      fuzz::queue_replies(input);
      KS02(device).write({{3, true}});
      FUZZ_CHECK(accepted().code == 1 && accepted().payload.empty());
      break;
    case 6: {
      const ChannelSet channels = channel_set(mask, 4);
      fuzz::queue_replies(input);
      const QU01::Reading reading = QU01(device).read(channels);
      const DCP::Message reply = accepted();
      FUZZ_CHECK(reply.code == 0x0703 && reply.payload.size() == 8 * (1 + channels.size()));
      FUZZ_CHECK(static_cast<std::uint64_t>(reading.reference) == DCP::get_u64(reply.payload.data()));
      std::size_t i = 1;
      for (const auto& [c, count] : reading.counts)
        FUZZ_CHECK(static_cast<std::uint64_t>(count) == DCP::get_u64(reply.payload.data() + 8 * i++));
      break;
    }
    case 7:
      fuzz::queue_replies(input);
      QU01(device).enable(channel_set(mask, 4));
      FUZZ_CHECK(accepted().code == 1 && accepted().payload.empty());
      break;
    case 8: {
      const ChannelSet channels = channel_set(mask, 8);
      fuzz::queue_replies(input);
      const ChannelMap<float> values = HX01(device).measure(channels);
      const DCP::Message reply = accepted();
      FUZZ_CHECK(reply.code == 0x0601 && reply.payload.size() == 4 + 5 * channels.size());
      std::size_t i = 0;
      for (const auto& [c, v] : values) {
        const std::uint8_t code = reply.payload[4 + 5 * i];
        const float sent = f32_at(reply.payload, 5 + 5 * i++);
        FUZZ_CHECK(code == 1 ? same(v, sent) : !std::isnan(v));
      }
      break;
    }
    case 9: {
      const ChannelSet channels = channel_set(mask, 4);
      fuzz::queue_replies(input);
      const ChannelMap<float> values = HX02(device).measure(channels);
      const DCP::Message reply = accepted();
      FUZZ_CHECK(reply.code == 0x0201 && reply.payload.size() == 17 * channels.size());
      std::size_t i = 0;
      for (const auto& [c, v] : values) {
        const std::uint8_t code = reply.payload[17 * i];
        const float sent = f32_at(reply.payload, 17 * i++ + 13);
        FUZZ_CHECK(code == 1 ? same(v, sent) : !std::isnan(v));
      }
      break;
    }
    case 10:
      measure_stream<RA01>(input, channel_set(mask, 8), 0x0401);
      break;
    case 11:
      measure_stream<RE01>(input, channel_set(mask, 8), 0x0901);
      break;
    case 12: {
      fuzz::queue_replies(input);
      const Device::Info info = device.get_info();
      const DCP::Message reply = accepted();
      FUZZ_CHECK(reply.code == 6 && Device::Info(reply.payload).serial_number == info.serial_number);
      break;
    }
    case 13: {
      fuzz::queue_replies(input);
      const Device::Status status = device.get_status();
      const DCP::Message reply = accepted();
      FUZZ_CHECK(reply.code == 8 && Device::Status(reply.payload).items.size() == status.items.size());
      break;
    }
    case 14:
      fuzz::queue_replies(input);
      device.reset();
      FUZZ_CHECK(accepted().code == 1 && accepted().payload.empty());
      break;
    case 15:
      fuzz::queue_replies(input);
      WE01(device).control({{1, 2.5f}, {8, -1.0f}});
      FUZZ_CHECK(accepted().code == 1 && accepted().payload.empty());
      break;
    default:
      fuzz::queue_replies(input);
      RE01(device).stop();
      FUZZ_CHECK(accepted().code == 1 && accepted().payload.empty());
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::reset_wire();
  fuzz::Input input(data, size);
  try {
    run(input);
  } catch (const Device::Exception& e) {
    // Only the kinds that have a result code, and never Parameter: every
    // argument here is valid, so a refusal can only come from a reply.
    const api::Result code = api::result_code(e);
    FUZZ_CHECK(code != VARNODE_ERROR && code != VARNODE_PARAMETER && code != VARNODE_NOT_FOUND);
  }
  fuzz::reset_wire();
  return 0;
}
