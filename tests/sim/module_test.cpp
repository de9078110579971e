#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "characteristic.hpp"
#include "rig.hpp"

namespace varnode::sim::test {
namespace {

using nlohmann::json;

json one(const json& module) { return {{"modules", json::array({module})}}; }

struct Info {
  Text text[26];
  std::uint32_t serial = 0, number_8 = 0, number_9 = 0, date_11 = 0, date_12 = 0, date_13 = 0;
  std::uint32_t number_14 = 0, number_15 = 0, number_16 = 0, ip = 0, netmask = 0, gateway = 0;
  std::array<std::uint8_t, 6> mac{};
  std::uint8_t flag_23 = 0;
};

std::uint8_t read_info(std::uint32_t address, Info& i) {
  Text* t = i.text;
  return get_info(address, t[1].bytes, &t[1].size, t[2].bytes, &t[2].size, t[3].bytes, &t[3].size, &i.serial,
                  t[5].bytes, &t[5].size, t[6].bytes, &t[6].size, &i.number_8, &i.number_9, t[7].bytes, &t[7].size,
                  t[10].bytes, &t[10].size, &i.date_11, &i.date_12, &i.date_13, &i.number_14, &i.number_15,
                  &i.number_16, i.mac.data(), &i.ip, &i.netmask, &i.gateway, &i.flag_23, t[21].bytes, &t[21].size,
                  t[22].bytes, &t[22].size, t[24].bytes, &t[24].size, t[25].bytes, &t[25].size);
}

TEST(Identity, BothLayoutsDecodeToTheSameFieldsBarTheExtendedOnes) {
  struct Case {
    const char* layout;
    std::uint32_t number_16;
    const char* text_25;
  };
  for (const Case& c : {Case{"extended", 1400, "simulated module"}, Case{"legacy", 0, ""}}) {
    SCOPED_TRACE(c.layout);
    Rig rig(one({{"kind", "QU01"}, {"address", "127.0.10.5"}, {"serial", 77}, {"identity", c.layout}}));
    Info info;
    ASSERT_EQ(read_info(loopback(5), info), VARNODE_SUCCESS);
    EXPECT_EQ(info.serial, 77u);
    EXPECT_EQ(info.text[2].str(), "QU01");
    for (int mandatory : {1, 3}) EXPECT_FALSE(info.text[mandatory].str().empty());
    // The MAC and the address sit under different tags in each layout.
    EXPECT_EQ(info.mac, (std::array<std::uint8_t, 6>{0x02, 0x56, 0, 0, 0, 77}));
    EXPECT_EQ(info.ip, loopback(5));
    EXPECT_EQ(info.date_11, day_count(2022, 11, 4));
    EXPECT_EQ(info.number_15, 30000u);
    EXPECT_EQ(info.number_16, c.number_16);
    EXPECT_EQ(info.text[25].str(), c.text_25);
    // The reply leaves from the module's own address.
    WireClient client;
    const Answer answer = client.ask(loopback(5), 5);
    EXPECT_EQ(answer.code, 6);
    EXPECT_EQ(answer.source, loopback(5));
  }
}

TEST(Identity, DatesAreDayCountsFromYearZero) {
  EXPECT_EQ(day_count(0, 1, 1), 0u);
  EXPECT_EQ(day_count(1, 1, 1), 366u);
  EXPECT_EQ(day_count(1999, 12, 31), 730484u);
  EXPECT_EQ(day_count(2000, 1, 1), 730485u);
  EXPECT_EQ(day_count(2023, 8, 13), 739110u);
}

TEST(Status, ConfiguredItemsReplaceBuiltInsAndOutputsReportTheirValues) {
  Rig rig(one({{"kind", "WE01"},
               {"address", "127.0.10.6"},
               {"status", json::array({{{"name", "supply"}, {"value", 16.5}, {"lower", 18}, {"upper", 30}},
                                       {{"name", "fan"}, {"unit", "rpm"}, {"value", 1200}}})}}));
  const std::uint8_t two = 2;
  const float volts = 2.5f;
  ASSERT_EQ(we01_control(loopback(6), &two, 1, &volts, 1), VARNODE_SUCCESS);
  Text names, units, descriptions;
  float numbers[16], lower[16], upper[16], values[16];
  std::uint32_t size = 16;
  std::uint8_t ok = 1;
  ASSERT_EQ(get_status(loopback(6), names.bytes, &names.size, units.bytes, &units.size, descriptions.bytes,
                       &descriptions.size, numbers, lower, upper, values, &size, &ok),
            VARNODE_SUCCESS);
  std::map<std::string, std::size_t> index;
  std::string all = names.str(), unit_list = units.str();
  for (std::size_t start = 0, i = 0; start <= all.size(); ++i) {
    const std::size_t tab = std::min(all.find('\t', start), all.size());
    index[all.substr(start, tab - start)] = i;
    start = tab + 1;
  }
  ASSERT_EQ(index.size(), size);
  EXPECT_EQ(index.count("output 8"), 1u);
  EXPECT_FLOAT_EQ(values[index.at("supply")], 16.5f);
  EXPECT_FLOAT_EQ(lower[index.at("supply")], 18.0f);
  EXPECT_FLOAT_EQ(values[index.at("fan")], 1200.0f);
  EXPECT_TRUE(std::isnan(lower[index.at("fan")]));
  EXPECT_NE(unit_list.find("rpm"), std::string::npos);
  EXPECT_FLOAT_EQ(values[index.at("output 2")], 2.5f);
  EXPECT_FLOAT_EQ(values[index.at("output 1")], 0.0f);
  EXPECT_EQ(ok, 0);  // the supply lies below its lower limit
}

// Requests the API refuses before sending, and reply details it does not
// pass on: each row a request and the exact reply the rack must give.
struct Step {
  std::uint16_t code;
  Bytes payload;
  std::uint16_t reply;
  Bytes answer;
};

void play(std::uint32_t module, const std::vector<Step>& steps) {
  WireClient client;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE("wire step " + std::to_string(i));
    const Answer a = client.ask(module, steps[i].code, steps[i].payload);
    EXPECT_EQ(a.code, steps[i].reply);
    EXPECT_EQ(a.payload, steps[i].answer);
  }
}

using Bools = std::vector<std::uint8_t>;  // bool arrays, as bytes
const bool* as_bools(const Bools& b) { return reinterpret_cast<const bool*>(b.data()); }

TEST(DigitalIO, DirectionsAndLevelsReadBackAndInputsRefuseWrites) {
  using Set = decltype(&kl01_write);
  using Read = decltype(&kl01_read);
  struct Family {
    const char* kind;
    std::uint16_t code;
    Set direction, write;
    Read read;
  };
  for (const Family& f : {Family{"KL01", 0x0300, kl01_set_direction, kl01_write, kl01_read},
                          Family{"KL02", 0x0B00, kl02_set_direction, kl02_write, kl02_read}}) {
    SCOPED_TRACE(f.kind);
    Rig rig(one({{"kind", f.kind}, {"address", "127.0.10.7"}, {"directions", "0x0F"}, {"inputs", "0xA0"}}));
    const std::uint32_t at = loopback(7);
    const auto levels = [&] {  // of all eight channels, as a mask
      const std::uint8_t all[] = {8, 7, 6, 5, 4, 3, 2, 1};
      bool v[8];
      std::uint8_t size = 8;
      EXPECT_EQ(f.read(at, all, 8, v, &size), VARNODE_SUCCESS);
      unsigned mask = 0;
      for (int i = 0; i < 8; ++i) mask |= unsigned{v[i]} << (7 - i);
      return mask;
    };
    const auto write = [&](Bools channels, Bools values) {
      return f.write(at, channels.data(), static_cast<std::uint8_t>(channels.size()), as_bools(values),
                     static_cast<std::uint8_t>(values.size()));
    };
    const auto direct = [&](Bools channels, Bools outputs) {
      return f.direction(at, channels.data(), static_cast<std::uint8_t>(channels.size()), as_bools(outputs),
                         static_cast<std::uint8_t>(outputs.size()));
    };
    EXPECT_EQ(levels(), 0xA0u);  // outputs low, inputs as wired
    EXPECT_EQ(write({3, 1}, {1, 0}), VARNODE_SUCCESS);
    const std::uint8_t some[] = {3, 1};
    bool v[2] = {false, true};
    std::uint8_t size = 2;
    EXPECT_EQ(f.read(at, some, 2, v, &size), VARNODE_SUCCESS);
    EXPECT_TRUE(v[0]);
    EXPECT_FALSE(v[1]);
    EXPECT_EQ(write({5}, {1}), VARNODE_CONFIGURATION);  // channel 5 is an input
    EXPECT_EQ(direct({5}, {1}), VARNODE_SUCCESS);        // make it an output
    EXPECT_EQ(write({5}, {1}), VARNODE_SUCCESS);
    EXPECT_EQ(levels(), 0xB4u);  // 0xA0 | 0x10 | 0x04
    EXPECT_EQ(direct({8}, {0}), VARNODE_SUCCESS);  // channel 8 stays an input
    const auto c = [&](int low) { return static_cast<std::uint16_t>(f.code | low); };
    play(at, {
                 {c(1), {0x05}, c(4), {0x04}},  // unrequested bits stay clear
                 {c(2), {0x01}, 2, {}},         // short payload
                 {c(3), {}, 2, {}},             // unknown command
             });
    EXPECT_EQ(reset(at), VARNODE_SUCCESS);  // power-on state again
    EXPECT_EQ(levels(), 0xA0u);
  }
}

std::vector<float> measured(std::uint32_t at, Bools channels) {
  std::vector<float> values(channels.size());
  std::uint8_t size = static_cast<std::uint8_t>(values.size());
  EXPECT_EQ(ks01_measure(at, channels.data(), size, values.data(), &size), VARNODE_SUCCESS);
  return values;
}

TEST(DigitalOutput, OutputsHoldAndKs01MeasuresTheLoadCurrent) {
  Rig rig(json{{"modules",
                json::array({{{"kind", "KS01"}, {"address", "127.0.10.8"}, {"loads", {{"2", 1.0}, {"6", 2.0}}}},
                             {{"kind", "KS02"}, {"address", "127.0.10.9"}}})}});
  const std::uint32_t ks01 = loopback(8);
  const Bools two_six{2, 6}, on{1, 1}, two{2}, off{0};
  EXPECT_EQ(measured(ks01, two_six), (std::vector<float>{0, 0}));  // all off
  EXPECT_EQ(ks01_write(ks01, two_six.data(), 2, as_bools(on), 2), VARNODE_SUCCESS);
  EXPECT_EQ(measured(ks01, {6, 2}), (std::vector<float>{2, 1}));
  EXPECT_EQ(ks01_write(ks01, two.data(), 1, as_bools(off), 1), VARNODE_SUCCESS);
  EXPECT_EQ(measured(ks01, two_six), (std::vector<float>{0, 2}));  // channel 6 keeps its state
  const Bools two_five{2, 5}, levels{0, 1};
  EXPECT_EQ(ks02_write(loopback(9), two_five.data(), 2, as_bools(levels), 2), VARNODE_SUCCESS);
  play(loopback(9), {{0x0A01, {0x12}, 2, {}}});  // a KS02 measures nothing
}

TEST(Counter, EnabledChannelsCountUpOrDownAndClearToZero) {
  Rig rig(one({{"kind", "QU01"}, {"address", "127.0.10.10"}, {"rates", {{"1", 1000}, {"2", 1000}, {"3", 1000}}}}));
  const std::uint32_t at = loopback(10);
  std::int64_t reference = 0;
  const auto read = [&](Bools channels) {
    std::vector<std::int64_t> values(channels.size());
    std::uint8_t size = static_cast<std::uint8_t>(values.size());
    EXPECT_EQ(qu01_read(at, channels.data(), size, values.data(), &size, &reference), VARNODE_SUCCESS);
    return values;
  };
  EXPECT_TRUE(read({}).empty());  // the reference alone
  const Bools two_three{2, 3}, modes{2, 3}, first_three{1, 2, 3}, one{1}, two{2};
  EXPECT_EQ(qu01_set_mode(at, two_three.data(), 2, modes.data(), 2), VARNODE_SUCCESS);  // 2 both edges, 3 down
  EXPECT_EQ(qu01_enable(at, first_three.data(), 3), VARNODE_SUCCESS);
  const std::vector<std::int64_t> first = read({1, 2, 3, 4});
  const std::int64_t first_reference = reference;
  // Wait for pulses rather than time.
  std::vector<std::int64_t> later = first;
  while (later[0] < first[0] + 20) later = read({1, 2, 3, 4});
  EXPECT_GT(reference, first_reference);  // microseconds since power-on
  EXPECT_GT(later[1], later[0]);          // both edges count twice as fast
  EXPECT_LT(later[2], 0);                 // counting down
  EXPECT_EQ(later[3], 0);                 // never enabled
  EXPECT_EQ(qu01_disable(at, one.data(), 1), VARNODE_SUCCESS);
  const std::int64_t held = read({1})[0];
  EXPECT_EQ(qu01_clear(at, two.data(), 1), VARNODE_SUCCESS);
  EXPECT_EQ(read({1})[0], held);
  EXPECT_LT(read({2})[0], later[1]);
  // Mode 4, channel 5 and an empty read request never leave the library.
  play(at, {{0x0705, {0x01, 4}, 2, {}}, {0x0701, {0x10}, 2, {}}, {0x0702, {}, 2, {}}});
}

TEST(Thermocouple, ReportsTheVoltagesOfTheConfiguredTemperatures) {
  Rig rig(one({{"kind", "HX01"},
               {"address", "127.0.10.11"},
               {"cold_junction", 25},
               {"channels", {{"1", {{"sensor", "K"}, {"celsius", 100}}}, {"3", {{"sensor", 1}, {"volts", 0.5}}}}}}));
  const std::uint32_t at = loopback(11);
  const Bools one_three{3, 1}, eight{8}, type_t{14};
  float values[2];
  std::uint8_t size = 2;
  ASSERT_EQ(hx01_measure(at, one_three.data(), 2, values, &size), VARNODE_SUCCESS);
  EXPECT_FLOAT_EQ(values[0], 0.5f);          // a voltage input, as sent
  EXPECT_NEAR(values[1], 373.15, 0.05);      // type K at 100 C, cold junction compensated
  size = 1;
  EXPECT_EQ(hx01_measure(at, eight.data(), 1, values, &size), VARNODE_CONFIGURATION);  // no sensor
  EXPECT_EQ(hx01_set_sensor(at, eight.data(), 1, type_t.data(), 1), VARNODE_SUCCESS);
  EXPECT_EQ(hx01_set_frequency(at, 3000), VARNODE_SUCCESS);
  // The reply's raw readings: the cold junction's platinum divider, then
  // code and thermocouple voltage per channel.
  WireClient client;
  Answer a = client.ask(at, 0x0600, {0x05});
  ASSERT_EQ(a.code, 0x0601);
  ASSERT_EQ(a.payload.size(), 14u);
  const double v = f32(a.payload, 0);
  EXPECT_NEAR(100 * v / (5 - v), platinum_ratio(298.15 + 1.55), 1e-5);
  EXPECT_EQ(a.payload[4], 8);
  const Characteristic& k = characteristic();
  EXPECT_NEAR(f32(a.payload, 5), k.thermocouple_volts(8, 373.15) - k.thermocouple_volts(8, 298.15), 1e-7);
  EXPECT_EQ(a.payload[9], 1);
  a = client.ask(at, 0x0600, {0x80});
  EXPECT_EQ(a.code, 0x0601);
  EXPECT_EQ(a.payload.at(4), 14);
  // Sensor code 15 and 60 Hz never leave the library.
  play(at, {{0x0609, {0x81, 2, 15}, 2, {}}, {0x0608, {0x00, 60}, 2, {}}});
}

TEST(Resistance, ReportsItsConfigurationAndTheSensorsReading) {
  Rig rig(one({{"kind", "HX02"},
               {"address", "127.0.10.12"},
               {"channels", {{"1", {{"sensor", "platinum"}, {"current", 0.001}, {"nominal", 100}, {"celsius", 100}}},
                             {"2", {{"sensor", 10}, {"celsius", 100}}}}}}));
  const std::uint32_t at = loopback(12);
  const Bools both{2, 1};
  float values[2];
  std::uint8_t size = 2;
  ASSERT_EQ(hx02_measure(at, both.data(), 2, values, &size), VARNODE_SUCCESS);
  EXPECT_NEAR(values[0], 373.15, 0.05);  // PTC 1000 ohm at 100 C
  EXPECT_NEAR(values[1], 373.15, 0.05);  // platinum, R0 100 ohm
  const Bools three{3}, diode{3};
  const float range = 2.5f, current = 0.00001f, nominal = 100;
  EXPECT_EQ(hx02_set_sensor(at, three.data(), 1, diode.data(), 1, &range, 1, &current, 1, &nominal, 1),
            VARNODE_SUCCESS);
  EXPECT_EQ(hx02_set_frequency(at, 1500), VARNODE_SUCCESS);
  // The reply repeats each channel's configuration ahead of its voltage.
  WireClient client;
  Answer a = client.ask(at, 0x0200, {0x03});
  ASSERT_EQ(a.code, 0x0201);
  ASSERT_EQ(a.payload.size(), 34u);
  EXPECT_EQ(a.payload[0], 2);
  EXPECT_FLOAT_EQ(f32(a.payload, 5), 0.001f);
  EXPECT_NEAR(f32(a.payload, 13), 1.385 * 0.001 * 100, 1e-6);
  EXPECT_EQ(a.payload[17], 10);
  EXPECT_NEAR(f32(a.payload, 30), characteristic().sensor_x(10, 373.15), 1e-3);
  a = client.ask(at, 0x0200, {0x04});
  ASSERT_EQ(a.payload.size(), 17u);
  EXPECT_EQ(a.payload[0], 3);
  // A 3 V range and channel 5 never leave the library.
  Bytes bad_range{0x04, 3};
  for (float f : {3.0f, 0.00001f, 100.0f}) wire::put_f32(bad_range, f);
  play(at, {{0x0209, bad_range, 2, {}}, {0x0200, {0x10}, 2, {}}});
}

TEST(Management, BurnAndResetByTheModulesOwnRules) {
  Rig rig(one({{"kind", "KL01"}, {"address", "127.0.10.13"}, {"serial", 4242}}));
  const std::uint32_t at = loopback(13);
  const std::uint8_t data[] = {0xDE, 0xAD};
  EXPECT_EQ(burn(at, data, 2), VARNODE_SUCCESS);
  Info info;
  ASSERT_EQ(read_info(at, info), VARNODE_SUCCESS);
  EXPECT_EQ(info.text[24].str(), "dead");
  EXPECT_EQ(info.number_14, 0u);
  EXPECT_EQ(reset(at), VARNODE_SUCCESS);
  ASSERT_EQ(read_info(at, info), VARNODE_SUCCESS);
  EXPECT_EQ(info.number_14, 1u);  // resets since power-up
  play(at, {{10, Bytes(65, 1), 2, {}}});  // more than the library would send
}

}  // namespace
}  // namespace varnode::sim::test
