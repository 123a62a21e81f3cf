#include "tvkmd/tvkmd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>

#include "photofixtures.h"
#include "tvkmd/safefile.h"

using namespace fixtures;

namespace {

std::string ReadExif(TvkHandle handle, const char* key, std::int32_t* result = nullptr) {
  char buffer[1024];
  const std::int32_t read = ReadEXIFMeta(handle, key, buffer, sizeof buffer);
  if (result) *result = read;
  return read == TvkOk ? std::string(buffer, strnlen(buffer, sizeof buffer)) : std::string();
}

std::string ReadXmp(TvkHandle handle, const char* key, std::int32_t* result = nullptr) {
  char buffer[1024];
  const std::int32_t read = ReadXMPMeta(handle, key, buffer, sizeof buffer);
  if (result) *result = read;
  return read == TvkOk ? std::string(buffer, strnlen(buffer, sizeof buffer)) : std::string();
}

// A JPEG in `folder` named `name`, changed by `edit` through a fresh Exiv2 image.
std::string MakeJpeg(const TempFolder& folder, const std::string& name,
                     const std::function<void(Exiv2::ExifData&, Exiv2::XmpData&)>& edit = {}) {
  const std::string path = folder.File(name);
  WriteBytes(path, TinyJpeg());
  if (edit) EditMetadata(path, edit);
  return path;
}

void SetRational(Exiv2::ExifData& exif, const char* key, const char* text) {
  Exiv2::URationalValue value;
  value.read(text);
  exif[key].setValue(&value);
}

std::vector<double> Rationals(const std::string& text) {
  std::vector<double> numbers;
  std::istringstream in(text);
  std::string part;
  while (in >> part) {
    const auto slash = part.find('/');
    numbers.push_back(std::stod(part.substr(0, slash)) / std::stod(part.substr(slash + 1)));
  }
  return numbers;
}

std::vector<std::string> TemporaryNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& name : FolderEntries(folder))
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) names.push_back(name);
  return names;
}

// Opens, changes and saves the photo as an unprivileged user; "" when the save
// was refused as not writable.
std::string SaveUnprivileged(const std::string& path) {
  return RunUnprivileged([&]() -> std::string {
    Handle handle(OpenFileImage(path.c_str(), TvkOpenMode));
    if (handle == 0) return "the photo does not open";
    WritePosition(handle, 1, 2);
    const std::int32_t result = SaveImage(handle);
    return result == TvkNotWritable ? "" : "SaveImage gave " + std::to_string(result);
  });
}

}  // namespace

