#include <QDateTime>
#include <QTimeZone>
#include <optional>

#include "track/timeshift.h"

namespace {

// A change as the weekday rule of the record: the local clock reading just before it.
TSystemTime RuleOfChange(const QTimeZone& zone, const QDateTime& atUtc) {
  const int offsetBefore = zone.offsetFromUtc(atUtc.addSecs(-1));
  const QDateTime local = atUtc.addSecs(offsetBefore);
  const QDate date = local.date();
  TSystemTime rule;
  rule.wMonth = static_cast<std::uint16_t>(date.month());
  rule.wDayOfWeek = static_cast<std::uint16_t>(date.dayOfWeek() % 7);
  // A change in the last seven days of its month is taken as "the last", which is how such
  // rules are written; earlier ones count the occurrence.
  rule.wDay = static_cast<std::uint16_t>(date.day() + 7 > date.daysInMonth() ? 5 : (date.day() - 1) / 7 + 1);
  rule.wHour = static_cast<std::uint16_t>(local.time().hour());
  rule.wMinute = static_cast<std::uint16_t>(local.time().minute());
  return rule;
}

}  // namespace

TTimeZoneInformation SystemZoneRules() {
  TTimeZoneInformation info;
  // Qt reads TZ on every call and falls back to /etc/localtime.
  const QTimeZone zone = QTimeZone::systemTimeZone();
  if (!zone.isValid()) return info;

  const QDateTime now = QDateTime::currentDateTimeUtc();
  const int year = now.date().year();
  const QDateTime yearStart(QDate(year, 1, 1), QTime(0, 0), Qt::UTC);
  const QDateTime yearEnd(QDate(year + 1, 1, 1), QTime(0, 0), Qt::UTC);

  // The year's changes into and out of daylight saving time; a zone may also
  // change its standard offset, which is not a daylight saving change.
  std::optional<QTimeZone::OffsetData> into, outOf;
  for (const QTimeZone::OffsetData& change : zone.transitions(yearStart, yearEnd)) {
    const bool daylightBefore = zone.daylightTimeOffset(change.atUtc.addSecs(-1)) != 0;
    const bool daylightAfter = change.daylightTimeOffset != 0;
    if (!daylightBefore && daylightAfter && !into) into = change;
    if (daylightBefore && !daylightAfter && !outOf) outOf = change;
  }

  if (into && outOf) {
    info.Bias = -outOf->standardTimeOffset / 60;
    info.DaylightBias = -into->daylightTimeOffset / 60;
    info.DaylightDate = RuleOfChange(zone, into->atUtc);
    info.StandardDate = RuleOfChange(zone, outOf->atUtc);
  } else {
    info.Bias = -zone.offsetFromUtc(now) / 60;
  }
  return info;
}

void CaptureSystemZone() { SystemZone = SystemZoneRules(); }
