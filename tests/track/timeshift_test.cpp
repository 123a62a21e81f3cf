#include <gtest/gtest.h>

#include <limits>
#include <tuple>

#include "track/timeshift.h"

namespace {

TSystemTime Rule(int month, int week, int weekDay, int hour, int minute = 0, int year = 0) {
  TSystemTime t;
  t.wYear = static_cast<std::uint16_t>(year);
  t.wMonth = static_cast<std::uint16_t>(month);
  t.wDay = static_cast<std::uint16_t>(week);
  t.wDayOfWeek = static_cast<std::uint16_t>(weekDay);
  t.wHour = static_cast<std::uint16_t>(hour);
  t.wMinute = static_cast<std::uint16_t>(minute);
  return t;
}

TTimeZoneInformation Zone(int bias, TSystemTime daylight, TSystemTime standard, int daylightBias = -60) {
  TTimeZoneInformation zone;
  zone.Bias = bias;
  zone.DaylightBias = daylightBias;
  zone.DaylightDate = daylight;
  zone.StandardDate = standard;
  return zone;
}

const TTimeZoneInformation CentralEurope = Zone(-60, Rule(3, 5, 0, 2), Rule(10, 5, 0, 3));
const TTimeZoneInformation Sydney = Zone(-600, Rule(10, 1, 0, 2), Rule(4, 1, 0, 3));
const TTimeZoneInformation NewYork = Zone(300, Rule(3, 2, 0, 2), Rule(11, 1, 0, 2));

struct TZoneTextCase {
  const char* Text;
  int Minutes;
};

class ZoneOffsetMinutesTest : public testing::TestWithParam<TZoneTextCase> {};

TEST_P(ZoneOffsetMinutesTest, ReadsFixedPositions) {
  EXPECT_EQ(ZoneOffsetMinutes(GetParam().Text), GetParam().Minutes);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ZoneOffsetMinutesTest,
    testing::Values(TZoneTextCase{"(GMT+05:30) Chennai, Kolkata, Mumbai, New Delhi", 330},
                    TZoneTextCase{"(GMT-03:30) Newfoundland", -210}, TZoneTextCase{"(UTC+01:00) Europe/Berlin", 60},
                    TZoneTextCase{"(UTC+14:00) Pacific/Kiritimati", 840}, TZoneTextCase{"(UTC-12:00)", -720},
                    TZoneTextCase{"(GMT) Greenwich Mean Time : Dublin", 0}, TZoneTextCase{"", 0},
                    TZoneTextCase{"(GMT+05", 0}, TZoneTextCase{"(GMT+05:30", 0},
                    TZoneTextCase{"(GMT+ab:30)", 30}, TZoneTextCase{"(GMT+1a:30)", 30},
                    TZoneTextCase{"(GMT+ 5:30)", 330}, TZoneTextCase{"(GMT*05:30)", 0},
                    TZoneTextCase{"(GMT+99:99) hand-edited", 6039}));

TEST(ShiftMinutes, AddsAndSubtractsWholeMinutes) {
  const TDateTime ten = EncodeDateTime(2012, 6, 1, 10);
  struct {
    int Minutes;
    TDateTime Expected;
  } const cases[] = {{120, EncodeDateTime(2012, 6, 1, 12)},     {-240, EncodeDateTime(2012, 6, 1, 6)},
                     {0, ten},                                   {840, EncodeDateTime(2012, 6, 2, 0)},
                     {-601, EncodeDateTime(2012, 5, 31, 23, 59)}, {1439, EncodeDateTime(2012, 6, 2, 9, 59)},
                     // A day or more, only possible from a hand-edited zone, moves the date too.
                     {1500, EncodeDateTime(2012, 6, 2, 11)},     {-6039, EncodeDateTime(2012, 5, 28, 5, 21)}};
  for (const auto& c : cases)
    EXPECT_EQ(CompareTimes(ShiftMinutes(ten, c.Minutes), c.Expected), 0) << c.Minutes;
  EXPECT_EQ(ShiftMinutes(ten, 0), ten);
}

struct TDaylightCase {
  const char* Name;
  const TTimeZoneInformation* Zone;
  TDateTime Utc;
  bool Daylight;
};

class IsDaylightTimeTest : public testing::TestWithParam<TDaylightCase> {};

TEST_P(IsDaylightTimeTest, ComparesInUtc) {
  EXPECT_EQ(IsDaylightTime(GetParam().Utc, *GetParam().Zone), GetParam().Daylight);
}

const TTimeZoneInformation NoDaylight = Zone(-330, {}, {});
// Equal months, the start after the end: daylight time except between the two.
const TTimeZoneInformation EqualMonths = Zone(-60, Rule(5, 3, 0, 2), Rule(5, 1, 0, 3));
const TTimeZoneInformation NorthAbsolute = Zone(-60, Rule(3, 25, 0, 2, 0, 2012), Rule(10, 28, 0, 3, 0, 2012));
const TTimeZoneInformation SouthAbsolute = Zone(-600, Rule(10, 7, 0, 2, 0, 2012), Rule(4, 1, 0, 3, 0, 2012));
const TTimeZoneInformation WeekZero = Zone(-60, Rule(3, 0, 0, 2), Rule(10, 5, 0, 3));
const TTimeZoneInformation WeekSix = Zone(-60, Rule(3, 6, 0, 2), Rule(10, 5, 0, 3));
const TTimeZoneInformation WeekDaySeven = Zone(-60, Rule(3, 5, 7, 2), Rule(10, 5, 0, 3));
const TTimeZoneInformation WeekDayMax = Zone(-60, Rule(3, 2, 65535, 2), Rule(10, 5, 0, 3));
const TTimeZoneInformation NoEndMonth = Zone(-60, Rule(3, 5, 0, 2), Rule(0, 5, 0, 3));
const TTimeZoneInformation MonthThirteen = Zone(-60, Rule(13, 5, 0, 2), Rule(10, 5, 0, 3));
const TTimeZoneInformation InvalidAbsolute = Zone(-60, Rule(2, 30, 0, 2, 0, 2012), Rule(10, 28, 0, 3, 0, 2012));

INSTANTIATE_TEST_SUITE_P(
    Cases, IsDaylightTimeTest,
    testing::Values(
        // Central Europe 2012: starts 25 March 01:00 UTC, ends 28 October 01:00 UTC.
        TDaylightCase{"CetMarch0059", &CentralEurope, EncodeDateTime(2012, 3, 25, 0, 59), false},
        TDaylightCase{"CetMarch0100", &CentralEurope, EncodeDateTime(2012, 3, 25, 1, 0), true},
        TDaylightCase{"CetMarch0159", &CentralEurope, EncodeDateTime(2012, 3, 25, 1, 59), true},
        TDaylightCase{"CetOctober0059", &CentralEurope, EncodeDateTime(2012, 10, 28, 0, 59), true},
        TDaylightCase{"CetOctober0100", &CentralEurope, EncodeDateTime(2012, 10, 28, 1, 0), false},
        TDaylightCase{"CetOctober0259", &CentralEurope, EncodeDateTime(2012, 10, 28, 2, 59), false},
        TDaylightCase{"CetJuly", &CentralEurope, EncodeDateTime(2012, 7, 1, 10), true},
        TDaylightCase{"CetJanuary", &CentralEurope, EncodeDateTime(2012, 1, 15, 10), false},
        // 2013 has other dates: 31 March and 27 October.
        TDaylightCase{"Cet2013March30", &CentralEurope, EncodeDateTime(2013, 3, 31, 0, 59), false},
        TDaylightCase{"Cet2013March31", &CentralEurope, EncodeDateTime(2013, 3, 31, 1, 0), true},
        TDaylightCase{"Cet2013October", &CentralEurope, EncodeDateTime(2013, 10, 27, 1, 0), false},
        // New York 2012: 11 March 07:00 UTC, 4 November 06:00 UTC.
        TDaylightCase{"NyMarchBefore", &NewYork, EncodeDateTime(2012, 3, 11, 6, 59), false},
        TDaylightCase{"NyMarchAt", &NewYork, EncodeDateTime(2012, 3, 11, 7, 0), true},
        TDaylightCase{"NyNovemberBefore", &NewYork, EncodeDateTime(2012, 11, 4, 5, 59), true},
        TDaylightCase{"NyNovemberAt", &NewYork, EncodeDateTime(2012, 11, 4, 6, 0), false},
        // Sydney 2012: ends 31 March 16:00 UTC, starts 6 October 16:00 UTC.
        TDaylightCase{"SydneyAprilBefore", &Sydney, EncodeDateTime(2012, 3, 31, 15, 59), true},
        TDaylightCase{"SydneyAprilAt", &Sydney, EncodeDateTime(2012, 3, 31, 16, 0), false},
        TDaylightCase{"SydneyOctoberBefore", &Sydney, EncodeDateTime(2012, 10, 6, 15, 59), false},
        TDaylightCase{"SydneyOctoberAt", &Sydney, EncodeDateTime(2012, 10, 6, 16, 0), true},
        TDaylightCase{"SydneyDecember", &Sydney, EncodeDateTime(2012, 12, 20, 12), true},
        TDaylightCase{"SydneyFebruary", &Sydney, EncodeDateTime(2012, 2, 10, 12), true},
        TDaylightCase{"SydneyJune", &Sydney, EncodeDateTime(2012, 6, 10, 12), false},
        TDaylightCase{"NoDaylight", &NoDaylight, EncodeDateTime(2012, 7, 1), false},
        // May 2012: end 6 May 01:00 UTC, start 20 May 01:00 UTC.
        TDaylightCase{"EqualMonthsBeforeEnd", &EqualMonths, EncodeDateTime(2012, 5, 6, 0, 59), true},
        TDaylightCase{"EqualMonthsAtEnd", &EqualMonths, EncodeDateTime(2012, 5, 6, 1, 0), false},
        TDaylightCase{"EqualMonthsBetween", &EqualMonths, EncodeDateTime(2012, 5, 12), false},
        TDaylightCase{"EqualMonthsFromStart", &EqualMonths, EncodeDateTime(2012, 5, 20, 1, 0), true},
        TDaylightCase{"EqualMonthsJanuary", &EqualMonths, EncodeDateTime(2012, 1, 1), true},
        TDaylightCase{"AbsoluteNorthIn", &NorthAbsolute, EncodeDateTime(2012, 7, 1), true},
        TDaylightCase{"AbsoluteNorthStart", &NorthAbsolute, EncodeDateTime(2012, 3, 25, 1, 0), true},
        TDaylightCase{"AbsoluteNorthBeforeStart", &NorthAbsolute, EncodeDateTime(2012, 3, 25, 0, 59), false},
        TDaylightCase{"AbsoluteNorthOtherYear", &NorthAbsolute, EncodeDateTime(2013, 7, 1), false},
        TDaylightCase{"AbsoluteSouthEarlierYear", &SouthAbsolute, EncodeDateTime(2011, 7, 1), true},
        TDaylightCase{"AbsoluteSouthLaterYear", &SouthAbsolute, EncodeDateTime(2013, 7, 1), true},
        TDaylightCase{"AbsoluteSouthWinter", &SouthAbsolute, EncodeDateTime(2012, 7, 1), false},
        // Week 0 or 6: 1 March 00:00 local, 29 February 23:00 UTC.
        TDaylightCase{"WeekZeroBefore", &WeekZero, EncodeDateTime(2012, 2, 29, 22, 59), false},
        TDaylightCase{"WeekZeroAt", &WeekZero, EncodeDateTime(2012, 2, 29, 23, 0), true},
        TDaylightCase{"WeekSixBefore", &WeekSix, EncodeDateTime(2012, 2, 29, 22, 59), false},
        TDaylightCase{"WeekSixAt", &WeekSix, EncodeDateTime(2012, 2, 29, 23, 0), true},
        // A weekday that does not exist is never searched for: the first of the month, like week 0.
        TDaylightCase{"WeekDaySevenBefore", &WeekDaySeven, EncodeDateTime(2012, 2, 29, 22, 59), false},
        TDaylightCase{"WeekDaySevenAt", &WeekDaySeven, EncodeDateTime(2012, 2, 29, 23, 0), true},
        TDaylightCase{"WeekDayMaxAt", &WeekDayMax, EncodeDateTime(2012, 2, 29, 23, 0), true},
        // Rules naming a month or date that does not exist give no daylight time.
        TDaylightCase{"NoEndMonth", &NoEndMonth, EncodeDateTime(2012, 7, 1), false},
        TDaylightCase{"MonthThirteen", &MonthThirteen, EncodeDateTime(2012, 7, 1), false},
        TDaylightCase{"InvalidAbsolute", &InvalidAbsolute, EncodeDateTime(2012, 7, 1), false}),
    [](const testing::TestParamInfo<TDaylightCase>& info) { return std::string(info.param.Name); });

struct TLocalCase {
  const TTimeZoneInformation* Zone;
  TDateTime Utc;
  TDateTime Local;
};

TEST(UtcToLocal, ShiftsByTheBiasOfTheMoment) {
  const TTimeZoneInformation offStandard = [] {
    TTimeZoneInformation zone = NoDaylight;
    zone.StandardBias = -30;
    return zone;
  }();
  const TLocalCase cases[] = {
      {&CentralEurope, EncodeDateTime(2012, 7, 1, 10), EncodeDateTime(2012, 7, 1, 12)},
      {&CentralEurope, EncodeDateTime(2012, 1, 15, 10), EncodeDateTime(2012, 1, 15, 11)},
      {&CentralEurope, EncodeDateTime(2012, 3, 25, 0, 59), EncodeDateTime(2012, 3, 25, 1, 59)},
      {&CentralEurope, EncodeDateTime(2012, 3, 25, 1, 0), EncodeDateTime(2012, 3, 25, 3, 0)},
      {&CentralEurope, EncodeDateTime(2012, 10, 28, 0, 59), EncodeDateTime(2012, 10, 28, 2, 59)},
      {&CentralEurope, EncodeDateTime(2012, 10, 28, 1, 0), EncodeDateTime(2012, 10, 28, 2, 0)},
      {&Sydney, EncodeDateTime(2012, 3, 31, 15, 59), EncodeDateTime(2012, 4, 1, 2, 59)},
      {&Sydney, EncodeDateTime(2012, 3, 31, 16, 0), EncodeDateTime(2012, 4, 1, 2, 0)},
      {&Sydney, EncodeDateTime(2012, 10, 6, 15, 59), EncodeDateTime(2012, 10, 7, 1, 59)},
      {&Sydney, EncodeDateTime(2012, 10, 6, 16, 0), EncodeDateTime(2012, 10, 7, 3, 0)},
      {&NewYork, EncodeDateTime(2012, 7, 1, 10), EncodeDateTime(2012, 7, 1, 6)},
      {&NoDaylight, EncodeDateTime(2012, 7, 1, 10), EncodeDateTime(2012, 7, 1, 15, 30)},
      {&offStandard, EncodeDateTime(2012, 7, 1, 10), EncodeDateTime(2012, 7, 1, 16)},
  };
  for (const TLocalCase& c : cases) {
    const TDateTimeParts got = DecodeDateTime(UtcToLocal(c.Utc, *c.Zone));
    const TDateTimeParts want = DecodeDateTime(c.Local);
    EXPECT_EQ(std::tie(got.Year, got.Month, got.Day, got.Hour, got.Minute, got.Second),
              std::tie(want.Year, want.Month, want.Day, want.Hour, want.Minute, want.Second))
        << want.Year << "-" << want.Month << "-" << want.Day << " " << want.Hour << ":" << want.Minute;
  }
}

TEST(UtcToLocal, EmptyZoneLeavesTheValue) {
  const TDateTime value = EncodeDateTime(2012, 7, 1, 10, 11, 12);
  EXPECT_EQ(UtcToLocal(value, TTimeZoneInformation{}), value);
}

TEST(UtcToLocal, ExtremeBiasesDoNotOverflow) {
  TTimeZoneInformation zone = CentralEurope;
  zone.Bias = std::numeric_limits<std::int32_t>::min();
  zone.DaylightBias = std::numeric_limits<std::int32_t>::min();
  zone.StandardBias = std::numeric_limits<std::int32_t>::min();
  const TDateTime value = EncodeDateTime(2012, 7, 1, 10);
  EXPECT_GT(UtcToLocal(value, zone), value);
}

}  // namespace
