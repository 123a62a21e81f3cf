#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/geotagrun.h"
#include "metadata/applicationprocs.h"
#include "metadata/metaprocs.h"
#include "platform/dialogs.h"
#include "photofixtures.h"
#include "track/datetime.h"

namespace fs = std::filesystem;
using namespace fixtures;

namespace {

// Four points ten seconds apart; the run takes the point that begins the
// stretch holding the capture time.
struct TPoint {
  double Latitude, Longitude;
};
const std::vector<TPoint> Points = {
    {48.1372, 11.5756}, {-33.8688, -0.1278}, {40.7128, -74.006}, {35.6762, 139.6503}};

TTrackPointList Track() {
  TTrackPointList track;
  for (std::size_t i = 0; i < Points.size(); ++i)
    track.push_back({std::to_string(Points[i].Latitude), std::to_string(Points[i].Longitude),
                     EncodeDateTime(2024, 5, 1, 10, 0, static_cast<int>(10 * i))});
  return track;
}

// Capture times: inside the stretch of point 0, 1 or 2; outside the track; none.
enum TCapture { AtP0, AtP1, AtP2, Outside, NoTime };
std::string CaptureText(TCapture capture) {
  switch (capture) {
    case AtP0: return "2024:05:01 10:00:05";
    case AtP1: return "2024:05:01 10:00:15";
    case AtP2: return "2024:05:01 10:00:25";
    case Outside: return "2024:05:01 11:00:00";
    case NoTime: return {};
  }
  return {};
}
int PointOf(TCapture capture) { return capture <= AtP2 ? static_cast<int>(capture) : -1; }

enum class TKind { Jpeg, Tiff, Raw };
enum class TGps { None, LatitudeOnly, Both };
enum class TSidecar { None, Plain, WithGps };
enum class TExpect { Written, Unchanged };

struct TPhoto {
  std::string Name;
  TKind Kind = TKind::Jpeg;
  TCapture Capture = AtP0;
  bool Xmp = false;
  TGps Gps = TGps::None;
  TSidecar Sidecar = TSidecar::None;
  bool ReadOnly = false;
  bool DeletedAfterScan = false;
  TExpect Expect = TExpect::Written;
};

struct TRunCase {
  std::string Name;
  std::vector<TPhoto> Photos;
  std::vector<int> Answers;
  std::vector<std::string> Questions;
  std::string FinalText;
  bool ReadOnlyFolder = false;
};

void PrintTo(const TRunCase& c, std::ostream* out) { *out << c.Name; }

std::string ReadOnlyQuestion(const std::string& name) {
  return "The file \"" + name + "\" is write protected. Are you sure you want to save the changes?";
}
std::string OverwriteQuestion(const std::string& name) {
  return "Overwrite existing GPS data in \"" + name + "\"?";
}

std::string SidecarName(const std::string& name) {
  return fs::path(name).replace_extension(".xmp").string();
}

// The window side of the run: answers the questions from a list and records
// what the run told it.
class TFakeSink : public TRunSink {
 public:
  explicit TFakeSink(std::vector<int> answers) : FAnswers(std::move(answers)) {}

  void RunStarted(int total) override {
    ++Started;
    Total = total;
    EXPECT_EQ(Finished, 0) << "RunStarted after RunFinished";
  }
  void PhotoStarted(const QString& displayName) override {
    EXPECT_EQ(Started, 1);
    Names.push_back(displayName.toStdString());
  }
  int Ask(const QString& text) override {
    EXPECT_FALSE(Busy) << "a question under the hourglass: " << text.toStdString();
    Questions.push_back(text.toStdString());
    if (FNext >= FAnswers.size()) {
      ADD_FAILURE() << "unexpected question: " << text.toStdString();
      return Answer::No;
    }
    return FAnswers[FNext++];
  }
  void SetBusy(bool busy) override { Busy = busy; }
  void RunFinished(const QString& finalText) override {
    ++Finished;
    FinalText = finalText.toStdString();
  }

  int Started = 0, Finished = 0, Total = -1;
  bool Busy = false;
  std::vector<std::string> Names, Questions;
  std::string FinalText;