TEST(Handles, OpenFailsWithZeroForWhatIsNoPhoto) {
  TempFolder folder;
  WriteBytes(folder.File("text.jpg"), NotAnImage());
  WriteBytes(folder.File("empty.jpg"), {});
  ASSERT_EQ(::mkdir(folder.File("folder.jpg").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo(folder.File("fifo.jpg").c_str(), 0644), 0);
  const std::string cases[] = {folder.File("missing.jpg"), folder.File("text.jpg"), folder.File("empty.jpg"),
                               folder.File("folder.jpg"), folder.File("fifo.jpg"), ""};
  for (const std::string& path : cases) {
    const TvkHandle handle = OpenFileImage(path.c_str(), TvkOpenMode);
    EXPECT_EQ(handle, 0) << path;
    FreeImage(handle);
    EXPECT_STRNE(LastErrorMessage(), "") << path;
  }
  EXPECT_EQ(OpenFileImage(nullptr, TvkOpenMode), 0);
}

TEST(Handles, ZeroAndUnknownHandlesAreHarmless) {
  char buffer[16] = "untouched";
  double number = 7;
  for (const TvkHandle handle : {0, 424242, -3}) {
    FreeImage(handle);
    EXPECT_EQ(SaveImage(handle), TvkBadHandle);
    EXPECT_EQ(HasEXIFData(handle), 0);
    EXPECT_EQ(HasXMPData(handle), 0);
    EXPECT_EQ(HasIPTCData(handle), 0);
    EXPECT_EQ(ReadEXIFMeta(handle, "Exif.Image.Make", buffer, sizeof buffer), TvkBadHandle);
    EXPECT_EQ(ReadXMPMeta(handle, "Xmp.aux.Lens", buffer, sizeof buffer), TvkBadHandle);
    EXPECT_EQ(ReadMetaDbl(handle, "Exif.Photo.FNumber", &number), TvkBadHandle);
    EXPECT_EQ(ModifyEXIFMeta(handle, "Exif.Image.Make", "x", TvkTypeAscii), TvkBadHandle);
    EXPECT_EQ(ModifyXMPMeta(handle, "Xmp.aux.Lens", "x", TvkTypeXmpText), TvkBadHandle);
    EXPECT_EQ(SetGPSMeta(handle, "Exif.GPSInfo.GPSLatitude", 1, 2, 3), TvkBadHandle);
    EXPECT_EQ(CreateSidecar(handle, "/tmp/never.xmp"), 0);
    EXPECT_EQ(CopyXMPToMeta(handle, handle), TvkBadHandle);
  }
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(number, 7);
}

TEST(Handles, EachOpenGetsItsOwnHandleUntilFreed) {
  TempFolder folder;
  const std::string path = MakeJpeg(folder, "a.jpg", [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
    exif["Exif.Image.Make"] = "Maker";
  });
  const std::int32_t openBefore = OpenHandleCount();
  const TvkHandle first = OpenFileImage(path.c_str(), TvkOpenMode);
  const TvkHandle second = OpenFileImage(path.c_str(), TvkOpenMode);
  EXPECT_EQ(OpenHandleCount(), openBefore + 2);
  ASSERT_NE(first, 0);
  ASSERT_NE(second, 0);
  EXPECT_NE(first, second);
  FreeImage(first);
  EXPECT_EQ(ReadExif(first, "Exif.Image.Make"), "");
  EXPECT_EQ(HasEXIFData(first), 0);
  FreeImage(first);
  EXPECT_EQ(ReadExif(second, "Exif.Image.Make"), "Maker");
  FreeImage(second);
  EXPECT_EQ(OpenHandleCount(), openBefore);
}

TEST(Reading, PresenceQueriesAnswerOneOrZero) {
  TempFolder folder;
  const std::string bare = MakeJpeg(folder, "bare.jpg");
  const std::string full = MakeJpeg(folder, "full.jpg", [](Exiv2::ExifData& exif, Exiv2::XmpData& xmp) {
    exif["Exif.Image.Make"] = "Maker";
    xmp["Xmp.aux.Lens"] = "Some lens";
  });
  {
    auto image = Exiv2::ImageFactory::open(full);
    image->readMetadata();
    image->iptcData()["Iptc.Application2.City"] = "Town";
    image->writeMetadata();
  }
  Handle none(OpenFileImage(bare.c_str(), TvkOpenMode));
  Handle all(OpenFileImage(full.c_str(), TvkOpenMode));
  EXPECT_EQ(HasEXIFData(none), 0);
  EXPECT_EQ(HasXMPData(none), 0);
  EXPECT_EQ(HasIPTCData(none), 0);
  EXPECT_EQ(HasEXIFData(all), 1);
  EXPECT_EQ(HasXMPData(all), 1);
  EXPECT_EQ(HasIPTCData(all), 1);
}

TEST(Reading, DatesKeepTheirFixedCharacterPositions) {
  TempFolder folder;
  const std::string path = MakeJpeg(folder, "dated.jpg", [](Exiv2::ExifData& exif, Exiv2::XmpData& xmp) {
    exif["Exif.Photo.DateTimeOriginal"] = "2021:06:15 10:20:30";
    xmp["Xmp.exif.DateTimeOriginal"] = "2021-06-15T10:20:30+02:00";
  });
  Handle handle(OpenFileImage(path.c_str(), TvkOpenMode));
  for (const std::string& text : {ReadExif(handle, "Exif.Photo.DateTimeOriginal"),
                                  ReadXmp(handle, "Xmp.exif.DateTimeOriginal")}) {
    ASSERT_GE(text.size(), 19u) << text;
    EXPECT_EQ(text.substr(0, 4), "2021");
    EXPECT_EQ(text.substr(5, 2), "06");
    EXPECT_EQ(text.substr(8, 2), "15");
    EXPECT_EQ(text.substr(11, 2), "10");
    EXPECT_EQ(text.substr(14, 2), "20");
    EXPECT_EQ(text.substr(17, 2), "30");
  }
}

TEST(Reading, UnknownKeysReadAsNoValue) {
  TempFolder folder;
  const std::string path = MakeJpeg(folder, "a.jpg", [](Exiv2::ExifData& exif, Exiv2::XmpData& xmp) {
    exif["Exif.Image.Make"] = "Maker";
    xmp["Xmp.aux.Lens"] = "Lens";
  });
  Handle handle(OpenFileImage(path.c_str(), TvkOpenMode));
  const char* const keys[] = {"Exif.Photo.NoSuchTag", "Exif.NoSuchGroup.Make", "Exif.Photo.LensInfo",
                              "Xmp.nosuchprefix.Lens", "Xmp.aux.NotThere", "Image.Make", "garbage", "", nullptr};
  for (const char* key : keys) {
    std::int32_t result = TvkOk;
    double number = 5;
    ReadExif(handle, key, &result);
    EXPECT_EQ(result, TvkNoValue) << (key ? key : "(null)");
    ReadXmp(handle, key, &result);
    EXPECT_EQ(result, TvkNoValue) << (key ? key : "(null)");
    EXPECT_EQ(ReadMetaDbl(handle, key, &number), TvkNoValue) << (key ? key : "(null)");
    EXPECT_EQ(number, 5);
  }
}

TEST(Reading, LensSpecificationReadsAsLensText) {
  struct Case {
    const char* stored;
    const char* text;  // nullptr: no value
  };
  const Case cases[] = {
      {"18/1 55/1 35/10 56/10", "18-55mm f/3.5-5.6"},
      {"50/1 50/1 18/10 18/10", "50mm f/1.8"},
      {"24/1 105/1 4/1 4/1", "24-105mm f/4"},
      {"45/10 1350/100 28/10 0/0", "4.5-13.5mm f/2.8"},
      {"18/1 55/1 0/0 0/0", "18-55mm"},
      {"0/0 0/0 0/0 0/0", nullptr},
  };
  TempFolder folder;
  for (const Case& c : cases) {
    const std::string path = MakeJpeg(folder, "lens.jpg", [&](Exiv2::ExifData& exif, Exiv2::XmpData&) {
      SetRational(exif, "Exif.Photo.LensSpecification", c.stored);
    });
    Handle handle(OpenFileImage(path.c_str(), TvkOpenMode));
    for (const char* key : {"Exif.Photo.LensInfo", "Exif.Photo.LensSpecification"}) {
      std::int32_t result;
      const std::string text = ReadExif(handle, key, &result);
      if (c.text) {
        EXPECT_EQ(result, TvkOk) << c.stored;
        EXPECT_EQ(text, c.text) << key;
      } else {
        EXPECT_EQ(result, TvkNoValue) << c.stored;
      }
    }
  }
}

TEST(Reading, MakerNoteLensReadsAsText) {
  TempFolder folder;
  const std::string path = MakeJpeg(folder, "canon.jpg", [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
    exif["Exif.Image.Make"] = "Canon";
    exif["Exif.Image.Model"] = "Canon EOS 40D";
    Exiv2::UShortValue lens;
    lens.read("55 18 1");
    exif["Exif.CanonCs.Lens"].setValue(&lens);
  });
  Handle handle(OpenFileImage(path.c_str(), TvkOpenMode));
  EXPECT_EQ(ReadExif(handle, "Exif.CanonCs.Lens"), "18.0 - 55.0 mm");
}

TEST(Reading, ValuesFitTheBufferOrAreRefusedWhole) {
  TempFolder folder;
  const std::string value = "abcdefghij";
  const std::string path = MakeJpeg(folder, "a.jpg", [&](Exiv2::ExifData& exif, Exiv2::XmpData& xmp) {
    exif["Exif.Image.ImageDescription"] = value;
    xmp["Xmp.aux.Lens"] = value;
  });
  Handle handle(OpenFileImage(path.c_str(), TvkOpenMode));
  for (const auto read : {&ReadEXIFMeta, &ReadXMPMeta}) {
    const char* key = read == &ReadEXIFMeta ? "Exif.Image.ImageDescription" : "Xmp.aux.Lens";
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    ASSERT_EQ(read(handle, key, buffer, 11), TvkOk);
    EXPECT_STREQ(buffer, value.c_str());

    std::memset(buffer, '#', sizeof buffer);
    ASSERT_EQ(read(handle, key, buffer, 10), TvkOk);
    EXPECT_EQ(std::string(buffer, 11), value + "#");

    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(read(handle, key, buffer, 9), TvkTooLong);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '#'));
    EXPECT_EQ(read(handle, key, buffer, 0), TvkBadArgument);
    EXPECT_EQ(read(handle, key, nullptr, 10), TvkBadArgument);
  }
}

