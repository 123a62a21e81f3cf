#include "metadata/metaprocs.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <sstream>
#include <thread>

#include "metadata/applicationprocs.h"
#include "metadata/exiflib.h"
#include "photofixtures.h"
#include "track/position.h"
#include "tvkmd/safefile.h"
#include "tvkmd/tvkmd.h"

using namespace fixtures;

namespace {

using Edit = std::function<void(Exiv2::ExifData&, Exiv2::XmpData&)>;

const char* const latitudeKey = "Exif.GPSInfo.GPSLatitude";
const char* const longitudeKey = "Exif.GPSInfo.GPSLongitude";

class MetaDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildExtensionLists();
    handlesBefore_ = OpenHandleCount();
  }
  void TearDown() override {
    Meta.Close();
    EXPECT_EQ(OpenHandleCount(), handlesBefore_) << "a handle was not released";
  }

  std::string Photo(const std::string& name, const Bytes& bytes, const Edit& edit = {}) {
    const std::string path = Folder.File(name);
    WriteBytes(path, bytes);
    if (edit) EditMetadata(path, edit);
    return path;
  }
  std::string Jpeg(const std::string& name, const Edit& edit = {}) { return Photo(name, TinyJpeg(), edit); }
  // A raw-like photo: TIFF content under a raw extension.
  std::string Raw(const std::string& name, const Edit& edit = {}) { return Photo(name, TinyTiff(), edit); }
  std::string Sidecar(const std::string& name, const std::function<void(Exiv2::XmpData&)>& edit) {
    const std::string path = Folder.File(name);
    std::unique_ptr<Exiv2::Image> image(Exiv2::ImageFactory::create(Exiv2::ImageType::xmp, path).release());
    edit(image->xmpData());
    image->writeMetadata();
    return path;
  }

  // What the run does with a photo: open, a sidecar for formats not written in
  // place, both coordinates, save and close. The result is Save's.
  bool Geotag(const std::string& path, double latitude, double longitude) {
    if (!Meta.Open(path, false, true)) return false;
    if (IndexOfExtension(WritableExtensions, ExtensionKey(path)) < 0) Meta.AddSidecar();
    Meta.WriteGps(latitudeKey, "Xmp.exif.GPSLatitude", LatitudeText(latitude));
    Meta.WriteGps(longitudeKey, "Xmp.exif.GPSLongitude", LongitudeText(longitude));
    const bool saved = Meta.Save();
    Meta.Close();
    return saved;
  }

  int OpenedNow() const { return OpenHandleCount() - handlesBefore_; }

  TempFolder Folder;
  TMetaData Meta;

 private:
  int handlesBefore_ = 0;
};

TDateTime Day(int day) { return EncodeDateTime(2021, 6, day, 10, 20, 30); }
std::string ExifDate(int day) { return "2021:06:" + std::to_string(day) + " 10:20:30"; }
std::string XmpDate(int day) { return "2021-06-" + std::to_string(day) + "T10:20:30"; }

}  // namespace

TEST_F(MetaDataTest, CaptureTimeFollowsTheKeyPriorities) {
  // Each key holds its own day: 11 to 16 in the order of the search.
  const char* const keys[] = {"Exif.Photo.DateTimeOriginal", "Exif.Photo.DateTimeDigitized", "Exif.Image.DateTime",
                              "Xmp.exif.DateTimeOriginal", "Xmp.exif.DateTimeDigitized", "Xmp.tiff.DateTime"};
  struct Case {
    std::vector<int> present;  // indexes into keys
    int expectedDay;           // 0: no capture time
  };
  const Case cases[] = {{{0, 1, 2, 3, 4, 5}, 11}, {{1, 2, 3}, 12}, {{2, 3, 4, 5}, 13},
                        {{3, 4, 5}, 14},          {{4, 5}, 15},    {{5}, 16},
                        {{}, 0}};
  for (const Case& c : cases) {
    const std::string path = Jpeg("dated.jpg", [&](Exiv2::ExifData& exif, Exiv2::XmpData& xmp) {
      for (const int index : c.present) {
        const std::string key = keys[index];
        if (index < 3)
          exif[key] = ExifDate(11 + index);
        else
          xmp[key] = XmpDate(11 + index);
      }
    });
    ASSERT_TRUE(Meta.Open(path, false, true));
    EXPECT_EQ(Meta.CaptureTime, c.expectedDay ? Day(c.expectedDay) : 0) << "first key " << c.expectedDay - 11;
    EXPECT_EQ(Meta.ReadCaptureTime(), Meta.CaptureTime);
    Meta.Close();
  }
}

