#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "track/gpxreader.h"

namespace {

constexpr const char* Header = R"(<?xml version="1.0" encoding="UTF-8"?>
<gpx version="1.1" creator="test" xmlns="http://www.topografix.com/GPX/1/1">
)";

std::string Gpx(const std::string& body, bool declaration = true) {
  return (declaration ? std::string(Header) : std::string("<gpx>\n")) + "<trk><trkseg>\n" + body +
         "\n</trkseg></trk></gpx>\n";
}

std::string Point(const std::string& time, const std::string& lat = "48.1372", const std::string& lon = "11.5756") {
  return "<trkpt lat=\"" + lat + "\" lon=\"" + lon + "\"><ele>523.4</ele><time>" + time + "</time></trkpt>\n";
}

TTimeZoneOptions Fixed(const std::string& zone, bool dst = false) { return {false, zone, dst}; }

TTrackPointList Read(TGpxReader& reader, const std::string& document, const TTimeZoneOptions& options) {
  reader.SetDocument(document, "test.gpx");
  TTrackPointList points;
  reader.Scan(points, options);
  return points;
}

TTrackPointList Read(const std::string& document, const TTimeZoneOptions& options = Fixed("")) {
  TGpxReader reader;
  return Read(reader, document, options);
}

struct TExpectedPoint {
  std::string Latitude, Longitude;
  TDateTime Time;
};

void ExpectPoints(const TTrackPointList& points, const std::vector<TExpectedPoint>& expected) {
  ASSERT_EQ(points.size(), expected.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    EXPECT_EQ(points[i].Latitude, expected[i].Latitude) << i;
    EXPECT_EQ(points[i].Longitude, expected[i].Longitude) << i;
    EXPECT_EQ(CompareTimes(points[i].Time, expected[i].Time), 0) << i;
  }
}

TDateTime At(int day, int hour, int minute, int second = 0) { return EncodeDateTime(2012, 6, day, hour, minute, second); }

struct TReadCase {
  const char* Name;
  std::string Document;
  std::vector<TExpectedPoint> Points;
};

class GpxReaderTest : public testing::TestWithParam<TReadCase> {};

