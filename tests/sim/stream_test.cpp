// Streams are measured on modules behind a veth link: the library refuses
// to stream from loopback addresses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "rig.hpp"

namespace varnode::sim::test {
namespace {

using nlohmann::json;
using Measure = decltype(&ra01_measure);

// Places the chunks by offset; fails on overlaps, gaps or oversize chunks.
void assemble(const std::vector<Answer>& chunks, std::size_t bytes) {
  std::vector<bool> seen(bytes, false);
  for (const Answer& chunk : chunks) {
    ASSERT_GE(chunk.payload.size(), 4u);
    EXPECT_LE(chunk.payload.size() - 4, 1400u);
    const std::uint32_t offset = wire::get_u32(chunk.payload.data());
    for (std::size_t i = offset; i < offset + chunk.payload.size() - 4; ++i) {
      EXPECT_FALSE(seen.at(i)) << "byte " << i << " twice";
      seen[i] = true;
    }
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), false), 0);
}

TEST(Stream, SamplesFollowTheSignalsInChunksPacedByTheRequest) {
  struct Family {
    const char* kind;
    std::uint16_t code;
    Measure measure;
  };
  for (const Family& f : {Family{"RA01", 0x0400, ra01_measure}, Family{"RE01", 0x0900, re01_measure}}) {
    SCOPED_TRACE(f.kind);
    PeerLink link;
    Rig rig(link.peer, json{{"modules",
                             json::array({{{"kind", f.kind},
                                           {"address", "198.18.0.11"},
                                           {"channels",
                                            {{"1", {{"signal", "sine"}, {"offset", 1}, {"amplitude", 2}, {"hz", 5}}},
                                             {"3", {{"signal", "ramp"}, {"from", 0}, {"to", 10}, {"period", 0.1}}}}}}})}});
    const std::uint32_t at = peer_address(11);
    const std::uint8_t channels[] = {3, 1};
    std::vector<float> v(1000);
    std::uint32_t size = 1000;
    ASSERT_EQ(f.measure(at, channels, 2, 500, 1000, v.data(), &size), VARNODE_SUCCESS);
    ASSERT_EQ(size, 1000u);
    // The module's own clock sets phase, so check the shapes against each
    // other rather than absolute time. Channel 3 comes first, as asked.
    for (std::size_t s = 0; s < 500; ++s) {
      EXPECT_GE(v[2 * s + 1], -1.0f - 1e-5f);
      EXPECT_LE(v[2 * s + 1], 3.0f + 1e-5f);
      EXPECT_GE(v[2 * s], 0.0f);
      EXPECT_LT(v[2 * s], 10.0f);
    }
    // A ramp of 10 per 0.1 s rises by 0.1 per millisecond sample.
    int rising = 0;
    for (std::size_t s = 1; s < 500; ++s) rising += std::abs(v[2 * s] - v[2 * s - 2] - 0.1f) < 1e-3f;
    EXPECT_GE(rising, 490);

    // The chunks themselves: their size, codes and pacing.
    WireClient client;
    const std::uint64_t start = milliseconds();
    const std::uint32_t id = client.send(at, f.code, measure_request(0x05, 500, 1000));
    const auto chunks = client.stream(id, 500 * 2 * 4);
    ASSERT_EQ(chunks.size(), 3u);  // 4000 bytes: 1400 + 1400 + 1200
    for (const Answer& c : chunks) EXPECT_EQ(c.code, f.code | 0x01);
    // The last chunk cannot leave before its last sample was taken.
    EXPECT_GE(chunks.back().at_ms - start, 490u);
    assemble(chunks, 4000);
  }
}

TEST(Stream, BusyMeasurementsAreReservedAndStopEndsThem) {
  PeerLink link;
  Rig rig(link.peer, json{{"modules", json::array({{{"kind", "RE01"}, {"address", "198.18.0.11"}}})}});
  const std::uint32_t at = peer_address(11);
  const std::uint8_t one[] = {1};
  float values[2];
  std::uint32_t size = 2;
  // A measurement of hours, left running: the API would wait for it.
  WireClient client;
  const std::uint32_t first = client.send(at, 0x0900, measure_request(0x01, 100000, 10));
  rig.await_requests(0x0900);
  EXPECT_EQ(re01_measure(at, one, 1, 2, 10, values, &size), VARNODE_RESERVED);
  EXPECT_EQ(re01_stop(at), VARNODE_SUCCESS);
  EXPECT_FALSE(client.await(first, 300).has_value());
  // The frequency setting bounds the measurement frequency.
  EXPECT_EQ(re01_set_frequency(at, 25), VARNODE_SUCCESS);
  EXPECT_EQ(re01_measure(at, one, 1, 2, 100, values, &size), VARNODE_CONFIGURATION);
  // One sample needs no frequency; that it is taken shows the stop freed
  // the module.
  const std::uint8_t two[] = {8, 1};
  ASSERT_EQ(re01_measure(at, two, 2, 1, 0, values, &size), VARNODE_SUCCESS);
  EXPECT_EQ(size, 2u);
  // Requests the library refuses to send: 24 Hz, no channel, no samples,
  // too many samples.
  EXPECT_EQ(client.ask(at, 0x0908, {0x00, 0x18}).code, 2);
  for (const Bytes& refused : {measure_request(0x00, 10, 10), measure_request(0x01, 0, 10),
                               measure_request(0x01, 1000001, 10)})
    EXPECT_EQ(client.ask(at, 0x0900, refused).code, 0x0903);
}