 private:
  std::vector<int> FAnswers;
  std::size_t FNext = 0;
};

// A new XMP sidecar holding a title and, when asked, a position.
void WriteSidecar(const std::string& path, bool withGps) {
  auto sidecar = Exiv2::ImageFactory::create(Exiv2::ImageType::xmp, path);
  sidecar->xmpData()["Xmp.dc.title"] = "sidecar title";
  if (withGps) {
    sidecar->xmpData()["Xmp.exif.GPSLatitude"] = "10,0.0000000N";
    sidecar->xmpData()["Xmp.exif.GPSLongitude"] = "20,0.0000000E";
  }
  sidecar->writeMetadata();
}

void MakePhoto(const TempFolder& folder, const TPhoto& photo) {
  const std::string path = folder.File(photo.Name);
  // A raw-like file is a TIFF under a raw extension.
  WriteBytes(path, photo.Kind == TKind::Jpeg ? TinyJpeg() : TinyTiff());
  EditMetadata(path, [&](Exiv2::ExifData& exif, Exiv2::XmpData& xmp) {
    if (photo.Capture != NoTime) exif["Exif.Photo.DateTimeOriginal"] = CaptureText(photo.Capture);
    if (photo.Gps != TGps::None) {
      exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
      Exiv2::URationalValue latitude;
      latitude.read("10/1 0/1 0/1");
      exif["Exif.GPSInfo.GPSLatitude"] = latitude;
    }
    if (photo.Gps == TGps::Both) {
      exif["Exif.GPSInfo.GPSLongitudeRef"] = "E";
      Exiv2::URationalValue longitude;
      longitude.read("20/1 0/1 0/1");
      exif["Exif.GPSInfo.GPSLongitude"] = longitude;
    }
    if (photo.Xmp) xmp["Xmp.dc.title"] = "photo title";
  });
  if (photo.Sidecar != TSidecar::None)
    WriteSidecar(folder.File(SidecarName(photo.Name)), photo.Sidecar == TSidecar::WithGps);
  if (photo.ReadOnly) ::chmod(path.c_str(), 0444);
}

std::optional<mode_t> PermissionBits(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return status.st_mode & 07777;
}

// "48,8.2320000N" (or with seconds, "48,8,13.92N") in signed degrees.
std::optional<double> XmpDegrees(const std::optional<std::string>& text) {
  if (!text || text->size() < 3) return std::nullopt;
  const char letter = text->back();
  double parts[3] = {0, 0, 0};
  std::istringstream in(text->substr(0, text->size() - 1));
  std::string part;
  int count = 0;
  while (count < 3 && std::getline(in, part, ',')) parts[count++] = std::stod(part);
  if (count < 2 || std::string("NSEW").find(letter) == std::string::npos) return std::nullopt;
  const double degrees = parts[0] + parts[1] / 60 + parts[2] / 3600;
  return letter == 'S' || letter == 'W' ? -degrees : degrees;
}

// The position exiftool reads from a photo or sidecar.
void ExpectExiftoolPosition(const std::string& path, int point) {
  std::istringstream position(ExiftoolPosition(path));
  double latitude = 0, longitude = 0;
  ASSERT_TRUE(position >> latitude >> longitude) << path << " has no position for exiftool";
  EXPECT_NEAR(latitude, Points[point].Latitude, 1e-6) << path;
  EXPECT_NEAR(longitude, Points[point].Longitude, 1e-6) << path;
}

void ExpectXmpPosition(const std::string& path, int point) {
  const auto latitude = XmpDegrees(XmpText(path, "Xmp.exif.GPSLatitude"));
  const auto longitude = XmpDegrees(XmpText(path, "Xmp.exif.GPSLongitude"));
  ASSERT_TRUE(latitude && longitude) << path << " has no XMP position";
  EXPECT_NEAR(*latitude, Points[point].Latitude, 1e-6) << path;
  EXPECT_NEAR(*longitude, Points[point].Longitude, 1e-6) << path;
}

std::map<std::string, Bytes> Snapshot(const TempFolder& folder) {
  std::map<std::string, Bytes> files;
  for (const std::string& name : FolderEntries(folder.Path())) files[name] = ReadBytes(folder.File(name));
  return files;
}

void RunCase(const TRunCase& c) {
  TempFolder folder;
  std::vector<std::string> files;
  std::map<std::string, mode_t> modes;
  for (const TPhoto& photo : c.Photos) {
    MakePhoto(folder, photo);
    files.push_back(folder.File(photo.Name));
    modes[photo.Name] = PermissionBits(folder.File(photo.Name)).value_or(0);
  }
  for (const TPhoto& photo : c.Photos)
    if (photo.DeletedAfterScan) fs::remove(folder.File(photo.Name));
  const auto before = Snapshot(folder);
  if (c.ReadOnlyFolder) ::chmod(folder.Path().c_str(), 0555);

  TMetaData metaData;
  TFakeSink sink(c.Answers);
  const TRunResult result = RunGeotagging(files, Track(), metaData, sink);

  if (c.ReadOnlyFolder) ::chmod(folder.Path().c_str(), 0755);
  EXPECT_EQ(sink.Started, 1);
  EXPECT_EQ(sink.Total, static_cast<int>(c.Photos.size()));
  EXPECT_EQ(sink.Finished, 1);
  EXPECT_EQ(sink.FinalText, c.FinalText);
  EXPECT_EQ(FinalRunText(result.SkippedCount).toStdString(), c.FinalText);
  EXPECT_EQ(sink.Questions, c.Questions);
  std::vector<std::string> names;
  for (const TPhoto& photo : c.Photos) names.push_back(photo.Name);
  EXPECT_EQ(sink.Names, names);
  EXPECT_EQ(metaData.MainHandle, 0) << "the last photo was left open";

  std::set<std::string> expectedFiles;
  for (const auto& [name, bytes] : before) expectedFiles.insert(name);
  int written = 0;
  for (const TPhoto& photo : c.Photos) {
    SCOPED_TRACE(photo.Name);
    const std::string path = folder.File(photo.Name);
    const std::string sidecar = SidecarName(photo.Name);
    if (photo.DeletedAfterScan) {
      EXPECT_FALSE(fs::exists(path));
      continue;
    }
    EXPECT_EQ(PermissionBits(path), modes[photo.Name]) << "permission bits changed";
    const bool raw = photo.Kind == TKind::Raw;
    if (photo.Expect == TExpect::Unchanged || raw) {
      EXPECT_TRUE(ReadBytes(path) == before.at(photo.Name)) << "the photo file changed";
    }
    if (photo.Expect == TExpect::Unchanged) {
      if (before.count(sidecar)) {
        EXPECT_TRUE(ReadBytes(folder.File(sidecar)) == before.at(sidecar)) << "sidecar changed";
      }
      continue;
    }
    ++written;
    const int point = PointOf(photo.Capture);
    if (raw) {
      expectedFiles.insert(sidecar);
      ExpectExiftoolPosition(folder.File(sidecar), point);
      ExpectXmpPosition(folder.File(sidecar), point);
      if (photo.Sidecar != TSidecar::None) {
        EXPECT_EQ(XmpText(folder.File(sidecar), "Xmp.dc.title"), "lang=\"x-default\" sidecar title");
      }
    } else {
      ExpectExiftoolPosition(path, point);
      if (photo.Xmp)
        ExpectXmpPosition(path, point);
      else
        EXPECT_EQ(XmpText(path, "Xmp.exif.GPSLatitude"), std::nullopt) << "XMP added to " << path;
    }
  }
  EXPECT_EQ(result.WrittenCount, written);
  EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>(expectedFiles.begin(), expectedFiles.end()))
      << "files appeared or vanished";
}