// Fixed zone mode "(GMT+01:00)" with daylight saving time: +120 minutes.
TEST_P(GpxReaderTest, ReadsPoints) {
  ExpectPoints(Read(GetParam().Document, Fixed("(GMT+01:00) Amsterdam, Berlin", true)), GetParam().Points);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, GpxReaderTest,
    testing::Values(
        TReadCase{"OnePoint", Gpx(Point("2012-06-01T08:30:00Z")), {{"48.1372", "11.5756", At(1, 10, 30)}}},
        TReadCase{"TimeWithSpaces", Gpx(Point("\n   2012-06-01T08:30:00Z \r\n\t")), {{"48.1372", "11.5756", At(1, 10, 30)}}},
        TReadCase{"FractionDropped", Gpx(Point("2012-06-01T08:30:00.999Z")), {{"48.1372", "11.5756", At(1, 10, 30)}}},
        TReadCase{"CrossesMidnight", Gpx(Point("2012-06-01T23:30:00Z")), {{"48.1372", "11.5756", At(2, 1, 30)}}},
        // A time that cannot be read drops its point even though the shift is not 0.
        TReadCase{"UnreadableTimesDropped",
                  Gpx(Point("2012-06-01T08:30") + Point("2012-02-30T08:30:00Z") + Point("2012-06-01T24:00:00Z") +
                      Point("2012-06-01T23:59:60Z") + Point("yesterday") + Point("2012-06-01T08:31:00Z", "1", "2")),
                  {{"1", "2", At(1, 10, 31)}}},
        TReadCase{"OtherNamesIgnored",
                  Gpx("<Trkpt lat=\"1\" lon=\"1\"><time>2012-06-01T08:30:00Z</time></Trkpt>"
                      "<gpx:trkpt lat=\"2\" lon=\"2\"><time>2012-06-01T08:30:00Z</time></gpx:trkpt>"
                      "<trkpt lat=\"3\" lon=\"3\"><TIME>2012-06-01T08:30:00Z</TIME></trkpt>"
                      "<trkpt lat=\"4\" lon=\"4\"><gpx:time>2012-06-01T08:30:00Z</gpx:time></trkpt>"),
                  {}},
        TReadCase{"TimeOutsidePointIgnored",
                  "<gpx><metadata><time>2012-06-01T07:00:00Z</time></metadata><trk><time>2012-06-01T07:00:00Z</time>"
                  "<trkseg><trkpt lat=\"1\" lon=\"2\"></trkpt></trkseg></trk></gpx>",
                  {}},
        TReadCase{"TimeNestedDeeper",
                  Gpx("<trkpt lat=\"1\" lon=\"2\"><extensions><x:data><time>2012-06-01T08:30:00Z</time>"
                      "</x:data></extensions></trkpt>"),
                  {{"1", "2", At(1, 10, 30)}}},
        TReadCase{"CDataTimeDropped", Gpx(Point("<![CDATA[2012-06-01T08:30:00Z]]>")), {}},
        TReadCase{"SelfClosedIgnored",
                  Gpx("<trkpt lat=\"1\" lon=\"2\"/><trkpt lat=\"3\" lon=\"4\"><time/></trkpt>"
                      "<trkpt lat=\"5\" lon=\"6\"><time></time></trkpt><trkpt lat=\"7\" lon=\"8\"></trkpt>"),
                  {}},
        TReadCase{"MissingCoordinatesKept",
                  Gpx("<trkpt><time>2012-06-01T08:30:00Z</time></trkpt>"
                      "<trkpt lon=\"5\"><time>2012-06-01T08:31:00Z</time></trkpt>"),
                  {{"", "", At(1, 10, 30)}, {"", "5", At(1, 10, 31)}}},
        TReadCase{"AttributesAsRead",
                  Gpx("<trkpt lat=\"1\" ele=\"9\" lat=\" 2\t\" LON=\"7\" lon=\"4&#46;5\">"
                      "<time>2012-06-01T08:30:00Z</time></trkpt>"),
                  {{" 2 ", "4.5", At(1, 10, 30)}}},
        TReadCase{"LaterTextReplaces",
                  Gpx("<trkpt lat=\"1\" lon=\"2\"><time>2012-06-01T08:00:00Z<!-- x -->2012-06-01T09:00:00Z</time>"
                      "</trkpt><trkpt lat=\"3\" lon=\"4\"><time>2012-06-01T08:00:00Z<?pi?>soon</time></trkpt>"),
                  {{"1", "2", At(1, 11, 0)}}},
        TReadCase{"UnclosedPointDropped",
                  Gpx("<trkpt lat=\"1\" lon=\"1\"><time>2012-06-01T08:00:00Z</time>" + Point("2012-06-01T08:30:00Z")),
                  {{"48.1372", "11.5756", At(1, 10, 30)}}},
        TReadCase{"EndWithoutPoint",
                  Gpx(Point("2012-06-01T08:30:00Z") + "</trkpt></trkpt>"), {{"48.1372", "11.5756", At(1, 10, 30)}}},
        TReadCase{"TimeLeftOpen",
                  Gpx("<trkpt lat=\"1\" lon=\"1\"><time>2012-06-01T08:00:00Z</trkpt>"
                      "<trkpt lat=\"2\" lon=\"2\"><name>2012-06-01T09:00:00Z</name></trkpt>" +
                      Point("2012-06-01T08:30:00Z")),
                  {{"1", "1", At(1, 10, 0)}, {"48.1372", "11.5756", At(1, 10, 30)}}},
        TReadCase{"OpenAtEnd", Gpx(Point("2012-06-01T08:30:00Z")) + "<trkpt lat=\"1\" lon=\"1\"><time>2012-06-01T08:40:00Z</time>",
                  {{"48.1372", "11.5756", At(1, 10, 30)}}},
        TReadCase{"DocumentOrderKept",
                  Gpx(Point("2012-06-01T08:32:00Z", "3") + Point("2012-06-01T08:31:00Z", "2") +
                      Point("2012-06-01T08:30:00Z", "1")),
                  {{"3", "11.5756", At(1, 10, 32)}, {"2", "11.5756", At(1, 10, 31)}, {"1", "11.5756", At(1, 10, 30)}}},
        TReadCase{"FaultsPassedOver",
                  "<?xml version=\"1.0\" encoding=\"latin-99\"?><gpx creator=\"AT&T &eacute;\"><desc>a & b &copy;</desc>"
                  "<trk><trkseg>" + Point("2012-06-01T08:30:00Z") + "</trkseg></trk></gpx>",
                  {{"48.1372", "11.5756", At(1, 10, 30)}}},
        TReadCase{"NoDeclaration", Gpx(Point("2012-06-01T08:30:00Z"), false), {{"48.1372", "11.5756", At(1, 10, 30)}}},
        TReadCase{"Empty", "", {}},
        TReadCase{"NotXml", "lat,lon,time\n48.1,11.5,2012-06-01T08:30:00Z\n", {}}),
    [](const testing::TestParamInfo<TReadCase>& info) { return std::string(info.param.Name); });

