#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "modules/analog_input.hpp"
#include "modules/arrived_chunks.hpp"
#include "support/fake_module.hpp"
#include "varnode/varnode.h"

namespace varnode {
namespace {

using test::FakeModule;
using test::Request;
using Outcome = ArrivedChunks::Outcome;

template <class Case>
std::string named(const testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

struct Chunk {
  std::uint32_t offset;
  std::uint32_t length;
  Outcome outcome;
};

struct ChunksCase {
  const char* name;
  std::vector<Chunk> chunks;
};

class StreamChunks : public testing::TestWithParam<ChunksCase> {};

TEST_P(StreamChunks, RepeatsAreToldFromOverlaps) {
  ArrivedChunks arrived;
  for (const Chunk& chunk : GetParam().chunks)
    EXPECT_EQ(arrived.add(chunk.offset, chunk.length), chunk.outcome) << chunk.offset << "+" << chunk.length;
}

constexpr Outcome added = Outcome::added;
constexpr Outcome repeated = Outcome::repeated;
constexpr Outcome overlapping = Outcome::overlapping;

INSTANTIATE_TEST_SUITE_P(
    Sequences, StreamChunks,
    testing::Values(
        ChunksCase{"RepeatInsideAMergedRun", {{0, 4, added}, {4, 4, added}, {8, 4, added}, {4, 4, repeated}}},
        ChunksCase{"RepeatAfterFillingAGap", {{0, 4, added}, {8, 4, added}, {4, 4, added}, {8, 4, repeated}}},
        ChunksCase{"SameBytesOtherBoundaries", {{0, 4, added}, {4, 4, added}, {0, 8, overlapping}}},
        ChunksCase{"PartOfAChunk", {{0, 8, added}, {2, 4, overlapping}, {0, 4, overlapping}}},
        ChunksCase{"Straddling", {{0, 8, added}, {16, 8, added}, {6, 4, overlapping}, {12, 8, overlapping}}},
        ChunksCase{"Covering", {{4, 4, added}, {0, 12, overlapping}}},
        ChunksCase{"RunsOfOtherLengthsMeet",
                   {{0, 4, added}, {4, 6, added}, {10, 4, added}, {4, 6, repeated}, {10, 4, repeated},
                    {0, 4, repeated}, {6, 4, overlapping}}},
        ChunksCase{"StartOfANeighbour", {{8, 4, added}, {4, 6, overlapping}, {4, 4, added}, {4, 4, repeated}}}),
    named<ChunksCase>);

TEST(StreamChunks, OrderlyStreamsStayOneRun) {
  constexpr std::uint32_t n = 5000;
  ArrivedChunks forward;
  ArrivedChunks backward;
  ArrivedChunks interleaved;
  for (std::uint32_t i = 0; i < n; ++i) {
    forward.add(i * 1400, 1400);
    backward.add((n - 1 - i) * 1400, 1400);
  }
  for (std::uint32_t i = 0; i < n; i += 2) interleaved.add(i * 1400, 1400);
  EXPECT_EQ(interleaved.runs(), n / 2);
  for (std::uint32_t i = 1; i < n; i += 2) interleaved.add(i * 1400, 1400);
  forward.add(n * 1400, 200);  // the short tail
  EXPECT_EQ(forward.runs(), 2u);
  EXPECT_EQ(backward.runs(), 1u);
  EXPECT_EQ(interleaved.runs(), 1u);
  EXPECT_EQ(backward.add(1400 * 17, 1400), repeated);
}

Bytes floats(std::initializer_list<float> values) {
  Bytes bytes;
  for (const float v : values) DCP::put_f32(bytes, v);
  return bytes;
}

TEST(StreamMeasurement, FollowsTheCallersChannelOrder) {
  const float a = 1.5f, b = -2.25f, c = 3.0e6f, d = 0.125f;
  const Measurement measurement({1, 3}, 2, floats({a, b, c, d}));
  float out[5] = {0, 0, 0, 0, 99};
  const std::uint8_t order[] = {3, 1};
  measurement.write(order, out);
  EXPECT_EQ(std::vector(out, out + 5), (std::vector{b, a, d, c, 99.0f}));
  EXPECT_EQ(measurement.value(1, 1), c);
  EXPECT_THROW(measurement.value(0, 2), Device::Exception::Parameter);
  EXPECT_THROW(measurement.value(2, 1), Device::Exception::Parameter);
}

TEST(StreamMeasurement, RequestPayload) {
  EXPECT_EQ(measurement_request(0x05, 2, 100.0f), (Bytes{0x05, 0, 0, 0, 0x02, 0x42, 0xC8, 0, 0}));
  EXPECT_EQ(measurement_request(0xFF, 1000000, 3000.0f), (Bytes{0xFF, 0x00, 0x0F, 0x42, 0x40, 0x45, 0x3B, 0x80, 0}));
}

struct SingleCase {
  std::uint8_t (*call)(uint32_t);
  std::uint16_t code;
  Bytes payload;
};

// set_frequency with 25 and stop, for both families: what goes on the wire,
// and how the answer is judged.
class AnalogCommands : public testing::TestWithParam<SingleCase> {};

TEST_P(AnalogCommands, SendsOnceAndAcceptsOnlyAnEmptyCodeOne) {
  const SingleCase c = GetParam();
  FakeModule module;
  ASSERT_EQ(set_timeout(module.host(), 300), 0);
  const auto replying = [&](std::uint16_t code, Bytes payload) {
    module.script([=](const Request& r) { return std::vector{test::answer(r, code, payload)}; });
    return c.call(module.host());
  };
  EXPECT_EQ(replying(1, {}), 0);
  EXPECT_EQ(replying(1, {0}), 2);
  EXPECT_EQ(replying(c.code, {}), 2);
  const auto requests = module.requests();
  ASSERT_EQ(requests.size(), 3u);
  for (const Request& request : requests) EXPECT_EQ(request.raw, DCP::encode(c.code, request.transaction_id, c.payload));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, AnalogCommands,
    testing::Values(SingleCase{[](uint32_t a) { return ra01_set_frequency(a, 25); }, 0x0408, {0x00, 0x19}},
                    SingleCase{[](uint32_t a) { return re01_set_frequency(a, 3000); }, 0x0908, {0x0B, 0xB8}},
                    SingleCase{ra01_stop, 0x0404, {}}, SingleCase{re01_stop, 0x0904, {}}));

TEST(AnalogCommands, OnlyTheListedSettingsAreSent) {
  FakeModule module([](const Request& r) { return std::vector{test::acknowledge(r)}; });
  for (const std::uint16_t setting : {0, 5, 7, 24, 26, 1000, 3001, 65535}) {
    EXPECT_EQ(ra01_set_frequency(module.host(), setting), 3) << setting;
    EXPECT_EQ(re01_set_frequency(module.host(), setting), 3) << setting;
  }
  EXPECT_EQ(module.request_count(), 0u);
  for (const std::uint16_t setting : {6, 12, 25, 50, 100, 200, 400, 800, 1500, 3000})
    EXPECT_EQ(ra01_set_frequency(module.host(), setting), 0) << setting;
  EXPECT_EQ(module.request_count(), 10u);
}

struct MeasureCase {
  const char* name;
  std::vector<std::uint8_t> channels;
  std::uint8_t count;
  std::uint32_t samples;
  float frequency;
  std::uint32_t capacity;
  std::uint8_t result;
};

// Every check runs before anything is sent; a loopback module is refused
// once the arguments have passed. Nothing is written on failure.
class AnalogMeasureArguments : public testing::TestWithParam<MeasureCase> {};

TEST_P(AnalogMeasureArguments, AreCheckedBeforeSending) {
  const MeasureCase c = GetParam();
  FakeModule module([](const Request& r) { return std::vector{test::answer(r, 0x0405)}; });
  for (const auto measure : {ra01_measure, re01_measure}) {
    std::vector<float> values(16, 7.0f);
    std::uint32_t size = c.capacity;
    EXPECT_EQ(measure(module.host(), c.channels.data(), c.count, c.samples, c.frequency, values.data(), &size),
              c.result);
    EXPECT_EQ(size, c.capacity);
    EXPECT_EQ(values, std::vector<float>(16, 7.0f));
  }
  EXPECT_EQ(module.request_count(), 0u);
}

constexpr float nan = std::numeric_limits<float>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Table, AnalogMeasureArguments,
    testing::Values(MeasureCase{"NineChannels", {1, 2, 3, 4, 5, 6, 7, 8, 1}, 9, 1, 100, 100, 3},
                    MeasureCase{"CapacityShort", {1, 2, 3}, 3, 2, 100, 5, 3},
                    MeasureCase{"ChannelTwice", {2, 2}, 2, 1, 100, 16, 3},
                    MeasureCase{"NoChannels", {}, 0, 1, 100, 16, 3},
                    MeasureCase{"FrequencyLow", {1}, 1, 2, 5.9f, 16, 3},
                    MeasureCase{"FrequencyHigh", {1}, 1, 2, 3000.5f, 16, 3},
                    MeasureCase{"NoSamples", {1}, 1, 0, 100, 16, 3},
                    MeasureCase{"TooManySamples", {1}, 1, 1000001, 100, 1000001, 3},
                    // 8 x 2^29 wraps to 0 and passes the capacity check.
                    MeasureCase{"TotalWraps", {1, 2, 3, 4, 5, 6, 7, 8}, 8, 1u << 29, 100, 0, 3},
                    MeasureCase{"ChannelZero", {0, 1}, 2, 1, 100, 16, 3},
                    MeasureCase{"ChannelNine", {9}, 1, 1, 100, 16, 3},
                    MeasureCase{"LoopbackAfterChecks", {3, 1}, 2, 2, 100, 4, 4},
                    MeasureCase{"OneSampleSkipsFrequency", {1}, 1, 1, 0.0f, 1, 4},
                    MeasureCase{"NaNPassesFrequency", {1}, 1, 2, nan, 2, 4},
                    MeasureCase{"EdgesPass", {8}, 1, 2, 6.0f, 2, 4},
                    MeasureCase{"UpperEdgePasses", {1}, 1, 2, 3000.0f, 2, 4}),
    named<MeasureCase>);

TEST(AnalogMeasure, UnusableAddressesAreParameters) {
  const std::uint8_t channels[] = {1};
  float value = 0;
  for (const std::uint32_t address : {0u, 0xFFFFFFFFu}) {
    std::uint32_t size = 1;
    EXPECT_EQ(ra01_measure(address, channels, 1, 1, 100, &value, &size), 3);
    EXPECT_EQ(re01_stop(address), 3);
    EXPECT_EQ(ra01_set_frequency(address, 25), 3);
  }
}

}  // namespace
}  // namespace varnode
