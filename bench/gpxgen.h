#pragma once
#include <cstddef>
#include <string>

// A GPX track of `points` points one second apart from 2012-06-01T00:00:00Z, wandering
// around Munich, in the layout recorders write: about 114 bytes a point.
std::string GenerateGpx(std::size_t points);