struct TOffsetCase {
  TTimeZoneOptions Options;
  TDateTime Expected;  // for 2012-06-01T10:00:00Z
};

TEST(GpxReader, FixedZoneShift) {
  const TOffsetCase cases[] = {
      {Fixed("(GMT+01:00) Berlin"), At(1, 11, 0)},       {Fixed("(GMT+01:00) Berlin", true), At(1, 12, 0)},
      {Fixed("(GMT-05:00) New York", true), At(1, 6, 0)}, {Fixed("(GMT+05:30) Kolkata"), At(1, 15, 30)},
      {Fixed(""), At(1, 10, 0)},                         {Fixed("", true), At(1, 11, 0)},
      {Fixed("(GMT) Greenwich"), At(1, 10, 0)},
      // Only a hand-edited zone gives a day or more; it is applied as it stands.
      {Fixed("(GMT+25:00) edited"), At(2, 11, 0)},       {Fixed("(GMT-99:99) edited", true), EncodeDateTime(2012, 5, 28, 6, 21)}};
  for (const TOffsetCase& c : cases) {
    TGpxReader reader;
    ExpectPoints(Read(reader, Gpx(Point("2012-06-01T10:00:00Z")), c.Options), {{"48.1372", "11.5756", c.Expected}});
    EXPECT_EQ(reader.FixedOffset, ZoneOffsetMinutes(c.Options.SelectedZone) + (c.Options.UseDst ? 60 : 0));
  }
}

TEST(GpxReader, LocalTimeModeUsesTheSystemZone) {
  const TTimeZoneInformation saved = SystemZone;
  SystemZone.Bias = -60;
  SystemZone.DaylightBias = -60;
  SystemZone.DaylightDate.wMonth = 3;
  SystemZone.DaylightDate.wDay = 5;
  SystemZone.DaylightDate.wHour = 2;
  SystemZone.StandardDate.wMonth = 10;
  SystemZone.StandardDate.wDay = 5;
  SystemZone.StandardDate.wHour = 3;
  const TTrackPointList points =
      Read(Gpx(Point("2012-06-01T08:30:00Z") + Point("2012-01-15T08:30:00Z") + Point("2012-03-25T00:59:00Z") +
               Point("2012-03-25T01:00:00Z") + Point("garbage")),
           TTimeZoneOptions{});
  SystemZone = saved;
  ExpectPoints(points, {{"48.1372", "11.5756", At(1, 10, 30)},
                        {"48.1372", "11.5756", EncodeDateTime(2012, 1, 15, 9, 30)},
                        {"48.1372", "11.5756", EncodeDateTime(2012, 3, 25, 1, 59)},
                        {"48.1372", "11.5756", EncodeDateTime(2012, 3, 25, 3, 0)}});
}

