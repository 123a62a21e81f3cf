// Makes the soak's photo folders and judges them after a run, with a fresh Exiv2 image
// as the reader.
//   soak_photos make FOLDER SEED       photos of every kind in FOLDER/photos
//   soak_photos make-diskfull FOLDER large|small
//                                      photos larger than 1 MB, or small photos and raws
//                                      with and without sidecars (the disk-full rounds)
//   soak_photos make-readonly FOLDER folder|photos
//                                      a read-only folder of writable photos, or a
//                                      writable folder of read-only photos
//   soak_photos check [--all] FOLDER   after a killed run: each photo and sidecar is as it
//                                      was or complete with the new position; prints
//                                      "photos N untouched U written W damaged D leftovers L";
//                                      with --all every file but the raws must be written
//   soak_photos check-untouched FOLDER every name, byte and permission bit as it was
// Each make writes FOLDER/track.gpx and a copy of FOLDER/photos in FOLDER/original.
#include <sys/stat.h>

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "metadata/applicationprocs.h"
#include "photofixtures.h"

namespace {

namespace fs = std::filesystem;
using fixtures::Bytes;

// Where every track point lies, so that any photo's new position is known.
constexpr double TrackLatitude = 48.1372;
constexpr double TrackLongitude = 11.5756;
// A position that photos held before the run.
constexpr const char* OldLatitude = "10/1 0/1 0/1";
constexpr const char* OldLongitude = "20/1 0/1 0/1";

std::string CaptureTime(int index) {
  char text[32];
  std::snprintf(text, sizeof text, "2012:06:01 %02d:%02d:%02d", 8 + index / 60 % 2, index % 60, index * 7 % 60);
  return text;
}

void WriteTrack(const std::string& path) {
  std::ofstream out(path);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gpx version=\"1.1\"><trk><trkseg>\n";
  for (int minute = 7 * 60; minute <= 11 * 60; ++minute) {
    char time[32];
    std::snprintf(time, sizeof time, "2012-06-01T%02d:%02d:00Z", minute / 60, minute % 60);
    out << "<trkpt lat=\"" << TrackLatitude << "\" lon=\"" << TrackLongitude << "\"><time>" << time
        << "</time></trkpt>\n";
  }
  out << "</trkseg></trk></gpx>\n";
}

// A grey TIFF of width x height with one strip of varied bytes, little-endian.
Bytes LargeTiff(unsigned width, unsigned height) {
  Bytes bytes = {'I', 'I', 42, 0, 8, 0, 0, 0};
  const auto put16 = [&](unsigned value) {
    bytes.push_back(static_cast<unsigned char>(value & 0xff));
    bytes.push_back(static_cast<unsigned char>(value >> 8 & 0xff));
  };
  const auto put32 = [&](unsigned value) {
    put16(value & 0xffff);
    put16(value >> 16);
  };
  const unsigned fields[][3] = {{256, 4, width}, {257, 4, height}, {258, 3, 8},          {259, 3, 1},
                                {262, 3, 1},     {273, 4, 0},      {277, 3, 1},          {278, 4, height},
                                {279, 4, width * height}};
  const unsigned count = sizeof fields / sizeof fields[0];
  const unsigned pixels = 8 + 2 + count * 12 + 4;
  put16(count);
  for (const auto& field : fields) {
    put16(field[0]);
    put16(field[1]);
    put32(1);
    const unsigned value = field[0] == 273 ? pixels : field[2];
    if (field[1] == 3) {
      put16(value);
      put16(0);
    } else {
      put32(value);
    }
  }
  put32(0);
  unsigned state = 2024;
  for (unsigned i = 0; i < width * height; ++i) {
    state = state * 1103515245u + 12345u;
    bytes.push_back(static_cast<unsigned char>(state >> 16));
  }
  return bytes;
}

void SetExif(const std::string& path, const std::string& time, bool oldPosition) {
  fixtures::EditMetadata(path, [&](Exiv2::ExifData& exif, Exiv2::XmpData&) {
    exif["Exif.Image.Make"] = "Lumivale";
    exif["Exif.Image.Model"] = "Soak";
    exif["Exif.Photo.DateTimeOriginal"] = time;
    if (oldPosition) {
      exif["Exif.GPSInfo.GPSLatitudeRef"] = "S";
      exif["Exif.GPSInfo.GPSLatitude"] = OldLatitude;
      exif["Exif.GPSInfo.GPSLongitudeRef"] = "W";
      exif["Exif.GPSInfo.GPSLongitude"] = OldLongitude;
    }
  });
}

void AddXmp(const std::string& path) {
  fixtures::EditMetadata(path, [](Exiv2::ExifData&, Exiv2::XmpData& xmp) {
    xmp["Xmp.dc.title"] = "lang=\"x-default\" Soak";
    xmp["Xmp.xmp.Rating"] = "3";
  });
}

void WriteSidecar(const std::string& path, bool oldPosition) {
  std::unique_ptr<Exiv2::Image> sidecar(Exiv2::ImageFactory::create(Exiv2::ImageType::xmp, path).release());
  Exiv2::XmpData xmp;
  xmp["Xmp.xmp.Rating"] = "4";
  xmp["Xmp.dc.title"] = "lang=\"x-default\" Sidecar";
  if (oldPosition) {
    xmp["Xmp.exif.GPSLatitude"] = "10,0.0S";
    xmp["Xmp.exif.GPSLongitude"] = "20,0.0W";
  }
  sidecar->setXmpData(xmp);
  sidecar->writeMetadata();
}

// One photo of a kind: its file name and how it is made.
struct TKind {
  const char* Name;
  std::function<void(const std::string& folder, const std::string& name, const std::string& time)> Make;
};

void Photo(const std::string& path, const Bytes& content, const std::string& time, bool oldPosition) {
  fixtures::WriteBytes(path, content);
  SetExif(path, time, oldPosition);
}

std::vector<TKind> Kinds() {
  return {
      {"small.jpg", [](auto& f, auto& n, auto& t) { Photo(f + "/" + n, fixtures::TinyJpeg(), t, false); }},
      {"large.jpg", [](auto& f, auto& n, auto& t) { Photo(f + "/" + n, fixtures::LargeJpeg(1536 * 1024), t, false); }},
      {"positioned.jpg", [](auto& f, auto& n, auto& t) { Photo(f + "/" + n, fixtures::TinyJpeg(), t, true); }},
      {"xmp.jpg",
       [](auto& f, auto& n, auto& t) {
         Photo(f + "/" + n, fixtures::LargeJpeg(256 * 1024), t, false);
         AddXmp(f + "/" + n);
       }},
      {"small.tif", [](auto& f, auto& n, auto& t) { Photo(f + "/" + n, fixtures::TinyTiff(), t, false); }},
      {"large.tif", [](auto& f, auto& n, auto& t) { Photo(f + "/" + n, LargeTiff(1024, 1024), t, false); }},
      {"camera.nef", [](auto& f, auto& n, auto& t) { Photo(f + "/" + n, LargeTiff(512, 512), t, false); }},
      {"raw.cr2", [](auto& f, auto& n, auto& t) { Photo(f + "/" + n, LargeTiff(512, 512), t, false); }},
      {"sidecar.arw",
       [](auto& f, auto& n, auto& t) {
         Photo(f + "/" + n, fixtures::TinyTiff(), t, false);
         WriteSidecar(f + "/" + fs::path(n).stem().string() + ".xmp", false);
       }},
      {"sidecargps.rw2",
       [](auto& f, auto& n, auto& t) {
         Photo(f + "/" + n, fixtures::TinyTiff(), t, false);
         WriteSidecar(f + "/" + fs::path(n).stem().string() + ".xmp", true);
       }},
  };
}

void Snapshot(const std::string& folder) {
  fs::copy(folder + "/photos", folder + "/original", fs::copy_options::recursive);
  for (const auto& entry : fs::directory_iterator(folder + "/photos"))
    fs::permissions(folder + "/original/" + entry.path().filename().string(), entry.status().permissions());
  fs::permissions(folder + "/original", fs::status(folder + "/photos").permissions());
}

void MakeFolder(const std::string& folder, const std::function<void(const std::string& photos)>& fill) {
  fs::create_directories(folder + "/photos");
  WriteTrack(folder + "/track.gpx");
  fill(folder + "/photos");
}

int Make(const std::string& folder, unsigned seed) {
  MakeFolder(folder, [&](const std::string& photos) {
    const std::vector<TKind> kinds = Kinds();
    int index = 0;
    // Two of each kind, in an order that changes with the seed.
    std::vector<std::string> names;
    for (int copy = 1; copy <= 2; ++copy)
      for (const TKind& kind : kinds) names.push_back(std::to_string(copy) + "-" + kind.Name);
    for (const std::string& name : names) {
      const std::string prefix = std::to_string((seed + static_cast<unsigned>(index) * 7919u) % 1000);
      for (const TKind& kind : kinds)
        if (name.substr(2) == kind.Name) kind.Make(photos, prefix + "-" + name, CaptureTime(index));
      ++index;
    }
  });
  Snapshot(folder);
  return 0;
}

// Large photos, whose saves stop part way at a limit of 512 kB; or small photos and raws
// with and without sidecars, for a limit of 0.
int MakeDiskFull(const std::string& folder, const std::string& what) {
  if (what != "large" && what != "small") return 2;
  MakeFolder(folder, [&](const std::string& photos) {
    if (what == "large") {
      Photo(photos + "/a.jpg", fixtures::LargeJpeg(1536 * 1024), CaptureTime(1), false);
      Photo(photos + "/b.jpg", fixtures::LargeJpeg(1536 * 1024), CaptureTime(2), true);
      Photo(photos + "/c.tif", LargeTiff(1024, 1024), CaptureTime(3), false);
      Photo(photos + "/d.nef", LargeTiff(1024, 1024), CaptureTime(4), false);
    } else {
      Photo(photos + "/a.jpg", fixtures::TinyJpeg(), CaptureTime(1), false);
      Photo(photos + "/b.tif", fixtures::TinyTiff(), CaptureTime(2), true);
      Photo(photos + "/c.cr2", fixtures::TinyTiff(), CaptureTime(3), false);
      Photo(photos + "/d.arw", fixtures::TinyTiff(), CaptureTime(4), false);
      WriteSidecar(photos + "/d.xmp", false);
    }
  });
  Snapshot(folder);
  return 0;
}

int MakeReadOnly(const std::string& folder, const std::string& what) {
  if (what != "folder" && what != "photos") return 2;
  MakeFolder(folder, [&](const std::string& photos) {
    Photo(photos + "/a.jpg", fixtures::TinyJpeg(), CaptureTime(1), false);
    Photo(photos + "/b.jpg", fixtures::TinyJpeg(), CaptureTime(2), true);
    Photo(photos + "/c.tif", fixtures::TinyTiff(), CaptureTime(3), false);
    Photo(photos + "/d.cr2", fixtures::TinyTiff(), CaptureTime(4), false);
    Photo(photos + "/e.arw", fixtures::TinyTiff(), CaptureTime(5), false);
    WriteSidecar(photos + "/e.xmp", false);
    if (what == "photos") {
      for (const auto& entry : fs::directory_iterator(photos))
        fs::permissions(entry.path(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    } else {
      fs::permissions(photos, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                  fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    }
  });
  Snapshot(folder);
  return 0;
}

// ---- Judging ----

std::unique_ptr<Exiv2::Image> OpenFresh(const std::string& path) {
  std::unique_ptr<Exiv2::Image> image(Exiv2::ImageFactory::open(path).release());
  image->readMetadata();
  return image;
}

double Degrees(const Exiv2::Value& value) {
  if (value.count() != 3) return NAN;
  double degrees = 0;
  for (long i = 0; i < 3; ++i) {
    const Exiv2::Rational part = value.toRational(i);
    if (part.second == 0) return NAN;
    degrees += static_cast<double>(part.first) / part.second / std::pow(60.0, static_cast<double>(i));
  }
  return degrees;
}

// "48,8.232N" as signed degrees.
double XmpDegrees(const std::string& text) {
  const auto comma = text.find(',');
  if (comma == std::string::npos || text.size() < comma + 3) return NAN;
  const char hemisphere = text.back();
  const double degrees = std::atof(text.substr(0, comma).c_str()) +
                         std::atof(text.substr(comma + 1, text.size() - comma - 2).c_str()) / 60;
  return hemisphere == 'S' || hemisphere == 'W' ? -degrees : degrees;
}

bool Near(double a, double b) { return std::fabs(a - b) < 1e-6; }

// Tags that only say where data lies inside the file, which a rewrite may move.
bool LocatesData(const std::string& key) {
  static const std::set<std::string> keys = {
      "Exif.Image.ExifTag", "Exif.Image.GPSTag", "Exif.Image.StripOffsets", "Exif.Photo.InteroperabilityTag",
      "Exif.Thumbnail.JPEGInterchangeFormat", "Exif.Image.JPEGInterchangeFormat"};
  return keys.count(key) > 0;
}

bool IsGpsKey(const std::string& key) {
  return key.rfind("Exif.GPSInfo.", 0) == 0 || key.rfind("Xmp.exif.GPS", 0) == 0;
}

// The compressed image data of a JPEG: from its first start-of-scan marker to the end.
Bytes JpegScan(const Bytes& bytes) {
  std::size_t at = 2;
  while (at + 4 <= bytes.size() && bytes[at] == 0xFF) {
    if (bytes[at + 1] == 0xDA) return Bytes(bytes.begin() + static_cast<long>(at), bytes.end());
    at += 2 + (bytes[at + 2] << 8 | bytes[at + 3]);
  }
  return {};
}

Bytes TiffStrips(const std::string& path, const Bytes& bytes) {
  const auto image = OpenFresh(path);
  const Exiv2::ExifData& exif = image->exifData();
  const auto offsets = exif.findKey(Exiv2::ExifKey("Exif.Image.StripOffsets"));
  const auto counts = exif.findKey(Exiv2::ExifKey("Exif.Image.StripByteCounts"));
  Bytes strips;
  if (offsets == exif.end() || counts == exif.end() || offsets->count() != counts->count()) return strips;
  for (long i = 0; i < offsets->count(); ++i) {
    const auto from = static_cast<std::size_t>(offsets->toLong(i));
    const auto size = static_cast<std::size_t>(counts->toLong(i));
    if (from > bytes.size() || size > bytes.size() - from) return {};
    strips.insert(strips.end(), bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(from + size));
  }
  return strips;
}

// Why a changed file is not a complete photo or sidecar holding the track's position;
// empty when it is one. `original` is the file before the run (empty for a new sidecar).
std::string Incomplete(const std::string& path, const std::string& originalPath, bool sidecar) {
  try {
    const auto image = OpenFresh(path);
    if (sidecar) {
      if (image->imageType() != Exiv2::ImageType::xmp) return "not an XMP sidecar";
      const Exiv2::XmpData& xmp = image->xmpData();
      const auto latitude = xmp.findKey(Exiv2::XmpKey("Xmp.exif.GPSLatitude"));
      const auto longitude = xmp.findKey(Exiv2::XmpKey("Xmp.exif.GPSLongitude"));
      if (latitude == xmp.end() || longitude == xmp.end()) return "no position";
      if (!Near(XmpDegrees(latitude->toString()), TrackLatitude) ||
          !Near(XmpDegrees(longitude->toString()), TrackLongitude))
        return "position " + latitude->toString() + " " + longitude->toString();
    } else {
      const Exiv2::ExifData& exif = image->exifData();
      const auto find = [&](const char* key) { return exif.findKey(Exiv2::ExifKey(key)); };
      const auto latitude = find("Exif.GPSInfo.GPSLatitude"), longitude = find("Exif.GPSInfo.GPSLongitude");
      const auto latitudeRef = find("Exif.GPSInfo.GPSLatitudeRef"), longitudeRef = find("Exif.GPSInfo.GPSLongitudeRef");
      if (latitude == exif.end() || longitude == exif.end() || latitudeRef == exif.end() || longitudeRef == exif.end())
        return "no position";
      if (!Near(Degrees(latitude->value()), TrackLatitude) || latitudeRef->toString() != "N" ||
          !Near(Degrees(longitude->value()), TrackLongitude) || longitudeRef->toString() != "E")
        return "position " + latitude->toString() + " " + longitude->toString();
    }
    if (originalPath.empty()) return {};
    // Everything else that was there is still there, and the picture is the same.
    const auto before = OpenFresh(originalPath);
    for (const Exiv2::Exifdatum& datum : before->exifData()) {
      if (IsGpsKey(datum.key()) || LocatesData(datum.key())) continue;
      const auto now = image->exifData().findKey(Exiv2::ExifKey(datum.key()));
      if (now == image->exifData().end() || now->toString() != datum.toString()) return "lost " + datum.key();
    }
    for (const Exiv2::Xmpdatum& datum : before->xmpData()) {
      if (IsGpsKey(datum.key())) continue;
      const auto now = image->xmpData().findKey(Exiv2::XmpKey(datum.key()));
      if (now == image->xmpData().end() || now->toString() != datum.toString()) return "lost " + datum.key();
    }
    const Bytes was = fixtures::ReadBytes(originalPath), is = fixtures::ReadBytes(path);
    if (image->imageType() == Exiv2::ImageType::jpeg && JpegScan(was) != JpegScan(is)) return "image data differs";
    if (image->imageType() == Exiv2::ImageType::tiff && TiffStrips(originalPath, was) != TiffStrips(path, is))
      return "image strips differ";
    return {};
  } catch (const std::exception& error) {
    return std::string("unreadable: ") + error.what();
  }
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool IsSidecarName(const std::string& name) { return Lower(fs::path(name).extension().string()) == ".xmp"; }

bool IsRaw(const std::string& name) {
  return !IsSidecarName(name) && IndexOfExtension(WritableExtensions, ExtensionKey(name)) < 0;
}

// A temporary file of an interrupted save: hidden, ending in ".tmp".
bool IsTemporary(const std::string& name) {
  return name.size() > 5 && name[0] == '.' && name.compare(name.size() - 4, 4, ".tmp") == 0;
}

std::map<std::string, fs::perms> Entries(const std::string& folder) {
  std::map<std::string, fs::perms> entries;
  for (const auto& entry : fs::directory_iterator(folder))
    entries[entry.path().filename().string()] = entry.symlink_status().permissions();
  return entries;
}

std::vector<std::string> Listed(const std::string& folder) {
  std::vector<std::string> files;
  ScanFolder(folder, files, SupportedExtensions);
  for (std::string& file : files) file = fs::path(file).filename().string();
  return files;
}

int Check(const std::string& folder, bool allWritten) {
  const std::string photos = folder + "/photos", original = folder + "/original";
  const auto before = Entries(original), after = Entries(photos);
  int checked = 0, untouched = 0, written = 0, damaged = 0, leftovers = 0, faults = 0;
  const auto damage = [&](const std::string& name, const std::string& why) {
    std::fprintf(stderr, "damaged: %s: %s\n", name.c_str(), why.c_str());
    ++damaged;
  };
  for (const auto& [name, mode] : before) {
    ++checked;
    const std::string path = photos + "/" + name;
    const auto now = after.find(name);
    if (now == after.end()) {
      damage(name, "missing");
      continue;
    }
    if (now->second != mode) damage(name, "permission bits changed");
    if (fixtures::ReadBytes(path) == fixtures::ReadBytes(original + "/" + name)) {
      ++untouched;
      if (allWritten && !IsRaw(name)) damage(name, "not written");
      continue;
    }
    // A raw file is never written; its sidecar is.
    const std::string why = IsRaw(name) ? "raw file changed" : Incomplete(path, original + "/" + name, IsSidecarName(name));
    if (why.empty()) ++written;
    else damage(name, why);
  }
  for (const auto& [name, mode] : after) {
    if (before.count(name)) continue;
    if (IsTemporary(name)) {
      ++leftovers;
      continue;
    }
    // A new sidecar belongs to a raw photo of the same name.
    const std::string stem = fs::path(name).stem().string();
    const bool ownsRaw = std::any_of(before.begin(), before.end(), [&](const auto& entry) {
      return IsRaw(entry.first) && fs::path(entry.first).stem().string() == stem;
    });
    if (IsSidecarName(name) && ownsRaw) {
      ++checked;
      const std::string why = Incomplete(photos + "/" + name, {}, true);
      if (why.empty()) ++written;
      else damage(name, why);
      continue;
    }
    std::fprintf(stderr, "stray file: %s\n", name.c_str());
    ++faults;
  }
  if (Listed(photos) != Listed(original)) {
    std::fprintf(stderr, "a folder scan lists other files than before\n");
    ++faults;
  }
  std::printf("photos %d untouched %d written %d damaged %d leftovers %d\n", checked, untouched, written, damaged,
              leftovers);
  return damaged == 0 && faults == 0 ? 0 : 1;
}

int CheckUntouched(const std::string& folder) {
  const std::string photos = folder + "/photos", original = folder + "/original";
  const auto before = Entries(original), after = Entries(photos);
  int faults = 0;
  if (fs::status(photos).permissions() != fs::status(original).permissions()) {
    std::fprintf(stderr, "the folder's permission bits changed\n");
    ++faults;
  }
  for (const auto& [name, mode] : after)
    if (!before.count(name)) {
      std::fprintf(stderr, "new file: %s\n", name.c_str());
      ++faults;
    }
  for (const auto& [name, mode] : before) {
    const auto now = after.find(name);
    if (now == after.end() || now->second != mode ||
        fixtures::ReadBytes(photos + "/" + name) != fixtures::ReadBytes(original + "/" + name)) {
      std::fprintf(stderr, "changed: %s\n", name.c_str());
      ++faults;
    }
  }
  std::printf("photos %zu changed %d\n", before.size(), faults);
  return faults == 0 ? 0 : 1;
}

int Usage() {
  std::fprintf(stderr,
               "usage: soak_photos make FOLDER SEED | make-diskfull FOLDER large|small |\n"
               "                   make-readonly FOLDER folder|photos |\n"
               "                   check [--all] FOLDER | check-untouched FOLDER\n");
  return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3) return Usage();
  const std::string command = argv[1], folder = argv[2];
  BuildExtensionLists();
  Exiv2::XmpParser::initialize();
  Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
  try {
    if (command == "make" && argc == 4) return Make(folder, static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)));
    if (command == "make-diskfull" && argc == 4) return MakeDiskFull(folder, argv[3]);
    if (command == "make-readonly" && argc == 4) return MakeReadOnly(folder, argv[3]);
    if (command == "check" && argc == 3) return Check(folder, false);
    if (command == "check" && argc == 4 && folder == "--all") return Check(argv[3], true);
    if (command == "check-untouched" && argc == 3) return CheckUntouched(folder);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "soak_photos: %s\n", error.what());
    return 1;
  }
  return Usage();
}
