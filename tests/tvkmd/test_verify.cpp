// Saving reads the new file back before it replaces a photo: each writable
// format keeps every metadatum, its maker note and its image data, and a write
// spoilt on purpose leaves the original as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>
#include <sstream>

#include "photofixtures.h"
#include "tvkmd/safefile.h"
#include "tvkmd/tvkmd.h"

using namespace fixtures;

namespace {

using Edit = std::function<void(Exiv2::ExifData&, Exiv2::XmpData&)>;

void SetValue(Exiv2::ExifData& exif, const std::string& key, Exiv2::TypeId type, const std::string& text) {
  const auto value = Exiv2::Value::create(type);
  value->read(text);
  exif[key].setValue(value.get());
}

void Camera(Exiv2::ExifData& exif, Exiv2::XmpData& xmp) {
  exif["Exif.Image.Artist"] = "Photographer";
  exif["Exif.Photo.DateTimeOriginal"] = "2021:06:15 10:20:30";
  SetValue(exif, "Exif.Photo.ExposureTime", Exiv2::unsignedRational, "1/250");
  SetValue(exif, "Exif.Photo.FNumber", Exiv2::unsignedRational, "56/10");
  xmp["Xmp.dc.creator"] = "Photographer";
  xmp["Xmp.xmp.Rating"] = "3";
}

void CanonNote(Exiv2::ExifData& exif, Exiv2::XmpData&) {
  exif["Exif.Image.Make"] = "Canon";
  exif["Exif.Image.Model"] = "Canon EOS 40D";
  SetValue(exif, "Exif.CanonCs.Macro", Exiv2::unsignedShort, "2");
  SetValue(exif, "Exif.CanonCs.Lens", Exiv2::unsignedShort, "55 18 1");
  exif["Exif.Canon.OwnerName"] = "Owner";
  exif["Exif.Canon.FirmwareVersion"] = "Firmware 1.0.2";
}

void NikonNote(Exiv2::ExifData& exif, Exiv2::XmpData&) {
  exif["Exif.Image.Make"] = "NIKON CORPORATION";
  exif["Exif.Image.Model"] = "NIKON D700";
  exif["Exif.Nikon3.Quality"] = "FINE";
  exif["Exif.Nikon3.WhiteBalance"] = "AUTO";
  SetValue(exif, "Exif.Nikon3.ISOSpeed", Exiv2::unsignedShort, "0 200");
}

void PentaxNote(Exiv2::ExifData& exif, Exiv2::XmpData&) {
  exif["Exif.Image.Make"] = "PENTAX Corporation";
  exif["Exif.Image.Model"] = "PENTAX K-5";
  SetValue(exif, "Exif.Pentax.Quality", Exiv2::unsignedShort, "2");
  SetValue(exif, "Exif.Pentax.ISO", Exiv2::unsignedShort, "6");
}

void OlympusNote(Exiv2::ExifData& exif, Exiv2::XmpData&) { AddOlympusFocalLengths(exif, 14, 42); }

// A photo format as the tests make it: its bytes, what Exiv2 then adds, a maker
// note tag to spoil (with another value) and where the image data lies.
struct Format {
  const char* Name;
  std::function<Bytes()> Make;
  Edit Note;
  const char* NoteKey;
  const char* OtherValue;
  std::vector<std::string> StripGroups;  // empty for JPEG
};

// A preview in IFD0 and the raw data in a sub-IFD, as NEF and DNG keep them.
Bytes PreviewAndRaw(std::vector<TiffField> extra) {
  TiffDirectory preview = GreyDirectory(16, 12, 4, 100);
  preview.Fields.push_back(TiffLongs(254, {1}));
  preview.Fields.insert(preview.Fields.end(), extra.begin(), extra.end());
  TiffDirectory raw = GreyDirectory(48, 32, 8, 200);
  raw.Fields.push_back(TiffLongs(254, {0}));
  preview.SubDirectories.push_back(raw);
  return BuildTiff(preview);
}

// A JPEG 2000 file as Exiv2 makes it.
Bytes BlankJp2() {
  TempFolder folder;
  const std::string path = folder.File("blank.jp2");
  std::unique_ptr<Exiv2::Image> image(Exiv2::ImageFactory::create(Exiv2::ImageType::jp2, path).release());
  image->writeMetadata();
  return ReadBytes(path);
}

// An 8x8 grey Photoshop file without resources or layers.
Bytes TinyPsd() {
  Bytes bytes = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0, 8, 0, 8, 0, 1};
  bytes.resize(bytes.size() + 12 + 2, 0);  // colour data, resources, layers: empty; raw image data
  const Bytes pixels = NoiseBytes(64, 600);
  bytes.insert(bytes.end(), pixels.begin(), pixels.end());
  return bytes;
}