TEST_F(MetaDataTest, AnUnreadableFirstDateGivesNoCaptureTime) {
  const std::string path = Jpeg("odd.jpg", [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
    exif["Exif.Photo.DateTimeOriginal"] = "    :  :     :  :  ";
    exif["Exif.Photo.DateTimeDigitized"] = ExifDate(12);
  });
  ASSERT_TRUE(Meta.Open(path, false, true));
  EXPECT_EQ(Meta.CaptureTime, 0);
}

TEST_F(MetaDataTest, APhotoOpensWithItsOwnHandleForEverything) {
  const std::string path = Jpeg("a.jpg", [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
    exif["Exif.Photo.DateTimeOriginal"] = ExifDate(11);
  });
  ASSERT_TRUE(Meta.Open(path, false, true, "alias"));
  EXPECT_NE(Meta.MainHandle, 0);
  EXPECT_EQ(Meta.XmpHandle, Meta.MainHandle);
  EXPECT_FALSE(Meta.HasSidecar);
  EXPECT_TRUE(Meta.HasExif);
  EXPECT_FALSE(Meta.HasXmp);
  EXPECT_EQ(Meta.FileName, path);
  EXPECT_EQ(Meta.AliasName, "alias");
  EXPECT_EQ(OpenedNow(), 1);
  Meta.Close();
  EXPECT_EQ(Meta.MainHandle, 0);
  EXPECT_EQ(Meta.XmpHandle, 0);
  EXPECT_EQ(Meta.FileName, "");
  EXPECT_EQ(Meta.CaptureTime, Day(11));
  ASSERT_TRUE(Meta.Open(path, false, true));
  EXPECT_EQ(Meta.AliasName, path);
}

TEST_F(MetaDataTest, AMissingPhotoWithoutSidecarDoesNotOpen) {
  EXPECT_FALSE(Meta.Open(Folder.File("missing.jpg"), false, true));
  EXPECT_EQ(Meta.MainHandle, 0);
  EXPECT_EQ(Meta.XmpHandle, 0);
  EXPECT_EQ(Meta.CaptureTime, 0);
  Photo("text.jpg", NotAnImage());
  EXPECT_FALSE(Meta.Open(Folder.File("text.jpg"), false, true));
  EXPECT_EQ(OpenedNow(), 0);
}

TEST_F(MetaDataTest, ASidecarInAnyLetterCaseIsFound) {
  for (const char* name : {"photo.xmp", "photo.XMP", "photo.Xmp", "photo.xMP"}) {
    TempFolder folder;
    const std::string raw = folder.File("photo.ARW");
    WriteBytes(raw, TinyTiff());
    EditMetadata(raw, [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
      exif["Exif.Photo.DateTimeOriginal"] = ExifDate(11);
    });
    const Bytes rawBefore = ReadBytes(raw);
    const std::string sidecar = folder.File(name);
    {
      std::unique_ptr<Exiv2::Image> image(Exiv2::ImageFactory::create(Exiv2::ImageType::xmp, sidecar).release());
      image->xmpData()["Xmp.dc.creator"] = "Someone";
      image->writeMetadata();
    }
    ASSERT_TRUE(Meta.Open(raw, false, true)) << name;
    EXPECT_TRUE(Meta.HasSidecar) << name;
    EXPECT_NE(Meta.XmpHandle, Meta.MainHandle) << name;
    EXPECT_TRUE(Meta.HasXmp) << name;
    Meta.Close();
    ASSERT_TRUE(Geotag(raw, 48.1372, 11.5756)) << name;
    ExpectPosition(ExiftoolPosition(sidecar), 48.1372, 11.5756);
    EXPECT_EQ(ReadBytes(raw), rawBefore) << name;
    EXPECT_EQ(FolderEntries(folder.Path()), (std::vector<std::string>{"photo.ARW", name})) << name;
  }
}

