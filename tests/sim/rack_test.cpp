#include <gtest/gtest.h>

#include <cmath>

#include <nlohmann/json.hpp>

#include "rack.hpp"
#include "signal.hpp"

namespace varnode::sim {
namespace {

using nlohmann::json;

TEST(RackDescription, DefaultHoldsEveryKindOnConsecutiveAddresses) {
  const Rack rack = parse_rack(default_description(), Placement::namespaced);
  ASSERT_EQ(rack.modules.size(), 10u);
  for (std::size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(rack.modules[i]->kind(), all_kinds[i]);
    EXPECT_EQ(format_address(rack.modules[i]->address()), "198.18.0." + std::to_string(11 + i));
  }
  EXPECT_EQ(format_address(parse_rack(default_description(), Placement::loopback).modules[0]->address()),
            "127.0.10.11");
}

TEST(RackDescription, MistakesAreNamed) {
  const std::pair<const char*, const char*> cases[] = {
      {R"([{"kind": "KL03"}])", "modules[0]: kind: unknown kind 'KL03'"},
      {R"([{"kind": "KL01", "address": "10.1.2.3"}])", "not on the client's link"},
      {R"([{"kind": "KL01", "address": "198.18.0.9"}, {"kind": "KS01", "address": "198.18.0.9"}])",
       "modules[1]: address: 198.18.0.9 is taken"},
      {R"([{"kind": "KL01", "serial": 5}, {"kind": "KS01", "serial": 5}])", "serial: used twice"},
      {R"([{"kind": "KL01", "faults": [{"fault": "explode"}]}])", "unknown fault 'explode'"},
      {R"([{"kind": "RE01", "channels": {"9": 1.0}}])", "channel '9' is not 1 to 8"},
      {R"([{"kind": "RE01", "channels": {"1": {"signal": "square"}}}])", "unknown signal 'square'"},
      {R"([{"kind": "HX02", "channels": {"1": {"range": 3.0}}}])", "not accepted"},
      {R"([{"kind": "HX01", "channels": {"1": {"sensor": "X"}}}])", "thermocouple type"},
  };
  for (const auto& [modules, message] : cases) {
    try {
      parse_rack({{"modules", json::parse(modules)}}, Placement::namespaced);
      ADD_FAILURE() << "accepted: " << modules;
    } catch (const std::invalid_argument& failure) {
      EXPECT_NE(std::string(failure.what()).find(message), std::string::npos) << failure.what();
    }
  }
  EXPECT_THROW(parse_rack({{"modules", {{{"kind", "KL01"}, {"address", "198.18.0.5"}}}}}, Placement::loopback),
               std::invalid_argument);
}

TEST(Signals, ShapesAndRepeatableNoise) {
  const Signal sine = Signal::from_json({{"signal", "sine"}, {"offset", 1}, {"amplitude", 2}, {"hz", 5}});
  EXPECT_NEAR(sine.at(0.05), 3.0, 1e-9);
  EXPECT_NEAR(sine.at(0.15), -1.0, 1e-9);
  const Signal ramp = Signal::from_json({{"signal", "ramp"}, {"from", -10}, {"to", 10}, {"period", 2}});
  EXPECT_NEAR(ramp.at(0.5), -5.0, 1e-9);
  EXPECT_NEAR(ramp.at(2.5), -5.0, 1e-9);
  EXPECT_DOUBLE_EQ(Signal::from_json(4.5).at(123), 4.5);
  const Signal noise = Signal::noise(2, 0.5, 7);
  double sum = 0, squares = 0;
  for (int i = 0; i < 20000; ++i) {
    const double v = noise.at(i * 0.001);
    EXPECT_EQ(v, noise.at(i * 0.001));
    sum += v;
    squares += v * v;
  }
  const double mean = sum / 20000;
  EXPECT_NEAR(mean, 2.0, 0.02);
  EXPECT_NEAR(std::sqrt(squares / 20000 - mean * mean), 0.5, 0.02);
}

}  // namespace
}  // namespace varnode::sim
