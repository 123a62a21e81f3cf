#pragma once
#include <string>
#include <vector>

#include "track/datetime.h"

struct TTrackPoint {
  std::string Latitude;   // "lat" attribute as read; empty when missing
  std::string Longitude;  // "lon" attribute as read
  TDateTime Time = 0;     // shifted to camera time; never 0 in a list
};

// Owning list of points, ascending by Time once loaded.
using TTrackPointList = std::vector<TTrackPoint>;

int CompareTrackPoints(const TTrackPoint& p, const TTrackPoint& q);
// Ascending by exact Time, hence also by CompareTrackPoints; FindPosition relies on it.
void SortTrackPoints(TTrackPointList& points);
// Empties the list and gives its memory back.
void ClearTrackPoints(TTrackPointList& points);
