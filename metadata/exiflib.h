#pragma once
#include <climits>
#include <cfenv>
#include <cstddef>
#include <string>
#include <string_view>

using TImageHandle = int;

// Runs the metadata library with every floating-point exception masked: keeps
// the caller's floating-point environment, clears the flags, masks all
// exceptions, and puts the kept environment back on every exit (exceptions
// included), so that flags the library raised never trap afterwards.
class FloatingPointGuard {
 public:
  FloatingPointGuard() { std::feholdexcept(&saved_); }
  ~FloatingPointGuard() { std::fesetenv(&saved_); }
  FloatingPointGuard(const FloatingPointGuard&) = delete;
  FloatingPointGuard& operator=(const FloatingPointGuard&) = delete;

 private:
  std::fenv_t saved_;
};

inline constexpr std::size_t KeyBufferSize = 256;     // keys, and values the GPS writer passes
inline constexpr std::size_t ValueBufferSize = 1024;  // values written by WriteXmpValue, values read
inline constexpr std::size_t PathBufferSize = PATH_MAX;

// A NUL-terminated copy of a text for the library. A text that does not fit
// with its NUL, or that holds a NUL itself, is refused whole, never cut.
template <std::size_t Size>
class TextBuffer {
 public:
  bool Set(std::string_view text) {
    if (text.size() >= Size || text.find('\0') != std::string_view::npos) return false;
    text.copy(bytes_, text.size());
    bytes_[text.size()] = '\0';
    return true;
  }
  const char* Text() const { return bytes_; }

 private:
  char bytes_[Size] = {};
};

// The library's handle for a photo or sidecar file, 0 when it cannot be opened
// or the path does not fit its buffer.
TImageHandle OpenImage(const std::string& path);
// A tag's text as the library gives it, undecoded; empty when there is none.
std::string ReadExifValue(TImageHandle handle, const std::string& key);
std::string ReadXmpValue(TImageHandle handle, const std::string& key);
// A tag's number; 0.0 when there is none, whatever the library stored.
double ReadMetaDouble(TImageHandle handle, const std::string& key);
// Writes an XMP property as UTF-8; false when it was not written.
bool WriteXmpValue(TImageHandle handle, const std::string& key, const std::string& value, int type);

// Texts are UTF-8 already; a text that is not valid UTF-8 is taken as Latin-1,
// so that the XMP written is always valid.
std::string AnsiToUtf8(std::string_view text);
