#include <gtest/gtest.h>

#include <cstring>
#include <latch>
#include <thread>
#include <utility>
#include <vector>

#include "temperature/sensors.hpp"

namespace varnode {
namespace {

using Sensors::Registry;

std::vector<int> codes(const Registry& registry) {
  std::vector<int> out;
  for (const auto& [code, spline] : registry) out.push_back(code);
  return out;
}

// Many threads making the first call at once must all get the one registry,
// built once; run under ThreadSanitizer this also shows the build is safe.
TEST(Sensors, ConcurrentFirstUseBuildsOnce) {
  constexpr int threads = 8;
  std::latch start(threads);
  struct Seen {
    const Registry* temperature = nullptr;
    const Registry* voltage = nullptr;
    const Registry* sensor = nullptr;
    float value = 0;
  };
  std::vector<Seen> seen(threads);
  std::vector<std::thread> workers;
  for (int i = 0; i < threads; ++i) {
    workers.emplace_back([&, i] {
      start.arrive_and_wait();
      // Half start with the inverse direction, which must build both.
      if (i % 2) seen[i].voltage = &Sensors::thermocouple_voltage();
      seen[i].temperature = &Sensors::thermocouple_temperature();
      seen[i].voltage = &Sensors::thermocouple_voltage();
      seen[i].sensor = &Sensors::sensor_temperature();
      seen[i].value = seen[i].temperature->at(8).evaluate(0.004096f);
    });
  }
  for (std::thread& worker : workers) worker.join();
  for (const Seen& s : seen) {
    EXPECT_EQ(s.temperature, seen[0].temperature);
    EXPECT_EQ(s.voltage, seen[0].voltage);
    EXPECT_EQ(s.sensor, seen[0].sensor);
    EXPECT_EQ(s.value, seen[0].value);
  }
  EXPECT_EQ(seen[0].temperature->size(), 13u);
  EXPECT_EQ(seen[0].voltage->size(), 13u);
  EXPECT_EQ(seen[0].sensor->size(), 9u);
}

TEST(Sensors, CodesWithTables) {
  const std::vector<int> hx01{2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
  EXPECT_EQ(codes(Sensors::thermocouple_temperature()), hx01);
  EXPECT_EQ(codes(Sensors::thermocouple_voltage()), hx01);
  EXPECT_EQ(codes(Sensors::sensor_temperature()), (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

// The knots give the accepted ranges: the first row and the second-to-last.
struct Range {
  int code;
  float first_x, first_y, high_x, high_y;
};

TEST(Sensors, ThermocoupleRangesInBothDirections) {
  const Range ranges[] = {
      {2, -0.000003f, 294.15f, 0.013809f, 2092.15f}, {3, 0, 273.15f, 0.037097f, 2592.15f},
      {4, 0, 273.15f, 0.040740f, 2753.15f},          {5, -0.009835f, 3.15f, 0.076298f, 1272.15f},
      {6, 0, 273.15f, 0.038495f, 2583.15f},          {7, -0.008095f, 63.15f, 0.069496f, 1472.15f},
      {8, -0.006458f, 3.15f, 0.054852f, 1644.15f},   {9, -0.001732f, 223.15f, 0.074044f, 1682.15f},
      {10, -0.004345f, 3.65f, 0.047477f, 1572.15f},  {11, 0, 273.15f, 0.055226f, 1667.15f},
      {12, -0.000226f, 223.15f, 0.021089f, 2040.15f}, {13, -0.000236f, 223.15f, 0.018682f, 2040.15f},
      {14, -0.006258f, 3.15f, 0.020810f, 672.15f},
  };
  for (const Range& r : ranges) {
    SCOPED_TRACE(r.code);
    const Spline<float>& to_kelvin = Sensors::thermocouple_temperature().at(static_cast<std::uint8_t>(r.code));
    const Spline<float>& to_volts = Sensors::thermocouple_voltage().at(static_cast<std::uint8_t>(r.code));
    EXPECT_EQ(to_kelvin.first_knot(), r.first_x);
    EXPECT_EQ(to_kelvin.last_knot(), r.high_x);
    EXPECT_EQ(to_volts.first_knot(), r.first_y);
    EXPECT_EQ(to_volts.last_knot(), r.high_y);
  }
}

TEST(Sensors, SensorRanges) {
  const Range ranges[] = {
      {2, 0.18493f, 73.15f, 3.89385f, 1120.15f}, {3, 0.09062f, 475, 1.69521f, 1.6f},
      {4, 0.09068f, 500, 1.64429f, 1.4f},        {5, 466.11f, 213.15f, 2277.00f, 423.15f},
      {6, 932.21f, 213.15f, 4553.99f, 423.15f},  {7, 466.11f, 213.15f, 2277.00f, 423.15f},
      {8, 932.21f, 213.15f, 4553.99f, 423.15f},  {9, 476.09f, 213.15f, 2534.72f, 448.15f},
      {10, 343.88f, 228.15f, 2663.96f, 573.15f},
  };
  for (const Range& r : ranges) {
    SCOPED_TRACE(r.code);
    const Spline<float>& spline = Sensors::sensor_temperature().at(static_cast<std::uint8_t>(r.code));
    EXPECT_EQ(spline.first_knot(), r.first_x);
    EXPECT_EQ(spline.last_knot(), r.high_x);
    EXPECT_EQ(spline.evaluate(r.first_x), r.first_y);
    EXPECT_NEAR(spline.evaluate(r.high_x), r.high_y, 1e-4);
  }
}

TEST(Sensors, TypeKOnItsRows) {
  EXPECT_NEAR(Sensors::thermocouple_voltage().at(8).evaluate(298.15f), 0.001000, 1e-9);
  EXPECT_NEAR(Sensors::thermocouple_temperature().at(8).evaluate(0.004096f), 373.15, 1e-4);
}

TEST(Sensors, SensorExamples) {
  const Registry& sensors = Sensors::sensor_temperature();
  EXPECT_NEAR(sensors.at(2).evaluate(1.385f), 373.15, 1e-4);
  EXPECT_NEAR(sensors.at(10).evaluate(1000), 373.15, 1e-4);
  EXPECT_NEAR(sensors.at(3).evaluate(0.51892f), 300, 1e-4);
  // A diode's voltage falls as it warms.
  EXPECT_LT(sensors.at(3).evaluate(0.6f), sensors.at(3).evaluate(0.5f));
  EXPECT_LT(sensors.at(4).evaluate(0.6f), sensors.at(4).evaluate(0.5f));
  EXPECT_NEAR(Sensors::cold_junction().evaluate(1.0f), 273.15, 1e-4);
}

TEST(Sensors, SharedPtcTablesGiveEqualSplines) {
  const Registry& sensors = Sensors::sensor_temperature();
  for (const auto& [a, b] : {std::pair<std::uint8_t, std::uint8_t>{5, 7}, {6, 8}}) {
    const auto one = sensors.at(a).segments();
    const auto other = sensors.at(b).segments();
    ASSERT_EQ(one.size(), other.size());
    for (std::size_t i = 0; i < one.size(); ++i) {
      EXPECT_EQ(std::memcmp(&one[i], &other[i], sizeof one[i]), 0) << int(a) << " segment " << i;
    }
  }
}

}  // namespace
}  // namespace varnode
