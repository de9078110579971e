#include "device/date.hpp"

#include <algorithm>

namespace varnode {
namespace {

// Present-day dates are counted from 2000-01-01 rather than from year 0.
constexpr std::int64_t days_before_2000 = 730'485;
constexpr std::int64_t first_millisecond_of_2000 = days_before_2000 * Date::milliseconds_per_day;

// Lengths of the calendar's repeating blocks, each starting at a year
// divisible by its own length. A century or a 4-year block is one day
// longer when its first year is a leap year.
constexpr std::int64_t days_per_400_years = 146'097;
constexpr std::int64_t days_per_100_years = 36'524;
constexpr std::int64_t days_per_4_years = 1'461;

std::int64_t days_in_year(std::int64_t year) {
  return Date::is_leap_year(static_cast<std::uint32_t>(year)) ? 366 : 365;
}

// Leap years among the years 0 to year - 1.
std::int64_t leap_years_before(std::int64_t year) { return (year + 3) / 4 - (year + 99) / 100 + (year + 399) / 400; }

}  // namespace

bool Date::is_leap_year(std::uint32_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

unsigned Date::days_in_month(std::uint32_t year, unsigned month) {
  switch (month) {
    case 2:
      return is_leap_year(year) ? 29 : 28;
    case 4:
    case 6:
    case 9:
    case 11:
      return 30;
    case 1:
    case 3:
    case 5:
    case 7:
    case 8:
    case 10:
    case 12:
      return 31;
    default:
      return 0;
  }
}

Date& Date::from_milliseconds(std::int64_t count) {
  const std::int64_t clamped = std::clamp<std::int64_t>(count, 0, last_millisecond);
  millisecond = static_cast<std::uint16_t>(clamped % 1000);
  second = static_cast<std::uint8_t>(clamped / 1000 % 60);
  minute = static_cast<std::uint8_t>(clamped / 60'000 % 60);
  hour = static_cast<std::uint8_t>(clamped / 3'600'000 % 24);
  std::int64_t d = clamped / milliseconds_per_day;

  std::int64_t y = 0;
  if (count >= first_millisecond_of_2000) {
    y = 2000;
    d -= days_before_2000;
  }
  // y is divisible by 400 here, so whole 400-year blocks can be skipped, and
  // only the first century of the block and the first 4-year block of a
  // century can differ from the others.
  y += 400 * (d / days_per_400_years);
  d %= days_per_400_years;
  if (d >= days_per_100_years + 1) {
    d -= days_per_100_years + 1;
    y += 100 + 100 * (d / days_per_100_years);
    d %= days_per_100_years;
  }
  if (!is_leap_year(static_cast<std::uint32_t>(y)) && d >= days_per_4_years - 1) {
    d -= days_per_4_years - 1;
    y += 4;
  }
  y += 4 * (d / days_per_4_years);
  d %= days_per_4_years;
  while (d >= days_in_year(y)) {
    d -= days_in_year(y);
    ++y;
  }
  year = static_cast<std::uint16_t>(y);

  month = 1;
  while (d >= days_in_month(year, month)) {
    d -= days_in_month(year, month);
    ++month;
  }
  day = static_cast<std::uint8_t>(d + 1);
  return *this;
}

std::int64_t Date::to_milliseconds() const {
  const std::int64_t first_year = year >= 2000 ? 2000 : 0;
  std::int64_t days = first_year == 0 ? 0 : days_before_2000;
  days += 365 * (year - first_year) + leap_years_before(year) - leap_years_before(first_year);
  for (unsigned m = 1; m < month; ++m) days += days_in_month(year, m);
  days += day - 1;
  return ((days * 24 + hour) * 60 + minute) * 60'000 + second * 1000 + millisecond;
}

Date Date::from_days(std::uint32_t days) { return Date{}.from_milliseconds(std::int64_t{days} * milliseconds_per_day); }

std::uint32_t Date::days() const { return static_cast<std::uint32_t>(to_milliseconds() / milliseconds_per_day); }

}  // namespace varnode