// Each fault is set on two KL01 and two RA01 modules: the first pair is
// asked through the API, the second over the wire where the reply's shape
// matters beyond the result code.
struct FaultCase {
  const char* name;
  json fault;
  std::uint16_t command;
  std::vector<std::uint8_t> results;  // of successive API calls
  std::uint16_t timeout_ms = 300;
  // Codes of the replies carrying the request's id, and the number of
  // replies with the id one lower; none where the result says it all.
  std::optional<std::vector<std::uint16_t>> codes = std::nullopt;
  std::size_t wrong_ids = 0;
};

std::uint8_t call(std::uint16_t command, std::uint32_t kl01, std::uint32_t ra01) {
  switch (command) {
    case 5: {
      char text[64];
      std::uint32_t t[11];
      std::uint32_t n[12];
      std::uint8_t mac[6], flag;
      for (auto& s : t) s = sizeof text;
      return get_info(kl01, text, &t[0], text, &t[1], text, &t[2], &n[0], text, &t[3], text, &t[4], &n[1], &n[2],
                      text, &t[5], text, &t[6], &n[3], &n[4], &n[5], &n[6], &n[7], &n[8], mac, &n[9], &n[10],
                      &n[11], &flag, text, &t[7], text, &t[8], text, &t[9], text, &t[10]);
    }
    case 7: {
      char text[512];
      std::uint32_t a = sizeof text, b = sizeof text, c = sizeof text, size = 16;
      float f[4][16];
      std::uint8_t ok;
      return get_status(kl01, text, &a, text, &b, text, &c, f[0], f[1], f[2], f[3], &size, &ok);
    }
    case 0x0301: {
      const std::uint8_t channels[] = {1, 2, 3, 4, 5, 6, 7, 8};
      bool values[8];
      std::uint8_t size = 8;
      return kl01_read(kl01, channels, 8, values, &size);
    }
    default: {
      const std::uint8_t channels[] = {1, 2, 3, 4, 5, 6, 7, 8};
      std::vector<float> values(1600);
      std::uint32_t size = 1600;
      return ra01_measure(ra01, channels, 8, 200, 3000, values.data(), &size);
    }
  }
}

class Faults : public testing::TestWithParam<FaultCase> {};

TEST_P(Faults, ShapeTheRepliesAsConfigured) {
  const FaultCase& c = GetParam();
  PeerLink link;
  for (int last : {12, 13, 14}) link.peer.add_address("198.18.0." + std::to_string(last) + "/24");
  json modules = json::array();
  for (int i = 0; i < 4; ++i)
    modules.push_back({{"kind", i % 2 ? "RA01" : "KL01"},
                       {"address", "198.18.0." + std::to_string(11 + i)},
                       {"faults", json::array({c.fault})}});
  Rig rig(link.peer, json{{"modules", modules}});
  const bool stream = c.command == 0x0400;
  for (int last : {11, 12}) ASSERT_EQ(set_timeout(peer_address(last), c.timeout_ms), VARNODE_SUCCESS);
  for (std::size_t i = 0; i < c.results.size(); ++i)
    EXPECT_EQ(call(c.command, peer_address(11), peer_address(12)), c.results[i]) << "call " << i;
  if (!c.codes) return;

  WireClient client;
  const std::uint32_t module = stream ? peer_address(14) : peer_address(13);
  const Bytes payload = stream ? measure_request(0xFF, 200, 3000) : c.command == 0x0301 ? Bytes{0xFF} : Bytes{};
  const std::uint32_t id = client.send(module, c.command, payload);
  std::vector<std::uint16_t> codes;
  std::size_t wrong = 0;
  for (const Answer& a : client.listen(stream ? 1500 : 400)) {
    EXPECT_EQ(a.source, module);
    if (a.id == id) codes.push_back(a.code);
    if (a.id == id - 1) ++wrong;
  }
  EXPECT_EQ(codes, *c.codes);
  EXPECT_EQ(wrong, c.wrong_ids);
}

