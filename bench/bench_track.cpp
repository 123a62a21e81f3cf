// The GPX scan against a bare expat parse of the same document, and the position lookup
// against a plain binary search over the same points.
#include <benchmark/benchmark.h>
#include <expat.h>

#include <map>
#include <random>

#include "gpxgen.h"
#include "track/gpxreader.h"
#include "track/position.h"

namespace {

const std::string& Document(std::size_t points) {
  static std::map<std::size_t, std::string> documents;
  auto& document = documents[points];
  if (document.empty()) document = GenerateGpx(points);
  return document;
}

class TNoEvents final : public TXmlHandler {
 public:
  void XmlProlog(std::string_view, std::string_view, bool) override {}
  void StartTag(std::string_view name, const std::vector<TXmlAttribute>&) override {
    benchmark::DoNotOptimize(name.data());
  }
  void EndTag(std::string_view name) override { benchmark::DoNotOptimize(name.data()); }
  void Content(std::string_view text) override { benchmark::DoNotOptimize(text.data()); }
};

void Report(benchmark::State& state, const std::string& document) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * document.size()));
}

// The scanner alone, events to handlers that do nothing.
void BM_ScanOurs(benchmark::State& state) {
  const std::string& document = Document(static_cast<std::size_t>(state.range(0)));
  TXmlScanner scanner;
  TNoEvents events;
  for (auto _ : state) benchmark::DoNotOptimize(scanner.Scan(document, events));
  Report(state, document);
}

// What loading does after reading the file: scan, the GPX handlers, the list of points.
void BM_ReadTrackOurs(benchmark::State& state) {
  const std::string& document = Document(static_cast<std::size_t>(state.range(0)));
  TGpxReader reader;
  reader.SetDocument(document, "bench.gpx");
  const TTimeZoneOptions options{false, "(UTC+01:00) Europe/Berlin", true};
  for (auto _ : state) {
    TTrackPointList points;
    reader.Scan(points, options);
    benchmark::DoNotOptimize(points.data());
  }
  Report(state, document);
}

void BM_ScanExpatBare(benchmark::State& state) {
  const std::string& document = Document(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    benchmark::DoNotOptimize(XML_Parse(parser, document.data(), static_cast<int>(document.size()), XML_TRUE));
    XML_ParserFree(parser);
  }
  Report(state, document);
}

void XMLCALL ExpatStart(void*, const XML_Char* name, const XML_Char**) { benchmark::DoNotOptimize(name); }
void XMLCALL ExpatEnd(void*, const XML_Char* name) { benchmark::DoNotOptimize(name); }
void XMLCALL ExpatText(void*, const XML_Char* text, int) { benchmark::DoNotOptimize(text); }

// Expat with handlers that do nothing, as a reader would have to use it.
void BM_ScanExpatHandlers(benchmark::State& state) {
  const std::string& document = Document(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetElementHandler(parser, ExpatStart, ExpatEnd);
    XML_SetCharacterDataHandler(parser, ExpatText);
    benchmark::DoNotOptimize(XML_Parse(parser, document.data(), static_cast<int>(document.size()), XML_TRUE));
    XML_ParserFree(parser);
  }
  Report(state, document);
}

BENCHMARK(BM_ScanOurs)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadTrackOurs)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanExpatBare)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanExpatHandlers)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

struct TLookups {
  TTrackPointList Points;
  std::vector<TDateTime> Times;
};

const TLookups& Lookups(std::size_t count) {
  static std::map<std::size_t, TLookups> cache;
  TLookups& lookups = cache[count];
  if (lookups.Points.empty()) {
    TGpxReader reader;
    reader.SetDocument(GenerateGpx(count), "bench.gpx");
    reader.Scan(lookups.Points, TTimeZoneOptions{false, "", false});
    SortTrackPoints(lookups.Points);
    std::mt19937 random(1);
    std::uniform_real_distribution<double> within(lookups.Points.front().Time, lookups.Points.back().Time);
    for (int i = 0; i < 4096; ++i) lookups.Times.push_back(within(random));
  }
  return lookups;
}

void BM_FindPosition(benchmark::State& state) {
  const TLookups& lookups = Lookups(static_cast<std::size_t>(state.range(0)));
  std::string latitude, longitude;
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FindPosition(lookups.Points, lookups.Times[i++ & 4095], latitude, longitude));
  }
}

// The search alone, without reading and writing the coordinate texts.
void BM_LowerBoundOnTimes(benchmark::State& state) {
  const TLookups& lookups = Lookups(static_cast<std::size_t>(state.range(0)));
  std::size_t i = 0;
  for (auto _ : state) {
    const TDateTime t = lookups.Times[i++ & 4095];
    benchmark::DoNotOptimize(std::lower_bound(lookups.Points.begin(), lookups.Points.end(), t,
                                              [](const TTrackPoint& p, TDateTime v) { return p.Time < v; }));
  }
}

BENCHMARK(BM_FindPosition)->Arg(1'000)->Arg(100'000)->Arg(1'000'000);
BENCHMARK(BM_LowerBoundOnTimes)->Arg(1'000)->Arg(100'000)->Arg(1'000'000);

}  // namespace
