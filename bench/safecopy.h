#pragma once
#include <string>

// Throws std::runtime_error with `what` and the text of errno.
[[noreturn]] void ThrowErrno(const char* what);

// The reference safe copier the geotagging benchmarks compare with: read the
// file, write it to a temporary file in the destination's folder, flush that to
// disk, rename it over the destination. With `from` equal to `to` it rewrites a
// file in place as safely as any geotagger must.
void SafeCopy(const std::string& from, const std::string& to);
