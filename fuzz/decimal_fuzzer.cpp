// Any text as a decimal number: ParseDecimal gives a finite number, the same that the C
// library reads from the same text whenever it accepts it.
#include <cstdlib>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzzcheck.h"
#include "track/position.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const double value = ParseDecimal(text);
  Require(std::isfinite(value));
  if (value == 0) return 0;
  // Compared in the C locale: ParseDecimal reads "." whatever the locale.
  const std::string copy(text);
  Require(copy.find('\0') == std::string::npos);
  const char* begin = copy.c_str();
  char* end = nullptr;
  const double expected = std::strtod(begin, &end);
  while (*end == ' ') ++end;
  Require(*end == '\0' && expected == value);
  return 0;
}
