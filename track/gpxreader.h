#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "track/timeshift.h"
#include "track/trackpoints.h"
#include "track/xmlscanner.h"

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
  // The per-document state starts afresh at every scan.
  void Scan(TTrackPointList& points, const TTimeZoneOptions& options = TimeZoneOptions);
  // Where and why the last scanned document was not well-formed (it was read regardless).
  const TXmlProblem& ScanProblem() const { return FProblem; }

  // The handlers the scanner calls.
  void XmlScannerXmlProlog();
  void XmlScannerStartTag(std::string_view name, const std::vector<TXmlAttribute>& attributes);
  void XmlScannerEndTag(std::string_view name);
  void XmlScannerContent(std::string_view text);

  bool InTrackPoint = false;
  bool InTime = false;
  int FixedOffset = 0;

 private:
  const TTimeZoneOptions& Options() const { return FOptions ? *FOptions : TimeZoneOptions; }

  std::string FDocument;
  std::string FTrackFileName;
  TTrackPointList* FPoints = nullptr;
  const TTimeZoneOptions* FOptions = nullptr;
  TTrackPoint FCurrentPoint;
  bool FPointOpen = false;
  TXmlScanner FScanner;
  TXmlProblem FProblem;
};
