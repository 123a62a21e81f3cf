// Any bytes as a photo: opened through TMetaData, its capture time and GPS tags read and a
// position written. Built twice: fuzz_photo stops there; fuzz_photo_save (LUMIVALE_FUZZ_SAVE)
// also saves, and then a save that reports success must leave a photo that opens again
// with the position and its capture time, and one that fails must leave every byte as it
// was and no other file behind. Exiv2 is not built for coverage here, so only our own
// code guides the search.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
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

#ifdef LUMIVALE_FUZZ_SAVE
std::string ReadFile(const std::string& path) {
  std::string content;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  Require(fd >= 0);
  char buffer[65536];
  ssize_t got;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0) content.append(buffer, static_cast<std::size_t>(got));
  ::close(fd);
  return content;
}

std::size_t EntryCount(const std::string& folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

// Saves the photo in hand and checks what the save left.
void SaveAndCheck(TMetaData& metaData, const std::string& folder, const std::string& path, std::string_view original) {
  const TDateTime captureTime = metaData.CaptureTime;
  const bool saved = metaData.Save();
  metaData.Close();
  Require(EntryCount(folder) == 1, "the save left another file in the folder");
  if (!saved) {
    Require(ReadFile(path) == original, "a failed save changed the photo");
    return;
  }
  TMetaData again;
  Require(again.Open(path, false, true), "a saved photo does not open");
  Require(again.CaptureTime == captureTime, "a saved photo lost its capture time");
  Require(again.ReadExif("Exif.GPSInfo.GPSLatitudeRef").rfind('S', 0) == 0, "a saved photo holds no latitude");
  Require(!again.ReadExif("Exif.GPSInfo.GPSLatitude").empty(), "a saved photo holds no latitude");
  Require(again.ReadExif("Exif.GPSInfo.GPSLongitudeRef").rfind('W', 0) == 0, "a saved photo holds no longitude");
  again.Close();
}
#endif

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
  // The photo is the folder's only file.
  ::unlink((folder.Path() + (jpeg ? "/photo.tif" : "/photo.jpg")).c_str());
  WriteFile(path, data, size);

  TMetaData metaData;
  if (!metaData.Open(path, false, true)) {
    Require(metaData.MainHandle == 0 && metaData.XmpHandle == 0);
    return 0;
  }
  Require(metaData.MainHandle != 0 && metaData.XmpHandle != 0);
  const TDateTime captureTime = metaData.CaptureTime;
  if (captureTime != 0) {
    const TDateTimeParts parts = DecodeDateTime(captureTime);
    Require(parts.Year >= 1 && parts.Year <= 9999 && parts.Millisecond == 0);
  }
  const std::string latitude = metaData.ReadExif("Exif.GPSInfo.GPSLatitude");
  if (!latitude.empty()) metaData.ReadExif("Exif.GPSInfo.GPSLongitude");
  metaData.LensText();
  metaData.WriteGps("Exif.GPSInfo.GPSLatitude", "Xmp.exif.GPSLatitude", "48\xC2\xB0 8' 13.920\" S");
  metaData.WriteGps("Exif.GPSInfo.GPSLongitude", "Xmp.exif.GPSLongitude", "11\xC2\xB0 34' 32.160\" W");
#ifdef LUMIVALE_FUZZ_SAVE
  SaveAndCheck(metaData, folder.Path(), path, std::string_view(reinterpret_cast<const char*>(data), size));
#else
  metaData.Close();
#endif
  return 0;
}
