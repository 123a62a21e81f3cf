#pragma once
#include <QString>
#include <string>
#include <vector>

#include "track/trackpoints.h"

class TMetaData;

// What the run needs of its window: the window implements it, tests fake it.
class TRunSink {
 public:
  virtual ~TRunSink() = default;
  // laStart "Processing...", laAd hidden, pbTotal at 0 with maximum `total`, shown.
  virtual void RunStarted(int total) = 0;
  // laProcessingFile shows the name, pbTotal advances one step, the window repaints.
  virtual void PhotoStarted(const QString& displayName) = 0;
  // One of the two questions (warning, Yes | No | No to All | Yes to All); the answer code.
  virtual int Ask(const QString& text) = 0;
  // Hourglass on or off.
  virtual void SetBusy(bool busy) = 0;
  // Cursor normal, laStart shows `finalText`, laProcessingFile emptied, pbTotal hidden,
  // laAd shown unless the sibling product is installed, btnStart disabled.
  virtual void RunFinished(const QString& finalText) = 0;
};

struct TRunResult {
  int SkippedCount = 0;
  int WrittenCount = 0;
};

// The geotagging run over `imageFiles`; calls RunStarted first and RunFinished last
// (also when an exception escapes, which is then rethrown).
TRunResult RunGeotagging(const std::vector<std::string>& imageFiles, const TTrackPointList& points,
                         TMetaData& metaData, TRunSink& sink);

// "Finished." or "Finished (skipped N file(s))."
QString FinalRunText(int skippedCount);
