// Streamed measurements against a module in a peer namespace: measurements
// refuse loopback addresses, so they cannot run against the loopback fakes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "dcp/exchange.hpp"
#include "dcp/socket_pool.hpp"
#include "support/fake_module.hpp"
#include "support/netns.hpp"
#include "varnode/varnode.h"

namespace varnode {
namespace {

using test::FakeModule;
using test::Reply;
using test::Request;

constexpr IP::Address module_address{0xC6120502};  // 198.18.5.2
constexpr IP::Address subnet_broadcast{0xC61205FF};

// One datagram of the module's answer, written with RA01 codes; a request of
// the RE01 family gets the same answer under its own family byte.
struct Step {
  std::uint16_t code;
  Bytes payload;
  unsigned delay_ms = 0;
};

class Stream : public testing::Test {
 protected:
  static void SetUpTestSuite() { peer_ = new test::Peer("198.18.5.1/24", "198.18.5.2/24"); }
  static void TearDownTestSuite() {
    delete peer_;
    peer_ = nullptr;
  }

  // A module living in the peer namespace that answers a measurement request
  // with `steps` and anything else with nothing.
  static std::unique_ptr<FakeModule> module(std::vector<Step> steps, IP::Address address = module_address) {
    std::unique_ptr<FakeModule> made;
    peer_->inside([&] {
      made = std::make_unique<FakeModule>(
          [steps = std::move(steps)](const Request& r) {
            std::vector<Reply> replies;
            if ((r.code & 0xFF) != 0x00) return replies;
            for (const Step& step : steps) {
              const bool family = (step.code >> 8) == 0x04;
              const auto code = static_cast<std::uint16_t>(family ? (r.code & 0xFF00) | (step.code & 0xFF) : step.code);
              replies.push_back(test::answer(r, code, step.payload));
              replies.back().delay_ms = step.delay_ms;
            }
            return replies;
          },
          address);
    });
    return made;
  }

  static test::Peer* peer_;
};

test::Peer* Stream::peer_ = nullptr;

// The module's buffer for channels {1, 3} and two samples: a, b, c, d are
// channel 1 and channel 3 of sample 0, then of sample 1.
const float a = 1.5f, b = -2.25f, c = 3.0e6f, d = 0.125f;

Bytes sample_bytes() {
  Bytes bytes;
  for (const float v : {a, b, c, d}) DCP::put_f32(bytes, v);
  return bytes;
}

Step chunk_of(std::uint32_t offset, Bytes data, unsigned delay_ms = 0) {
  Bytes payload;
  DCP::put_u32(payload, offset);
  payload.insert(payload.end(), data.begin(), data.end());
  return Step{0x0401, std::move(payload), delay_ms};
}

Step chunk(std::uint32_t offset, std::uint32_t length, unsigned delay_ms = 0) {
  const Bytes all = sample_bytes();
  return chunk_of(offset, Bytes(all.begin() + offset, all.begin() + offset + length), delay_ms);
}

struct Taken {
  std::uint8_t result;
  std::vector<float> values;
};

// Channels {1, 3}, two samples, in the module's own order.
Taken take(const FakeModule& fake, decltype(&ra01_measure) measure = ra01_measure) {
  const std::uint8_t channels[] = {1, 3};
  std::vector<float> values(4);
  std::uint32_t size = 4;
  const std::uint8_t result = measure(fake.host(), channels, 2, 2, 100.0f, values.data(), &size);
  return {result, values};
}

const std::vector<float> abcd{a, b, c, d};

struct StreamCase {
  const char* name;
  std::vector<Step> steps;
  std::uint8_t result;
};

std::string named(const testing::TestParamInfo<StreamCase>& info) { return info.param.name; }

class Streams : public Stream, public testing::WithParamInterface<StreamCase> {};

// channels {3, 1}, two samples at 100 Hz: the wire carries ascending
// channels, the output follows the caller's order.
TEST_P(Streams, EndInTheExpectedResult) {
  const StreamCase& expected = GetParam();
  const auto fake = module(expected.steps);
  ASSERT_EQ(set_timeout(fake->host(), 300), 0);
  const std::uint8_t channels[] = {3, 1};
  float values[5] = {9, 9, 9, 9, 9};
  std::uint32_t size = 5;
  EXPECT_EQ(ra01_measure(fake->host(), channels, 2, 2, 100.0f, values, &size), expected.result);
  if (expected.result == 0) {
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(std::vector(values, values + 5), (std::vector{b, a, d, c, 9.0f}));
  } else {
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(std::vector(values, values + 5), std::vector(5, 9.0f));
  }
  const auto requests = fake->requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].raw,
            DCP::encode(0x0400, requests[0].transaction_id, Bytes{0x05, 0, 0, 0, 0x02, 0x42, 0xC8, 0, 0}));
}