const std::vector<Format>& Formats() {
  static const std::vector<Format> formats = {
      {"canon.jpg", [] { return LargeJpeg(200000); }, CanonNote, "Exif.CanonCs.Macro", "1", {}},
      {"nikon.jpg", [] { return LargeJpeg(200000); }, NikonNote, "Exif.Nikon3.Quality", "BASIC", {}},
      {"photo.tif", [] { return BuildTiff(GreyDirectory(40, 30, 8, 300)); }, CanonNote, "Exif.Canon.OwnerName",
       "Someone else", {"Image"}},
      {"photo.dng",
       [] {
         return PreviewAndRaw({TiffBytes(0xc612, {1, 4, 0, 0}), TiffAscii(0xc614, "Lumivale Test Camera")});
       },
       Edit{}, nullptr, nullptr, {"Image", "SubImage1"}},
      {"photo.nef", [] { return PreviewAndRaw({}); }, NikonNote, "Exif.Nikon3.WhiteBalance", "SUNNY",
       {"Image", "SubImage1"}},
      {"photo.pef", [] { return BuildTiff(GreyDirectory(40, 30, 10, 400)); }, PentaxNote, "Exif.Pentax.Quality",
       "1", {"Image"}},
      {"photo.orf", [] { return BuildTiff(GreyDirectory(40, 30, 6, 500), 0x4f52); }, OlympusNote,
       "Exif.OlympusEq.MaxFocalLength", "50", {"Image"}},
      {"photo.jp2", BlankJp2, Edit{}, nullptr, nullptr, {}},
      {"photo.psd", TinyPsd, Edit{}, nullptr, nullptr, {}},
  };
  return formats;
}

