#include "track/datetime.h"

#include <cmath>

namespace {

constexpr std::int64_t MSecsPerDay = 86'400'000;
// 1 January 1970 is day 25569 of the date-time scale.
constexpr std::int64_t UnixEpochDay = 25'569;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Characters `first` to `first + length - 1`, counted from 1, cut short at the end of the text.
std::string_view Field(std::string_view text, std::size_t first, std::size_t length) {
  return first - 1 < text.size() ? text.substr(first - 1, length) : std::string_view();
}

}  // namespace

std::optional<int> ReadFieldInteger(std::string_view field) {
  std::size_t i = 0;
  while (i < field.size() && field[i] == ' ') ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
  if (i == field.size() || field.size() - i > 9) return std::nullopt;
  int value = 0;
  for (; i < field.size(); ++i) {
    if (field[i] < '0' || field[i] > '9') return std::nullopt;
    value = value * 10 + (field[i] - '0');
  }
  return negative ? -value : value;
}

bool IsValidDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(year, month);
}

int DaysInMonth(int year, int month) {
  static constexpr int Days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  return Days[month - 1] + (month == 2 && leap ? 1 : 0);
}

std::int64_t DayNumber(std::int64_t year, int month, int day) {
  year -= month <= 2;
  const std::int64_t era = FloorDiv(year, 400);
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146'097 + dayOfEra - 719'468 + UnixEpochDay;
}

int WeekDay(std::int64_t dayNumber) {
  // Day 0, 30 December 1899, was a Saturday.
  return static_cast<int>(((dayNumber + 6) % 7 + 7) % 7);
}

TDateTime DateTimeFromMilliseconds(std::int64_t milliseconds) {
  return static_cast<double>(milliseconds) / static_cast<double>(MSecsPerDay);
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
  if (!IsValidDate(year, month, day) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59 || millisecond < 0 || millisecond > 999)
    return 0;
  const std::int64_t msOfDay = ((hour * 60LL + minute) * 60 + second) * 1000 + millisecond;
  return DateTimeFromMilliseconds(DayNumber(year, month, day) * MSecsPerDay + msOfDay);
}

TDateTimeParts DecodeDateTime(TDateTime value) {
  // Far beyond year 9999 either way: nothing sensible to show, and llround would overflow.
  if (!(std::fabs(value) < 1e9)) value = 0;
  const std::int64_t ms = std::llround(value * static_cast<double>(MSecsPerDay));
  const std::int64_t days = FloorDiv(ms, MSecsPerDay);
  std::int64_t msOfDay = ms - days * MSecsPerDay;

  // Civil date from a day count (proleptic Gregorian), days since 1 March of year 0.
  const std::int64_t z = days - UnixEpochDay + 719'468;
  const std::int64_t era = FloorDiv(z, 146'097);
  const std::int64_t dayOfEra = z - era * 146'097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  TDateTimeParts parts{};
  parts.Day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  parts.Month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  parts.Year = static_cast<int>(yearOfEra + era * 400 + (parts.Month <= 2));
  parts.Millisecond = static_cast<int>(msOfDay % 1000);
  msOfDay /= 1000;
  parts.Second = static_cast<int>(msOfDay % 60);
  msOfDay /= 60;
  parts.Minute = static_cast<int>(msOfDay % 60);
  parts.Hour = static_cast<int>(msOfDay / 60);
  return parts;
}

TDateTime ParseDateTimeText(std::string_view text) {
  if (text.empty()) return 0;
  const auto year = ReadFieldInteger(Field(text, 1, 4));
  const auto month = ReadFieldInteger(Field(text, 6, 2));
  const auto day = ReadFieldInteger(Field(text, 9, 2));
  const auto hour = ReadFieldInteger(Field(text, 12, 2));
  const auto minute = ReadFieldInteger(Field(text, 15, 2));
  const auto second = ReadFieldInteger(Field(text, 18, 2));
  if (!year || !month || !day || !hour || !minute || !second) return 0;
  return EncodeDateTime(*year, *month, *day, *hour, *minute, *second);
}

int CompareTimes(TDateTime a, TDateTime b) {
  constexpr double OneMillisecond = 1.0 / 86'400'000.0;
  if (std::fabs(a - b) < OneMillisecond) return 0;
  return a < b ? -1 : 1;
}