TEST_F(MetaDataTest, NoSidecarLookUpWhenNotAskedOrForAnXmpFileOrAFolder) {
  const std::string photo = Jpeg("photo.jpg", [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
    exif["Exif.Image.Make"] = "Maker";
  });
  Sidecar("photo.xmp", [](Exiv2::XmpData& xmp) { xmp["Xmp.dc.creator"] = "Someone"; });
  ASSERT_TRUE(Meta.Open(photo, false, false));
  EXPECT_FALSE(Meta.HasSidecar);
  EXPECT_EQ(Meta.XmpHandle, Meta.MainHandle);
  Meta.Close();

  const std::string notes = Sidecar("notes.XMP", [](Exiv2::XmpData& xmp) { xmp["Xmp.dc.creator"] = "A"; });
  Sidecar("notes.xmp", [](Exiv2::XmpData& xmp) { xmp["Xmp.dc.creator"] = "B"; });
  ASSERT_TRUE(Meta.Open(notes, false, true));
  EXPECT_FALSE(Meta.HasSidecar);
  EXPECT_EQ(OpenedNow(), 1);
  Meta.Close();

  const std::string other = Jpeg("other.jpg", [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
    exif["Exif.Image.Make"] = "Maker";
  });
  ASSERT_EQ(::mkdir(Folder.File("other.xmp").c_str(), 0755), 0);
  ASSERT_TRUE(Meta.Open(other, false, true));
  EXPECT_FALSE(Meta.HasSidecar);
}

TEST_F(MetaDataTest, APhotoWithoutExifIsServedByItsSidecarAlone) {
  const std::string photo = Jpeg("plain.jpg");
  const Bytes photoBefore = ReadBytes(photo);
  const std::string sidecar = Sidecar("plain.xmp", [](Exiv2::XmpData& xmp) {
    xmp["Xmp.exif.DateTimeOriginal"] = XmpDate(14);
  });
  ASSERT_TRUE(Meta.Open(photo, false, true));
  EXPECT_TRUE(Meta.HasSidecar);
  EXPECT_EQ(Meta.MainHandle, Meta.XmpHandle);
  EXPECT_EQ(Meta.CaptureTime, Day(14));
  // The photo's own handle was released at once.
  EXPECT_EQ(OpenedNow(), 1);
  Meta.Close();
  ASSERT_TRUE(Geotag(photo, -33.8688, 151.2093));
  ExpectPosition(ExiftoolPosition(sidecar), -33.8688, 151.2093);
  EXPECT_EQ(ReadBytes(photo), photoBefore);
}

TEST_F(MetaDataTest, APhotoThatDoesNotOpenWorksThroughItsSidecar) {
  const std::string raw = Photo("broken.cr2", NotAnImage());
  const std::string sidecar = Sidecar("broken.xmp", [](Exiv2::XmpData& xmp) {
    xmp["Xmp.exif.DateTimeOriginal"] = XmpDate(15);
  });
  ASSERT_TRUE(Meta.Open(raw, false, true));
  EXPECT_TRUE(Meta.HasSidecar);
  EXPECT_EQ(Meta.MainHandle, Meta.XmpHandle);
  EXPECT_EQ(Meta.CaptureTime, Day(15));
  Meta.Close();
  ASSERT_TRUE(Geotag(raw, 10.5, -20.25));
  ExpectPosition(ExiftoolPosition(sidecar), 10.5, -20.25);
  EXPECT_EQ(ReadBytes(raw), NotAnImage());
}

