// Geotagging one 4 MB JPEG (open, read the capture time, write the position,
// save) against a reference safe copier and plain cp, in one run, on one disk.
#include <benchmark/benchmark.h>
#include <exiv2/exiv2.hpp>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "metadata/metaprocs.h"
#include "safecopy.h"
#include "track/position.h"

extern char** environ;

namespace {

// A folder on the disk TMPDIR names (not a RAM disk), with a camera-like JPEG.
class PhotoFolder {
 public:
  PhotoFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/lumivale-bench-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    Photo = path_ + "/IMG_0001.jpg";
    Copy = path_ + "/copy.jpg";
    MakePhoto();
  }
  ~PhotoFolder() { std::filesystem::remove_all(path_); }
  std::string Path() const { return path_; }

  std::string Photo;
  std::string Copy;

 private:
  // 6 megapixels of noisy gradients at quality 95: a little over 4 MB, with the
  // EXIF and XMP a camera and a catalogue program leave.
  void MakePhoto() {
    QImage image(2900, 1950, QImage::Format_RGB32);
    QRandomGenerator random(42);
    for (int y = 0; y < image.height(); ++y) {
      auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
      for (int x = 0; x < image.width(); ++x)
        line[x] = 0xff000000u | (((x * 7 + y * 3) & 0xff) << 16) |
                  (((random.generate() & 0x3f) + (y & 0x7f)) << 8) | ((x ^ y) & 0xff);
    }
    if (!image.save(QString::fromStdString(Photo), "JPG", 95)) throw std::runtime_error("cannot write the photo");
    std::unique_ptr<Exiv2::Image> photo(Exiv2::ImageFactory::open(Photo).release());
    photo->readMetadata();
    Exiv2::ExifData& exif = photo->exifData();
    exif["Exif.Image.Make"] = "Canon";
    exif["Exif.Image.Model"] = "Canon EOS 40D";
    exif["Exif.Photo.DateTimeOriginal"] = "2021:06:15 10:20:30";
    exif["Exif.Photo.DateTimeDigitized"] = "2021:06:15 10:20:30";
    exif["Exif.Image.DateTime"] = "2021:06:15 10:20:30";
    exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 250);
    exif["Exif.Photo.FNumber"] = Exiv2::URational(56, 10);
    exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(200);
    exif["Exif.Photo.UserComment"] = std::string("charset=Ascii ") + std::string(2000, ' ');
    photo->xmpData()["Xmp.dc.creator"] = "Photographer";
    photo->xmpData()["Xmp.xmp.Rating"] = "3";
    photo->writeMetadata();
  }

  std::string path_;
};

PhotoFolder& Folder() {
  static PhotoFolder folder;
  return folder;
}

void BM_Geotag(benchmark::State& state) {
  const std::string photo = Folder().Photo;
  const std::string latitude = LatitudeText(48.1372), longitude = LongitudeText(11.5756);
  TMetaData meta;
  for (auto _ : state) {
    if (!meta.Open(photo, false, true) || meta.CaptureTime == 0) throw std::runtime_error("open failed");
    meta.WriteGps("Exif.GPSInfo.GPSLatitude", "Xmp.exif.GPSLatitude", latitude);
    meta.WriteGps("Exif.GPSInfo.GPSLongitude", "Xmp.exif.GPSLongitude", longitude);
    if (!meta.Save()) throw std::runtime_error("save failed");
    meta.Close();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(std::filesystem::file_size(photo)));
}

void BM_SafeCopier(benchmark::State& state) {
  for (auto _ : state) SafeCopy(Folder().Photo, Folder().Copy);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(std::filesystem::file_size(Folder().Photo)));
}

void BM_PlainCp(benchmark::State& state) {
  const std::string from = Folder().Photo, to = Folder().Copy;
  for (auto _ : state) {
    const char* arguments[] = {"cp", from.c_str(), to.c_str(), nullptr};
    pid_t child = 0;
    if (::posix_spawnp(&child, "cp", nullptr, nullptr, const_cast<char**>(arguments), environ) != 0) ThrowErrno("cp");
    int status = 0;
    ::waitpid(child, &status, 0);
  }
}

}  // namespace

// save_bench.sh runs them in interleaved repetitions, so that they share the disk's mood.
BENCHMARK(BM_Geotag)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_SafeCopier)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_PlainCp)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

BENCHMARK_MAIN();
