#pragma once
#include <string>
#include <string_view>

#include "track/trackpoints.h"

// The degree sign of coordinate texts (texts are UTF-8 here).
inline constexpr std::string_view DegreeSign = "\xC2\xB0";

// Position of the point that begins the stretch of track holding `captureTime`;
// false (texts unchanged) when there is none. `points` ascending by Time as
// SortTrackPoints leaves them; a binary search, so O(log n).
bool FindPosition(const TTrackPointList& points, TDateTime captureTime, std::string& latitude,
                  std::string& longitude);

// Texts are written and read with "." as the decimal point whatever the locale.
double ParseDecimal(std::string_view text);
std::string FormatDms(double degrees);
std::string LatitudeText(double degrees);
std::string LongitudeText(double degrees);
void ParseDms(std::string_view text, double& degrees, double& minutes, double& seconds);
std::string XmpCoordinateText(double degrees, double minutes, double seconds);