TEST_F(MetaDataTest, AddSidecarPreparesTheSidecarInMemoryOnly) {
  const std::string raw = Raw("photo.cr2", [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
    exif["Exif.Photo.DateTimeOriginal"] = ExifDate(11);
  });
  ASSERT_TRUE(Meta.Open(raw, false, true));
  Meta.AddSidecar();
  EXPECT_TRUE(Meta.HasSidecar);
  EXPECT_NE(Meta.XmpHandle, Meta.MainHandle);
  EXPECT_EQ(OpenedNow(), 2);
  Meta.AddSidecar();
  EXPECT_EQ(OpenedNow(), 2);
  Meta.WriteGps(latitudeKey, "Xmp.exif.GPSLatitude", LatitudeText(1));
  EXPECT_FALSE(Exists(Folder.File("photo.xmp")));
  Meta.Close();
  EXPECT_FALSE(Exists(Folder.File("photo.xmp")));
  EXPECT_EQ(FolderEntries(Folder.Path()), std::vector<std::string>{"photo.cr2"});
}

TEST_F(MetaDataTest, ARawGetsANewSidecarAndStaysByteIdentical) {
  const std::string raw = Raw("IMG_0001.CR2", [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
    exif["Exif.Photo.DateTimeOriginal"] = ExifDate(11);
    Exiv2::URationalValue lens;
    lens.read("18/1 55/1 35/10 56/10");
    exif["Exif.Photo.LensSpecification"].setValue(&lens);
  });
  const Bytes rawBefore = ReadBytes(raw);
  ASSERT_TRUE(Meta.Open(raw, false, true));
  Meta.AddSidecar();
  EXPECT_EQ(Meta.MinFocalLength, 18);
  EXPECT_EQ(Meta.MaxFocalLength, 55);
  Meta.Close();
  ASSERT_TRUE(Geotag(raw, -33.8688, 151.2093));
  const std::string sidecar = Folder.File("IMG_0001.xmp");
  ExpectPosition(ExiftoolPosition(sidecar), -33.8688, 151.2093);
  EXPECT_NE(Exiv2ToolValue(sidecar, "Xmp.exif.GPSLatitude"), "");
  EXPECT_NE(Exiv2ToolValue(sidecar, "Xmp.exif.GPSLongitude"), "");
  EXPECT_EQ(Exiv2ToolValue(sidecar, "Xmp.aux.Lens"), "18-55mm f/3.5-5.6");
  EXPECT_EQ(ReadBytes(raw), rawBefore);
  EXPECT_EQ(FolderEntries(Folder.Path()), (std::vector<std::string>{"IMG_0001.CR2", "IMG_0001.xmp"}));
}

TEST_F(MetaDataTest, ARawWithoutSidecarIsNeverWritten) {
  const std::string raw = Raw("photo.arw", [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
    exif["Exif.Photo.DateTimeOriginal"] = ExifDate(11);
  });
  const Bytes before = ReadBytes(raw);
  ASSERT_TRUE(Meta.Open(raw, false, true));
  Meta.WriteGps(latitudeKey, "Xmp.exif.GPSLatitude", LatitudeText(5));
  Meta.WriteGps(longitudeKey, "Xmp.exif.GPSLongitude", LongitudeText(6));
  EXPECT_FALSE(Meta.Save());
  Meta.Close();
  EXPECT_EQ(ReadBytes(raw), before);
  EXPECT_EQ(FolderEntries(Folder.Path()), std::vector<std::string>{"photo.arw"});
}

TEST_F(MetaDataTest, AnExistingFileNeverGivesWayToANewSidecar) {
  struct Case {
    const char* blocker;
    Bytes content;
  };
  const Case cases[] = {{"photo.xmp", {}}, {"photo.XMP", NotAnImage()}, {"photo.Xmp", {'<', '?', 'x'}}};
  for (const Case& c : cases) {
    TempFolder folder;
    const std::string raw = folder.File("photo.rw2");
    WriteBytes(raw, TinyTiff());
    EditMetadata(raw, [](Exiv2::ExifData& exif, Exiv2::XmpData&) { exif["Exif.Image.Make"] = "Maker"; });
    const Bytes rawBefore = ReadBytes(raw);
    WriteBytes(folder.File(c.blocker), c.content);
    EXPECT_FALSE(Geotag(raw, 1, 2)) << c.blocker;
    EXPECT_EQ(ReadBytes(folder.File(c.blocker)), c.content) << c.blocker;
    EXPECT_EQ(ReadBytes(raw), rawBefore) << c.blocker;
    std::vector<std::string> expected = {c.blocker, "photo.rw2"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FolderEntries(folder.Path()), expected) << c.blocker;
  }
}