const Bytes other_bytes(8, 0xEE);

INSTANTIATE_TEST_SUITE_P(
    Table, Streams,
    testing::Values(
        StreamCase{"InOneChunk", {chunk(0, 16)}, 0},
        StreamCase{"OutOfOrder", {chunk(8, 8), chunk(0, 8)}, 0},
        StreamCase{"InPieces", {chunk(12, 4), chunk(0, 4), chunk(8, 4), chunk(4, 4)}, 0},
        StreamCase{"EmptyChunksAddNothing", {chunk_of(16, {}), chunk(0, 8), chunk_of(3, {}), chunk(8, 8)}, 0},
        StreamCase{"RepeatIsDropped", {chunk(0, 8), chunk(0, 8), chunk(8, 8)}, 0},
        StreamCase{"RepeatWithOtherBytes", {chunk(0, 8), chunk_of(0, other_bytes), chunk(8, 8)}, 2},
        StreamCase{"RepeatAfterCompletionIsNotWaitedFor", {chunk(0, 16), chunk(0, 16)}, 0},
        // Adding up lengths alone would end this with bytes 8 to 15 never sent.
        StreamCase{"SameBytesOtherBoundaries", {chunk(0, 4), chunk(4, 4), chunk(0, 8), chunk(8, 8)}, 2},
        StreamCase{"PartialOverlap", {chunk(0, 8), chunk(4, 8), chunk(12, 4)}, 2},
        StreamCase{"InsideAReceivedChunk", {chunk(0, 8), chunk(2, 4), chunk(8, 8)}, 2},
        StreamCase{"Overrun", {chunk_of(12, other_bytes)}, 2},
        StreamCase{"OffsetWraps", {chunk_of(0xFFFFFFFC, other_bytes)}, 2},
        StreamCase{"EmptyChunkBeyondTheEnd", {chunk_of(17, {})}, 2},
        StreamCase{"ChunkWithoutOffset", {Step{0x0401, {0, 0, 0}}}, 2},
        StreamCase{"Aborted", {Step{0x0405, {}}}, 7},
        StreamCase{"AbortedWithPayload", {Step{0x0405, {0}}}, 2},
        StreamCase{"AbortedMidStream", {chunk(0, 8), Step{0x0405, {}}}, 7},
        StreamCase{"Reserved", {Step{0x0402, {}}}, 8},
        StreamCase{"ReservedWithPayload", {Step{0x0402, {1}}}, 2},
        StreamCase{"Configuration", {Step{0x0403, {}}}, 9},
        StreamCase{"ConfigurationWithPayload", {Step{0x0403, {0, 0}}}, 2},
        StreamCase{"OtherCode", {Step{0x0406, {}}}, 2},
        StreamCase{"Acknowledgement", {Step{0x0001, {}}}, 2},
        StreamCase{"SilenceMidStream", {chunk(0, 8)}, 6},
        StreamCase{"Silence", {}, 6}),
    named);

TEST_F(Stream, StraysAreIgnored) {
  const auto fake = module({});
  fake->script([](const Request& r) {
    Reply other_port = test::answer(r, 0x0405);
    other_port.from = Reply::From::other_port;
    Bytes data;
    DCP::put_u32(data, 0);
    for (const float v : {a, b, c, d}) DCP::put_f32(data, v);
    return std::vector{test::answer_with_id(r.transaction_id - 1, 0x0405), other_port,
                       test::raw({0x04, 0x01, 0x00}), test::answer(r, 0x0401, data)};
  });
  ASSERT_EQ(set_timeout(fake->host(), 1000), 0);
  const Taken taken = take(*fake);
  EXPECT_EQ(taken.result, 0);
  EXPECT_EQ(taken.values, abcd);
}

