#include <gtest/gtest.h>

#include <limits>
#include <tuple>

#include "track/datetime.h"

namespace {

struct TParseCase {
  const char* Text;
  TDateTimeParts Expected;  // all zero: the text cannot be read
};

class ParseDateTimeTextTest : public testing::TestWithParam<TParseCase> {};

TEST_P(ParseDateTimeTextTest, ReadsFixedPositions) {
  const TParseCase& c = GetParam();
  const TDateTime value = ParseDateTimeText(c.Text);
  const TDateTimeParts& e = c.Expected;
  if (e.Year == 0) {
    EXPECT_EQ(value, 0.0);
    return;
  }
  EXPECT_EQ(value, EncodeDateTime(e.Year, e.Month, e.Day, e.Hour, e.Minute, e.Second));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseDateTimeTextTest,
    testing::Values(TParseCase{"2012-06-01T08:30:00Z", {2012, 6, 1, 8, 30, 0, 0}},
                    TParseCase{"2012:06:01 08:30:00", {2012, 6, 1, 8, 30, 0, 0}},
                    TParseCase{"2012-06-01T08:30:00.999Z", {2012, 6, 1, 8, 30, 0, 0}},  // fraction dropped
                    TParseCase{"2012-06-01T08:30:00+05:00", {2012, 6, 1, 8, 30, 0, 0}},  // zone ignored
                    TParseCase{"2012x06x01x08x30x45", {2012, 6, 1, 8, 30, 45, 0}},       // separators unread
                    TParseCase{"2012-06-01T08:30:5", {2012, 6, 1, 8, 30, 5, 0}},         // field cut short
                    TParseCase{"  12-06-01T08:30:00", {12, 6, 1, 8, 30, 0, 0}},          // leading blanks
                    TParseCase{"+012-+6-01T08:30:00", {12, 6, 1, 8, 30, 0, 0}},          // signs
                    TParseCase{"2012-02-29T23:59:59", {2012, 2, 29, 23, 59, 59, 0}},
                    TParseCase{"0001-01-01T00:00:00", {1, 1, 1, 0, 0, 0, 0}},
                    TParseCase{"9999-12-31T23:59:59", {9999, 12, 31, 23, 59, 59, 0}},
                    TParseCase{"", {}},
                    TParseCase{"2012-06-01T08:30", {}},  // 16 characters: no second
                    TParseCase{"2012-02-30T08:30:00Z", {}},
                    TParseCase{"2011-02-29T08:30:00Z", {}},
                    TParseCase{"1900-02-29T08:30:00Z", {}},
                    TParseCase{"2012-06-01T24:00:00Z", {}},
                    TParseCase{"2012-06-01T23:60:00Z", {}},
                    TParseCase{"2012-06-01T23:59:60Z", {}},
                    TParseCase{"0000-06-01T08:30:00Z", {}},
                    TParseCase{"2012-00-01T08:30:00Z", {}},
                    TParseCase{"2012-13-01T08:30:00Z", {}},
                    TParseCase{"2012-06-00T08:30:00Z", {}},
                    TParseCase{"2012-06-01T08:3 :00Z", {}},  // trailing blank in a field
                    TParseCase{"2012-06-01T-1:30:00Z", {}},
                    TParseCase{"abcd-06-01T08:30:00Z", {}},
                    TParseCase{"   -06-01T08:30:00Z", {}}));

struct TCompareCase {
  double DifferenceMs;
  int Expected;
};

class CompareTimesTest : public testing::TestWithParam<TCompareCase> {};

TEST_P(CompareTimesTest, HasOneMillisecondTolerance) {
  const TDateTime base = EncodeDateTime(2012, 6, 1, 10, 0, 0);
  const TDateTime other = base + GetParam().DifferenceMs / 86'400'000.0;
  EXPECT_EQ(CompareTimes(other, base), GetParam().Expected);
  EXPECT_EQ(CompareTimes(base, other), -GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Differences, CompareTimesTest,
                         testing::Values(TCompareCase{0, 0}, TCompareCase{0.5, 0}, TCompareCase{-0.5, 0},
                                         TCompareCase{0.999, 0}, TCompareCase{2, 1}, TCompareCase{-2, -1},
                                         TCompareCase{1000, 1}));

TEST(CompareTimes, ExactlyOneMillisecondIsNotEqual) {
  EXPECT_EQ(CompareTimes(1.0 / 86'400'000.0, 0), 1);
  EXPECT_EQ(CompareTimes(0, 1.0 / 86'400'000.0), -1);
}

TEST(DateTime, EncodeDecodeRoundTrip) {
  const TDateTimeParts cases[] = {{1899, 12, 30, 0, 0, 0, 0}, {1899, 12, 29, 18, 0, 0, 0}, {1, 1, 1, 0, 0, 0, 0},
                                  {2012, 2, 29, 23, 59, 59, 999}, {9999, 12, 31, 23, 59, 59, 999},
                                  {2000, 3, 1, 12, 0, 0, 1}};
  for (const TDateTimeParts& p : cases) {
    const TDateTimeParts back =
        DecodeDateTime(EncodeDateTime(p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, p.Millisecond));
    EXPECT_EQ(std::tie(back.Year, back.Month, back.Day, back.Hour, back.Minute, back.Second, back.Millisecond),
              std::tie(p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, p.Millisecond))
        << p.Year << "-" << p.Month << "-" << p.Day;
  }
}

TEST(DateTime, KnownDayNumbersAndWeekDays) {
  EXPECT_EQ(EncodeDateTime(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDateTime(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDateTime(2012, 6, 1, 12), 41061.5);
  EXPECT_EQ(DayNumber(1970, 1, 1), 25569);
  EXPECT_EQ(WeekDay(DayNumber(1899, 12, 30)), 6);   // Saturday
  EXPECT_EQ(WeekDay(DayNumber(2012, 3, 25)), 0);    // Sunday
  EXPECT_EQ(WeekDay(DayNumber(1, 1, 1)), 1);        // Monday
}

TEST(DateTime, EncodeRejectsWhatDoesNotExist) {
  EXPECT_EQ(EncodeDateTime(2012, 2, 30), 0.0);
  EXPECT_EQ(EncodeDateTime(10000, 1, 1), 0.0);
  EXPECT_EQ(EncodeDateTime(2012, 1, 1, 24), 0.0);
  EXPECT_EQ(EncodeDateTime(2012, 1, 1, 0, 0, 0, 1000), 0.0);
}

TEST(DateTime, DecodeOfValuesFarOutOfRangeDoesNotFail) {
  const TDateTimeParts parts = DecodeDateTime(1e300);
  EXPECT_EQ(parts.Year, 1899);
  DecodeDateTime(std::numeric_limits<double>::quiet_NaN());
}

TEST(DateTime, ReadFieldInteger) {
  EXPECT_EQ(ReadFieldInteger(" 12"), 12);
  EXPECT_EQ(ReadFieldInteger("-7"), -7);
  EXPECT_EQ(ReadFieldInteger("+07"), 7);
  EXPECT_FALSE(ReadFieldInteger(""));
  EXPECT_FALSE(ReadFieldInteger("  "));
  EXPECT_FALSE(ReadFieldInteger("-"));
  EXPECT_FALSE(ReadFieldInteger("1 "));
  EXPECT_FALSE(ReadFieldInteger("ab"));
  EXPECT_FALSE(ReadFieldInteger("1234567890"));
}

}  // namespace
