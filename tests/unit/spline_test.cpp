#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "temperature/spline.hpp"

namespace varnode {
namespace {

using Segment = Spline<float>::Segment;

std::uint32_t bits(float v) { return std::bit_cast<std::uint32_t>(v); }

std::vector<std::uint32_t> segment_bits(const Spline<float>& spline) {
  std::vector<std::uint32_t> out;
  for (const Segment& g : spline.segments()) {
    for (float v : {g.x0, g.a, g.b, g.c, g.d}) out.push_back(bits(v));
  }
  return out;
}

Spline<float> build(const std::vector<float>& points, bool swap = false) {
  return Spline<float>(points.data(), points.size() / 2, swap);
}

TEST(Spline, ThreePointsGiveTheNaturalCubics) {
  const Spline<float> spline = build({0, 0, 1, 1, 2, 0});
  ASSERT_EQ(spline.segments().size(), 2u);
  const Segment& first = spline.segments()[0];
  const Segment& second = spline.segments()[1];
  EXPECT_EQ(std::vector<float>({first.x0, first.a, first.b, first.c, first.d}),
            std::vector<float>({0, 0, 1.5f, 0, -0.5f}));
  EXPECT_EQ(std::vector<float>({second.x0, second.a, second.b, second.c, second.d}),
            std::vector<float>({1, 1, 0, -1.5f, 0.5f}));
  EXPECT_EQ(spline.evaluate(1), 1.0f);
  EXPECT_EQ(spline.evaluate(0.5f), 0.6875f);
  EXPECT_EQ(spline.first_knot(), 0.0f);
  EXPECT_EQ(spline.last_knot(), 1.0f);
  // Outside the table the end cubics carry on; nothing is refused.
  EXPECT_EQ(spline.evaluate(-1), -1.0f);
  EXPECT_EQ(spline.evaluate(3), -1.0f);
  EXPECT_TRUE(std::isnan(spline.evaluate(std::numeric_limits<float>::quiet_NaN())));
}

// Irregular steps exercise every term of the elimination. The expected bits
// are the recurrence carried out in single precision, operation by operation,
// by a separate emulation; any change of order or precision shows here.
TEST(Spline, SegmentsAreBitExactSinglePrecision) {
  const Spline<float> spline = build({0.5f, 2.0f, 1.25f, -1.0f, 3.0f, 0.3f, 3.1f, 4.0f, 7.0f, 1e-3f});
  EXPECT_EQ(segment_bits(spline), (std::vector<std::uint32_t>{
                                      0x3F000000, 0x40000000, 0xBFDD3A8A, 0x00000000, 0xC0813B51,  //
                                      0x3FA00000, 0xBF800000, 0xC108B15E, 0xC11162BB, 0x410397CD,  //
                                      0x40400000, 0x3E99999A, 0x420CDDF0, 0x42085E8E, 0xC32297F3,  //
                                      0x40466666, 0x40800000, 0x4214A12D, 0xC16AF890, 0x3FA0A9F4}));
  const std::pair<float, std::uint32_t> values[] = {
      {0.0f, 0x40579D77}, {2.0f, 0xC110C885}, {3.05f, 0x40080C27},
      {5.0f, 0x41F18B63}, {7.0f, 0x3A83E000}, {9.0f, 0xC1F18746},
  };
  for (const auto& [x, expected] : values) EXPECT_EQ(bits(spline.evaluate(x)), expected) << "x = " << x;
}

TEST(Spline, SwappedPairsBuildTheSameSpline) {
  const std::vector<float> xy{0.5f, 2.0f, 1.25f, -1.0f, 3.0f, 0.3f, 3.1f, 4.0f, 7.0f, 1e-3f};
  std::vector<float> yx;
  for (std::size_t i = 0; i < xy.size(); i += 2) yx.insert(yx.end(), {xy[i + 1], xy[i]});
  EXPECT_EQ(segment_bits(build(yx, true)), segment_bits(build(xy, false)));
}

// At an interior knot the strict search picks the segment that ends there;
// in this table its cubic does not land exactly on the knot's y.
TEST(Spline, InteriorKnotUsesTheSegmentEndingThere) {
  const Spline<float> spline = build({0, 0, 1, 1, 2, 0.1f, 3, 0.7f});
  EXPECT_EQ(bits(spline.evaluate(1)), 0x3F7FFFFFu);
  EXPECT_EQ(bits(spline.evaluate(2)), 0x3DCCCCC8u);
}

struct Refused {
  const char* name;
  std::vector<float> points;
  bool swap;
};

void PrintTo(const Refused& r, std::ostream* out) { *out << r.name; }

class SplineRefuses : public testing::TestWithParam<Refused> {};

TEST_P(SplineRefuses, TablesThatAreNoFunction) {
  const Refused& c = GetParam();
  EXPECT_THROW(build(c.points, c.swap), Spline<float>::Exception::Parameter);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, SplineRefuses,
    testing::Values(Refused{"empty", {}, false}, Refused{"one_point", {0, 0}, false},
                    Refused{"two_points", {0, 0, 1, 1}, false},
                    Refused{"repeated_x", {0, 0, 1, 1, 1, 2}, false},
                    Refused{"falling_x", {0, 0, 2, 1, 1, 2, 3, 3}, false},
                    // Rising as (x, y), but the second values fall.
                    Refused{"falling_after_swap", {0, 0, 1, 2, 2, 1}, true}),
    [](const testing::TestParamInfo<Refused>& p) { return std::string(p.param.name); });

TEST(Spline, NaNStepIsNotTakenForAFallingOne) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_NO_THROW(build({0, 0, nan, 1, 2, 0}));
}

TEST(Spline, DefaultIsOneSegmentOfQuietNaN) {
  const Spline<float> spline;
  EXPECT_EQ(segment_bits(spline), std::vector<std::uint32_t>(5, 0x7FC00000));
  for (float x : {-1e30f, 0.0f, 1.0f, std::numeric_limits<float>::infinity()}) {
    EXPECT_TRUE(std::isnan(spline.evaluate(x)));
  }
  // Range checks against NaN knots are false either way.
  EXPECT_FALSE(1.0f < spline.first_knot());
  EXPECT_FALSE(1.0f > spline.last_knot());
}

}  // namespace
}  // namespace varnode