std::string Name(const testing::TestParamInfo<Format>& info) {
  std::string name = info.param.Name;
  std::replace(name.begin(), name.end(), '.', '_');
  return name;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string MakePhoto(const TempFolder& folder, const Format& format) {
  const std::string path = folder.File(format.Name);
  WriteBytes(path, format.Make());
  EditMetadata(path, [&](Exiv2::ExifData& exif, Exiv2::XmpData& xmp) {
    Camera(exif, xmp);
    if (format.Note) format.Note(exif, xmp);
  });
  if (EndsWith(format.Name, ".jpg")) {
    // A thumbnail, an IPTC record and a comment beside the EXIF.
    std::unique_ptr<Exiv2::Image> image(Exiv2::ImageFactory::open(path).release());
    image->readMetadata();
    const Bytes thumbnail = TinyJpeg();
    Exiv2::ExifThumb(image->exifData()).setJpegThumbnail(thumbnail.data(), static_cast<long>(thumbnail.size()));
    image->iptcData()["Iptc.Application2.City"] = "Town";
    image->setComment("A comment");
    image->writeMetadata();
  }
  return path;
}

// The tags the exiv2 tool lists ("key type count value"), without those that
// only say where something lies in the file, and without the position.
std::multiset<std::string> ToolListing(const std::string& path) {
  static const char* const positions[] = {"Exif.Image.ExifTag",      "Exif.Image.GPSTag",
                                          "Exif.Image.SubIFDs",      "Exif.Photo.InteroperabilityTag",
                                          "Exif.MakerNote.Offset",   "Exif.Photo.MakerNote",
                                          "Exif.Olympus2.Equipment", "Exif.Thumbnail.JPEGInterchangeFormat",
                                          "Exif.Image.XMLPacket"};
  std::multiset<std::string> lines;
  std::istringstream in(RunCommand("exiv2 -q -PEIXkyct " + Quoted(path) + " 2>/dev/null"));
  std::string line;
  while (std::getline(in, line)) {
    const std::string key = line.substr(0, line.find(' '));
    const bool position = std::any_of(std::begin(positions), std::end(positions),
                                       [&](const char* p) { return key == p; }) ||
                          key.find(".StripOffsets") != std::string::npos;
    if (!position && key.rfind("Exif.GPSInfo.", 0) != 0 && key.rfind("Xmp.exif.GPS", 0) != 0) lines.insert(line);
  }
  return lines;
}

std::vector<unsigned long> ToolNumbers(const std::string& path, const std::string& key) {
  std::istringstream in(Exiv2ToolValue(path, key));
  std::vector<unsigned long> numbers;
  unsigned long number;
  while (in >> number) numbers.push_back(number);
  return numbers;
}

// The image data as it lies in the file: a JPEG's bytes from its last scan
// marker on (the scans here hold no 0xff), a JPEG 2000 codestream box, a
// Photoshop file's pixels at its end, the strips of the listed groups.
std::vector<Bytes> ImageData(const std::string& path, const Format& format) {
  const Bytes bytes = ReadBytes(path);
  if (EndsWith(format.Name, ".jp2")) {
    const std::string type = "jp2c";
    const auto at = std::search(bytes.begin(), bytes.end(), type.begin(), type.end());
    if (at - bytes.begin() < 4) return {};
    long length = static_cast<long>(*(at - 4)) << 24 | *(at - 3) << 16 | *(at - 2) << 8 | *(at - 1);
    if (length == 0) length = bytes.end() - (at - 4);  // the last box
    if (length < 8 || at - 4 + length > bytes.end()) return {};
    return {Bytes(at + 4, at - 4 + length)};
  }
  if (EndsWith(format.Name, ".psd")) return {Bytes(bytes.end() - std::min<long>(64, static_cast<long>(bytes.size())), bytes.end())};
  if (format.StripGroups.empty()) {
    const unsigned char scan[] = {0xff, 0xda};
    const auto at = std::find_end(bytes.begin(), bytes.end(), std::begin(scan), std::end(scan));
    return {Bytes(at, bytes.end())};
  }
  std::vector<Bytes> strips;
  for (const std::string& group : format.StripGroups) {
    const auto offsets = ToolNumbers(path, "Exif." + group + ".StripOffsets");
    const auto sizes = ToolNumbers(path, "Exif." + group + ".StripByteCounts");
    EXPECT_FALSE(offsets.empty()) << path << ": no strips in " << group;
    EXPECT_EQ(offsets.size(), sizes.size()) << path;
    for (std::size_t i = 0; i < offsets.size() && i < sizes.size(); ++i) {
      if (offsets[i] + sizes[i] > bytes.size()) {
        ADD_FAILURE() << path << ": strip " << i << " of " << group << " lies outside the file";
        continue;
      }
      strips.emplace_back(bytes.begin() + static_cast<long>(offsets[i]),
                          bytes.begin() + static_cast<long>(offsets[i] + sizes[i]));
    }
  }
  return strips;
}

std::int32_t Geotag(const std::string& path, bool withXmp = true) {
  Handle handle(OpenFileImage(path.c_str(), TvkOpenMode));
  if (handle == 0) return -1;
  WritePosition(handle, 48.1372, 11.5756);
  if (withXmp) {
    EXPECT_EQ(ModifyXMPMeta(handle, "Xmp.exif.GPSLatitude", "48,8.232000N", TvkTypeXmpText), TvkOk);
  }
  return SaveImage(handle);
}

class EveryFormat : public testing::TestWithParam<Format> {};

TEST_P(EveryFormat, KeepsWhatItHeldAndTakesThePosition) {
  const Format& format = GetParam();
  TempFolder folder;
  const std::string path = MakePhoto(folder, format);
  const auto before = ToolListing(path);
  const auto imageBefore = ImageData(path, format);
  ASSERT_FALSE(imageBefore.empty());
  if (format.NoteKey) {
    ASSERT_NE(Exiv2ToolValue(path, format.NoteKey), "") << "no maker note to keep";
  }
  for (const char* key : {"Exif.Image.Artist", "Xmp.dc.creator"}) {
    ASSERT_NE(Exiv2ToolValue(path, key), "") << key;
  }

  ASSERT_EQ(Geotag(path), TvkOk) << LastErrorMessage();

  const auto after = ToolListing(path);
  std::vector<std::string> lost, added;
  std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(lost));
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
  EXPECT_EQ(lost, std::vector<std::string>{}) << "lost or changed";
  EXPECT_EQ(added, std::vector<std::string>{}) << "added";
  EXPECT_EQ(ImageData(path, format), imageBefore);
  ExpectPosition(ExiftoolPosition(path), 48.1372, 11.5756);
  EXPECT_EQ(XmpText(path, "Xmp.exif.GPSLatitude"), "48,8.232000N");
  EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{format.Name});
}

