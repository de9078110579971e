#include <gtest/gtest.h>

#include "device/date.hpp"

namespace varnode {
namespace {

struct Calendar {
  std::uint32_t days;
  std::uint16_t year;
  std::uint8_t month;
  std::uint8_t day;
};

class DayCount : public testing::TestWithParam<Calendar> {};

TEST_P(DayCount, ConvertsBothWays) {
  const Calendar c = GetParam();
  const Date date = Date::from_days(c.days);
  EXPECT_EQ(date.year, c.year);
  EXPECT_EQ(date.month, c.month);
  EXPECT_EQ(date.day, c.day);
  Date built;
  built.year = c.year;
  built.month = c.month;
  built.day = c.day;
  EXPECT_EQ(built.days(), c.days);
}

INSTANTIATE_TEST_SUITE_P(
    Landmarks, DayCount,
    testing::Values(Calendar{0, 0, 1, 1}, Calendar{59, 0, 2, 29}, Calendar{365, 0, 12, 31}, Calendar{366, 1, 1, 1},
                    Calendar{730484, 1999, 12, 31}, Calendar{730485, 2000, 1, 1}, Calendar{730544, 2000, 2, 29},
                    Calendar{739110, 2023, 8, 13}, Calendar{767068, 2100, 2, 28}, Calendar{767069, 2100, 3, 1},
                    Calendar{876641, 2400, 2, 29}, Calendar{3652424, 9999, 12, 31},
                    Calendar{Date::last_day, 65535, 12, 31}));

TEST(Date, EveryDayRoundTripsAndFollowsTheDayBefore) {
  // A failure reports the first bad day only, so the loop stays tight.
  std::int64_t first_bad = -1;
  Date before = Date::from_days(0);
  for (std::uint32_t d = 1; d <= Date::last_day && first_bad < 0; ++d) {
    const Date date = Date::from_days(d);
    const bool same_month = date.year == before.year && date.month == before.month && date.day == before.day + 1;
    const bool next_month = date.day == 1 && before.day == Date::days_in_month(before.year, before.month) &&
                            ((date.year == before.year && date.month == before.month + 1) ||
                             (date.year == before.year + 1 && date.month == 1 && before.month == 12));
    if (date.days() != d || !(same_month || next_month)) first_bad = d;
    before = date;
  }
  EXPECT_EQ(first_bad, -1);
}

TEST(Date, MillisecondsCarryTheTimeOfDayAndAreClamped) {
  Date date;
  date.from_milliseconds(63'113'904'000'000 + 45'296'789);  // 2000-01-01 12:34:56.789
  EXPECT_EQ(date.year, 2000);
  EXPECT_EQ(date.hour, 12);
  EXPECT_EQ(date.minute, 34);
  EXPECT_EQ(date.second, 56);
  EXPECT_EQ(date.millisecond, 789);
  EXPECT_EQ(date.to_milliseconds(), 63'113'904'000'000 + 45'296'789);

  EXPECT_EQ(Date().from_milliseconds(-1), Date());
  EXPECT_EQ(Date().from_milliseconds(Date::last_millisecond + 1).to_milliseconds(), Date::last_millisecond);
  EXPECT_EQ(Date::from_days(0xFFFFFFFF).days(), Date::last_day);
  EXPECT_EQ(Date::from_days(Date::last_day + 1).days(), Date::last_day);
}

}  // namespace
}  // namespace varnode
