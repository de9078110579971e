#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "temperature/tables/tables.hpp"

namespace varnode {
namespace {

struct Row {
  float x, y;
};

std::size_t rows(const Tables::Table& table) { return table.size() / 2; }
Row row(const Tables::Table& table, std::size_t i) { return {table[2 * i], table[2 * i + 1]}; }

bool has_row(const Tables::Table& table, Row wanted) {
  for (std::size_t i = 0; i < rows(table); ++i) {
    if (row(table, i).x == wanted.x && row(table, i).y == wanted.y) return true;
  }
  return false;
}

std::optional<Row> row_near_kelvin(const Tables::Table& table, double kelvin) {
  for (std::size_t i = 0; i < rows(table); ++i) {
    if (std::abs(row(table, i).y - kelvin) < 1e-3) return row(table, i);
  }
  return std::nullopt;
}

struct Ends {
  const char* name;
  const Tables::Table& table;
  std::size_t rows;
  Row first, second_to_last, last;
};

// Thermocouples in volts and kelvin, the others in their x and kelvin.
const Ends ends[] = {
    {"B", Tables::thermocouple_b, 1757, {-0.000003f, 294.15f}, {0.013809f, 2092.15f}, {0.013820f, 2093.15f}},
    {"C", Tables::thermocouple_c, 2320, {0, 273.15f}, {0.037097f, 2592.15f}, {0.037107f, 2593.15f}},
    {"D", Tables::thermocouple_d, 250, {0, 273.15f}, {0.040740f, 2753.15f}, {0.040792f, 2763.15f}},
    {"E", Tables::thermocouple_e, 1271, {-0.009835f, 3.15f}, {0.076298f, 1272.15f}, {0.076373f, 1273.15f}},
    {"G", Tables::thermocouple_g, 233, {0, 273.15f}, {0.038495f, 2583.15f}, {0.038620f, 2593.15f}},
    {"J", Tables::thermocouple_j, 1411, {-0.008095f, 63.15f}, {0.069496f, 1472.15f}, {0.069553f, 1473.15f}},
    {"K", Tables::thermocouple_k, 1643, {-0.006458f, 3.15f}, {0.054852f, 1644.15f}, {0.054886f, 1645.15f}},
    {"M", Tables::thermocouple_m, 1461, {-0.001732f, 223.15f}, {0.074044f, 1682.15f}, {0.074104f, 1683.15f}},
    {"N", Tables::thermocouple_n, 1569, {-0.004345f, 3.65f}, {0.047477f, 1572.15f}, {0.047513f, 1573.15f}},
    {"P", Tables::thermocouple_p, 1396, {0, 273.15f}, {0.055226f, 1667.15f}, {0.055257f, 1668.15f}},
    {"R", Tables::thermocouple_r, 1819, {-0.000226f, 223.15f}, {0.021089f, 2040.15f}, {0.021101f, 2041.15f}},
    {"S", Tables::thermocouple_s, 1819, {-0.000236f, 223.15f}, {0.018682f, 2040.15f}, {0.018693f, 2041.15f}},
    {"T", Tables::thermocouple_t, 671, {-0.006258f, 3.15f}, {0.020810f, 672.15f}, {0.020872f, 673.15f}},
    {"cold_junction", Tables::cold_junction, 163, {0.78319f, 218.15f}, {1.47567f, 397.15f}, {1.47944f, 398.15f}},
    {"platinum", Tables::platinum, 945, {0.18493f, 73.15f}, {3.89385f, 1120.15f}, {3.89678f, 1121.15f}},
    {"diode_curve1", Tables::diode_curve1, 120, {0.09062f, 475}, {1.69521f, 1.6f}, {1.69812f, 1.4f}},
    {"diode_curve2", Tables::diode_curve2, 144, {0.09068f, 500}, {1.64429f, 1.4f}, {1.64654f, 1.2f}},
    {"ptc_1000_25", Tables::ptc_1000_25, 44, {466.11f, 213.15f}, {2277.00f, 423.15f}, {2340.23f, 428.15f}},
    {"ptc_2000_25", Tables::ptc_2000_25, 44, {932.21f, 213.15f}, {4553.99f, 423.15f}, {4680.47f, 428.15f}},
    {"ptc_1000_25_180", Tables::ptc_1000_25_180, 49, {476.09f, 213.15f}, {2534.72f, 448.15f}, {2599.30f, 453.15f}},
    {"ptc_1000_100", Tables::ptc_1000_100, 71, {343.88f, 228.15f}, {2663.96f, 573.15f}, {2716.82f, 578.15f}},
};

TEST(SensorTables, RowCountsAndEndRows) {
  std::size_t thermocouple_rows = 0;
  for (const Ends& e : ends) {
    SCOPED_TRACE(e.name);
    ASSERT_EQ(rows(e.table), e.rows);
    ASSERT_EQ(e.table.size(), 2 * e.rows);
    EXPECT_EQ(row(e.table, 0).x, e.first.x);
    EXPECT_EQ(row(e.table, 0).y, e.first.y);
    EXPECT_EQ(row(e.table, e.rows - 2).x, e.second_to_last.x);
    EXPECT_EQ(row(e.table, e.rows - 2).y, e.second_to_last.y);
    EXPECT_EQ(row(e.table, e.rows - 1).x, e.last.x);
    EXPECT_EQ(row(e.table, e.rows - 1).y, e.last.y);
    if (std::string(e.name).size() == 1) thermocouple_rows += e.rows;
  }
  EXPECT_EQ(thermocouple_rows, 17620u);
}

// x must rise for the spline; thermocouple temperatures rise too so that the
// same table reads backwards, and diode temperatures are listed hot to cold.
TEST(SensorTables, Monotone) {
  for (const Ends& e : ends) {
    SCOPED_TRACE(e.name);
    const std::string name = e.name;
    for (std::size_t i = 1; i < rows(e.table); ++i) {
      ASSERT_GT(row(e.table, i).x, row(e.table, i - 1).x) << "row " << i;
      if (name.size() == 1) {
        ASSERT_GT(row(e.table, i).y, row(e.table, i - 1).y) << "row " << i;
      }
      if (name.starts_with("diode")) {
        ASSERT_LT(row(e.table, i).y, row(e.table, i - 1).y) << "row " << i;
      }
    }
  }
}

struct Telling {
  const char* what;
  const Tables::Table& table;
  Row row;
};

const Telling telling[] = {
    {"K at 25 C", Tables::thermocouple_k, {0.001000f, 298.15f}},
    {"K at 100 C", Tables::thermocouple_k, {0.004096f, 373.15f}},
    {"C merged 488/489 C", Tables::thermocouple_c, {0.008432f, 761.65f}},
    {"N second merged run", Tables::thermocouple_n, {-0.004344f, 5.65f}},
    {"cold junction at 0 C", Tables::cold_junction, {1.00000f, 273.15f}},
    {"cold junction 77 C, one below", Tables::cold_junction, {1.29747f, 350.15f}},
    {"platinum at 0 C", Tables::platinum, {1.00000f, 273.15f}},
    {"platinum at 100 C", Tables::platinum, {1.38500f, 373.15f}},
    {"platinum -87 C", Tables::platinum, {0.65507f, 186.15f}},
    {"platinum 77 C", Tables::platinum, {1.29747f, 350.15f}},
    {"platinum 427 C", Tables::platinum, {2.56293f, 700.15f}},
    {"platinum 435 C", Tables::platinum, {2.59019f, 708.15f}},
    {"platinum 443 C", Tables::platinum, {2.61738f, 716.15f}},
    {"platinum 444 C", Tables::platinum, {2.62077f, 717.15f}},
    {"diode 1 at 300 K", Tables::diode_curve1, {0.51892f, 300}},
    {"diode 1 at 100 K", Tables::diode_curve1, {0.97550f, 100}},
    {"diode 1 at 20 K", Tables::diode_curve1, {1.21440f, 20}},
    {"diode 1 at 4.2 K", Tables::diode_curve1, {1.62602f, 4.2f}},
    {"diode 2 at 300 K", Tables::diode_curve2, {0.55964f, 300}},
    {"diode 2 at 100 K", Tables::diode_curve2, {0.98697f, 100}},
    {"diode 2 at 20 K", Tables::diode_curve2, {1.19775f, 20}},
    {"diode 2 at 4.2 K", Tables::diode_curve2, {1.57848f, 4.2f}},
    {"diode 2 at 273.2 K", Tables::diode_curve2, {0.62114f, 273.2f}},
    {"diode 2 at 77.4 K", Tables::diode_curve2, {1.02759f, 77.4f}},
    {"PTC 1000/25 at 0 C", Tables::ptc_1000_25, {814.86f, 273.15f}},
    {"PTC 1000/25 at 25 C", Tables::ptc_1000_25, {1000.00f, 298.15f}},
    {"PTC 1000/25 at 100 C", Tables::ptc_1000_25, {1695.96f, 373.15f}},
    {"PTC 2000/25 at 0 C", Tables::ptc_2000_25, {1629.73f, 273.15f}},
    {"PTC 2000/25 at 25 C", Tables::ptc_2000_25, {2000.00f, 298.15f}},
    {"PTC 2000/25 at 100 C", Tables::ptc_2000_25, {3391.92f, 373.15f}},
    {"PTC 1000/25/180 at 0 C", Tables::ptc_1000_25_180, {819.94f, 273.15f}},
    {"PTC 1000/25/180 at 25 C", Tables::ptc_1000_25_180, {1000.00f, 298.15f}},
    {"PTC 1000/25/180 at 100 C", Tables::ptc_1000_25_180, {1669.99f, 373.15f}},
    {"PTC 1000/100 at 0 C", Tables::ptc_1000_100, {498.00f, 273.15f}},
    {"PTC 1000/100 at 25 C", Tables::ptc_1000_100, {602.88f, 298.15f}},
    {"PTC 1000/100 at 100 C", Tables::ptc_1000_100, {1000.00f, 373.15f}},
    {"PTC 1000/100 at 300 C", Tables::ptc_1000_100, {2663.96f, 573.15f}},
};

TEST(SensorTables, TellingRows) {
  for (const Telling& t : telling) EXPECT_TRUE(has_row(t.table, t.row)) << t.what;
}

TEST(SensorTables, MergedRowsReplaceTheirRun) {
  // Type C: 488 and 489 C share one row at their mean.
  EXPECT_FALSE(row_near_kelvin(Tables::thermocouple_c, 761.15));
  EXPECT_FALSE(row_near_kelvin(Tables::thermocouple_c, 762.15));
  // Type B starts at the run around its minimum, 18 to 24 C.
  EXPECT_EQ(row(Tables::thermocouple_b, 1).y, 302.65f);
  EXPECT_FALSE(row_near_kelvin(Tables::thermocouple_b, 291.15));
}

// Types without a published reference function here, checked every 100
// degrees in whole microvolts.
struct Hundreds {
  const char* type;
  const Tables::Table& table;
  std::vector<int> microvolts;  // 100, 200, ... degrees Celsius
};

const Hundreds hundreds[] = {
    {"C", Tables::thermocouple_c, {1451,  3089,  4863,  6731,  8655,  10606, 12558, 14494, 16397, 18257, 20066, 21819,
                                   23514, 25148, 26722, 28236, 29688, 31078, 32404, 33660, 34839, 35932, 36922}},
    {"D", Tables::thermocouple_d, {1145,  2602,  4286,  6129,  8076,  10085, 12124, 14170, 16211, 18226, 20205, 22142,
                                   24033, 25875, 27666, 29403, 31084, 32702, 34247, 35707, 37062, 38289, 39356, 40223}},
    {"G", Tables::thermocouple_g, {334,   1036,  2055,  3339,  4844,  6529,  8357,  10296, 12315, 14389, 16493, 18607,
                                   20713, 22793, 24833, 26821, 28744, 30591, 32354, 34023, 35587, 37039, 38369}},
    {"M", Tables::thermocouple_m, {4091, 8777, 13663, 18181, 22703, 27574, 32769, 38228, 43884, 49680, 55574, 61537,
                                   67523, 73503}},
    {"P", Tables::thermocouple_p, {3300, 7115, 11281, 15667, 20158, 24663, 29101, 33406, 37556, 41529, 45308, 48887,
                                   52258}},
};

TEST(SensorTables, HundredsOfUnpublishedTypes) {
  for (const Hundreds& h : hundreds) {
    for (std::size_t i = 0; i < h.microvolts.size(); ++i) {
      const int celsius = 100 * static_cast<int>(i + 1);
      const auto found = row_near_kelvin(h.table, celsius + 273.15);
      ASSERT_TRUE(found) << h.type << " at " << celsius << " C";
      EXPECT_EQ(std::lround(found->x * 1e6), h.microvolts[i]) << h.type << " at " << celsius << " C";
    }
  }
}

}  // namespace
}  // namespace varnode