INSTANTIATE_TEST_SUITE_P(Verify, EveryFormat, testing::ValuesIn(Formats()), Name);

// What a spoiler does to the written file before it is read back.
std::function<void(int)> spoiler;
void SpoilWritten(int fd) { spoiler(fd); }

class SpoiltWrites {
 public:
  explicit SpoiltWrites(std::function<void(int)> spoil) {
    spoiler = std::move(spoil);
    tvkmd::SetWrittenFileHook(&SpoilWritten);
  }
  ~SpoiltWrites() {
    tvkmd::SetWrittenFileHook(nullptr);
    spoiler = nullptr;
  }
  SpoiltWrites(const SpoiltWrites&) = delete;
  SpoiltWrites& operator=(const SpoiltWrites&) = delete;
};

Bytes ReadAll(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return {};
  Bytes bytes(static_cast<std::size_t>(status.st_size));
  if (::pread(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) bytes.clear();
  return bytes;
}

void ReplaceAll(int fd, const Bytes& bytes) {
  ASSERT_EQ(::ftruncate(fd, 0), 0);
  ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
}

// Changes the written file's metadata through Exiv2.
std::function<void(int)> EditWritten(const Edit& edit) {
  return [edit](int fd) {
    const Bytes bytes = ReadAll(fd);
    std::unique_ptr<Exiv2::Image> image(
        Exiv2::ImageFactory::open(bytes.data(), static_cast<long>(bytes.size())).release());
    image->readMetadata();
    edit(image->exifData(), image->xmpData());
    image->writeMetadata();
    Exiv2::BasicIo& io = image->io();
    io.seek(0, Exiv2::BasicIo::beg);
    const Exiv2::DataBuf content = io.read(io.size());
    ReplaceAll(fd, Bytes(content.pData_, content.pData_ + content.size_));
  };
}

// Flips one byte inside the image data: the first strip's, or the last scan's.
std::function<void(int)> FlipImageByte(const Bytes& imagePart) {
  return [imagePart](int fd) {
    Bytes bytes = ReadAll(fd);
    const auto at = std::search(bytes.begin(), bytes.end(), imagePart.begin(), imagePart.end());
    ASSERT_NE(at, bytes.end()) << "the image data is not in the written file";
    *(at + static_cast<long>(imagePart.size() / 2)) ^= 0x01;
    ReplaceAll(fd, bytes);
  };
}

struct Spoil {
  const char* What;
  std::function<std::function<void(int)>(const Format&, const std::vector<Bytes>& image)> Make;
};

const Spoil spoils[] = {
    {"one image byte", [](const Format&, const std::vector<Bytes>& image) { return FlipImageByte(image.front()); }},
    {"a maker note tag dropped",
     [](const Format& format, const std::vector<Bytes>&) {
       const std::string key = format.NoteKey;
       return EditWritten([key](Exiv2::ExifData& exif, Exiv2::XmpData&) {
         const auto found = exif.findKey(Exiv2::ExifKey(key));
         ASSERT_NE(found, exif.end()) << key << " is not in the written file";
         exif.erase(found);
       });
     }},
    {"a maker note value changed",
     [](const Format& format, const std::vector<Bytes>&) {
       const std::string key = format.NoteKey, value = format.OtherValue;
       return EditWritten([key, value](Exiv2::ExifData& exif, Exiv2::XmpData&) {
         const auto found = exif.findKey(Exiv2::ExifKey(key));
         ASSERT_NE(found, exif.end()) << key << " is not in the written file";
         SetValue(exif, key, found->typeId(), value);
       });
     }},
    {"another position",
     [](const Format&, const std::vector<Bytes>&) {
       return EditWritten([](Exiv2::ExifData& exif, Exiv2::XmpData&) {
         SetValue(exif, "Exif.GPSInfo.GPSLatitude", Exiv2::unsignedRational, "9/1 0/1 0/1");
       });
     }},
    {"an XMP property dropped",
     [](const Format&, const std::vector<Bytes>&) {
       return EditWritten([](Exiv2::ExifData&, Exiv2::XmpData& xmp) {
         const auto found = xmp.findKey(Exiv2::XmpKey("Xmp.dc.creator"));
         ASSERT_NE(found, xmp.end()) << "Xmp.dc.creator is not in the written file";
         xmp.erase(found);
       });
     }},
    {"the position not written",
     [](const Format&, const std::vector<Bytes>&) {
       return EditWritten([](Exiv2::ExifData& exif, Exiv2::XmpData&) {
         for (auto it = exif.begin(); it != exif.end();)
           it = it->groupName() == "GPSInfo" ? exif.erase(it) : std::next(it);
       });
     }},
    {"cut short", [](const Format&, const std::vector<Bytes>&) {
       return [](int fd) {
         struct stat status {};
         ASSERT_EQ(::fstat(fd, &status), 0);
         ASSERT_EQ(::ftruncate(fd, status.st_size * 2 / 3), 0);
       };
     }}};

class SpoiltWrite : public testing::TestWithParam<Format> {};

TEST_P(SpoiltWrite, LeavesTheOriginalAndFails) {
  const Format& format = GetParam();
  TempFolder folder;
  const std::string path = MakePhoto(folder, format);
  const Bytes original = ReadBytes(path);
  const auto image = ImageData(path, format);
  for (const Spoil& spoil : spoils) {
    if (!format.NoteKey && std::string(spoil.What).find("maker note") != std::string::npos) continue;
    std::int32_t result;
    {
      const SpoiltWrites spoilt(spoil.Make(format, image));
      result = Geotag(path);
    }
    EXPECT_EQ(result, TvkFailed) << spoil.What;
    EXPECT_NE(std::string(LastErrorMessage()), "") << spoil.What;
    EXPECT_EQ(ReadBytes(path), original) << spoil.What;
    EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{format.Name}) << spoil.What;
  }
  // Unspoilt, the same save goes through.
  EXPECT_EQ(Geotag(path), TvkOk) << LastErrorMessage();
}

