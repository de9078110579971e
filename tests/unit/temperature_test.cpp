// Conversions of the temperature modules through their exports, one channel
// at a time, against the built-in sensor tables.
#include <gtest/gtest.h>

#include <cmath>
#include <latch>
#include <thread>

#include "support/fake_module.hpp"
#include "temperature_cases.hpp"

namespace varnode::test {
namespace {

using Measure = std::uint8_t (*)(std::uint32_t, const std::uint8_t*, std::uint8_t, float*, std::uint8_t*);

// The cold-junction divider reading for a junction at `kelvin` (above 0 C).
float cold_junction_reading(double kelvin) {
  const double t = kelvin + 1.55 - 273.15;
  const double ratio = 1 + 3.90802e-3 * t - 5.802e-7 * t * t;
  return static_cast<float>(5 * ratio / (100 + ratio));
}

const float ratio_one = 5.0f / 101;  // a cold junction at 271.6 K
const float room = cold_junction_reading(298.15);

struct ConversionCase {
  std::string name;
  Measure measure;
  std::uint16_t reply_code;
  Bytes reply;
  std::uint8_t result = 0;
  float kelvin = 0;
  float tolerance = 0;
};

void PrintTo(const ConversionCase& c, std::ostream* out) { *out << c.name; }

ConversionCase hx01(std::string name, float cold_junction, Thermocouple channel, float kelvin, float tolerance = 0) {
  return {std::move(name), hx01_measure, 0x0601, hx01_values(cold_junction, {channel}), 0, kelvin, tolerance};
}

ConversionCase hx01_fails(std::string name, float cold_junction, Thermocouple channel) {
  return {std::move(name), hx01_measure, 0x0601, hx01_values(cold_junction, {channel}), 2};
}

ConversionCase hx02(std::string name, Config config, float reading, float kelvin, float tolerance = 0) {
  return {std::move(name), hx02_measure, 0x0201, hx02_channel(config, reading), 0, kelvin, tolerance};
}

const Config platinum{2, 0.5f, 0.001f, 100};
const Config diode{3, 2.5f, 0.00001f, 100};

const ConversionCase conversions[] = {
    hx01("ColdJunctionAtRatioOne", ratio_one, {8, 0.0f}, 271.6f, 0.01f),
    hx01("TypeKAtBoilingPoint", room, {8, 0.003096f}, 373.15f, 0.05f),
    hx01("TypeKFarAbove", room, {8, 1.0f}, infinity),
    hx01("TypeKFarBelow", room, {8, -1.0f}, -infinity),
    // Between the table's last two rows and beyond its last row.
    hx01("TypeTInLastInterval", cold_junction_reading(273.15), {14, 0.02085f}, 672.8f, 0.05f),
    hx01("TypeTAboveTable", cold_junction_reading(273.15), {14, 0.0209f}, infinity),
    hx01("TypeTBelowLastKnot", cold_junction_reading(273.15), {14, 0.0208f}, 671.99f, 0.02f),
    // The cold junction in its table's last interval and on its last row.
    hx01("ColdJunctionInLastInterval", 0.07275629f, {7, 0.0f}, 395.8495f, 0.001f),
    hx01("ColdJunctionOnLastRow", 0.07289358f, {7, 0.0f}, 396.6008f, 0.001f),
    hx01_fails("TypeBColdJunctionBelowTable", ratio_one, {2, 0.001f}),
    hx01_fails("TypeCColdJunctionBelowTable", ratio_one, {3, 0.001f}),
    hx01_fails("TypeDColdJunctionBelowTable", ratio_one, {4, 0.001f}),
    hx01_fails("TypeGColdJunctionBelowTable", ratio_one, {6, 0.001f}),
    hx01_fails("TypePColdJunctionBelowTable", ratio_one, {11, 0.001f}),
    hx01_fails("ColdJunctionAtFiveVolts", 5.0f, {8, 0.001f}),
    hx01_fails("ColdJunctionFarOffItsTable", 4.99f, {8, 0.001f}),
    hx01_fails("ColdJunctionNaN", nan, {8, 0.001f}),
    // 0 V from a shorted sensor once extrapolated to a junction of 1531.93 K.
    hx01_fails("ColdJunctionZeroVolts", 0.0f, {8, 0.0f}),
    hx01_fails("ThermocoupleNaN", room, {8, nan}),
    hx02("PlatinumAtBoilingPoint", platinum, 0.1385f, 373.15f, 0.02f),
    hx02("Platinum1000OhmsAtBoilingPoint", {2, 5.0f, 0.001f, 1000}, 1.385f, 373.15f, 0.02f),
    hx02("PlatinumBelowTable", platinum, 0.0f, -infinity),
    hx02("PtcAt100CAtBoilingPoint", {10, 5.0f, 0.001f, 100}, 1000.0f, 373.15f, 0.02f),
    hx02("Ptc5AtRoomTemperature", {5, 2.5f, 0.001f, 100}, 1000.0f, 298.15f, 0.02f),
    hx02("Ptc7SharesItsTable", {7, 2.5f, 0.001f, 100}, 1000.0f, 298.15f, 0.02f),
    hx02("Ptc9InLastInterval", {9, 5.0f, 0.001f, 100}, 2550.0f, 449.34f, 0.05f),
    hx02("Ptc9AboveTable", {9, 5.0f, 0.001f, 100}, 2600.0f, infinity),
    hx02("DiodeAt300K", diode, 0.51892f, 300.0f, 0.01f),
    hx02("Diode2At4K", {4, 2.5f, 0.00001f, 100}, 1.57848f, 4.2f, 0.01f),
    hx02("DiodeColderThanTable", diode, 1.7f, infinity),
    hx02("DiodeHotterThanTable", diode, 0.05f, -infinity),
};

class Conversion : public testing::TestWithParam<ConversionCase> {};

TEST_P(Conversion, WritesTheValueOrNothing) {
  const ConversionCase& c = GetParam();
  FakeModule module([&](const Request& request) { return std::vector<Reply>{answer(request, c.reply_code, c.reply)}; });
  const std::uint8_t channel = 1;
  float value = -77;
  std::uint8_t size = 1;
  ASSERT_EQ(c.measure(module.host(), &channel, 1, &value, &size), c.result);
  if (c.result != 0) {
    EXPECT_EQ(value, -77);
  } else if (std::isinf(c.kelvin)) {
    EXPECT_EQ(value, c.kelvin);
  } else {
    EXPECT_NEAR(value, c.kelvin, c.tolerance);
  }
  EXPECT_EQ(size, 1);
}

INSTANTIATE_TEST_SUITE_P(Temperature, Conversion, testing::ValuesIn(conversions), CaseName{});

// Each test runs in a process of its own, so the threads here are the first
// users of both modules' tables and race to build them.
TEST(TemperatureTables, ConcurrentFirstUse) {
  FakeModule module([](const Request& request) {
    if (request.code == 0x0600) return std::vector<Reply>{answer(request, 0x0601, hx01_values(room, {{8, 0.003096f}}))};
    return std::vector<Reply>{answer(request, 0x0201, hx02_channel(platinum, 0.1385f))};
  });
  ASSERT_EQ(set_timeout(module.host(), 60000), 0);
  constexpr std::size_t threads = 16;
  std::latch start(threads);
  std::vector<std::uint8_t> results(threads, 0xFF);
  std::vector<float> values(threads, -77);
  std::vector<std::thread> pool;
  for (std::size_t i = 0; i < threads; ++i) {
    pool.emplace_back([&, i] {
      const Measure measure = i % 2 == 0 ? hx01_measure : hx02_measure;
      const std::uint8_t channel = 1;
      std::uint8_t size = 1;
      start.arrive_and_wait();
      results[i] = measure(module.host(), &channel, 1, &values[i], &size);
    });
  }
  for (std::thread& thread : pool) thread.join();
  for (std::size_t i = 0; i < threads; ++i) {
    EXPECT_EQ(results[i], 0) << i;
    EXPECT_NEAR(values[i], 373.15f, 0.05f) << i;
  }
}

}  // namespace
}  // namespace varnode::test
