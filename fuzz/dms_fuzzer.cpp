// Any text as a coordinate: ParseDms gives finite parts; and a number from the bytes,
// written as a coordinate text, reads back as the same position.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzzcheck.h"
#include "track/position.h"

namespace {

double Degrees(double d, double m, double s) { return d + m / 60 + s / 3600; }

void CheckRoundTrip(double degrees, bool latitude) {
  const std::string text = latitude ? LatitudeText(degrees) : LongitudeText(degrees);
  if (text.empty()) return;
  double d = 0, m = 0, s = 0;
  ParseDms(text, d, m, s);
  // Written to a thousandth of a second of arc, and read back as the same.
  Require(std::fabs(Degrees(d, m, s) - degrees) <= 0.0005 / 3600 + std::fabs(degrees) * 1e-12);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  double degrees = -1, minutes = -1, seconds = -1;
  ParseDms(text, degrees, minutes, seconds);
  Require(std::isfinite(degrees) && std::isfinite(minutes) && std::isfinite(seconds));

  if (size >= sizeof(double)) {
    double number;
    std::memcpy(&number, data, sizeof number);
    if (std::isfinite(number)) {
      CheckRoundTrip(std::fmod(number, 90.0), true);
      CheckRoundTrip(std::fmod(number, 180.0), false);
    }
  }
  return 0;
}
