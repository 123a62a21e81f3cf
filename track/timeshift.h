#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "track/datetime.h"

struct TSystemTime {
  std::uint16_t wYear = 0, wMonth = 0, wDayOfWeek = 0, wDay = 0, wHour = 0, wMinute = 0,
                wSecond = 0, wMilliseconds = 0;
};

// The computer's zone rules in the classic bias form: UTC = local + Bias.
struct TTimeZoneInformation {
  std::int32_t Bias = 0;
  std::int32_t StandardBias = 0;
  std::int32_t DaylightBias = 0;
  TSystemTime StandardDate;  // when daylight saving time ends (local clock)
  TSystemTime DaylightDate;  // when it starts; wMonth 0 = no daylight saving time
};

// Time zone options: written by the time zone dialog, read by the GPX reader.
struct TTimeZoneOptions {
  bool LocalTime = true;
  std::string SelectedZone;
  bool UseDst = false;
};
extern TTimeZoneOptions TimeZoneOptions;

// Captured once at start-up by CaptureSystemZone(); all zero until then.
extern TTimeZoneInformation SystemZone;

// Builds the record from the system zone's current rules (TZ, /etc/localtime): this year's
// changes as weekday rules (week 5 for a change in the last seven days of its month);
// DaylightDate.wMonth 0 for a zone without daylight saving time; all zero for an unknown zone.
TTimeZoneInformation SystemZoneRules();
// SystemZone = SystemZoneRules(); called once at start-up (and by tests after setting TZ).
void CaptureSystemZone();

int ZoneOffsetMinutes(std::string_view zoneText);
// value shifted by m minutes (added when m > 0); a day or more is applied as it stands.
TDateTime ShiftMinutes(TDateTime value, int minutes);
// Compares in UTC: the start read on the standard clock, the end on the daylight clock.
// A weekday above 6 or a week outside 1 to 5 puts that change at 00:00 on the first of its
// month; a month or date that does not exist means no daylight saving time.
bool IsDaylightTime(TDateTime utc, const TTimeZoneInformation& zone);
TDateTime UtcToLocal(TDateTime utc, const TTimeZoneInformation& zone);
inline bool IsDaylightTime(TDateTime utc) { return IsDaylightTime(utc, SystemZone); }
inline TDateTime UtcToLocal(TDateTime utc) { return UtcToLocal(utc, SystemZone); }
