// Loads a GPX file as the program does (read, scan with the time shift, sort) and says how
// long each step took and how much memory the points hold. For bench/track_load.sh.
//   track_load FILE [PHOTO-TIME]      PHOTO-TIME as "2012:06:06 12:00:00": also look up its position
//   track_load --generate FILE POINTS
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "gpxgen.h"
#include "track/gpxreader.h"
#include "track/position.h"

namespace {

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

std::string TimeText(TDateTime value) {
  const TDateTimeParts t = DecodeDateTime(value);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.Year, t.Month, t.Day, t.Hour, t.Minute,
                t.Second);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--generate") {
    std::ofstream(argv[2], std::ios::binary) << GenerateGpx(std::strtoull(argv[3], nullptr, 10));
    return 0;
  }
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: track_load FILE [PHOTO-TIME] | track_load --generate FILE POINTS\n");
    return 2;
  }
  CaptureSystemZone();
  const auto start = std::chrono::steady_clock::now();
  TGpxReader reader;
  if (!reader.LoadFile(argv[1])) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  const double readMs = MillisecondsSince(start);
  TTrackPointList points;
  reader.Scan(points);
  const double scanMs = MillisecondsSince(start) - readMs;
  SortTrackPoints(points);
  const double totalMs = MillisecondsSince(start);

  std::size_t heap = points.capacity() * sizeof(TTrackPoint);
  for (const TTrackPoint& p : points)
    for (const std::string* text : {&p.Latitude, &p.Longitude})
      if (text->capacity() > std::string().capacity()) heap += text->capacity() + 1;
  std::printf("points %zu, first %s, last %s\n", points.size(), points.empty() ? "-" : TimeText(points.front().Time).c_str(),
              points.empty() ? "-" : TimeText(points.back().Time).c_str());
  std::printf("read %.0f ms, scan %.0f ms, sort %.0f ms, load %.0f ms; document %.1f MB, points %.1f MB (%.0f bytes/point)\n",
              readMs, scanMs, totalMs - readMs - scanMs, totalMs, reader.Document().size() / 1e6, heap / 1e6,
              points.empty() ? 0.0 : static_cast<double>(heap) / points.size());
  if (argc == 3) {
    std::string latitude = "-", longitude = "-";
    FindPosition(points, ParseDateTimeText(argv[2]), latitude, longitude);
    std::printf("position at %s: %s %s\n", argv[2], latitude.c_str(), longitude.c_str());
  }
  return points.empty() ? 1 : 0;
}
