#include <gtest/gtest.h>

#include <QDateTime>
#include <QTimeZone>
#include <ctime>

#include "platform/displaytext.h"

namespace {

struct TFormatCase {
  const char* Format;
  const char* Expected;
};

void PrintTo(const TFormatCase& c, std::ostream* os) { *os << c.Format; }

class TimeFormatWithoutZoneCases : public ::testing::TestWithParam<TFormatCase> {};

TEST_P(TimeFormatWithoutZoneCases, DropsTheZoneAndWhatOnlyFramedIt) {
  EXPECT_EQ(TimeFormatWithoutZone(QString::fromUtf8(GetParam().Format)).toStdString(), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, TimeFormatWithoutZoneCases,
    ::testing::Values(TFormatCase{"HH:mm:ss t", "HH:mm:ss"}, TFormatCase{"h:mm:ss AP t", "h:mm:ss AP"},
                      TFormatCase{"h:mm:ss AP, t", "h:mm:ss AP"}, TFormatCase{"HH:mm:ss (t)", "HH:mm:ss"},
                      TFormatCase{"APh:mm:ss [t]", "APh:mm:ss"}, TFormatCase{"t HH:mm:ss", "HH:mm:ss"},
                      TFormatCase{"'kl'. HH:mm:ss t", "'kl'. HH:mm:ss"},
                      TFormatCase{"'at' HH:mm tttt", "'at' HH:mm"}, TFormatCase{"H 'h' mm 'min' ss 's' t", "H 'h' mm 'min' ss 's'"},
                      TFormatCase{"HH:mm:ss", "HH:mm:ss"}, TFormatCase{"'it''s' h:mm t", "'it''s' h:mm"}));

TEST(DateTimeDisplayText, ShortDateThenLongTimeOfTheLocale) {
  const QDate date(2012, 3, 25);
  const QTime time(14, 5, 9);
  EXPECT_EQ(DateTimeDisplayText(date, time, QLocale(QStringLiteral("de_DE"))).toStdString(), "25.03.12 14:05:09");
  EXPECT_EQ(DateTimeDisplayText(date, time, QLocale(QStringLiteral("en_US"))).toStdString(), "3/25/12 2:05:09 PM");
  EXPECT_EQ(DateTimeDisplayText(date, time, QLocale(QStringLiteral("en_GB"))).toStdString(), "25/03/2012 14:05:09");
}

TEST(DateTimeDisplayText, MidnightShowsTheDateAlone) {
  const QLocale german(QStringLiteral("de_DE"));
  const QDate date(2012, 10, 28);
  EXPECT_EQ(DateTimeDisplayText(date, QTime(0, 0, 0), german).toStdString(), "28.10.12");
  EXPECT_EQ(DateTimeDisplayText(date, QTime(0, 0, 0, 999), german).toStdString(), "28.10.12");
  EXPECT_EQ(DateTimeDisplayText(date, QTime(0, 0, 1), german).toStdString(), "28.10.12 00:00:01");
  EXPECT_EQ(DateTimeDisplayText(date, QTime(0, 1, 0), german).toStdString(), "28.10.12 00:01:00");
}

// Shown times are clock readings without zone: no locale may add the
// computer's zone to them.
TEST(DateTimeDisplayText, NoLocaleShowsAZone) {
  qputenv("TZ", "Asia/Kolkata");
  tzset();
  const QString zone = QDateTime(QDate(2012, 3, 25), QTime(14, 5, 9)).timeZoneAbbreviation();
  ASSERT_FALSE(zone.isEmpty());
  for (const QLocale& locale : QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory)) {
    const QString text = DateTimeDisplayText(QDate(2012, 3, 25), QTime(14, 5, 9), locale);
    EXPECT_EQ(text.indexOf(zone), -1) << locale.name().toStdString() << ": " << text.toStdString();
    EXPECT_FALSE(text.endsWith(QLatin1Char(' '))) << locale.name().toStdString();
  }
}

}  // namespace