TEST_F(MetaDataTest, JpegAndTiffAreWrittenInPlaceForBothTools) {
  for (const auto& [name, bytes] : {std::pair{"photo.JPG", TinyJpeg()}, std::pair{"photo.tiff", TinyTiff()}}) {
    const std::string path = Photo(name, bytes, [](Exiv2::ExifData& exif, Exiv2::XmpData& xmp) {
      exif["Exif.Photo.DateTimeOriginal"] = ExifDate(11);
      xmp["Xmp.dc.creator"] = "Someone";
    });
    ASSERT_TRUE(Geotag(path, -33.8688, -70.6693)) << name;
    ExpectPosition(ExiftoolPosition(path), -33.8688, -70.6693);
    EXPECT_EQ(Exiv2ToolValue(path, "Exif.GPSInfo.GPSLatitudeRef"), "S") << name;
    EXPECT_EQ(Exiv2ToolValue(path, "Exif.GPSInfo.GPSLongitudeRef"), "W") << name;
    EXPECT_EQ(Exiv2ToolValue(path, "Exif.GPSInfo.GPSLatitude"), "33/1 52/1 192/25") << name;
    double d, m, s;
    ParseDms(LatitudeText(33.8688), d, m, s);
    EXPECT_EQ(XmpText(path, "Xmp.exif.GPSLatitude"), XmpCoordinateText(d, m, s) + "S") << name;
    EXPECT_EQ(Exiv2ToolValue(path, "Xmp.exif.GPSLatitude"), XmpCoordinateText(d, m, s) + "S") << name;
  }
  EXPECT_EQ(FolderEntries(Folder.Path()), (std::vector<std::string>{"photo.JPG", "photo.tiff"}));
}

TEST_F(MetaDataTest, WriteGpsKeepsNumbersNonNegativeAndPicksTheLetter) {
  struct Case {
    double latitude, longitude;
    const char *latitudeRef, *longitudeRef;
  };
  const Case cases[] = {{0, 0, "N", "E"}, {-0.5, -179.75, "S", "W"}, {45.25, 7.5, "N", "E"}};
  for (const Case& c : cases) {
    const std::string path = Jpeg("gps.jpg", [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
      exif["Exif.Image.Make"] = "Maker";
    });
    ASSERT_TRUE(Meta.Open(path, false, true));
    EXPECT_FALSE(Meta.HasXmp);
    Meta.WriteGps(latitudeKey, "Xmp.exif.GPSLatitude", LatitudeText(c.latitude));
    Meta.WriteGps(longitudeKey, "Xmp.exif.GPSLongitude", LongitudeText(c.longitude));
    ASSERT_TRUE(Meta.Save());
    Meta.Close();
    EXPECT_EQ(ExifText(path, "Exif.GPSInfo.GPSLatitudeRef"), c.latitudeRef);
    EXPECT_EQ(ExifText(path, "Exif.GPSInfo.GPSLongitudeRef"), c.longitudeRef);
    for (const char* key : {latitudeKey, longitudeKey})
      EXPECT_EQ(ExifText(path, key).value_or("-").find('-'), std::string::npos) << *ExifText(path, key);
    // Without XMP in the photo no XMP coordinate is added.
    EXPECT_FALSE(XmpText(path, "Xmp.exif.GPSLatitude").has_value());
  }
}

TEST_F(MetaDataTest, WriteGpsWithoutXmpKeyLeavesXmpAndSidecarAlone) {
  const std::string raw = Raw("photo.raf", [](Exiv2::ExifData& exif, Exiv2::XmpData& xmp) {
    exif["Exif.Image.Make"] = "Maker";
    xmp["Xmp.dc.creator"] = "Someone";
  });
  ASSERT_TRUE(Meta.Open(raw, false, true));
  EXPECT_TRUE(Meta.HasXmp);
  Meta.AddSidecar();
  Meta.WriteGps(latitudeKey, "", LatitudeText(12.5));
  ASSERT_TRUE(Meta.Save());
  Meta.Close();
  const std::string sidecar = Folder.File("photo.xmp");
  EXPECT_TRUE(Exists(sidecar));
  EXPECT_FALSE(XmpText(sidecar, "Xmp.exif.GPSLatitude").has_value());
}

