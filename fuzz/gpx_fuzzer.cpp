// Any bytes as a GPX document: the scan into track points, and the scanner's own events.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzzcheck.h"
#include "track/gpxreader.h"
#include "track/xmlscanner.h"

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Checks what the scanner promises of each event.
class TCheckingHandler final : public TXmlHandler {
 public:
  explicit TCheckingHandler(std::string_view document) : FDocument(document) {}
  void XmlProlog(std::string_view, std::string_view, bool) override { ++Events; }
  void StartTag(std::string_view name, const std::vector<TXmlAttribute>& attributes) override {
    ++Events;
    Require(!name.empty());
    for (const TXmlAttribute& attribute : attributes) {
      Require(!attribute.Name.empty());
      for (char c : attribute.Value) Require(c != '\t' && c != '\n' && c != '\r');
      ValueBytes += attribute.Value.size();
    }
  }
  void EndTag(std::string_view name) override {
    ++Events;
    Require(!name.empty());
  }
  void Content(std::string_view text) override {
    ++Events;
    Require(!text.empty() && !IsSpace(text.front()) && !IsSpace(text.back()));
    for (std::size_t i = 1; i < text.size(); ++i) Require(!(IsSpace(text[i - 1]) && IsSpace(text[i])));
    ContentBytes += text.size();
  }

  std::size_t Events = 0;
  std::size_t ValueBytes = 0;
  std::size_t ContentBytes = 0;

 private:
  std::string_view FDocument;
};

std::size_t TextBytes(const TTrackPointList& points) {
  std::size_t bytes = 0;
  for (const TTrackPoint& point : points) bytes += point.Latitude.size() + point.Longitude.size();
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view document(reinterpret_cast<const char*>(data), size);
  // Entities may add at most their budget to what the document itself holds.
  const std::size_t outputLimit = size + TXmlScanner::EntityExpansionBudget;

  TXmlScanner scanner;
  TCheckingHandler handler(document);
  const TXmlProblem problem = scanner.Scan(document, handler);
  Require(problem.Offset <= size);
  Require(handler.Events <= size);
  Require(handler.ValueBytes <= outputLimit && handler.ContentBytes <= outputLimit);

  TGpxReader reader;
  reader.SetDocument(std::string(document), "fuzz.gpx");
  TTimeZoneOptions fixedZone;
  fixedZone.LocalTime = false;
  fixedZone.SelectedZone = "(UTC+01:00) Europe/Berlin";
  fixedZone.UseDst = true;
  TTrackPointList points;
  reader.Scan(points, fixedZone);
  for (const TTrackPoint& point : points) Require(point.Time != 0);
  Require(TextBytes(points) <= outputLimit);
  Require(reader.ScanProblem().Offset == problem.Offset && reader.ScanProblem().Reason == problem.Reason);

  // The state starts afresh at every scan: a second scan gives the same points.
  TTrackPointList again;
  reader.Scan(again, fixedZone);
  Require(again.size() == points.size());
  for (std::size_t i = 0; i < points.size(); ++i)
    Require(again[i].Time == points[i].Time && again[i].Latitude == points[i].Latitude &&
            again[i].Longitude == points[i].Longitude);

  TTrackPointList local;
  reader.Scan(local);
  SortTrackPoints(local);
  for (std::size_t i = 1; i < local.size(); ++i) Require(CompareTrackPoints(local[i - 1], local[i]) <= 0);
  return 0;
}