TEST(GpxReader, EveryScanStartsAfresh) {
  TGpxReader reader;
  // A document that ends inside a time element leaves the flags set.
  Read(reader, "<?xml version=\"1.0\"?><gpx><trkpt lat=\"1\" lon=\"1\"><time>", Fixed("(GMT+01:00)"));
  EXPECT_TRUE(reader.InTrackPoint);
  EXPECT_TRUE(reader.InTime);
  EXPECT_EQ(reader.FixedOffset, 60);

  // The zone changed; the next document has no declaration and still gets the new offset.
  const TTrackPointList points = Read(reader, Gpx(Point("2012-06-01T10:00:00Z"), false), Fixed("(GMT+05:30)"));
  EXPECT_EQ(reader.FixedOffset, 330);
  EXPECT_FALSE(reader.InTrackPoint);
  EXPECT_FALSE(reader.InTime);
  ExpectPoints(points, {{"48.1372", "11.5756", At(1, 15, 30)}});

  // Unchanged options: both documents use the same offset, declaration or not.
  ExpectPoints(Read(reader, Gpx(Point("2012-06-01T10:00:00Z"), false), Fixed("(GMT+05:30)")),
               {{"48.1372", "11.5756", At(1, 15, 30)}});
}

TEST(GpxReader, LocalTimeModeKeepsTheFixedOffset) {
  const TTimeZoneInformation saved = SystemZone;
  SystemZone = {};
  TGpxReader reader;
  Read(reader, Gpx(Point("2012-06-01T10:00:00Z")), Fixed("(GMT+01:00)"));
  ExpectPoints(Read(reader, Gpx(Point("2012-06-01T10:00:00Z")), TTimeZoneOptions{}),
               {{"48.1372", "11.5756", At(1, 10, 0)}});
  SystemZone = saved;
  EXPECT_EQ(reader.FixedOffset, 60);
}

TEST(GpxReader, ScanAppendsAndTellsProblems) {
  TGpxReader reader;
  reader.SetDocument(Gpx("<trkpt lat=\"1\" lon=\"2\"><time>2012-06-01T10:00:00Z</time></trkpt><desc>a & b</desc>"),
                     "a.gpx");
  TTrackPointList points(1);
  points[0].Time = 1;
  reader.Scan(points, Fixed(""));
  ASSERT_EQ(points.size(), 2u);
  EXPECT_EQ(points[1].Latitude, "1");
  EXPECT_TRUE(reader.ScanProblem());
  EXPECT_EQ(reader.Document().substr(reader.ScanProblem().Offset, 3), "& b");

  reader.SetDocument(Gpx(Point("2012-06-01T10:00:00Z")), "b.gpx");
  reader.Scan(points, Fixed(""));
  EXPECT_FALSE(reader.ScanProblem());
  EXPECT_EQ(points.size(), 3u);
}

TEST(GpxReader, SortAndClear) {
  TTrackPointList points = Read(Gpx(Point("2012-06-01T08:32:00Z", "3") + Point("2012-06-01T08:30:00Z", "1") +
                                    Point("2012-06-01T08:31:00Z", "2") + Point("2012-06-01T08:30:00Z", "0")));
  SortTrackPoints(points);
  ASSERT_EQ(points.size(), 4u);
  for (std::size_t i = 1; i < points.size(); ++i) {
    EXPECT_LE(points[i - 1].Time, points[i].Time);
    EXPECT_LE(CompareTrackPoints(points[i - 1], points[i]), 0);
  }
  EXPECT_EQ(points.back().Latitude, "3");
  EXPECT_EQ(points[2].Latitude, "2");
  ClearTrackPoints(points);
  EXPECT_TRUE(points.empty());
  EXPECT_EQ(points.capacity(), 0u);
}