TEST_F(MetaDataTest, ReadExifCleansEmptyFractionsAndKeepsOtherBytes) {
  const std::string path = Jpeg("a.jpg", [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
    Exiv2::URationalValue unknown;
    unknown.read("0/0");
    exif["Exif.Photo.FNumber"].setValue(&unknown);
    exif["Exif.Image.ImageDescription"] = "\xE9t\xE9";
    exif["Exif.Image.Artist"] = "Ren\xC3\xA9";
  });
  ASSERT_TRUE(Meta.Open(path, false, true));
  EXPECT_EQ(ReadExifValue(Meta.MainHandle, "Exif.Photo.FNumber"), "(0/0)");
  EXPECT_EQ(Meta.ReadExif("Exif.Photo.FNumber"), "");
  EXPECT_EQ(Meta.ReadExif("Exif.Image.ImageDescription"), "\xE9t\xE9");
  EXPECT_EQ(Meta.ReadExif("Exif.Image.Artist"), "Ren\xC3\xA9");
  EXPECT_EQ(Meta.ReadExif(latitudeKey), "");
}

TEST_F(MetaDataTest, LensTextFollowsTheLensKeysAndFallsBackToNumbers) {
  const auto makerNote = [](const char* make, const char* key, const char* type, const char* value) {
    return [=](Exiv2::ExifData& exif, Exiv2::XmpData& xmp) {
      exif["Exif.Image.Make"] = make;
      exif["Exif.Image.Model"] = "Model";
      auto created = Exiv2::Value::create(Exiv2::TypeInfo::typeId(type));
      created->read(value);
      exif.add(Exiv2::ExifKey(key), created.get());
      xmp["Xmp.aux.Lens"] = "XMP lens 24-70mm";
    };
  };
  const auto olympus = [](unsigned minimum, unsigned maximum) {
    return [=](Exiv2::ExifData& exif, Exiv2::XmpData&) { AddOlympusFocalLengths(exif, minimum, maximum); };
  };
  struct Case {
    const char* what;
    Edit edit;
    std::string text;
    double minimum, maximum;  // -1: left as they were
  };
  const Case cases[] = {
      {"Nikon", makerNote("NIKON CORPORATION", "Exif.Nikon3.Lens", "Rational", "18/1 55/1 35/10 56/10"),
       "18-55mm F3.5-5.6", 18, 55},
      {"Pentax", makerNote("PENTAX Corporation", "Exif.Pentax.LensType", "Byte", "3 44"), "Tamron 35-90mm F4 AF",
       35, 90},
      {"Canon zero", makerNote("Canon", "Exif.CanonCs.Lens", "Short", "0 0 1"), "", -1, -1},
      {"Sigma zero", makerNote("SIGMA", "Exif.Sigma.LensRange", "Ascii", "0.0-0.0mm"), "", -1, -1},
      {"no mm, no XMP fallback", makerNote("Minolta", "Exif.Minolta.LensID", "Long", "12345"), "", 0, 0},
      {"Olympus range", olympus(12, 60), "12 - 60 mm", 12, 60},
      {"Olympus prime", olympus(35, 35), "35 mm", 35, 35},
      {"Olympus minimum only", olympus(12, 0), "", 0, 0},
      {"no EXIF lens text", makerNote("FUJIFILM", "Exif.Fujifilm.MinFocalLength", "Rational", "45/10"),
       "XMP lens 24-70mm", 24, 70},
      {"LensInfo",
       [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
         Exiv2::URationalValue lens;
         lens.read("70/1 200/1 4/1 4/1");
         exif["Exif.Photo.LensSpecification"].setValue(&lens);
       },
       "70-200mm f/4", 70, 200},
      {"XMP only",
       [](Exiv2::ExifData& exif, Exiv2::XmpData& xmp) {
         exif["Exif.Image.Make"] = "Maker";
         xmp["Xmp.aux.Lens"] = " Zoom 24-70 ";
       },
       " Zoom 24-70 ", 24, 70},
  };
  for (const Case& c : cases) {
    const std::string path = Jpeg("lens.jpg", c.edit);
    ASSERT_TRUE(Meta.Open(path, false, true)) << c.what;
    Meta.MinFocalLength = Meta.MaxFocalLength = -1;
    EXPECT_EQ(Meta.LensText(), c.text) << c.what;
    EXPECT_EQ(Meta.MinFocalLength, c.minimum) << c.what;
    EXPECT_EQ(Meta.MaxFocalLength, c.maximum) << c.what;
    Meta.Close();
  }
}

