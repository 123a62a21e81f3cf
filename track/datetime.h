#pragma once
#include <string_view>

// Date-time value: days since 30 December 1899 00:00, the fraction being the
// time of day. A plain clock reading without zone; 0 means "no time".
using TDateTime = double;

// Reads a date-time from fixed character positions (GPX and EXIF forms alike);
// 0 when the text cannot be read. Never fails.
TDateTime ParseDateTimeText(std::string_view text);

// -1, 0 or +1; equal when the two differ by less than one millisecond.
int CompareTimes(TDateTime a, TDateTime b);

// Calendar helpers shared by the units that build or show date-time values.
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int millisecond = 0);
struct TDateTimeParts {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
};
TDateTimeParts DecodeDateTime(TDateTime value);
