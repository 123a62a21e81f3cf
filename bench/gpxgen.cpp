#include "gpxgen.h"

#include <charconv>
#include <cstdint>
#include <random>

#include "track/datetime.h"

namespace {

void AppendFixed(std::string& out, double value, int decimals) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  out.append(buffer, result.ptr);
}

void AppendTwoDigits(std::string& out, int value) {
  out.push_back(static_cast<char>('0' + value / 10));
  out.push_back(static_cast<char>('0' + value % 10));
}

}  // namespace

std::string GenerateGpx(std::size_t points) {
  std::string gpx = R"(<?xml version="1.0" encoding="UTF-8"?>
<gpx version="1.1" creator="Lumivale bench" xmlns="http://www.topografix.com/GPX/1/1">
 <trk><name>bench</name><trkseg>
)";
  gpx.reserve(gpx.size() + points * 116 + 32);
  std::mt19937 random(42);
  std::uniform_real_distribution<double> step(-0.00005, 0.00005);
  double lat = 48.1372, lon = 11.5756, ele = 520;
  const std::int64_t startMs = static_cast<std::int64_t>(DayNumber(2012, 6, 1)) * 86'400'000;
  for (std::size_t i = 0; i < points; ++i) {
    lat += step(random);
    lon += step(random);
    ele += step(random) * 1000;
    const TDateTimeParts t = DecodeDateTime(DateTimeFromMilliseconds(startMs + static_cast<std::int64_t>(i) * 1000));
    gpx += "  <trkpt lat=\"";
    AppendFixed(gpx, lat, 7);
    gpx += "\" lon=\"";
    AppendFixed(gpx, lon, 7);
    gpx += "\">\n    <ele>";
    AppendFixed(gpx, ele, 1);
    gpx += "</ele>\n    <time>";
    gpx += std::to_string(t.Year);
    gpx += '-';
    AppendTwoDigits(gpx, t.Month);
    gpx += '-';
    AppendTwoDigits(gpx, t.Day);
    gpx += 'T';
    AppendTwoDigits(gpx, t.Hour);
    gpx += ':';
    AppendTwoDigits(gpx, t.Minute);
    gpx += ':';
    AppendTwoDigits(gpx, t.Second);
    gpx += "Z</time>\n  </trkpt>\n";
  }
  gpx += " </trkseg></trk>\n</gpx>\n";
  return gpx;
}