TPhoto Jpeg(std::string name, TCapture capture = AtP0) {
  TPhoto p;
  p.Name = std::move(name);
  p.Capture = capture;
  return p;
}
template <class T>
TPhoto With(TPhoto p, T TPhoto::*field, T value) {
  p.*field = value;
  return p;
}
TPhoto Skipped(TPhoto p) { return With(p, &TPhoto::Expect, TExpect::Unchanged); }
TPhoto Gps(TPhoto p) { return With(p, &TPhoto::Gps, TGps::Both); }
TPhoto ReadOnly(TPhoto p) { return With(p, &TPhoto::ReadOnly, true); }
TPhoto Kind(TPhoto p, TKind kind) { return With(p, &TPhoto::Kind, kind); }

const std::vector<TRunCase> Cases = {
    {"NoPhotos", {}, {}, {}, "Finished."},
    {"JpegAndTiffWithAndWithoutXmp",
     {Jpeg("a.jpg", AtP0), With(Jpeg("b.jpg", AtP1), &TPhoto::Xmp, true),
      Kind(Jpeg("c.tif", AtP2), TKind::Tiff),
      With(Kind(Jpeg("d.tiff", AtP1), TKind::Tiff), &TPhoto::Xmp, true)},
     {}, {}, "Finished."},
    {"CapitalExtensionsAndUnicodeNames",
     {Jpeg("PHOTO.JPG", AtP1), Jpeg("Ünïcödé 写真.jpeg", AtP2)}, {}, {}, "Finished."},
    {"RawGetsNewSidecar",
     {Kind(Jpeg("IMG_0001.CR2", AtP1), TKind::Raw), Kind(Jpeg("DSC0002.arw", AtP2), TKind::Raw)},
     {}, {}, "Finished."},
    {"RawWithExistingSidecarWithoutGps",
     {With(Kind(Jpeg("IMG_0003.CR2", AtP0), TKind::Raw), &TPhoto::Sidecar, TSidecar::Plain)},
     {}, {}, "Finished."},
    {"RawWithExistingSidecarWithGpsIsAsked",
     {With(Kind(Jpeg("r1.cr2", AtP1), TKind::Raw), &TPhoto::Sidecar, TSidecar::WithGps),
      Skipped(With(Kind(Jpeg("r2.cr2", AtP2), TKind::Raw), &TPhoto::Sidecar, TSidecar::WithGps))},
     {Answer::Yes, Answer::No},
     {OverwriteQuestion("r1.cr2"), OverwriteQuestion("r2.cr2")},
     "Finished (skipped 1 file)."},
    {"NoCaptureTimeAndOutsideTheTrack",
     {Skipped(Jpeg("none.jpg", NoTime)), Jpeg("in.jpg", AtP1), Skipped(Jpeg("late.jpg", Outside))},
     {}, {}, "Finished (skipped 2 files)."},
    {"ExistingGpsYesAndNo",
     {Gps(Jpeg("g1.jpg", AtP0)), Skipped(Gps(Jpeg("g2.jpg", AtP1))), Gps(Jpeg("g3.jpg", AtP2))},
     {Answer::Yes, Answer::No, Answer::Yes},
     {OverwriteQuestion("g1.jpg"), OverwriteQuestion("g2.jpg"), OverwriteQuestion("g3.jpg")},
     "Finished (skipped 1 file)."},
    {"ExistingGpsYesToAll",
     {Gps(Jpeg("g1.jpg", AtP0)), Gps(Jpeg("g2.jpg", AtP1)), Gps(Jpeg("g3.tif", AtP2))},
     {Answer::YesToAll}, {OverwriteQuestion("g1.jpg")}, "Finished."},
    {"ExistingGpsNoToAll",
     {Skipped(Gps(Jpeg("g1.jpg", AtP0))), Jpeg("plain.jpg", AtP1), Skipped(Gps(Jpeg("g2.jpg", AtP1))),
      Skipped(Gps(Jpeg("g3.jpg", AtP2)))},
     {Answer::NoToAll}, {OverwriteQuestion("g1.jpg")}, "Finished (skipped 3 files)."},
    {"ClosedQuestionActsAsNoToAll",
     {Skipped(Gps(Jpeg("g1.jpg", AtP0))), Skipped(Gps(Jpeg("g2.jpg", AtP1)))},
     {Answer::Cancel}, {OverwriteQuestion("g1.jpg")}, "Finished (skipped 2 files)."},
    {"LatitudeWithoutLongitudeIsNotAskedAbout",
     {With(Jpeg("half.jpg", AtP1), &TPhoto::Gps, TGps::LatitudeOnly)}, {}, {}, "Finished."},
    {"ReadOnlyYesAndNo",
     {ReadOnly(Jpeg("ro1.jpg", AtP0)), Skipped(ReadOnly(Jpeg("ro2.jpg", AtP1))),
      ReadOnly(Jpeg("ro3.jpg", AtP2))},
     {Answer::Yes, Answer::No, Answer::Yes},
     {ReadOnlyQuestion("ro1.jpg"), ReadOnlyQuestion("ro2.jpg"), ReadOnlyQuestion("ro3.jpg")},
     "Finished."},
    {"ReadOnlyYesToAll",
     {ReadOnly(Jpeg("ro1.jpg", AtP0)), ReadOnly(Jpeg("ro2.jpg", AtP1)),
      ReadOnly(Kind(Jpeg("ro3.tif", AtP2), TKind::Tiff))},
     {Answer::YesToAll}, {ReadOnlyQuestion("ro1.jpg")}, "Finished."},
    {"ReadOnlyYesThenOverwriteNo",
     {Skipped(ReadOnly(Gps(Jpeg("ro.jpg", AtP0))))},
     {Answer::Yes, Answer::No},
     {ReadOnlyQuestion("ro.jpg"), OverwriteQuestion("ro.jpg")},
     "Finished (skipped 1 file)."},
    {"ReadOnlyYesWithoutPositionIsNotAskedToOverwrite",
     {Skipped(ReadOnly(Gps(Jpeg("ro.jpg", Outside))))},
     {Answer::Yes}, {ReadOnlyQuestion("ro.jpg")}, "Finished (skipped 1 file)."},
    {"ReadOnlyNoToAllIsNotCounted",
     {Skipped(ReadOnly(Jpeg("ro1.jpg"))), Skipped(ReadOnly(Jpeg("ro2.jpg"))), Jpeg("w.jpg")},
     {Answer::NoToAll}, {ReadOnlyQuestion("ro1.jpg")}, "Finished."},
    {"ReadOnlyRawGetsSidecarAndKeepsItsBits",
     {ReadOnly(Kind(Jpeg("ro.CR2", AtP1), TKind::Raw))},
     {Answer::Yes}, {ReadOnlyQuestion("ro.CR2")}, "Finished."},
    {"OverwriteYesToAllStillAsksReadOnly",
     {Gps(Jpeg("g.jpg", AtP0)), ReadOnly(Gps(Jpeg("ro1.jpg", AtP1))),
      Skipped(ReadOnly(Gps(Jpeg("ro2.jpg", AtP2))))},
     {Answer::YesToAll, Answer::Yes, Answer::No},
     {OverwriteQuestion("g.jpg"), ReadOnlyQuestion("ro1.jpg"), ReadOnlyQuestion("ro2.jpg")},
     "Finished."},
    {"ReadOnlyYesToAllStillAsksOverwrite",
     {ReadOnly(Gps(Jpeg("ro1.jpg", AtP0))), Skipped(ReadOnly(Gps(Jpeg("ro2.jpg", AtP1))))},
     {Answer::YesToAll, Answer::Yes, Answer::No},
     {ReadOnlyQuestion("ro1.jpg"), OverwriteQuestion("ro1.jpg"), OverwriteQuestion("ro2.jpg")},
     "Finished (skipped 1 file)."},
    {"PhotoDeletedAfterTheScan",
     {With(Jpeg("gone.jpg"), &TPhoto::DeletedAfterScan, true), Jpeg("here.jpg", AtP1)},
     {}, {}, "Finished (skipped 1 file)."},
    {"ReadOnlyFolderSaveFails",
     {Skipped(Jpeg("a.jpg", AtP0)), Skipped(Kind(Jpeg("b.cr2", AtP1), TKind::Raw))},
     {}, {}, "Finished (skipped 2 files).", true},
};

