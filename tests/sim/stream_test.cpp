#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <optional>

#include "rig.hpp"

namespace varnode::sim::test {
namespace {

using nlohmann::json;

Bytes measure_request(std::uint8_t mask, std::uint32_t samples, float frequency) {
  Bytes p{mask};
  DCP::put_u32(p, samples);
  DCP::put_f32(p, frequency);
  return p;
}

// Places the chunks by offset; fails on overlaps, gaps or oversize chunks.
std::vector<float> assemble(const std::vector<Answer>& chunks, std::size_t bytes) {
  Bytes buffer(bytes);
  std::vector<bool> seen(bytes, false);
  for (const Answer& chunk : chunks) {
    EXPECT_LE(chunk.payload.size() - 4, 1400u);
    const std::uint32_t offset = DCP::get_u32(chunk.payload.data());
    for (std::size_t i = 4; i < chunk.payload.size(); ++i) {
      EXPECT_FALSE(seen.at(offset + i - 4)) << "byte " << offset + i - 4 << " twice";
      seen[offset + i - 4] = true;
      buffer[offset + i - 4] = chunk.payload[i];
    }
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), false), 0);
  std::vector<float> values;
  for (std::size_t at = 0; at + 4 <= bytes; at += 4) values.push_back(f32(buffer, at));
  return values;
}

TEST(Stream, SamplesFollowTheSignalsInChunksPacedByTheRequest) {
  for (const auto& [kind, family] : {std::pair{"RA01", 0x0400}, std::pair{"RE01", 0x0900}}) {
    SCOPED_TRACE(kind);
    Rig rig(json{{"modules",
              json::array({{{"kind", kind},
                            {"address", "127.0.10.20"},
                            {"channels",
                             {{"1", {{"signal", "sine"}, {"offset", 1}, {"amplitude", 2}, {"hz", 5}}},
                              {"3", {{"signal", "ramp"}, {"from", 0}, {"to", 10}, {"period", 0.1}}}}}}})}});
    Client client;
    const std::uint64_t start = current_milliseconds();
    const std::uint32_t id = client.send(loopback(20), static_cast<std::uint16_t>(family), measure_request(0x05, 500, 1000));
    const auto chunks = client.stream(id, 500 * 2 * 4);
    ASSERT_EQ(chunks.size(), 3u);  // 4000 bytes: 1400 + 1400 + 1200
    for (const Answer& c : chunks) EXPECT_EQ(c.code, family | 0x01);
    // The last chunk cannot leave before its last sample was taken.
    EXPECT_GE(chunks.back().at_ms - start, 490u);
    const std::vector<float> v = assemble(chunks, 4000);
    // Sample-major, channels ascending; the module's own clock sets phase,
    // so check the shapes against each other rather than absolute time.
    for (std::size_t s = 0; s < 500; ++s) {
      EXPECT_GE(v[2 * s], -1.0f - 1e-5f);
      EXPECT_LE(v[2 * s], 3.0f + 1e-5f);
      EXPECT_GE(v[2 * s + 1], 0.0f);
      EXPECT_LT(v[2 * s + 1], 10.0f);
    }
    // A ramp of 10 per 0.1 s rises by 0.1 per millisecond sample.
    int rising = 0;
    for (std::size_t s = 1; s < 500; ++s) rising += std::abs(v[2 * s + 1] - v[2 * s - 1] - 0.1f) < 1e-3f;
    EXPECT_GE(rising, 490);
  }
}

TEST(Stream, BusyMeasurementsAreReservedAndStopEndsThem) {
  Rig rig(json{{"modules", json::array({{{"kind", "RE01"}, {"address", "127.0.10.21"}}})}});
  Client client;
  const std::uint32_t first = client.send(loopback(21), 0x0900, measure_request(0x01, 100000, 10));
  EXPECT_EQ(client.ask(loopback(21), 0x0900, measure_request(0x01, 10, 10)).code, 0x0902);
  EXPECT_EQ(client.ask(loopback(21), 0x0904).code, 1);
  EXPECT_FALSE(client.await(first, 300).has_value());
  // The frequency setting bounds the measurement frequency.
  EXPECT_EQ(client.ask(loopback(21), 0x0908, {0x00, 0x19}).code, 1);
  EXPECT_EQ(client.ask(loopback(21), 0x0900, measure_request(0x01, 10, 100)).code, 0x0903);
  EXPECT_EQ(client.ask(loopback(21), 0x0908, {0x00, 0x18}).code, 2);
  for (const Bytes& refused : {measure_request(0x00, 10, 10), measure_request(0x01, 0, 10),
                               measure_request(0x01, 1000001, 10)})
    EXPECT_EQ(client.ask(loopback(21), 0x0900, refused).code, 0x0903);
  // One sample needs no frequency.
  const std::uint32_t single = client.send(loopback(21), 0x0900, measure_request(0x81, 1, 0));
  const auto chunks = client.stream(single, 8);
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0].payload.size(), 12u);
}

struct FaultCase {
  const char* name;
  json fault;
  std::uint16_t command;
  std::vector<std::uint16_t> codes;  // of the replies carrying the request's id
  std::size_t wrong_ids;             // replies with the id one lower
};

class Faults : public testing::TestWithParam<FaultCase> {};