using Codes = std::vector<std::uint16_t>;
const std::uint16_t chunk = 0x0401;
INSTANTIATE_TEST_SUITE_P(
    Simulator, Faults,
    testing::Values(
        FaultCase{"none", {{"fault", "drop"}, {"commands", {"0x0B01"}}}, 0x0301, {0}},
        FaultCase{"drop", {{"fault", "drop"}}, 0x0301, {6}, 300, Codes{}},
        FaultCase{"drop_spares_first", {{"fault", "drop"}, {"after", 1}}, 0x0301, {0, 6}},
        // A second call must not take the first one's extra reply.
        FaultCase{"duplicate", {{"fault", "duplicate"}}, 5, {0, 0}, 300, Codes{6, 6}},
        FaultCase{"altered_duplicate", {{"fault", "altered_duplicate"}}, 0x0301, {0, 0}, 300, Codes{0x0304, 0x0304}},
        FaultCase{"delay", {{"fault", "delay"}, {"delay_ms", 150}}, 7, {0}, 1000},
        FaultCase{"delay_past_timeout", {{"fault", "delay"}, {"delay_ms", 400}}, 7, {6}, 100},
        FaultCase{"wrong_id", {{"fault", "wrong_id"}}, 0x0301, {6}, 300, Codes{}, 1},
        FaultCase{"wrong_id_then_right", {{"fault", "wrong_id"}, {"then_correct", true}}, 0x0301, {0}, 300,
                  Codes{0x0304}, 1},
        FaultCase{"refuse_configuration", {{"fault", "refuse"}, {"refusal", "configuration"}}, 0x0301, {9}},
        FaultCase{"refuse_without_own_code", {{"fault", "refuse"}, {"refusal", "reserved"}}, 0x0301, {2}, 300,
                  Codes{2}},
        FaultCase{"refuse_reserved", {{"fault", "refuse"}, {"refusal", "reserved"}}, 0x0400, {8}},
        FaultCase{"refuse_aborted", {{"fault", "refuse"}, {"refusal", "aborted"}}, 0x0400, {7}},
        FaultCase{"abort_mid_stream", {{"fault", "abort"}, {"chunks", 2}}, 0x0400, {7}, 300,
                  Codes{chunk, chunk, 0x0405}},
        FaultCase{"silent_mid_stream", {{"fault", "silent"}, {"chunks", 3}}, 0x0400, {6}, 300,
                  Codes{chunk, chunk, chunk}},
        FaultCase{"stream_whole", {{"fault", "silent"}, {"commands", {"0x0900"}}}, 0x0400, {0}, 300,
                  Codes{chunk, chunk, chunk, chunk, chunk}}),
    [](const testing::TestParamInfo<FaultCase>& param) { return std::string(param.param.name); });

// A KL01 read is answered by 0x0304 with one byte of levels. Each row: the
// faults, then the code and payload size of the reply with the request's
// id. Through the API every one is a failure (2), never a time-out: the
// garbled reply kept the request's id.
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
    const std::uint32_t at = loopback(30 + i);
    const auto address = "127.0.10." + std::to_string(30 + i);
    Rig rig(json{{"modules", json::array({{{"kind", "KL01"}, {"address", address}, {"faults", c.faults}}})}});
    const std::uint8_t channels[] = {1, 2, 3, 4, 5, 6, 7, 8};
    bool values[8];
    std::uint8_t size = 8;
    EXPECT_EQ(kl01_read(at, channels, 8, values, &size), VARNODE_FAILED);
    WireClient client;
    const std::optional<Answer> answer = client.await(client.send(at, 0x0301, Bytes{0xFF}));
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
  PeerLink link;
  link.peer.add_address("198.18.0.12/24");
  json modules = json::array();
  for (const char* address : {"198.18.0.11", "198.18.0.12"})
    modules.push_back({{"kind", "RA01"},
                       {"address", address},
                       {"stream_speed", 10},
                       {"channels", {{"2", {{"signal", "ramp"}, {"from", 0}, {"to", 175}, {"period", 0.175}}}}},
                       {"faults", json::array({{{"fault", "reorder"}}})}});
  Rig rig(link.peer, json{{"modules", modules}});
  // The library puts the swapped chunks back in their places.
  const std::uint8_t channels[] = {1, 2, 3, 4, 5, 6, 7, 8};
  std::vector<float> values(175 * 8);
  std::uint32_t size = 175 * 8;
  ASSERT_EQ(ra01_measure(peer_address(11), channels, 8, 175, 1000, values.data(), &size), VARNODE_SUCCESS);
  int rising = 0;
  for (std::size_t s = 1; s < 175; ++s) rising += std::abs(values[8 * s + 1] - values[8 * s - 7] - 1.0f) < 1e-3f;
  EXPECT_GE(rising, 170);

  WireClient client;
  const std::uint32_t id = client.send(peer_address(12), 0x0400, measure_request(0xFF, 175, 1000));  // 4 chunks
  const auto chunks = client.stream(id, 175 * 32);
  ASSERT_EQ(chunks.size(), 4u);
  std::vector<std::uint32_t> offsets;
  for (const Answer& a : chunks) offsets.push_back(wire::get_u32(a.payload.data()));
  EXPECT_EQ(offsets, (std::vector<std::uint32_t>{1400, 0, 4200, 2800}));
  assemble(chunks, 175 * 32);
}

}  // namespace
}  // namespace varnode::sim::test