TEST(GpxReader, SortWithTimesWithinAMillisecond) {
  // The tolerance of CompareTimes is no strict order; sorting must still end ascending.
  TTrackPointList points;
  const TDateTime base = At(1, 10, 0);
  for (int i = 0; i < 2000; ++i) {
    TTrackPoint p;
    p.Time = base + ((i * 7919) % 2000) * 0.3 / 86'400'000.0;
    points.push_back(p);
  }
  SortTrackPoints(points);
  EXPECT_TRUE(std::is_sorted(points.begin(), points.end(),
                             [](const TTrackPoint& p, const TTrackPoint& q) { return p.Time < q.Time; }));
}

class TTemporaryFolder {
 public:
  TTemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumivale-gpx-XXXXXX").string();
    FPath = ::mkdtemp(pattern.data());
  }
  ~TTemporaryFolder() { std::filesystem::remove_all(FPath); }
  const std::filesystem::path& Path() const { return FPath; }

 private:
  std::filesystem::path FPath;
};

TEST(GpxReader, LoadFileKeepsTheBytesAndThePath) {
  const TTemporaryFolder folder;
  const std::string path = (folder.Path() / "tr\xC3\xA4" "ck.gpx").string();
  const std::string content = Gpx(Point("2012-06-01T10:00:00Z")) + "\r\n\xE9\xFF";
  std::ofstream(path, std::ios::binary) << content;

  TGpxReader reader;
  ASSERT_TRUE(reader.LoadFile(path));
  EXPECT_EQ(reader.TrackFileName(), path);
  EXPECT_EQ(reader.Document(), content);
  TTrackPointList points;
  reader.Scan(points, Fixed(""));
  EXPECT_EQ(points.size(), 1u);

  struct {
    std::string Path;
  } const failures[] = {{(folder.Path() / "missing.gpx").string()}, {folder.Path().string()}, {""}};
  for (const auto& failure : failures) {
    ASSERT_TRUE(reader.LoadFile(path));
    EXPECT_FALSE(reader.LoadFile(failure.Path)) << failure.Path;
    EXPECT_EQ(reader.TrackFileName(), "");
    EXPECT_EQ(reader.Document(), "");
  }
}

TEST(GpxReader, LoadFileOfEmptyFile) {
  const TTemporaryFolder folder;
  const std::string path = (folder.Path() / "empty.gpx").string();
  std::ofstream(path, std::ios::binary).flush();
  TGpxReader reader;
  EXPECT_TRUE(reader.LoadFile(path));
  EXPECT_EQ(reader.TrackFileName(), path);
  TTrackPointList points;
  reader.Scan(points, Fixed(""));
  EXPECT_TRUE(points.empty());
}

}  // namespace

namespace {

TEST(GpxReader, LoadFileWithoutSize) {
  // A pipe has no size to read up front: everything it gives is kept.
  const TTemporaryFolder folder;
  const std::string path = (folder.Path() / "pipe.gpx").string();
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  std::string content;
  for (int i = 0; i < 3000; ++i) content += Point("2012-06-01T10:00:00Z");
  content = Gpx(content);
  std::thread writer([&] { std::ofstream(path, std::ios::binary) << content; });
  TGpxReader reader;
  const bool loaded = reader.LoadFile(path);
  writer.join();
  ASSERT_TRUE(loaded);
  EXPECT_EQ(reader.Document(), content);
}

}  // namespace

namespace {

TEST(GpxReader, BareTagsDoNotInflateTheList) {
  // The list is sized up front from the "<trkpt" tags, but never beyond what the bytes could hold.
  std::string document;
  for (int i = 0; i < 100'000; ++i) document += "<trkpt";
  TTrackPointList points;
  TGpxReader reader;
  reader.SetDocument(document, "tags.gpx");
  reader.Scan(points, Fixed(""));
  EXPECT_TRUE(points.empty());
  EXPECT_LE(points.capacity() * sizeof(TTrackPoint), document.size() * 3);
}

}  // namespace
