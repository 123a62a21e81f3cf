#include "track/trackpoints.h"

#include <algorithm>

int CompareTrackPoints(const TTrackPoint& p, const TTrackPoint& q) { return CompareTimes(p.Time, q.Time); }

void SortTrackPoints(TTrackPointList& points) {
  // The millisecond tolerance of CompareTrackPoints is not a strict weak order (0.0, 0.6 and
  // 1.2 ms), which std::sort must have; the exact order is one of the orders it allows.
  const auto earlier = [](const TTrackPoint& p, const TTrackPoint& q) { return p.Time < q.Time; };
  // Recorded tracks are nearly always in order already.
  if (!std::is_sorted(points.begin(), points.end(), earlier))
    std::sort(points.begin(), points.end(), earlier);
}

void ClearTrackPoints(TTrackPointList& points) { TTrackPointList().swap(points); }