TEST_P(Faults, ShapeTheRepliesAsConfigured) {
  const FaultCase& c = GetParam();
  Rig rig(json{{"modules", json::array({{{"kind", "KL01"}, {"address", "127.0.10.22"}, {"faults", json::array({c.fault})}},
                                    {{"kind", "RA01"}, {"address", "127.0.10.23"}, {"faults", json::array({c.fault})}}})}});
  Client client;
  const bool stream = c.command == 0x0400;
  const IP::Address module = stream ? loopback(23) : loopback(22);
  const Bytes payload = stream ? measure_request(0xFF, 200, 3000) : c.command == 0x0301 ? Bytes{0xFF} : Bytes{};
  const std::uint32_t id = client.send(module, c.command, payload);
  std::vector<std::uint16_t> codes;
  std::size_t wrong = 0;
  for (const Answer& a : client.listen(stream ? 1500 : 400)) {
    EXPECT_EQ(a.source, module);
    if (a.id == id) codes.push_back(a.code);
    if (a.id == id - 1) ++wrong;
  }
  EXPECT_EQ(codes, c.codes);
  EXPECT_EQ(wrong, c.wrong_ids);
}

const std::uint16_t chunk = 0x0401;
INSTANTIATE_TEST_SUITE_P(
    Simulator, Faults,
    testing::Values(
        FaultCase{"none", {{"fault", "drop"}, {"commands", {"0x0B01"}}}, 0x0301, {0x0304}, 0},
        FaultCase{"drop", {{"fault", "drop"}}, 0x0301, {}, 0},
        FaultCase{"drop_spares_first", {{"fault", "drop"}, {"after", 1}}, 0x0301, {0x0304}, 0},
        FaultCase{"duplicate", {{"fault", "duplicate"}}, 5, {6, 6}, 0},
        FaultCase{"delay", {{"fault", "delay"}, {"delay_ms", 150}}, 7, {8}, 0},
        FaultCase{"wrong_id", {{"fault", "wrong_id"}}, 0x0301, {}, 1},
        FaultCase{"wrong_id_then_right", {{"fault", "wrong_id"}, {"then_correct", true}}, 0x0301, {0x0304}, 1},
        FaultCase{"refuse_configuration", {{"fault", "refuse"}, {"refusal", "configuration"}}, 0x0301, {0x0303}, 0},
        FaultCase{"refuse_without_own_code", {{"fault", "refuse"}, {"refusal", "reserved"}}, 0x0301, {2}, 0},
        FaultCase{"refuse_reserved", {{"fault", "refuse"}, {"refusal", "reserved"}}, 0x0400, {0x0402}, 0},
        FaultCase{"refuse_aborted", {{"fault", "refuse"}, {"refusal", "aborted"}}, 0x0400, {0x0405}, 0},
        FaultCase{"abort_mid_stream", {{"fault", "abort"}, {"chunks", 2}}, 0x0400, {chunk, chunk, 0x0405}, 0},
        FaultCase{"silent_mid_stream", {{"fault", "silent"}, {"chunks", 3}}, 0x0400, {chunk, chunk, chunk}, 0},
        FaultCase{"stream_whole", {{"fault", "silent"}, {"commands", {"0x0900"}}}, 0x0400,
                  {chunk, chunk, chunk, chunk, chunk}, 0}),
    [](const testing::TestParamInfo<FaultCase>& param) { return std::string(param.param.name); });

// A KL01 read is answered by 0x0304 with one byte of levels; each row: the
// faults, then the code and payload size of the reply with the request's id.
TEST(Faults, MalformedRepliesKeepTheIdAndChangeOneThing) {
  struct Case {
    const char* name;
    json faults;
    std::uint16_t code;
    std::optional<std::size_t> size;  // none: any size but the right one
  };
  const Case cases[] = {
      {"truncated", {{{"fault", "truncated"}}}, 0x0304, 0},
      {"over_long", {{{"fault", "over_long"}, {"bytes", 3}}}, 0x0304, 4},
      {"wrong_code", {{{"fault", "wrong_code"}, {"code", "0x0777"}}}, 0x0777, 1},
      {"random_sized", {{{"fault", "random"}, {"bytes", 5}}}, 0x0304, 5},
      {"random", {{{"fault", "random"}}}, 0x0304, std::nullopt},
      // Cut and lengthened would look whole again: only the first applies.
      {"one_change", {{{"fault", "truncated"}}, {{"fault", "over_long"}}}, 0x0304, 0},
  };
  for (unsigned i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    const auto address = "127.0.10." + std::to_string(30 + i);
    Rig rig(json{{"modules", json::array({{{"kind", "KL01"}, {"address", address}, {"faults", c.faults}}})}});
    Client client;
    const std::uint32_t id = client.send(loopback(30 + i), 0x0301, Bytes{0xFF});
    const std::optional<Answer> answer = client.await(id);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->code, c.code);
    if (c.size) {
      EXPECT_EQ(answer->payload.size(), *c.size);
    } else {
      EXPECT_NE(answer->payload.size(), 1u);
    }
  }
}

TEST(Faults, ReorderSwapsStreamChunksInPairs) {
  Rig rig(json{{"modules", json::array({{{"kind", "RA01"}, {"address", "127.0.10.24"}, {"stream_speed", 10},
                                     {"faults", json::array({{{"fault", "reorder"}}})}}})}});
  Client client;
  const std::uint32_t id = client.send(loopback(24), 0x0400, measure_request(0xFF, 175, 1000));  // 4 chunks
  const auto chunks = client.stream(id, 175 * 32);
  ASSERT_EQ(chunks.size(), 4u);
  std::vector<std::uint32_t> offsets;
  for (const Answer& a : chunks) offsets.push_back(DCP::get_u32(a.payload.data()));
  EXPECT_EQ(offsets, (std::vector<std::uint32_t>{1400, 0, 4200, 2800}));
  assemble(chunks, 175 * 32);
}

}  // namespace
}  // namespace varnode::sim::test