TEST_F(Stream, VoltageModuleUsesItsOwnCodes) {
  auto fake = module({chunk(0, 8), chunk(8, 8)});
  ASSERT_EQ(set_timeout(fake->host(), 300), 0);
  const Taken taken = take(*fake, re01_measure);
  EXPECT_EQ(taken.result, 0);
  EXPECT_EQ(taken.values, abcd);
  const auto requests = fake->requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].code, 0x0900);

  fake.reset();  // frees the module's address for the next one
  fake = module({Step{0x0405, {}}});
  EXPECT_EQ(take(*fake, re01_measure).result, 7);
  // The current module's data code is just another code to the voltage module.
  fake->script([](const Request& r) { return std::vector{test::answer(r, 0x0401, Bytes(20, 0))}; });
  EXPECT_EQ(take(*fake, re01_measure).result, 2);
}

// With a time-out of 500 ms, the stream below lasts 1.5 s: only chunks that
// bring something (even nothing new, as an empty chunk) keep it alive.
TEST_F(Stream, EmptyChunksRestartTheTimeOut) {
  const auto fake = module({chunk(0, 8), chunk_of(0, {}, 300), chunk_of(8, {}, 300), chunk_of(8, {}, 300),
                            chunk_of(16, {}, 300), chunk(8, 8, 300)});
  ASSERT_EQ(set_timeout(fake->host(), 500), 0);
  EXPECT_EQ(take(*fake).result, 0);
}

TEST_F(Stream, RepeatsDoNotRestartTheTimeOut) {
  const auto fake = module({chunk(0, 8), chunk(0, 8, 300), chunk(0, 8, 300), chunk(0, 8, 300),
                            chunk(0, 8, 300), chunk(8, 8, 300)});
  ASSERT_EQ(set_timeout(fake->host(), 500), 0);
  EXPECT_EQ(take(*fake).result, 6);
}

TEST_F(Stream, FrequencyIsSentAsGiven) {
  const auto fake = module({chunk(0, 4)});
  ASSERT_EQ(set_timeout(fake->host(), 300), 0);
  const std::uint8_t channel[] = {2};
  float values[2] = {};
  std::uint32_t size = 2;
  // One sample: the frequency is not checked at all.
  EXPECT_EQ(ra01_measure(fake->host(), channel, 1, 1, 0.0f, values, &size), 0);
  EXPECT_EQ(values[0], a);
  size = 2;
  // NaN fails neither ordered comparison; the module gets it unchanged.
  EXPECT_EQ(ra01_measure(fake->host(), channel, 1, 2, std::numeric_limits<float>::quiet_NaN(), values, &size), 6);
  const auto requests = fake->requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].payload, (Bytes{0x02, 0, 0, 0, 1, 0, 0, 0, 0}));
  EXPECT_EQ(requests[1].payload, (Bytes{0x02, 0, 0, 0, 2, 0x7F, 0xC0, 0, 0}));
}

