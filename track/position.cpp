#include "track/position.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Fixed-point text of a value, "." as the decimal point.
std::string FixedText(double value, int decimals) {
  std::array<char, 400> buffer;
  const auto result =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, decimals);
  return std::string(buffer.data(), result.ptr);
}

// Nearest integer, an exact half going to the even one, whatever the rounding mode.
double RoundHalfEven(double value) {
  const double lower = std::floor(value);
  const double fraction = value - lower;
  if (fraction > 0.5) return lower + 1;
  if (fraction < 0.5) return lower;
  return std::fmod(lower, 2.0) == 0 ? lower : lower + 1;
}

std::string CoordinateText(double degrees, char positive, char negative) {
  // -0 counts as 0 or more.
  return FormatDms(std::fabs(degrees)) + ' ' + (degrees >= 0 ? positive : negative);
}

}  // namespace

bool FindPosition(const TTrackPointList& points, TDateTime captureTime, std::string& latitude,
                  std::string& longitude) {
  const std::size_t n = points.size();
  if (captureTime == 0 || n < 2) return false;
  // Over a sorted list q(i) = CompareTimes(P[i].Time, T) rises from -1 through 0 to +1.
  // The linear rule's candidates, P[i] with q(i) = 0 or q(i) != q(i+1) for i <= n - 2,
  // are then one run: the point before the first with q >= 0, and those with q = 0.
  const auto before = [captureTime](const TTrackPoint& p) { return CompareTimes(p.Time, captureTime) < 0; };
  const auto notAfter = [captureTime](const TTrackPoint& p) { return CompareTimes(p.Time, captureTime) <= 0; };
  const auto equalFrom = std::partition_point(points.begin(), points.end(), before);
  const auto after = std::partition_point(equalFrom, points.end(), notAfter);
  const std::size_t a = static_cast<std::size_t>(equalFrom - points.begin());
  const std::size_t first = a >= 1 && a <= n - 1 ? a - 1 : a;
  const std::size_t last = std::min(static_cast<std::size_t>(after - points.begin()), n - 1);
  for (std::size_t i = first; i < last; ++i) {
    const double lat = ParseDecimal(points[i].Latitude);
    const double lon = ParseDecimal(points[i].Longitude);
    if (lat == 0 || lon == 0) continue;
    latitude = LatitudeText(lat);
    longitude = LongitudeText(lon);
    return true;
  }
  return false;
}

double ParseDecimal(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  // Sign, digits with at most one ".", exponent; from_chars takes no "+" and reads "." only.
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  std::size_t i = 0, digits = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    if (IsDigit(text[i])) ++digits;
    else if (text[i] == '.' && !point) point = true;
    else break;
  }
  if (digits == 0) return 0;
  if (i < text.size()) {
    if (text[i] != 'e' && text[i] != 'E') return 0;
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j == text.size() || !std::all_of(text.begin() + static_cast<std::ptrdiff_t>(j), text.end(), IsDigit))
      return 0;
  }
  double value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return 0;
  return negative ? -value : value;
}

std::string FormatDms(double degrees) {
  if (!(degrees >= 0) || std::isinf(degrees)) return {};
  if (degrees == 0) return std::string("0").append(DegreeSign);
  double d = std::trunc(degrees);
  const double minutesExact = (degrees - d) * 60;
  double m = std::trunc(minutesExact);
  const double s = (minutesExact - m) * 60;
  double thousandths = RoundHalfEven(s / 0.001);
  if (thousandths * 0.001 == 60) {
    thousandths = 0;
    if (++m == 60) {
      m = 0;
      ++d;
    }
  }
  std::string text = FixedText(d, 0);
  text.append(DegreeSign).append(" ").append(FixedText(m, 0)).append("' ");
  return text.append(FixedText(thousandths / 1000, 3)).append("\"");
}

std::string LatitudeText(double degrees) { return CoordinateText(degrees, 'N', 'S'); }

std::string LongitudeText(double degrees) { return CoordinateText(degrees, 'E', 'W'); }

void ParseDms(std::string_view text, double& degrees, double& minutes, double& seconds) {
  enum { Degrees, Minutes, Seconds, Finished } part = Degrees;
  bool separated = false;
  std::array<std::string, 3> collected;
  char hemisphere = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    // The degree sign is matched by its last byte: the lead byte of the UTF-8 form is skipped.
    if (!separated && part == Degrees && (c == '\xB0' || c == ' ')) {
      part = Minutes;
      separated = true;
    } else if (!separated && part == Minutes && (c == '\'' || c == ' ')) {
      part = Seconds;
      separated = true;
    } else if (!separated && part == Seconds && (c == '"' || c == ' ')) {
      part = Finished;
      separated = true;
    } else if ((i == 0 || i + 1 == text.size()) && (c == 'E' || c == 'N' || c == 'S' || c == 'W')) {
      hemisphere = c;
      separated = true;
    } else if (IsDigit(c) || c == '-' || c == '.') {
      if (part != Finished) collected[part].push_back(c);
      separated = false;
    }
  }
  const double sign = hemisphere == 'S' || hemisphere == 'W' ? -1 : 1;
  degrees = sign * ParseDecimal(collected[Degrees]);
  minutes = sign * ParseDecimal(collected[Minutes]);
  seconds = sign * ParseDecimal(collected[Seconds]);
}

std::string XmpCoordinateText(double degrees, double minutes, double seconds) {
  const double totalMinutes = degrees * 60 + minutes + seconds / 60;
  const double whole = std::trunc(totalMinutes / 60);
  const double rest = totalMinutes - whole * 60;
  // A negative zero is still the integer 0.
  return FixedText(whole == 0 ? 0.0 : whole, 0) + ',' + FixedText(rest, 7);
}
