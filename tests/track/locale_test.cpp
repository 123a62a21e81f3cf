#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <locale>
#include <string>

#include "track/gpxreader.h"
#include "track/position.h"

namespace {

// Switches the C and C++ locales for the process while it lives.
class TProcessLocale {
 public:
  explicit TProcessLocale(const char* name) : FOldCpp(std::locale()) {
    FOldC = std::setlocale(LC_ALL, nullptr);
    FActive = std::setlocale(LC_ALL, name) != nullptr;
    if (FActive) std::locale::global(std::locale(name));
  }
  ~TProcessLocale() {
    std::setlocale(LC_ALL, FOldC.c_str());
    std::locale::global(FOldCpp);
  }
  TProcessLocale(const TProcessLocale&) = delete;
  TProcessLocale& operator=(const TProcessLocale&) = delete;
  bool Active() const { return FActive; }

 private:
  std::string FOldC;
  std::locale FOldCpp;
  bool FActive = false;
};

struct TTexts {
  std::string Latitude, Longitude, Xmp, DmsParts;
  double Decimal;
  TDateTime Time;
  std::string Found;
};

TTexts MakeTexts() {
  TTexts t;
  t.Latitude = LatitudeText(48.1372);
  t.Longitude = LongitudeText(-0.1278);
  t.Xmp = XmpCoordinateText(48, 8, 13.92);
  double d, m, s;
  ParseDms(t.Latitude, d, m, s);
  t.DmsParts = std::to_string(static_cast<int>(d * 1000)) + "/" + std::to_string(static_cast<int>(m * 1000)) + "/" +
               std::to_string(static_cast<int>(s * 1000));
  t.Decimal = ParseDecimal("48.1372");
  t.Time = ParseDateTimeText("2012-06-01T08:30:00Z");
  TGpxReader reader;
  reader.SetDocument(R"(<gpx><trkpt lat="48.1372" lon="11.5756"><time>2012-06-01T08:30:00Z</time></trkpt>
                        <trkpt lat="48.2" lon="11.6"><time>2012-06-01T08:31:00Z</time></trkpt></gpx>)",
                     "t.gpx");
  TTrackPointList points;
  reader.Scan(points, TTimeZoneOptions{false, "(GMT+01:00)", false});
  std::string lat, lon;
  if (FindPosition(points, EncodeDateTime(2012, 6, 1, 9, 30, 30), lat, lon)) t.Found = lat + "|" + lon;
  return t;
}

TEST(Locale, TextsIgnoreTheUsersDecimalSeparator) {
  const TTexts reference = MakeTexts();
  EXPECT_EQ(reference.Xmp, "48,8.2320000");
  EXPECT_EQ(reference.Decimal, 48.1372);
  EXPECT_FALSE(reference.Found.empty());

  const TProcessLocale german("de_DE.UTF-8");
  if (!german.Active()) GTEST_SKIP() << "the locale de_DE.UTF-8 is not installed (scripts/deps.sh --test makes it)";
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%.1f", 1.5);
  ASSERT_STREQ(buffer, "1,5");  // the locale is really in force

  const TTexts german_texts = MakeTexts();
  EXPECT_EQ(german_texts.Latitude, reference.Latitude);
  EXPECT_EQ(german_texts.Longitude, reference.Longitude);
  EXPECT_EQ(german_texts.Xmp, reference.Xmp);
  EXPECT_EQ(german_texts.DmsParts, reference.DmsParts);
  EXPECT_EQ(german_texts.Decimal, reference.Decimal);
  EXPECT_EQ(german_texts.Time, reference.Time);
  EXPECT_EQ(german_texts.Found, reference.Found);
  EXPECT_EQ(ParseDecimal("48,1372"), 0);
}

}  // namespace
