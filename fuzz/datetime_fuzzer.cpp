// Any text as a date-time: ParseDateTimeText reads it at fixed positions or gives 0.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "fuzzcheck.h"
#include "track/datetime.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const TDateTime value = ParseDateTimeText(text);
  if (value == 0) return 0;
  Require(std::isfinite(value));
  const TDateTimeParts parts = DecodeDateTime(value);
  Require(parts.Year >= 1 && parts.Year <= 9999 && IsValidDate(parts.Year, parts.Month, parts.Day));
  Require(parts.Hour <= 23 && parts.Minute <= 59 && parts.Second <= 59 && parts.Millisecond == 0);
  Require(value == EncodeDateTime(parts.Year, parts.Month, parts.Day, parts.Hour, parts.Minute, parts.Second));
  // Nothing after the 19th character is read.
  Require(ParseDateTimeText(text.substr(0, 19)) == value);
  // The value written back in the EXIF form reads as the same value.
  char written[32];
  std::snprintf(written, sizeof written, "%04d:%02d:%02d %02d:%02d:%02d", parts.Year, parts.Month, parts.Day,
                parts.Hour, parts.Minute, parts.Second);
  Require(ParseDateTimeText(written) == value);
  return 0;
}