TEST(Reading, NumbersComeFromRationalsAndIntegers) {
  TempFolder folder;
  const std::string path = MakeJpeg(folder, "a.jpg", [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
    SetRational(exif, "Exif.Photo.FocalLength", "35/2");
    SetRational(exif, "Exif.Photo.FNumber", "0/0");
    exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(200);
  });
  Handle handle(OpenFileImage(path.c_str(), TvkOpenMode));
  double number = -1;
  EXPECT_EQ(ReadMetaDbl(handle, "Exif.Photo.FocalLength", &number), TvkOk);
  EXPECT_EQ(number, 17.5);
  EXPECT_EQ(ReadMetaDbl(handle, "Exif.Photo.ISOSpeedRatings", &number), TvkOk);
  EXPECT_EQ(number, 200);
  number = -1;
  EXPECT_EQ(ReadMetaDbl(handle, "Exif.Photo.FNumber", &number), TvkNoValue);
  EXPECT_EQ(ReadMetaDbl(handle, "Exif.Photo.ExposureTime", &number), TvkNoValue);
  EXPECT_EQ(number, -1);
  EXPECT_EQ(ReadMetaDbl(handle, "Exif.Photo.FocalLength", nullptr), TvkBadArgument);
}

TEST(Writing, GpsRationalsKeepTheSecondsToThreeDecimals) {
  struct Case {
    double degrees, minutes, seconds;
  };
  const Case cases[] = {{12, 34, 56.789}, {0, 0, 0.001}, {179, 59, 59.999}, {48, 7, 3.5}, {0, 0, 0}, {90, 0, 0}};
  TempFolder folder;
  for (const Case& c : cases) {
    const std::string path = MakeJpeg(folder, "gps.jpg");
    {
      Handle handle(OpenFileImage(path.c_str(), TvkOpenMode));
      ASSERT_EQ(SetGPSMeta(handle, "Exif.GPSInfo.GPSLatitude", c.degrees, c.minutes, c.seconds), TvkOk);
      ASSERT_EQ(SaveImage(handle), TvkOk) << LastErrorMessage();
    }
    const auto stored = ExifText(path, "Exif.GPSInfo.GPSLatitude");
    ASSERT_TRUE(stored);
    const auto numbers = Rationals(*stored);
    ASSERT_EQ(numbers.size(), 3u);
    EXPECT_EQ(numbers[0], c.degrees);
    EXPECT_EQ(numbers[1], c.minutes);
    char expected[32], got[32];
    std::snprintf(expected, sizeof expected, "%.3f", c.seconds);
    std::snprintf(got, sizeof got, "%.3f", numbers[2]);
    EXPECT_STREQ(got, expected) << *stored;
    EXPECT_NEAR(numbers[2], c.seconds, 1e-9);
  }
}