TEST_F(MetaDataTest, FujifilmFocalLengthsFormatWithOneDecimal) {
  const std::string path = Jpeg("fuji.jpg", [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
    exif["Exif.Image.Make"] = "FUJIFILM";
    exif["Exif.Image.Model"] = "X-T1";
    Exiv2::URationalValue minimum, maximum;
    minimum.read("45/10");
    maximum.read("5525/100");
    exif["Exif.Fujifilm.MinFocalLength"].setValue(&minimum);
    exif["Exif.Fujifilm.MaxFocalLength"].setValue(&maximum);
  });
  ASSERT_TRUE(Meta.Open(path, false, true));
  EXPECT_EQ(Meta.LensText(), "4.5 - 55.3 mm");
  EXPECT_EQ(Meta.MinFocalLength, 4.5);
  EXPECT_EQ(Meta.MaxFocalLength, 55.25);
}

TEST(ParseLensRange, ReadsTheFirstNumberAndTheOneAfterTheDash) {
  struct Case {
    const char* text;
    double minimum, maximum;  // -1: left as they were
  };
  const Case cases[] = {
      {"18-55mm", 18, 55},
      {"EF-S18-55mm f/3.5-5.6", 18, 55},
      {"18.0 - 55.0 mm", 18, 55},
      {"50mm f/1.8", -1, -1},
      {"", -1, -1},
      {"Zoom 24 to 70", -1, -1},
      {"1.2.3-5mm", 0, 5},
      {"12-", -1, -1},
      {"70-200", 70, 200},
  };
  TMetaData meta;
  for (const Case& c : cases) {
    double minimum = -1, maximum = -1;
    meta.ParseLensRange(c.text, minimum, maximum);
    EXPECT_EQ(minimum, c.minimum) << c.text;
    EXPECT_EQ(maximum, c.maximum) << c.text;
  }
}

TEST_F(MetaDataTest, SaveReportsAFailedFileAndStillSavesTheOther) {
  // "photo" is a read-only photo with a writable sidecar; "sidecar" the reverse.
  ASSERT_TRUE(GiveToUnprivileged(Folder.Path()));
  std::map<std::string, Bytes> locked;
  for (const std::string stem : {"photo", "sidecar"}) {
    const std::string photo = Jpeg(stem + ".jpg", [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
      exif["Exif.Image.Make"] = "Maker";
    });
    const std::string sidecar = Sidecar(stem + ".xmp", [](Exiv2::XmpData& xmp) { xmp["Xmp.dc.creator"] = "A"; });
    const std::string lockedFile = stem == "photo" ? photo : sidecar;
    ASSERT_EQ(::chmod(lockedFile.c_str(), 0444), 0);
    ASSERT_TRUE(GiveToUnprivileged(photo));
    ASSERT_TRUE(GiveToUnprivileged(sidecar));
    locked[lockedFile] = ReadBytes(lockedFile);
  }
  const std::string message = RunUnprivileged([&]() -> std::string {
    std::string result;
    for (const char* photo : {"photo.jpg", "sidecar.jpg"})
      if (Geotag(Folder.File(photo), 3, 4)) result += std::string(photo) + ": Save reported success. ";
    return result;
  });
  if (message.rfind("SKIP", 0) == 0) GTEST_SKIP() << message;
  EXPECT_EQ(message, "");
  for (const auto& [path, bytes] : locked) EXPECT_EQ(ReadBytes(path), bytes) << path;
  ExpectPosition(ExiftoolPosition(Folder.File("photo.xmp")), 3, 4);
  ExpectPosition(ExiftoolPosition(Folder.File("sidecar.jpg")), 3, 4);
}

