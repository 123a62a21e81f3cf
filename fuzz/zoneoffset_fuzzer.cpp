// Any text as a zone text: ZoneOffsetMinutes gives minutes in the range two digits can spell.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzzcheck.h"
#include "track/timeshift.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const int minutes = ZoneOffsetMinutes(text);
  Require(minutes >= -(99 * 60 + 99) && minutes <= 99 * 60 + 99);
  // Only the first eleven characters are read.
  Require(ZoneOffsetMinutes(text.substr(0, 11)) == minutes);
  return 0;
}
