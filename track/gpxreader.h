#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "track/timeshift.h"
#include "track/trackpoints.h"

struct TXmlAttribute {
  std::string_view Name;
  std::string Value;
};

// The GPX reader: the document held in memory and the four scanner handlers
// with their per-document state. The main window owns one.
class TGpxReader {
 public:
  // Reads the whole file into memory; on failure TrackFileName is empty and no document is held.
  bool LoadFile(const std::string& path);
  void SetDocument(std::string content, std::string fileName);  // tests, fuzzing
  const std::string& TrackFileName() const { return FTrackFileName; }
  const std::string& Document() const { return FDocument; }

  // One scan of the held document, appending timed points to `points` in
  // document order, shifted by `options` (and SystemZone in local time mode).
  void Scan(TTrackPointList& points, const TTimeZoneOptions& options = TimeZoneOptions);

  // The handlers the scanner calls.
  void XmlScannerXmlProlog();
  void XmlScannerStartTag(std::string_view name, const std::vector<TXmlAttribute>& attributes);
  void XmlScannerEndTag(std::string_view name);
  void XmlScannerContent(std::string_view text);

  bool InTrackPoint = false;
  bool InTime = false;
  int FixedOffset = 0;

 private:
  std::string FDocument;
  std::string FTrackFileName;
  TTrackPointList* FPoints = nullptr;
  const TTimeZoneOptions* FOptions = nullptr;
  TTrackPoint FCurrentPoint;
  bool FPointOpen = false;
};
