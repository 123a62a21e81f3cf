#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

// Date-time value: days since 30 December 1899 00:00, the fraction being the
// time of day. A plain clock reading without zone; 0 means "no time".
using TDateTime = double;

// Reads a date-time from fixed character positions (GPX and EXIF forms alike);
// 0 when the text cannot be read. Never fails.
TDateTime ParseDateTimeText(std::string_view text);

// -1, 0 or +1; equal when the two differ by less than one millisecond.
int CompareTimes(TDateTime a, TDateTime b);

// A field read at fixed positions as a whole number: leading blanks and a sign are
// allowed, nothing else; nullopt for an empty field, other characters or more than 9 digits.
std::optional<int> ReadFieldInteger(std::string_view field);

// Calendar helpers shared by the units that build or show date-time values.
// EncodeDateTime gives 0 for a date or time that does not exist (years 1 to 9999).
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int millisecond = 0);
struct TDateTimeParts {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
};
// Rounded to the millisecond; values before 1899 count backwards continuously.
TDateTimeParts DecodeDateTime(TDateTime value);

bool IsValidDate(int year, int month, int day);
int DaysInMonth(int year, int month);
// Days since 30 December 1899 of a proleptic Gregorian date (month and day need not be valid).
std::int64_t DayNumber(std::int64_t year, int month, int day);
// 0 = Sunday to 6 = Saturday.
int WeekDay(std::int64_t dayNumber);
// Whole milliseconds since 30 December 1899 as a date-time value; the one rounding step
// every exact instant goes through, so equal instants compare equal.
TDateTime DateTimeFromMilliseconds(std::int64_t milliseconds);
