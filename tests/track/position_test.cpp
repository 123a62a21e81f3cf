#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "track/position.h"

namespace {

// The lookup exactly as its rule is stated: every i from 0 to n - 2, in order.
bool LinearFindPosition(const TTrackPointList& p, TDateTime t, std::string& latitude, std::string& longitude) {
  if (t == 0 || p.size() < 2) return false;
  for (std::size_t i = 0; i + 1 < p.size(); ++i) {
    const int q = CompareTimes(p[i].Time, t);
    if (q != 0 && q == CompareTimes(p[i + 1].Time, t)) continue;
    const double lat = ParseDecimal(p[i].Latitude);
    const double lon = ParseDecimal(p[i].Longitude);
    if (lat == 0 || lon == 0) continue;
    latitude = LatitudeText(lat);
    longitude = LongitudeText(lon);
    return true;
  }
  return false;
}

const TDateTime Ten = EncodeDateTime(2012, 6, 1, 10, 0, 0);
const TDateTime Second = 1.0 / 86'400.0;
const TDateTime Millisecond = 1.0 / 86'400'000.0;

TTrackPoint MakePoint(std::string lat, std::string lon, TDateTime time) { return {std::move(lat), std::move(lon), time}; }

TTrackPointList ThreePoints(const std::string& firstLatitude = "1.5") {
  return {MakePoint(firstLatitude, "1.5", Ten), MakePoint("2.5", "2.5", Ten + 10 * Second),
          MakePoint("3.5", "3.5", Ten + 20 * Second)};
}

struct TFindCase {
  const char* Name;
  TTrackPointList Points;
  TDateTime Time;
  int Expected;  // index of the point found, -1 for none
};

class FindPositionTest : public testing::TestWithParam<TFindCase> {};

TEST_P(FindPositionTest, ChoosesThePointBeginningTheStretch) {
  const TFindCase& c = GetParam();
  std::string lat = "unchanged", lon = "unchanged";
  const bool found = FindPosition(c.Points, c.Time, lat, lon);
  ASSERT_EQ(found, c.Expected >= 0);
  if (c.Expected < 0) {
    EXPECT_EQ(lat, "unchanged");
    EXPECT_EQ(lon, "unchanged");
    return;
  }
  const TTrackPoint& p = c.Points[static_cast<std::size_t>(c.Expected)];
  EXPECT_EQ(lat, LatitudeText(ParseDecimal(p.Latitude)));
  EXPECT_EQ(lon, LongitudeText(ParseDecimal(p.Longitude)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindPositionTest,
    testing::Values(TFindCase{"Between", ThreePoints(), Ten + 5 * Second, 0},
                    TFindCase{"EqualSecondGivesPrevious", ThreePoints(), Ten + 10 * Second, 0},
                    TFindCase{"EqualFirst", ThreePoints(), Ten, 0},
                    TFindCase{"EqualLast", ThreePoints(), Ten + 20 * Second, 1},
                    TFindCase{"LastPlusHalfMillisecond", ThreePoints(), Ten + 20 * Second + Millisecond / 2, 1},
                    TFindCase{"AfterLast", ThreePoints(), Ten + 21 * Second, -1},
                    TFindCase{"BeforeFirst", ThreePoints(), Ten - Second, -1},
                    TFindCase{"FirstMinusHalfMillisecond", ThreePoints(), Ten - Millisecond / 2, 0},
                    TFindCase{"FirstMinusTwoMilliseconds", ThreePoints(), Ten - 2 * Millisecond, -1},
                    TFindCase{"Zero", ThreePoints(), 0, -1},
                    TFindCase{"SinglePoint", {MakePoint("1", "1", Ten)}, Ten, -1},
                    TFindCase{"NoPoints", {}, Ten, -1},
                    TFindCase{"FirstLatitudeZero", ThreePoints("0"), Ten + 5 * Second, -1},
                    TFindCase{"FirstLatitudeZeroEqualSecond", ThreePoints("0"), Ten + 10 * Second, 1},
                    TFindCase{"FirstLatitudeEmpty", ThreePoints(""), Ten + 5 * Second, -1},
                    TFindCase{"FirstLatitudeEmptyEqualSecond", ThreePoints(""), Ten + 10 * Second, 1},
                    TFindCase{"FirstLatitudeNotANumber", ThreePoints("48,1"), Ten + 10 * Second, 1}),
    [](const testing::TestParamInfo<TFindCase>& info) { return std::string(info.param.Name); });

// Random sorted tracks full of the awkward cases, every lookup compared with the linear rule.
TEST(FindPosition, AgreesWithTheLinearRule) {
  std::mt19937 random(20120601);
  const std::string coordinates[] = {"48.1", "11.5", "-33.8", "0", "-0", "", "abc", " 7 ", "1e1", "0.0"};
  const double steps[] = {0, 0, 0.3, 0.5, 0.999, 1, 1.001, 1.5, 2, 1000, 10'000, 60'000};  // milliseconds
  const double nudges[] = {0, 0.4, -0.4, 0.999, -0.999, 1, -1, 1.001, -1.001, 2, -2, 5000, -5000};
  int found = 0, lookups = 0;
  for (int track = 0; track < 4000; ++track) {
    const std::size_t n = random() % 40;
    TTrackPointList points;
    TDateTime time = Ten;
    for (std::size_t i = 0; i < n; ++i) {
      time += steps[random() % std::size(steps)] * Millisecond;
      points.push_back(MakePoint(coordinates[random() % std::size(coordinates)],
                                 coordinates[random() % std::size(coordinates)], time));
    }
    SortTrackPoints(points);
    std::vector<TDateTime> times = {0, Ten - 1, time + 1};
    for (const TTrackPoint& p : points)
      for (double nudge : nudges) times.push_back(p.Time + nudge * Millisecond);
    for (TDateTime t : times) {
      std::string lat = "x", lon = "y", linearLat = "x", linearLon = "y";
      const bool result = FindPosition(points, t, lat, lon);
      const bool linear = LinearFindPosition(points, t, linearLat, linearLon);
      ASSERT_EQ(result, linear) << "track " << track << " time " << (t - Ten) / Millisecond << " ms";
      ASSERT_EQ(lat, linearLat);
      ASSERT_EQ(lon, linearLon);
      found += result;
      ++lookups;
    }
  }
  // Both outcomes were exercised plentifully.
  EXPECT_GT(found, lookups / 10);
  EXPECT_LT(found, lookups - lookups / 10);
}

TEST(FindPosition, AgreesWithTheLinearRuleOnALongTrack) {
  std::mt19937 random(7);
  TTrackPointList points;
  TDateTime time = Ten;
  for (int i = 0; i < 100'000; ++i) {
    time += (random() % 4) * 0.6 * Millisecond;
    points.push_back(MakePoint(random() % 5 ? "48.1" : "0", "11.5", time));
  }
  SortTrackPoints(points);
  for (int lookup = 0; lookup < 300; ++lookup) {
    const TDateTime t = points[random() % points.size()].Time + (static_cast<int>(random() % 5) - 2) * 0.5 * Millisecond;
    std::string lat, lon, linearLat, linearLon;
    ASSERT_EQ(FindPosition(points, t, lat, lon), LinearFindPosition(points, t, linearLat, linearLon));
    ASSERT_EQ(lat, linearLat);
  }
}

struct TTextCase {
  std::string Got;
  std::string Expected;
};

TEST(CoordinateText, Forms) {
  const std::string deg(DegreeSign);
  const TTextCase cases[] = {
      {LatitudeText(48.1372), "48" + deg + " 8' 13.920\" N"},
      {LongitudeText(11.5756), "11" + deg + " 34' 32.160\" E"},
      {LatitudeText(-33.8688), "33" + deg + " 52' 7.680\" S"},
      {LongitudeText(-0.1278), "0" + deg + " 7' 40.080\" W"},
      {LatitudeText(0), "0" + deg + " N"},
      {LatitudeText(-0.0), "0" + deg + " N"},
      {LongitudeText(0), "0" + deg + " E"},
      {LongitudeText(-179.9999999), "180" + deg + " 0' 0.000\" W"},
      {FormatDms(10.99999989), "11" + deg + " 0' 0.000\""},
      {FormatDms(10 + 30 / 60.0 + 59.9997 / 3600), "10" + deg + " 31' 0.000\""},
      {FormatDms(10 + 30 / 60.0 + 59.9994 / 3600), "10" + deg + " 30' 59.999\""},
      {FormatDms(0), "0" + deg},
      {FormatDms(-1), ""},
      {FormatDms(std::numeric_limits<double>::quiet_NaN()), ""},
      {FormatDms(std::numeric_limits<double>::infinity()), ""},
      {FormatDms(1e20), "100000000000000000000" + deg + " 0' 0.000\""},
      {XmpCoordinateText(48, 8, 13.92), "48,8.2320000"},
      {XmpCoordinateText(0, 7, 40.08), "0,7.6680000"},
      {XmpCoordinateText(0, 0, 0), "0,0.0000000"},
      {XmpCoordinateText(-0.0, -0.0, -0.0), "0,0.0000000"},
      {XmpCoordinateText(11, 59, 59.999), "11,59.9999833"},
      {XmpCoordinateText(11, 60, 0), "12,0.0000000"},
  };
  for (const TTextCase& c : cases) EXPECT_EQ(c.Got, c.Expected);
}

struct TDmsCase {
  std::string Text;
  double Degrees, Minutes, Seconds;
};

TEST(ParseDms, ReadsCoordinateTexts) {
  const TDmsCase cases[] = {
      {LatitudeText(-33.8688), -33, -52, -7.68},
      {LatitudeText(48.1372), 48, 8, 13.92},
      {LongitudeText(-0.1278), 0, -7, -40.08},
      {LatitudeText(0), 0, 0, 0},
      {"N 48 8 13.92", 48, 8, 13.92},
      {"W 11 34 32.16", -11, -34, -32.16},
      {"48\xB0 8' 13.92\" S", -48, -8, -13.92},  // the single-byte degree sign
      {"48,5", 485, 0, 0},
      {"48 S 8", 48, 8, 0},  // a letter inside the text is skipped
      {"1 2 3 4 5", 1, 2, 3},
      {"1-2 3 4", 0, 3, 4},
      {"", 0, 0, 0},
      {"N", 0, 0, 0},
      {"12.5.1\xC2\xB0", 0, 0, 0},
  };
  for (const TDmsCase& c : cases) {
    double d = 99, m = 99, s = 99;
    ParseDms(c.Text, d, m, s);
    EXPECT_DOUBLE_EQ(d, c.Degrees) << c.Text;
    EXPECT_DOUBLE_EQ(m, c.Minutes) << c.Text;
    EXPECT_DOUBLE_EQ(s, c.Seconds) << c.Text;
  }
}

TEST(ParseDms, RoundTripsToTheMillisecondOfArc) {
  std::mt19937 random(3);
  std::uniform_real_distribution<double> degrees(-180, 180);
  for (int i = 0; i < 20'000; ++i) {
    const double x = degrees(random);
    double d, m, s;
    ParseDms(LongitudeText(x), d, m, s);
    EXPECT_NEAR(d + m / 60 + s / 3600, x, 0.0005 / 3600 + 1e-12) << x;
    EXPECT_LT(std::fabs(m), 60);
    EXPECT_LT(std::fabs(s), 60);
  }
}

struct TDecimalCase {
  const char* Text;
  double Value;
};

TEST(ParseDecimal, AcceptsOnlyPlainNumbers) {
  const TDecimalCase cases[] = {{"48.1372", 48.1372}, {"  48.1372  ", 48.1372}, {"4.81372E1", 48.1372},
                                {"-0.5", -0.5},       {"+3", 3},                {".5", 0.5},
                                {"5.", 5},            {"1e-2", 0.01},           {"1E+2", 100},
                                {"007", 7},           {"48,1372", 0},           {"", 0},
                                {"   ", 0},           {".", 0},                 {"-", 0},
                                {"1e", 0},            {"1e+", 0},               {"e5", 0},
                                {"1.2.3", 0},         {"0x10", 0},              {"inf", 0},
                                {"nan", 0},           {"1e400", 0},             {"- 1", 0},
                                {"1 2", 0},           {"--1", 0},               {"1,5e1", 0}};
  for (const TDecimalCase& c : cases) EXPECT_EQ(ParseDecimal(c.Text), c.Value) << '"' << c.Text << '"';
}

}  // namespace