class RunTable : public testing::TestWithParam<TRunCase> {
 protected:
  static void SetUpTestSuite() { BuildExtensionLists(); }
};

// Runs `body` as an unprivileged user, where permission bits bind; its failed
// expectations are printed by the child and fail the test here.
void Unprivileged(const std::function<void()>& body) {
  const std::string message = RunUnprivileged([&] {
    body();
    return testing::Test::HasFailure() ? std::string("failed in the unprivileged child") : std::string();
  });
  if (message.rfind("SKIP:", 0) == 0) GTEST_SKIP() << message;
  EXPECT_EQ(message, "");
}

TEST_P(RunTable, GeotagsAsAnswered) {
  Unprivileged([&] { RunCase(GetParam()); });
}

INSTANTIATE_TEST_SUITE_P(Runs, RunTable, testing::ValuesIn(Cases),
                         [](const testing::TestParamInfo<TRunCase>& info) { return info.param.Name; });

TEST(FinalRunText, CountsSkippedFiles) {
  EXPECT_EQ(FinalRunText(0).toStdString(), "Finished.");
  EXPECT_EQ(FinalRunText(1).toStdString(), "Finished (skipped 1 file).");
  EXPECT_EQ(FinalRunText(2).toStdString(), "Finished (skipped 2 files).");
  EXPECT_EQ(FinalRunText(11).toStdString(), "Finished (skipped 11 files).");
}