TEST_F(MetaDataTest, ARawInAReadOnlyFolderIsReportedNotSaved) {
  ASSERT_EQ(::mkdir(Folder.File("locked").c_str(), 0755), 0);
  const std::string raw = Raw("locked/photo.cr2", [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
    exif["Exif.Image.Make"] = "Maker";
  });
  ASSERT_TRUE(GiveToUnprivileged(Folder.File("locked")));
  ASSERT_EQ(::chmod(Folder.File("locked").c_str(), 0555), 0);
  const std::string message = RunUnprivileged([&]() -> std::string {
    return Geotag(raw, 3, 4) ? "Save reported success" : "";
  });
  if (message.rfind("SKIP", 0) == 0) GTEST_SKIP() << message;
  EXPECT_EQ(message, "");
  EXPECT_EQ(FolderEntries(Folder.File("locked")), std::vector<std::string>{"photo.cr2"});
}

namespace {

// One byte of the image data changed in the written file before it is read back.
void FlipLastByte(int fd) {
  struct stat status {};
  unsigned char byte = 0;
  if (::fstat(fd, &status) != 0 || status.st_size < 3) return;
  const off_t at = status.st_size - 3;  // inside the scan, before the end marker
  if (::pread(fd, &byte, 1, at) != 1) return;
  byte ^= 0x01;
  (void)!::pwrite(fd, &byte, 1, at);
}

}  // namespace

TEST_F(MetaDataTest, ASaveThatDoesNotReadBackIsReportedAndChangesNothing) {
  const std::string path = Photo("photo.jpg", LargeJpeg(100000), [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
    exif["Exif.Photo.DateTimeOriginal"] = ExifDate(11);
  });
  const Bytes original = ReadBytes(path);
  tvkmd::SetWrittenFileHook(&FlipLastByte);
  const bool saved = Geotag(path, 3, 4);
  tvkmd::SetWrittenFileHook(nullptr);
  EXPECT_FALSE(saved);
  EXPECT_EQ(ReadBytes(path), original);
  EXPECT_EQ(FolderEntries(Folder.Path()), std::vector<std::string>{"photo.jpg"});
  EXPECT_TRUE(Geotag(path, 3, 4));
  ExpectPosition(ExiftoolPosition(path), 3, 4);
}

TEST_F(MetaDataTest, ASaveKilledMidwayLeavesAWholePhoto) {
  const std::string path = Folder.File("big.jpg");
  WriteBytes(path, LargeJpeg(24 << 20));
  EditMetadata(path, [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
    exif["Exif.Photo.DateTimeOriginal"] = ExifDate(11);
  });
  const Bytes original = ReadBytes(path);
  for (const int delayMicroseconds : {0, 2000, 20000}) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      TMetaData meta;
      if (meta.Open(path, false, true)) {
        meta.WriteGps(latitudeKey, "Xmp.exif.GPSLatitude", LatitudeText(1 + delayMicroseconds));
        meta.WriteGps(longitudeKey, "Xmp.exif.GPSLongitude", LongitudeText(2));
        meta.Save();
      }
      ::_exit(0);
    }
    // Kill the child once its temporary file exists, while it writes.
    bool writing = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!writing && std::chrono::steady_clock::now() < deadline) {
      for (const std::string& name : FolderEntries(Folder.Path()))
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) writing = true;
      if (!writing) std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(writing) << "the save never began";

    const Bytes now = ReadBytes(path);
    if (now != original) {
      // The new photo, whole: its metadata reads and the image data is intact.
      const auto latitude = ExifText(path, latitudeKey);
      EXPECT_TRUE(latitude.has_value());
      EXPECT_TRUE(std::equal(original.end() - 1000000, original.end(), now.end() - 1000000));
    }
    std::vector<std::string> listed;
    ScanFolder(Folder.Path(), listed, SupportedExtensions);
    EXPECT_EQ(listed, std::vector<std::string>{path});
  }
}