TEST(Writing, BadValuesAreRefusedAndChangeNothing) {
  TempFolder folder;
  const std::string path = MakeJpeg(folder, "a.jpg");
  Handle handle(OpenFileImage(path.c_str(), TvkOpenMode));
  const double nan = std::nan("");
  EXPECT_EQ(SetGPSMeta(handle, "Exif.GPSInfo.GPSLatitude", -1, 0, 0), TvkBadArgument);
  EXPECT_EQ(SetGPSMeta(handle, "Exif.GPSInfo.GPSLatitude", 1, nan, 0), TvkBadArgument);
  EXPECT_EQ(SetGPSMeta(handle, "Exif.GPSInfo.GPSLatitude", 1, 0, INFINITY), TvkBadArgument);
  EXPECT_EQ(SetGPSMeta(handle, "Exif.NoGroup.GPSLatitude", 1, 0, 0), TvkBadArgument);
  EXPECT_EQ(ModifyEXIFMeta(handle, "Exif.GPSInfo.GPSLatitudeRef", "N", TvkTypeXmpText), TvkBadArgument);
  EXPECT_EQ(ModifyEXIFMeta(handle, "Exif.Photo.NoSuchTag", "N", TvkTypeAscii), TvkBadArgument);
  EXPECT_EQ(ModifyEXIFMeta(handle, "Exif.GPSInfo.GPSLatitudeRef", nullptr, TvkTypeAscii), TvkBadArgument);
  EXPECT_EQ(ModifyXMPMeta(handle, "Xmp.exif.GPSLatitude", "1,2N", TvkTypeAscii), TvkBadArgument);
  EXPECT_EQ(ModifyXMPMeta(handle, "Xmp.nosuchprefix.Lens", "x", TvkTypeXmpText), TvkBadArgument);
  EXPECT_EQ(HasEXIFData(handle), 0);
  EXPECT_EQ(HasXMPData(handle), 0);
}

TEST(Writing, JpegAndTiffCarryThePositionForBothTools) {
  struct Case {
    const char* name;
    Bytes (*make)();
  };
  for (const Case& c : {Case{"photo.jpg", &TinyJpeg}, Case{"photo.tif", &TinyTiff}}) {
    TempFolder folder;
    const std::string path = folder.File(c.name);
    WriteBytes(path, c.make());
    {
      Handle handle(OpenFileImage(path.c_str(), TvkOpenMode));
      ASSERT_NE(handle, 0) << c.name << ": " << LastErrorMessage();
      WritePosition(handle, -33.8568, 151.2153);
      ASSERT_EQ(ModifyXMPMeta(handle, "Xmp.exif.GPSLatitude", "33,51.408000S", TvkTypeXmpText), TvkOk);
      ASSERT_EQ(SaveImage(handle), TvkOk) << c.name << ": " << LastErrorMessage();
    }
    ExpectPosition(ExiftoolPosition(path), -33.8568, 151.2153);
    EXPECT_EQ(Exiv2ToolValue(path, "Exif.GPSInfo.GPSLatitudeRef"), "S") << c.name;
    EXPECT_EQ(Exiv2ToolValue(path, "Exif.GPSInfo.GPSLongitude"), "151/1 12/1 1377/25") << c.name;
    EXPECT_EQ(XmpText(path, "Xmp.exif.GPSLatitude"), "33,51.408000S") << c.name;
    EXPECT_TRUE(TemporaryNames(folder.Path()).empty());
  }
}

