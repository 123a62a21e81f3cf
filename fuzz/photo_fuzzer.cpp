// Any bytes as a photo: opened through TMetaData, its capture time and GPS tags read and a
// position written in memory. Exiv2 is not built for coverage here, so only our own code
// guides the search.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "fuzzcheck.h"
#include "metadata/applicationprocs.h"
#include "metadata/metaprocs.h"
#include "track/datetime.h"

namespace {

// One private folder per fuzzing process, removed when it ends.
class TScratchFolder {
 public:
  TScratchFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/lumivale-fuzz-XXXXXX";
    Require(::mkdtemp(pattern.data()) != nullptr);
    FPath = pattern;
  }
  ~TScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  Require(fd >= 0);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t written = ::write(fd, data + done, size - done);
    Require(written > 0);
    done += static_cast<std::size_t>(written);
  }
  ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  BuildExtensionLists();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TScratchFolder folder;
  // The name's extension decides whether the photo itself may be written; the content
  // decides how Exiv2 reads it.
  const bool jpeg = size >= 2 && data[0] == 0xFF && data[1] == 0xD8;
  const std::string path = folder.Path() + (jpeg ? "/photo.jpg" : "/photo.tif");
  WriteFile(path, data, size);

  TMetaData metaData;
  if (metaData.Open(path, false, true)) {
    Require(metaData.MainHandle != 0 && metaData.XmpHandle != 0);
    if (metaData.CaptureTime != 0) {
      const TDateTimeParts parts = DecodeDateTime(metaData.CaptureTime);
      Require(parts.Year >= 1 && parts.Year <= 9999 && parts.Millisecond == 0);
    }
    const std::string latitude = metaData.ReadExif("Exif.GPSInfo.GPSLatitude");
    if (!latitude.empty()) metaData.ReadExif("Exif.GPSInfo.GPSLongitude");
    metaData.LensText();
    metaData.WriteGps("Exif.GPSInfo.GPSLatitude", "Xmp.exif.GPSLatitude", "48\xC2\xB0 8' 13.920\" S");
    metaData.WriteGps("Exif.GPSInfo.GPSLongitude", "Xmp.exif.GPSLongitude", "11\xC2\xB0 34' 32.160\" W");
    metaData.Close();
  } else {
    Require(metaData.MainHandle == 0 && metaData.XmpHandle == 0);
  }
  return 0;
}
