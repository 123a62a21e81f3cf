#include <gtest/gtest.h>

#include <QDateTime>
#include <QTimeZone>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "track/timeshift.h"

namespace {

// Sets TZ for the process while it lives.
class TZoneVariable {
 public:
  explicit TZoneVariable(const char* zone) {
    if (const char* old = std::getenv("TZ")) FOld = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~TZoneVariable() {
    if (FOld) ::setenv("TZ", FOld->c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }
  TZoneVariable(const TZoneVariable&) = delete;
  TZoneVariable& operator=(const TZoneVariable&) = delete;

 private:
  std::optional<std::string> FOld;
};

// A test name from a zone id.
std::string NameOf(std::string zone) {
  for (char& c : zone)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return zone;
}

auto Fields(const TSystemTime& t) { return std::make_tuple(t.wMonth, t.wDay, t.wDayOfWeek, t.wHour, t.wMinute); }

struct TRecordCase {
  const char* Zone;
  int Bias, DaylightBias;
  std::tuple<int, int, int, int, int> Daylight, Standard;  // month, week, weekday, hour, minute
};

class SystemZoneRulesTest : public testing::TestWithParam<TRecordCase> {};

TEST_P(SystemZoneRulesTest, FillsTheRecordFromTz) {
  const TRecordCase& c = GetParam();
  const TZoneVariable tz(c.Zone);
  CaptureSystemZone();
  const TTimeZoneInformation zone = SystemZone;
  SystemZone = {};
  EXPECT_EQ(zone.Bias, c.Bias);
  EXPECT_EQ(zone.StandardBias, 0);
  EXPECT_EQ(zone.DaylightBias, c.DaylightBias);
  EXPECT_EQ(zone.StandardDate.wYear, 0);
  const auto [dm, dw, dd, dh, dmin] = Fields(zone.DaylightDate);
  const auto [sm, sw, sd, sh, smin] = Fields(zone.StandardDate);
  EXPECT_EQ(std::make_tuple(int(dm), int(dw), int(dd), int(dh), int(dmin)), c.Daylight);
  EXPECT_EQ(std::make_tuple(int(sm), int(sw), int(sd), int(sh), int(smin)), c.Standard);
}

INSTANTIATE_TEST_SUITE_P(
    Zones, SystemZoneRulesTest,
    testing::Values(TRecordCase{"Europe/Berlin", -60, -60, {3, 5, 0, 2, 0}, {10, 5, 0, 3, 0}},
                    TRecordCase{"America/New_York", 300, -60, {3, 2, 0, 2, 0}, {11, 1, 0, 2, 0}},
                    TRecordCase{"Australia/Sydney", -600, -60, {10, 1, 0, 2, 0}, {4, 1, 0, 3, 0}},
                    TRecordCase{"Asia/Kolkata", -330, 0, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}},
                    TRecordCase{"UTC", 0, 0, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}},
                    TRecordCase{"CET-1CEST,M3.5.0,M10.5.0/3", -60, -60, {3, 5, 0, 2, 0}, {10, 5, 0, 3, 0}}),
    [](const testing::TestParamInfo<TRecordCase>& info) { return NameOf(info.param.Zone); });

TEST(SystemZoneRules, UnknownZoneLeavesTheRecordEmpty) {
  const TZoneVariable tz("Nowhere/Atlantis");
  const TTimeZoneInformation zone = SystemZoneRules();
  EXPECT_EQ(zone.Bias, 0);
  EXPECT_EQ(zone.DaylightDate.wMonth, 0);
}

TEST(SystemZoneRules, SeesTzChangedWhileRunning) {
  TTimeZoneInformation first, second;
  {
    const TZoneVariable tz("Asia/Kolkata");
    first = SystemZoneRules();
  }
  {
    const TZoneVariable tz("America/New_York");
    second = SystemZoneRules();
  }
  EXPECT_EQ(first.Bias, -330);
  EXPECT_EQ(second.Bias, 300);
}

TDateTime FromQt(const QDateTime& t) {
  const QDate d = t.date();
  const QTime c = t.time();
  return EncodeDateTime(d.year(), d.month(), d.day(), c.hour(), c.minute(), c.second());
}

// UtcToLocal by the captured rules agrees with the system zone's own conversion over the
// whole current year, the minutes on both sides of every change included.
class LocalTimeAgreesTest : public testing::TestWithParam<const char*> {};

TEST_P(LocalTimeAgreesTest, EveryHourAndEveryChange) {
  const TZoneVariable tz(GetParam());
  const TTimeZoneInformation rules = SystemZoneRules();
  const QTimeZone zone{QByteArray(GetParam())};
  ASSERT_TRUE(zone.isValid());
  const int year = QDateTime::currentDateTimeUtc().date().year();
  const QDateTime start(QDate(year, 1, 1), QTime(0, 0), Qt::UTC);
  const QDateTime end(QDate(year + 1, 1, 1), QTime(0, 0), Qt::UTC);

  std::vector<QDateTime> moments;
  for (QDateTime t = start; t < end; t = t.addSecs(3600)) moments.push_back(t);
  for (const QTimeZone::OffsetData& change : zone.transitions(start, end))
    for (int seconds : {-61, -60, -1, 0, 1, 60})
      moments.push_back(change.atUtc.addSecs(seconds));

  int mismatches = 0;
  for (const QDateTime& utc : moments) {
    const QDateTime expected = utc.addSecs(zone.offsetFromUtc(utc));
    const TDateTime got = UtcToLocal(FromQt(utc), rules);
    if (CompareTimes(got, FromQt(expected)) != 0 && ++mismatches <= 5)
      ADD_FAILURE() << GetParam() << " at " << utc.toString(Qt::ISODate).toStdString();
  }
  EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(Zones, LocalTimeAgreesTest,
                         testing::Values("Europe/Berlin", "America/New_York", "Australia/Sydney", "Asia/Kolkata",
                                         "UTC", "Europe/Dublin", "America/Sao_Paulo", "Pacific/Auckland"),
                         [](const testing::TestParamInfo<const char*>& info) { return NameOf(info.param); });

}  // namespace