TEST(Writing, ASaveWritesWhatExiv2WritesInPlace) {
  // Headers of a few bytes, and of more than 256 KB (unknown APP5 segments).
  for (const int extraSegments : {0, 6}) {
    TempFolder folder;
    const std::string path = folder.File("big.jpg");
    Bytes bytes = LargeJpeg(300000);
    Bytes segment = {0xff, 0xe5, 0xea, 0x60};
    segment.resize(60000, 0x5a);
    for (int i = 0; i < extraSegments; ++i) bytes.insert(bytes.begin() + 2, segment.begin(), segment.end());
    WriteBytes(path, bytes);
    {
      auto image = Exiv2::ImageFactory::open(path);
      image->readMetadata();
      image->setComment("kept comment");
      image->exifData()["Exif.Image.Artist"] = "Someone";
      image->xmpData()["Xmp.dc.creator"] = "Someone";
      image->writeMetadata();
    }
    const Bytes before = ReadBytes(path);
    WriteBytes(folder.File("reference.jpg"), before);
    {
      Handle handle(OpenFileImage(path.c_str(), TvkOpenMode));
      WritePosition(handle, 1.5, 2.5);
      ASSERT_EQ(ModifyXMPMeta(handle, "Xmp.exif.GPSLatitude", "1,30.0000000N", TvkTypeXmpText), TvkOk);
      ASSERT_EQ(SaveImage(handle), TvkOk) << LastErrorMessage();
    }
    const Bytes after = ReadBytes(path);
    // The same changes, in the same order, written by Exiv2 itself into a copy of the original.
    {
      auto saved = Exiv2::ImageFactory::open(path);
      saved->readMetadata();
      auto reference = Exiv2::ImageFactory::open(folder.File("reference.jpg"));
      reference->readMetadata();
      for (const char* key : {"Exif.GPSInfo.GPSLatitude", "Exif.GPSInfo.GPSLatitudeRef", "Exif.GPSInfo.GPSLongitude",
                              "Exif.GPSInfo.GPSLongitudeRef"})
        reference->exifData()[key].setValue(&saved->exifData()[key].value());
      reference->xmpData()["Xmp.exif.GPSLatitude"] = "1,30.0000000N";
      reference->writeMetadata();
    }
    EXPECT_EQ(after, ReadBytes(folder.File("reference.jpg"))) << extraSegments << " extra segments";
    const std::size_t scan = 300000 - TinyJpeg().size();
    ASSERT_GT(after.size(), scan);
    EXPECT_TRUE(std::equal(before.end() - static_cast<long>(scan), before.end(), after.end() - static_cast<long>(scan)));
    EXPECT_NE(std::search(after.begin(), after.end(), segment.begin(), segment.end()) == after.end(), extraSegments > 0);
    auto image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    EXPECT_EQ(image->comment(), "kept comment");
    EXPECT_EQ(ExifText(path, "Exif.Image.Artist"), "Someone");
    ExpectPosition(ExiftoolPosition(path), 1.5, 2.5);
  }
}

TEST(Saving, KeepsPermissionBitsAndOwner) {
  TempFolder folder;
  const std::string path = MakeJpeg(folder, "owned.jpg");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(path.c_str(), 1234, 5678), 0);
  }
  {
    Handle handle(OpenFileImage(path.c_str(), TvkOpenMode));
    WritePosition(handle, 10, 20);
    ASSERT_EQ(SaveImage(handle), TvkOk) << LastErrorMessage();
  }
  struct stat status {};
  ASSERT_EQ(::stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(status.st_uid, 1234u);
    EXPECT_EQ(status.st_gid, 5678u);
  }
  ExpectPosition(ExiftoolPosition(path), 10, 20);
}

