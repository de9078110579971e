#pragma once
// Calendar date and time of day to the millisecond in the proleptic
// Gregorian calendar with a year 0, counted from 0000-01-01 00:00:00.000.

#include <cstdint>

namespace varnode {

struct Date {
  static constexpr std::int64_t milliseconds_per_day = 86'400'000;
  // 65535-12-31 23:59:59.999 and its day: the last a Date can hold.
  static constexpr std::int64_t last_millisecond = 2'068'116'364'799'999;
  static constexpr std::uint32_t last_day = 23'936'531;

  std::uint8_t day = 1;
  std::uint8_t hour = 0;
  std::uint8_t minute = 0;
  std::uint8_t month = 1;
  std::uint8_t second = 0;
  std::uint16_t millisecond = 0;
  std::uint16_t year = 0;

  // A count outside 0 to last_millisecond is clamped to the nearer end.
  Date& from_milliseconds(std::int64_t count);
  std::int64_t to_milliseconds() const;

  // Modules exchange dates as whole days since 0000-01-01.
  static Date from_days(std::uint32_t days);
  std::uint32_t days() const;

  static bool is_leap_year(std::uint32_t year);
  // 0 for a month outside 1 to 12.
  static unsigned days_in_month(std::uint32_t year, unsigned month);

  friend bool operator==(const Date&, const Date&) = default;
};

}  // namespace varnode
