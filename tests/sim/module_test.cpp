#include <gtest/gtest.h>

#include <cmath>

#include "characteristic.hpp"
#include "rig.hpp"

namespace varnode::sim::test {
namespace {

using nlohmann::json;

json one(const json& module) { return {{"modules", json::array({module})}}; }

TEST(Identity, BothLayoutsCarryTheSerialAndTheAddressUnderTheirOwnTags) {
  struct Case {
    const char* layout;
    std::uint8_t mac_tag, address_tag, highest;
  };
  for (const Case& c : {Case{"extended", 17, 18, 25}, Case{"legacy", 16, 17, 21}}) {
    SCOPED_TRACE(c.layout);
    Rig rig(one({{"kind", "QU01"}, {"address", "127.0.10.5"}, {"serial", 77}, {"identity", c.layout}}));
    Client client;
    const Answer answer = client.ask(loopback(5), 5);
    EXPECT_EQ(answer.code, 6);
    EXPECT_EQ(answer.source, loopback(5));
    const auto tags = elements(answer.payload);
    EXPECT_EQ(tags.rbegin()->first, c.highest);
    EXPECT_EQ(tags.at(4), (Bytes{0, 0, 0, 77}));
    EXPECT_EQ(tags.at(2), (Bytes{'Q', 'U', '0', '1'}));
    EXPECT_EQ(tags.at(c.mac_tag).size(), 6u);
    EXPECT_EQ(tags.at(c.address_tag), (Bytes{127, 0, 10, 5}));
    for (std::uint8_t mandatory : {1, 2, 3}) EXPECT_FALSE(tags.at(mandatory).empty());
  }
}

TEST(Identity, DatesAreDayCountsFromYearZero) {
  EXPECT_EQ(day_count(0, 1, 1), 0u);
  EXPECT_EQ(day_count(1, 1, 1), 366u);
  EXPECT_EQ(day_count(1999, 12, 31), 730484u);
  EXPECT_EQ(day_count(2000, 1, 1), 730485u);
  EXPECT_EQ(day_count(2023, 8, 13), 739110u);
}

TEST(Status, ItemsAreGroupsOfElementsAndConfiguredItemsReplaceBuiltIns) {
  Rig rig(one({{"kind", "WE01"},
               {"address", "127.0.10.6"},
               {"status", json::array({{{"name", "supply"}, {"value", 16.5}, {"lower", 18}, {"upper", 30}},
                                       {{"name", "fan"}, {"unit", "rpm"}, {"value", 1200}}})}}));
  Client client;
  ASSERT_EQ(client.ask(loopback(6), 0x0800, {0x02, 0x40, 0x20, 0, 0}).code, 1);  // channel 2: 2.5 V
  const Answer answer = client.ask(loopback(6), 7);
  ASSERT_EQ(answer.code, 8);
  std::map<std::string, std::map<std::uint8_t, Bytes>> items;
  DCP::View rest(answer.payload);
  std::string name;
  while (!rest.empty()) {
    const DCP::Element e = DCP::take_element(rest);
    if (e.tag == 1) name.assign(e.value.begin(), e.value.end());
    ASSERT_FALSE(name.empty()) << "a group must start with its name";
    if (e.tag >= 4 && e.tag <= 7) {
      ASSERT_EQ(e.value.size(), 4u);
    }
    items[name][e.tag] = Bytes(e.value.begin(), e.value.end());
  }
  EXPECT_FLOAT_EQ(f32(items.at("supply").at(7), 0), 16.5f);
  EXPECT_FLOAT_EQ(f32(items.at("fan").at(7), 0), 1200.0f);
  EXPECT_TRUE(std::isnan(f32(items.at("fan").at(5), 0)));
  EXPECT_FLOAT_EQ(f32(items.at("output 2").at(7), 0), 2.5f);
  EXPECT_FLOAT_EQ(f32(items.at("output 1").at(7), 0), 0.0f);
}

// Each row: request, then the reply expected, in order, on one module.
struct Step {
  std::uint16_t code;
  Bytes payload;
  std::uint16_t reply;
  Bytes answer;
};

void play(IP::Address module, const std::vector<Step>& steps) {
  Client client;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE("step " + std::to_string(i));
    const Answer a = client.ask(module, steps[i].code, steps[i].payload);
    EXPECT_EQ(a.code, steps[i].reply);
    EXPECT_EQ(a.payload, steps[i].answer);
  }
}

TEST(DigitalIO, DirectionsAndLevelsReadBackAndInputsRefuseWrites) {
  for (const auto& [kind, family] : {std::pair{"KL01", 0x0300}, std::pair{"KL02", 0x0B00}}) {
    SCOPED_TRACE(kind);
    Rig rig(one({{"kind", kind}, {"address", "127.0.10.7"}, {"directions", "0x0F"}, {"inputs", "0xA0"}}));
    const auto c = [f = family](int low) { return static_cast<std::uint16_t>(f | low); };
    play(loopback(7), {
                          {c(1), {0xFF}, c(4), {0xA0}},           // outputs low, inputs as wired
                          {c(2), {0x05, 0x04}, 1, {}},            // channel 3 high, channel 1 low
                          {c(1), {0x05}, c(4), {0x04}},           // unrequested bits stay clear
                          {c(2), {0x10, 0x10}, c(3), {}},         // channel 5 is an input
                          {c(0), {0x10, 0x10}, 1, {}},            // make it an output
                          {c(2), {0x10, 0x10}, 1, {}},
                          {c(1), {0xFF}, c(4), {0xB4}},           // 0xA0 | 0x10 | 0x04
                          {c(0), {0x80, 0x00}, 1, {}},            // channel 8 stays an input
                          {c(2), {0x01}, 2, {}},                  // short payload
                          {c(3), {}, 2, {}},                      // unknown command
                          {3, {}, 1, {}},                         // reset: power-on state again
                          {c(1), {0xFF}, c(4), {0xA0}},
                      });
  }
}

TEST(DigitalOutput, OutputsHoldAndKs01MeasuresTheLoadCurrent) {
  Rig rig(json{{"modules",
            json::array({{{"kind", "KS01"}, {"address", "127.0.10.8"}, {"loads", {{"2", 1.0}, {"6", 2.0}}}},
                         {{"kind", "KS02"}, {"address", "127.0.10.9"}}})}});
  const Bytes one_and_two{0x3F, 0x80, 0, 0, 0x40, 0, 0, 0};
  play(loopback(8), {
                        {0x0101, {0x22}, 0x0102, Bytes(8, 0)},      // all off
                        {0x0100, {0x22, 0x22}, 1, {}},
                        {0x0101, {0x22}, 0x0102, one_and_two},      // channel 2 then 6
                        {0x0100, {0x02, 0x00}, 1, {}},              // channel 6 keeps its state
                        {0x0101, {0x20}, 0x0102, {0x40, 0, 0, 0}},
                    });
  play(loopback(9), {{0x0A00, {0x12, 0x10}, 1, {}}, {0x0A01, {0x12}, 2, {}}});
}

TEST(Counter, EnabledChannelsCountUpOrDownAndClearToZero) {
  Rig rig(one({{"kind", "QU01"}, {"address", "127.0.10.10"}, {"rates", {{"1", 1000}, {"2", 1000}, {"3", 1000}}}}));
  Client client;
  const auto read = [&](std::uint8_t mask) {
    const Answer a = client.ask(loopback(10), 0x0702, {mask});
    EXPECT_EQ(a.code, 0x0703);
    std::vector<std::int64_t> values;
    for (std::size_t at = 0; at + 8 <= a.payload.size(); at += 8)
      values.push_back(static_cast<std::int64_t>(DCP::get_u64(a.payload.data() + at)));
    return values;
  };
  EXPECT_EQ(read(0x00).size(), 1u);  // the reference alone
  EXPECT_EQ(client.ask(loopback(10), 0x0705, {0x06, 0x02, 0x03}).code, 1);  // 2 both edges, 3 down
  EXPECT_EQ(client.ask(loopback(10), 0x0701, {0x07}).code, 1);
  std::vector<std::int64_t> first = read(0x0F);
  // Wait for pulses rather than time.
  std::vector<std::int64_t> later = first;
  while (later[1] < first[1] + 20) later = read(0x0F);
  EXPECT_GT(later[0], first[0]);  // reference: microseconds since power-on
  EXPECT_GT(later[2], later[1]);  // both edges count twice as fast
  EXPECT_LT(later[3], 0);         // counting down
  EXPECT_EQ(later[4], 0);         // never enabled
  EXPECT_EQ(client.ask(loopback(10), 0x0700, {0x01}).code, 1);
  const std::int64_t held = read(0x01)[1];
  EXPECT_EQ(client.ask(loopback(10), 0x0704, {0x02}).code, 1);
  EXPECT_EQ(read(0x01)[1], held);
  EXPECT_LT(read(0x02)[1], later[2]);
  play(loopback(10), {{0x0705, {0x01, 4}, 2, {}}, {0x0701, {0x10}, 2, {}}, {0x0702, {}, 2, {}}});
}

TEST(Thermocouple, ReportsTheVoltagesOfTheConfiguredTemperatures) {
  Rig rig(one({{"kind", "HX01"},
               {"address", "127.0.10.11"},
               {"cold_junction", 25},
               {"channels", {{"1", {{"sensor", "K"}, {"celsius", 100}}}, {"3", {{"sensor", 1}, {"volts", 0.5}}}}}}));
  Client client;
  Answer a = client.ask(loopback(11), 0x0600, {0x05});
  ASSERT_EQ(a.code, 0x0601);
  ASSERT_EQ(a.payload.size(), 14u);
  const double v = f32(a.payload, 0);
  const double ratio = 100 * v / (5 - v);
  EXPECT_NEAR(ratio, platinum_ratio(298.15 + 1.55), 1e-5);
  EXPECT_EQ(a.payload[4], 8);
  const Characteristic& k = characteristic();
  EXPECT_NEAR(f32(a.payload, 5), k.thermocouple_volts(8, 373.15) - k.thermocouple_volts(8, 298.15), 1e-7);
  EXPECT_EQ(a.payload[9], 1);
  EXPECT_FLOAT_EQ(f32(a.payload, 10), 0.5f);
  // Channel 8 has no sensor: refused as configured.
  play(loopback(11), {{0x0600, {0x80}, 0x0602, {}},
                      {0x0609, {0x81, 2, 15}, 2, {}},
                      {0x0609, {0x80, 14}, 1, {}},
                      {0x0608, {0x00, 60}, 2, {}},
                      {0x0608, {0x0B, 0xB8}, 1, {}}});
  a = client.ask(loopback(11), 0x0600, {0x80});
  EXPECT_EQ(a.code, 0x0601);
  EXPECT_EQ(a.payload.at(4), 14);
}

TEST(Resistance, ReportsItsConfigurationAndTheSensorsReading) {
  Rig rig(one({{"kind", "HX02"},
               {"address", "127.0.10.12"},
               {"channels", {{"1", {{"sensor", "platinum"}, {"current", 0.001}, {"nominal", 100}, {"celsius", 100}}},
                             {"2", {{"sensor", 10}, {"celsius", 100}}}}}}));
  Client client;
  Answer a = client.ask(loopback(12), 0x0200, {0x03});
  ASSERT_EQ(a.code, 0x0201);
  ASSERT_EQ(a.payload.size(), 34u);
  EXPECT_EQ(a.payload[0], 2);
  EXPECT_FLOAT_EQ(f32(a.payload, 5), 0.001f);
  EXPECT_NEAR(f32(a.payload, 13), 1.385 * 0.001 * 100, 1e-6);
  EXPECT_EQ(a.payload[17], 10);
  EXPECT_NEAR(f32(a.payload, 30), characteristic().sensor_x(10, 373.15), 1e-3);
  Bytes diode{0x04, 3};
  for (float f : {2.5f, 0.00001f, 100.0f}) DCP::put_f32(diode, f);
  Bytes bad_range = diode;
  bad_range[3] = 0x40;  // 3.0 V is no range
  play(loopback(12), {{0x0209, bad_range, 2, {}},
                      {0x0209, diode, 1, {}},
                      {0x0200, {0x10}, 2, {}},
                      {0x0208, {0x05, 0xDC}, 1, {}}});
  a = client.ask(loopback(12), 0x0200, {0x04});
  ASSERT_EQ(a.payload.size(), 17u);
  EXPECT_EQ(a.payload[0], 3);
}

TEST(Management, BurnResetAndConfigureByTheModulesOwnRules) {
  Rig rig(one({{"kind", "KL01"}, {"address", "127.0.10.13"}, {"serial", 4242}}));
  Client client;
  EXPECT_EQ(client.ask(loopback(13), 10, Bytes(65, 1)).code, 2);
  EXPECT_EQ(client.ask(loopback(13), 10, {0xDE, 0xAD}).code, 1);
  EXPECT_EQ(elements(client.ask(loopback(13), 5).payload).at(24), (Bytes{'d', 'e', 'a', 'd'}));
  // Another module's serial number: nothing happens.
  Bytes configure{0, 0, 0x10, 0x93, 1, 1, 1, 2, 4, 127, 0, 10, 14, 3, 4, 255, 0, 0, 0, 4, 4, 127, 0, 0, 1, 5, 3,
                  'l', 'a', 'b'};
  client.send(loopback(13), 9, configure);
  configure[3] = 0x92;  // 4242
  client.send(loopback(13), 9, configure);
  // The module needs a moment to move; ask until it answers there.
  std::optional<Answer> found;
  for (int attempt = 0; attempt < 50 && !found; ++attempt) found = client.await(client.send(loopback(14), 5), 100);
  ASSERT_TRUE(found.has_value());
  const Answer& moved = *found;
  EXPECT_EQ(moved.source, loopback(14));
  const auto tags = elements(moved.payload);
  EXPECT_EQ(tags.at(18), (Bytes{127, 0, 10, 14}));
  EXPECT_EQ(tags.at(21), (Bytes{'l', 'a', 'b'}));
  EXPECT_EQ(tags.at(23), Bytes{1});
  EXPECT_TRUE(client.listen(200).empty());
  const std::uint32_t id = client.send(loopback(13), 5);
  EXPECT_FALSE(client.await(id, 300).has_value());
}

}  // namespace
}  // namespace varnode::sim::test