TEST(Saving, ASymbolicLinkStaysALinkAndItsTargetIsReplaced) {
  TempFolder folder;
  ASSERT_EQ(::mkdir(folder.File("real").c_str(), 0755), 0);
  const std::string target = MakeJpeg(folder, "real/photo.jpg");
  const std::string link = folder.File("link.jpg");
  ASSERT_EQ(::symlink("real/photo.jpg", link.c_str()), 0);
  {
    Handle handle(OpenFileImage(link.c_str(), TvkOpenMode));
    WritePosition(handle, 45, 7);
    ASSERT_EQ(SaveImage(handle), TvkOk) << LastErrorMessage();
  }
  struct stat status {};
  ASSERT_EQ(::lstat(link.c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  ExpectPosition(ExiftoolPosition(target), 45, 7);
  EXPECT_TRUE(TemporaryNames(folder.Path()).empty());
  EXPECT_TRUE(TemporaryNames(folder.File("real")).empty());
}

TEST(Saving, AReadOnlyFileIsNotReplaced) {
  TempFolder folder;
  const std::string path = MakeJpeg(folder, "locked.jpg");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  ASSERT_TRUE(GiveToUnprivileged(folder.Path()));
  ASSERT_TRUE(GiveToUnprivileged(path));
  const Bytes before = ReadBytes(path);
  const std::string message = SaveUnprivileged(path);
  if (message.rfind("SKIP", 0) == 0) GTEST_SKIP() << message;
  EXPECT_EQ(message, "");
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"locked.jpg"});
}

TEST(Saving, APhotoInAReadOnlyFolderIsNotReplaced) {
  TempFolder folder;
  ASSERT_EQ(::mkdir(folder.File("locked").c_str(), 0755), 0);
  const std::string path = MakeJpeg(folder, "locked/photo.jpg");
  ASSERT_TRUE(GiveToUnprivileged(path));
  ASSERT_TRUE(GiveToUnprivileged(folder.File("locked")));
  ASSERT_EQ(::chmod(folder.File("locked").c_str(), 0555), 0);
  const Bytes before = ReadBytes(path);
  const std::string message = SaveUnprivileged(path);
  if (message.rfind("SKIP", 0) == 0) GTEST_SKIP() << message;
  EXPECT_EQ(message, "");
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_EQ(FolderEntries(folder.File("locked")), std::vector<std::string>{"photo.jpg"});
}

TEST(Saving, AFullDiskLeavesTheOriginalWhole) {
  TempFolder folder;
  const std::string path = folder.File("big.jpg");
  WriteBytes(path, LargeJpeg(1 << 20));
  const Bytes before = ReadBytes(path);
  // A child whose file size limit ends the write half-way, as a full disk would.
  int channel[2];
  ASSERT_EQ(::pipe(channel), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{512 * 1024, 512 * 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const TvkHandle handle = OpenFileImage(path.c_str(), TvkOpenMode);
    WritePosition(handle, 1, 2);
    const std::int32_t result = SaveImage(handle);
    (void)!::write(channel[1], &result, sizeof result);
    ::_exit(0);
  }
  ::close(channel[1]);
  std::int32_t result = TvkOk;
  EXPECT_EQ(::read(channel[0], &result, sizeof result), static_cast<ssize_t>(sizeof result));
  ::close(channel[0]);
  ::waitpid(child, nullptr, 0);
  EXPECT_EQ(result, TvkFailed);
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"big.jpg"});
}

TEST(Saving, CorruptAndTruncatedPhotosFailClearly) {
  TempFolder folder;
  const std::string source = MakeJpeg(folder, "source.jpg", [](Exiv2::ExifData& exif, Exiv2::XmpData& xmp) {
    exif["Exif.Photo.DateTimeOriginal"] = "2021:06:15 10:20:30";
    exif["Exif.Image.ImageDescription"] = std::string(2000, 'd');
    xmp["Xmp.aux.Lens"] = "Lens";
  });
  const Bytes good = ReadBytes(source);
  struct Case {
    const char* name;
    Bytes bytes;
  };
  Bytes broken = good;
  broken[3] = 0xe1;  // keep the marker,
  broken[4] = 0xff;  // but claim a segment far longer than the file
  Bytes garbage(good.begin(), good.begin() + 2);
  garbage.insert(garbage.end(), 200, 0x42);
  const Case cases[] = {
      {"truncated-in-exif.jpg", Bytes(good.begin(), good.begin() + 300)},
      {"truncated-after-soi.jpg", Bytes(good.begin(), good.begin() + 3)},
      {"bad-length.jpg", broken},
      {"garbage.jpg", garbage},
  };
  for (const Case& c : cases) {
    const std::string path = folder.File(c.name);
    WriteBytes(path, c.bytes);
    const TvkHandle handle = OpenFileImage(path.c_str(), TvkOpenMode);
    if (handle != 0) {
      WritePosition(handle, 1, 2);
      EXPECT_NE(SaveImage(handle), TvkOk) << c.name;
      EXPECT_STRNE(LastErrorMessage(), "") << c.name;
      FreeImage(handle);
    }
    EXPECT_EQ(ReadBytes(path), c.bytes) << c.name;
  }
  EXPECT_TRUE(TemporaryNames(folder.Path()).empty());
}