// The link carries a second subnet besides the module's: both broadcast
// addresses are known.
TEST_F(Stream, LoopbackAndSubnetBroadcastAreNeverSentTo) {
  const std::uint8_t channels[] = {1};
  float value = 7;
  std::uint32_t size = 1;
  test::run_command("ip addr add 198.18.105.1/24 dev " + peer_->local_link());
  const auto listener = module({chunk(0, 4)}, subnet_broadcast);
  FakeModule local([](const Request& r) { return std::vector{test::answer(r, 0x0401, Bytes(8, 0))}; });
  for (const std::uint32_t address : {subnet_broadcast.host_value(), 0xC61269FFu, local.host()}) {
    EXPECT_EQ(ra01_measure(address, channels, 1, 1, 100.0f, &value, &size), 4);
    EXPECT_EQ(re01_measure(address, channels, 1, 1, 100.0f, &value, &size), 4);
    // Argument checks come first.
    EXPECT_EQ(ra01_measure(address, channels, 1, 0, 100.0f, &value, &size), 3);
  }
  EXPECT_EQ(value, 7);
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(listener->request_count(), 0u);
  EXPECT_EQ(local.request_count(), 0u);
  ASSERT_EQ(set_timeout(subnet_broadcast.host_value(), 50), 0);
  // The listener does hear a broadcast to the subnet, so silence above means
  // nothing was sent.
  EXPECT_EQ(reset(subnet_broadcast.host_value()), 6);
  EXPECT_EQ(listener->request_count(), 1u);
  test::run_command("ip addr del 198.18.105.1/24 dev " + peer_->local_link());
}

// One-byte chunks at every other offset: each a run of its own, far more
// than a measurement of this size may take.
TEST_F(Stream, ScatteredChunksFailOnceTheirBookkeepingOutgrowsTheBuffer) {
  constexpr std::uint32_t samples = 512;  // 2 KiB on one channel, room for 96 runs
  std::vector<Step> steps;
  // Paced, so that none of them is lost from the receive queue.
  for (std::uint32_t offset = 0; offset < 400; offset += 2)
    steps.push_back(chunk_of(offset, Bytes{1}, offset % 32 == 0 ? 1 : 0));
  const auto fake = module(std::move(steps));
  ASSERT_EQ(set_timeout(fake->host(), 1000), 0);
  const std::uint8_t channel[] = {1};
  std::vector<float> values(samples, 9.0f);
  std::uint32_t size = samples;
  EXPECT_EQ(ra01_measure(fake->host(), channel, 1, samples, 100.0f, values.data(), &size), 2);
  EXPECT_EQ(size, samples);
}

// The largest sample count, two channels, 8 MB. The stream is paced and sent
// three times over: a chunk the 64 KiB receive buffer lost on a busy machine
// comes again, and the repeats of chunks already placed are dropped.
TEST_F(Stream, MillionSamplesEndToEnd) {
  constexpr std::uint32_t samples = 1'000'000;
  constexpr std::uint32_t size = samples * 2 * 4;
  constexpr std::uint32_t piece = 1400;
  std::vector<Step> pass;
  for (std::uint32_t offset = 0; offset < size; offset += piece) {
    Bytes data;
    for (std::uint32_t i = offset / 4; i < std::min(size, offset + piece) / 4; ++i)
      DCP::put_f32(data, static_cast<float>(i));
    pass.push_back(chunk_of(offset, std::move(data), offset / piece % 8 == 7 ? 1 : 0));
  }
  std::vector<Step> steps;
  for (int i = 0; i < 3; ++i) steps.insert(steps.end(), pass.begin(), pass.end());
  pass.clear();
  auto fake = module(std::move(steps));
  ASSERT_EQ(set_timeout(fake->host(), 10000), 0);

  const std::uint8_t channels[] = {6, 2};
  std::vector<float> values(2 * samples + 1, -1.0f);
  std::uint32_t written = static_cast<std::uint32_t>(values.size());
  ASSERT_EQ(ra01_measure(fake->host(), channels, 2, samples, 3000.0f, values.data(), &written), 0);
  EXPECT_EQ(written, 2 * samples);
  std::uint32_t wrong = 0;
  for (std::uint32_t s = 0; s < samples; ++s) {
    wrong += values[2 * s] != static_cast<float>(2 * s + 1);
    wrong += values[2 * s + 1] != static_cast<float>(2 * s);
  }
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(values.back(), -1.0f);

  // Leave the pooled socket as it was found: the repeats that came after the
  // measurement would otherwise fill its queue and crowd out the next reply.
  fake.reset();
  const DCP::SocketPool::Lease lease = DCP::socket_pool().lease();
  Bytes datagram(UDP::largest_datagram);
  while (DCP::receive_until(lease.socket(), current_milliseconds() + 50, datagram)) {
  }
}

}  // namespace
}  // namespace varnode