INSTANTIATE_TEST_SUITE_P(Verify, SpoiltWrite, testing::ValuesIn(Formats()), Name);

TEST(Verify, AnXmpPacketThatDoesNotParseIsKept) {
  TempFolder folder;
  const std::string path = folder.File("photo.jpg");
  const std::string signature = "http://ns.adobe.com/xap/1.0/", xml = "<x:xmpmeta><rdf:RDF><broken";
  const std::string packet = signature + '\0' + xml;
  Bytes bytes = TinyJpeg();
  Bytes segment = {0xff, 0xe1, static_cast<unsigned char>((packet.size() + 2) >> 8),
                   static_cast<unsigned char>((packet.size() + 2) & 0xff)};
  segment.insert(segment.end(), packet.begin(), packet.end());
  bytes.insert(bytes.begin() + 2, segment.begin(), segment.end());
  WriteBytes(path, bytes);
  const auto holdsPacket = [&](const Bytes& file) {
    return std::search(file.begin(), file.end(), xml.begin(), xml.end()) != file.end();
  };
  {
    // Without the packet that Exiv2 could not read, the save is refused.
    const SpoiltWrites spoilt([&](int fd) {
      Bytes written = ReadAll(fd);
      const auto at = std::search(written.begin(), written.end(), signature.begin(), signature.end());
      ASSERT_NE(at, written.end()) << "no XMP segment written";
      const auto length = static_cast<long>(*(at - 2) << 8 | *(at - 1));
      written.erase(at - 4, at - 2 + length);
      ReplaceAll(fd, written);
    });
    EXPECT_EQ(Geotag(path, false), TvkFailed);
    EXPECT_EQ(ReadBytes(path), bytes);
  }
  // New XMP properties would take the place of the packet: refused.
  EXPECT_EQ(Geotag(path, true), TvkFailed);
  EXPECT_EQ(ReadBytes(path), bytes);
  ASSERT_EQ(Geotag(path, false), TvkOk) << LastErrorMessage();
  EXPECT_TRUE(holdsPacket(ReadBytes(path)));
  ExpectPosition(ExiftoolPosition(path), 48.1372, 11.5756);
  EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"photo.jpg"});
}

}  // namespace