TEST(Sidecar, CreatingOneWritesNothingToDisk) {
  TempFolder folder;
  const std::string photo = MakeJpeg(folder, "raw.cr2");
  const std::string sidecar = folder.File("raw.xmp");
  Handle handle(OpenFileImage(photo.c_str(), TvkOpenMode));
  const TvkHandle created = CreateSidecar(handle, sidecar.c_str());
  ASSERT_NE(created, 0);
  EXPECT_NE(created, static_cast<TvkHandle>(handle));
  EXPECT_FALSE(Exists(sidecar));
  FreeImage(created);
  EXPECT_FALSE(Exists(sidecar));
  EXPECT_EQ(CreateSidecar(handle, ""), 0);
  EXPECT_EQ(CreateSidecar(handle, nullptr), 0);
}

TEST(Sidecar, SavePublishesASidecarBothToolsRead) {
  TempFolder folder;
  const std::string photo = MakeJpeg(folder, "raw.cr2", [](Exiv2::ExifData&, Exiv2::XmpData& xmp) {
    xmp["Xmp.dc.creator"] = "Photographer";
  });
  const Bytes photoBefore = ReadBytes(photo);
  const std::string sidecar = folder.File("raw.xmp");
  {
    Handle handle(OpenFileImage(photo.c_str(), TvkOpenMode));
    Handle created(CreateSidecar(handle, sidecar.c_str()));
    WritePosition(created, 52.5163, -13.3777);
    ASSERT_EQ(ModifyXMPMeta(created, "Xmp.aux.Lens", "18-55mm f/3.5-5.6", TvkTypeXmpText), TvkOk);
    ASSERT_EQ(SaveImage(created), TvkOk) << LastErrorMessage();
  }
  EXPECT_EQ(ReadBytes(photo), photoBefore);
  ExpectPosition(ExiftoolPosition(sidecar), 52.5163, -13.3777);
  EXPECT_EQ(Exiv2ToolValue(sidecar, "Xmp.aux.Lens"), "18-55mm f/3.5-5.6");
  EXPECT_NE(Exiv2ToolValue(sidecar, "Xmp.exif.GPSLatitude"), "");
  EXPECT_EQ(XmpText(sidecar, "Xmp.exif.GPSLongitudeRef").value_or("W"), "W");
  EXPECT_TRUE(XmpText(sidecar, "Xmp.dc.creator").has_value());
  EXPECT_TRUE(TemporaryNames(folder.Path()).empty());
}

TEST(Sidecar, ANewSidecarNeverReplacesAnExistingName) {
  TempFolder folder;
  const std::string photo = MakeJpeg(folder, "raw.cr2");
  struct Case {
    const char* what;
    std::function<void(const std::string&)> make;
  };
  const Case cases[] = {
      {"empty file", [](const std::string& path) { WriteBytes(path, {}); }},
      {"other content", [](const std::string& path) { WriteBytes(path, NotAnImage()); }},
      {"unreadable file",
       [](const std::string& path) {
         WriteBytes(path, NotAnImage());
         ::chmod(path.c_str(), 0);
       }},
      {"folder", [](const std::string& path) { ::mkdir(path.c_str(), 0755); }},
      {"dangling link", [](const std::string& path) { (void)!::symlink("nowhere", path.c_str()); }},
  };
  for (const Case& c : cases) {
    const std::string sidecar = folder.File(std::string(c.what) + ".xmp");
    c.make(sidecar);
    struct stat before {};
    ASSERT_EQ(::lstat(sidecar.c_str(), &before), 0) << c.what;
    Handle handle(OpenFileImage(photo.c_str(), TvkOpenMode));
    Handle created(CreateSidecar(handle, sidecar.c_str()));
    WritePosition(created, 1, 2);
    EXPECT_EQ(SaveImage(created), TvkExists) << c.what << ": " << LastErrorMessage();
    struct stat after {};
    ASSERT_EQ(::lstat(sidecar.c_str(), &after), 0) << c.what;
    EXPECT_EQ(after.st_ino, before.st_ino) << c.what;
    EXPECT_EQ(after.st_size, before.st_size) << c.what;
  }
  EXPECT_TRUE(TemporaryNames(folder.Path()).empty());
}

TEST(Sidecar, APublishedSidecarIsLaterReplacedWhole) {
  TempFolder folder;
  const std::string photo = MakeJpeg(folder, "raw.cr2");
  const std::string sidecar = folder.File("raw.xmp");
  Handle handle(OpenFileImage(photo.c_str(), TvkOpenMode));
  Handle created(CreateSidecar(handle, sidecar.c_str()));
  WritePosition(created, 1, 2);
  ASSERT_EQ(SaveImage(created), TvkOk) << LastErrorMessage();
  WritePosition(created, 3, 4);
  ASSERT_EQ(SaveImage(created), TvkOk) << LastErrorMessage();
  ExpectPosition(ExiftoolPosition(sidecar), 3, 4);
  {
    Handle reopened(OpenFileImage(sidecar.c_str(), TvkOpenMode));
    ASSERT_NE(reopened, 0);
    EXPECT_EQ(HasEXIFData(reopened), 1);
    WritePosition(reopened, 5, 6);
    ASSERT_EQ(SaveImage(reopened), TvkOk) << LastErrorMessage();
  }
  ExpectPosition(ExiftoolPosition(sidecar), 5, 6);
  EXPECT_EQ(FolderEntries(folder.Path()), (std::vector<std::string>{"raw.cr2", "raw.xmp"}));
}