// The window must come back from a run that an error ended, with the photo
// closed and its permission bits restored.
class TThrowingSink : public TFakeSink {
 public:
  TThrowingSink() : TFakeSink({Answer::Yes}) {}
  int Ask(const QString& text) override {
    if (Questions.size() == 1) throw std::runtime_error("window gone");
    return TFakeSink::Ask(text);
  }
};

TEST(RunGeotagging, ErrorEndsTheRunWithItsFinalTextAndRestoresThePhoto) {
  BuildExtensionLists();
  Unprivileged([] {
        TempFolder folder;
        const TPhoto photo = ReadOnly(Gps(Jpeg("ro.jpg", AtP1)));
        MakePhoto(folder, photo);
        const std::string path = folder.File(photo.Name);
        const Bytes bytes = ReadBytes(path);
        TMetaData metaData;
        TThrowingSink sink;
        EXPECT_THROW(RunGeotagging({path}, Track(), metaData, sink), std::runtime_error);
        EXPECT_EQ(sink.Finished, 1);
        EXPECT_EQ(sink.FinalText, "Finished.");
        EXPECT_EQ(metaData.MainHandle, 0);
        EXPECT_EQ(PermissionBits(path), mode_t{0444});
        EXPECT_TRUE(ReadBytes(path) == bytes);
        // MetaData is usable again.
        EXPECT_TRUE(metaData.Open(path, false, true, {}));
        metaData.Close();
  });
}

}  // namespace
