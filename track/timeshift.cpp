#include "track/timeshift.h"

#include <optional>

TTimeZoneOptions TimeZoneOptions;
TTimeZoneInformation SystemZone;

namespace {

constexpr std::int64_t MinutesPerDay = 1440;

TDateTime FromMinutes(std::int64_t minutes) { return DateTimeFromMilliseconds(minutes * 60'000); }

// Any size is applied as it stands: a day or more can only come from a hand-edited zone
// text or zone record, and moving the time by it is harmless.
TDateTime AddMinutes(TDateTime value, std::int64_t minutes) {
  return minutes == 0 ? value : value + static_cast<double>(minutes) / MinutesPerDay;
}

std::int64_t ClockMinutes(const TSystemTime& t) { return t.wHour * 60LL + t.wMinute; }

// The instant of a weekday rule in `year`, in minutes of the local clock; nullopt for a
// month that does not exist. A week outside 1 to 5, or a weekday above 6 (which would
// never be found), leaves the change at 00:00 on the first of the month.
std::optional<std::int64_t> RuleInstant(const TSystemTime& rule, int year) {
  if (rule.wMonth < 1 || rule.wMonth > 12) return std::nullopt;
  const std::int64_t first = DayNumber(year, rule.wMonth, 1);
  std::int64_t day = first;
  if (rule.wDayOfWeek > 6 || rule.wDay < 1 || rule.wDay > 5) return first * MinutesPerDay;
  if (rule.wDay <= 4) {
    day += (rule.wDayOfWeek - WeekDay(first) + 7) % 7 + 7 * (rule.wDay - 1);
  } else {
    const std::int64_t last = first + DaysInMonth(year, rule.wMonth) - 1;
    day = last - (WeekDay(last) - rule.wDayOfWeek + 7) % 7;
  }
  return day * MinutesPerDay + ClockMinutes(rule);
}

// An absolute date of the rules, in minutes of the local clock; nullopt when it does not exist.
std::optional<std::int64_t> DateInstant(const TSystemTime& date) {
  if (!IsValidDate(date.wYear, date.wMonth, date.wDay)) return std::nullopt;
  return DayNumber(date.wYear, date.wMonth, date.wDay) * MinutesPerDay + ClockMinutes(date);
}

}  // namespace

int ZoneOffsetMinutes(std::string_view zoneText) {
  if (zoneText.size() < 5) return 0;
  int sign = 0;
  if (zoneText[4] == '+') sign = 1;
  else if (zoneText[4] == '-') sign = -1;
  else return 0;
  if (zoneText.size() < 11) return 0;
  return sign * (ReadFieldInteger(zoneText.substr(5, 2)).value_or(0) * 60 + ReadFieldInteger(zoneText.substr(8, 2)).value_or(0));
}

TDateTime ShiftMinutes(TDateTime value, int minutes) { return AddMinutes(value, minutes); }

bool IsDaylightTime(TDateTime utc, const TTimeZoneInformation& zone) {
  const TSystemTime& d = zone.DaylightDate;
  const TSystemTime& s = zone.StandardDate;
  if (d.wMonth == 0) return false;
  std::optional<std::int64_t> start, end;
  if (s.wYear != 0) {
    start = DateInstant(d);
    end = DateInstant(s);
  } else {
    const int year = DecodeDateTime(utc).Year;
    start = RuleInstant(d, year);
    end = RuleInstant(s, year);
  }
  if (!start || !end) return false;
  // The start is read on the standard clock and the end on the daylight clock: UTC = local + bias.
  const TDateTime startUtc =
      FromMinutes(*start + static_cast<std::int64_t>(zone.Bias) + zone.StandardBias);
  const TDateTime endUtc = FromMinutes(*end + static_cast<std::int64_t>(zone.Bias) + zone.DaylightBias);
  if (d.wMonth < s.wMonth) return startUtc <= utc && utc < endUtc;
  return utc < endUtc || utc >= startUtc;
}

TDateTime UtcToLocal(TDateTime utc, const TTimeZoneInformation& zone) {
  const std::int64_t bias = static_cast<std::int64_t>(zone.Bias) +
                            (IsDaylightTime(utc, zone) ? zone.DaylightBias : zone.StandardBias);
  return AddMinutes(utc, -bias);
}