TEST(Sidecar, XmpIsCopiedIntoAnotherHandle) {
  TempFolder folder;
  const std::string source = MakeJpeg(folder, "source.jpg", [](Exiv2::ExifData&, Exiv2::XmpData& xmp) {
    xmp["Xmp.aux.Lens"] = "Copied lens";
    xmp["Xmp.exif.DateTimeOriginal"] = "2020-02-03T04:05:06";
  });
  const std::string target = MakeJpeg(folder, "target.jpg", [](Exiv2::ExifData&, Exiv2::XmpData& xmp) {
    xmp["Xmp.aux.Lens"] = "Old lens";
    xmp["Xmp.dc.format"] = "image/jpeg";
  });
  Handle from(OpenFileImage(source.c_str(), TvkOpenMode));
  Handle to(OpenFileImage(target.c_str(), TvkOpenMode));
  EXPECT_EQ(CopyXMPToMeta(to, to), TvkOk);
  ASSERT_EQ(CopyXMPToMeta(to, from), TvkOk);
  EXPECT_EQ(ReadXmp(to, "Xmp.aux.Lens"), "Copied lens");
  EXPECT_EQ(ReadXmp(to, "Xmp.exif.DateTimeOriginal"), "2020-02-03T04:05:06");
  EXPECT_EQ(ReadXmp(to, "Xmp.dc.format"), "image/jpeg");
  ASSERT_EQ(SaveImage(to), TvkOk) << LastErrorMessage();
  EXPECT_EQ(XmpText(target, "Xmp.aux.Lens"), "Copied lens");
}

TEST(Library, NothingReachesTheTerminal) {
  TempFolder folder;
  const std::string source = MakeJpeg(folder, "a.jpg", [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
    exif["Exif.Image.Make"] = "Canon";
    exif["Exif.Photo.MakerNote"] = "not really a maker note";
  });
  Bytes bytes = ReadBytes(source);
  WriteBytes(folder.File("cut.jpg"), Bytes(bytes.begin(), bytes.begin() + 60));
  WriteBytes(folder.File("bad.xmp"), Bytes{'<', '?', 'x', 'm', 'l', ' ', '<', 'x', ':'});
  std::fflush(stderr);
  const int saved = ::dup(2);
  const std::string capture = folder.File("stderr.txt");
  const int file = ::open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::dup2(file, 2);
  for (const char* name : {"a.jpg", "cut.jpg", "bad.xmp"}) {
    const std::string path = folder.File(name);
    const TvkHandle handle = OpenFileImage(path.c_str(), TvkOpenMode);
    ReadExif(handle, "Exif.Canon.0x0001");
    SaveImage(handle);
    FreeImage(handle);
  }
  std::fflush(stderr);
  ::dup2(saved, 2);
  ::close(saved);
  ::close(file);
  EXPECT_EQ(ReadBytes(capture), Bytes{});
}

TEST(SafeFile, CopyRangeCopiesInTheKernelOrByReading) {
  TempFolder folder;
  Bytes bytes(20000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7);
  WriteBytes(folder.File("source"), bytes);
  tvkmd::SourceFile source;
  std::string error;
  ASSERT_EQ(source.Open(folder.File("source"), error), TvkOk) << error;
  EXPECT_EQ(source.Size(), bytes.size());
  const Bytes expected(bytes.begin() + 1000, bytes.begin() + 13000);

  const int file = ::open(folder.File("copy").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_EQ(tvkmd::CopyRange(source.Fd(), 1000, 12000, file, error), TvkOk) << error;
  ::close(file);
  EXPECT_EQ(ReadBytes(folder.File("copy")), expected);

  // A pipe takes no kernel copy: the bytes go through a buffer instead.
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  ASSERT_EQ(tvkmd::CopyRange(source.Fd(), 1000, 12000, pipe[1], error), TvkOk) << error;
  ::close(pipe[1]);
  Bytes piped(20000);
  const ssize_t got = ::read(pipe[0], piped.data(), piped.size());
  ::close(pipe[0]);
  piped.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  EXPECT_EQ(piped, expected);

  // Past the end of the file.
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  EXPECT_EQ(tvkmd::CopyRange(source.Fd(), 19000, 5000, null, error), TvkFailed);
  ::close(null);
  EXPECT_NE(error, "");
}
