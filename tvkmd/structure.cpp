#include "tvkmd/structure.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

namespace tvkmd {
namespace {

class TFile {
 public:
  explicit TFile(const std::string& path) : FFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~TFile() {
    if (FFd >= 0) ::close(FFd);
  }
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;
  // 0 when the file is not open.
  std::uint64_t Size() const {
    struct stat status {};
    return FFd >= 0 && ::fstat(FFd, &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
  }
  // Exactly `size` bytes at `offset`, or false.
  bool Read(std::uint64_t offset, void* buffer, std::size_t size) const {
    auto* out = static_cast<unsigned char*>(buffer);
    while (size > 0) {
      const ssize_t got = ::pread(FFd, out, size, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      out += got;
      offset += static_cast<std::uint64_t>(got);
      size -= static_cast<std::size_t>(got);
    }
    return true;
  }

 private:
  int FFd;
};

// Where a directory stands, which decides the pointers in it that Exiv2 follows: the chain
// from IFD0 (next pointers; IFD0 also holds the EXIF, GPS and sub-IFD pointers), the EXIF
// directory (its interoperability pointer), and the rest (none).
enum class TDirectory { First, Chain, Exif, Leaf };

// One TIFF structure: the bytes from `base` on, `length` long, offsets counted from `base`.
class TTiffWalk {
 public:
  TTiffWalk(const TFile& file, std::uint64_t base, std::uint64_t length)
      : FFile(file), FBase(base), FLength(length) {}

  bool Sound(std::string& error) {
    unsigned char header[8];
    if (FLength < 8 || !FFile.Read(FBase, header, 8)) return true;
    if (header[0] == 'I' && header[1] == 'I') FBigEndian = false;
    else if (header[0] == 'M' && header[1] == 'M') FBigEndian = true;
    else return true;
    // TIFF, and the raw formats that only change its magic number (ORF, RW2).
    const unsigned magic = Number16(header + 2);
    if (magic != 42 && magic != 0x4F52 && magic != 0x5352 && magic != 0x55) return true;
    if (!Follow(Number32(header + 4), TDirectory::First, error)) return false;
    while (!FPending.empty()) {
      const auto [offset, kind] = FPending.back();
      FPending.pop_back();
      if (!Directory(offset, kind, error)) return false;
    }
    return true;
  }

 private:
  unsigned Number16(const unsigned char* p) const {
    return FBigEndian ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]);
  }
  std::uint32_t Number32(const unsigned char* p) const {
    const std::uint32_t high = Number16(FBigEndian ? p : p + 2), low = Number16(FBigEndian ? p + 2 : p);
    return high << 16 | low;
  }
  bool Fetch(std::uint64_t offset, void* buffer, std::size_t size) const {
    return offset <= FLength && size <= FLength - offset && FFile.Read(FBase + offset, buffer, size);
  }

  bool Directory(std::uint32_t offset, TDirectory kind, std::string& error) {
    // A directory outside the data is Exiv2's to pass over.
    unsigned char countBytes[2];
    if (!Fetch(offset, countBytes, 2)) return true;
    if (!FSeen.insert(offset).second) {
      error = "the TIFF directory at offset " + std::to_string(offset) + " is reached twice";
      return false;
    }
    const unsigned count = Number16(countBytes);
    if (count > static_cast<unsigned>(MaxTiffEntries)) {
      error = "the TIFF directory at offset " + std::to_string(offset) + " has " + std::to_string(count) +
              " entries";
      return false;
    }
    std::vector<unsigned char> entries(count * 12u + 4u);
    const std::uint64_t first = std::uint64_t{offset} + 2;
    if (!Fetch(first, entries.data(), entries.size())) {
      // No room for the next pointer: the chain ends here.
      if (!Fetch(first, entries.data(), count * 12u)) return true;
      std::memset(entries.data() + count * 12u, 0, 4);
    }
    for (unsigned i = 0; i < count; ++i) {
      const unsigned char* entry = entries.data() + i * 12u;
      const unsigned tag = Number16(entry);
      const unsigned type = Number16(entry + 2);
      const std::uint32_t values = Number32(entry + 4);
      // EXIF, GPS and sub-IFD pointers of IFD0, the interoperability pointer of the EXIF
      // directory (LONG or IFD values).
      TDirectory target = TDirectory::Leaf;
      if (kind == TDirectory::First && tag == 0x8769) target = TDirectory::Exif;
      else if (!((kind == TDirectory::First && (tag == 0x8825 || tag == 0x014A)) ||
                 (kind == TDirectory::Exif && tag == 0xA005)))
        continue;
      if ((type != 4 && type != 13) || values == 0) continue;
      if (values == 1) {
        if (!Follow(Number32(entry + 8), target, error)) return false;
      } else if (values <= static_cast<std::uint32_t>(MaxTiffDirectories)) {
        std::vector<unsigned char> offsets(values * 4u);
        if (!Fetch(Number32(entry + 8), offsets.data(), offsets.size())) continue;
        for (std::uint32_t k = 0; k < values; ++k)
          if (!Follow(Number32(offsets.data() + k * 4u), target, error)) return false;
      } else {
        return TooMany(error);
      }
    }
    if (kind != TDirectory::First && kind != TDirectory::Chain) return true;
    return Follow(Number32(entries.data() + count * 12u), TDirectory::Chain, error);
  }

  // Keeps a directory to look at; the directories seen and waiting stay within the limit.
  bool Follow(std::uint32_t offset, TDirectory kind, std::string& error) {
    if (offset == 0) return true;
    if (FSeen.size() + FPending.size() >= static_cast<std::size_t>(MaxTiffDirectories)) return TooMany(error);
    FPending.emplace_back(offset, kind);
    return true;
  }

  static bool TooMany(std::string& error) {
    error = "more than " + std::to_string(MaxTiffDirectories) + " TIFF directories";
    return false;
  }

  const TFile& FFile;
  std::uint64_t FBase;
  std::uint64_t FLength;
  bool FBigEndian = false;
  std::set<std::uint32_t> FSeen;
  std::vector<std::pair<std::uint32_t, TDirectory>> FPending;
};

// The EXIF blocks of a JPEG: APP1 segments beginning "Exif\0\0", before the image data.
bool JpegSound(const TFile& file, std::uint64_t fileSize, std::string& error) {
  std::uint64_t at = 2;
  unsigned char marker[4];
  while (at + 4 <= fileSize && file.Read(at, marker, 4)) {
    if (marker[0] != 0xFF) return true;
    if (marker[1] == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker[1] == 0xDA || marker[1] == 0xD9) return true;
    if (marker[1] == 0x01 || (marker[1] >= 0xD0 && marker[1] <= 0xD8)) {
      at += 2;
      continue;
    }
    const unsigned length = marker[2] << 8 | marker[3];
    if (length < 2) return true;
    unsigned char signature[6];
    if (marker[1] == 0xE1 && length >= 8 && file.Read(at + 4, signature, 6) &&
        std::memcmp(signature, "Exif\0\0", 6) == 0) {
      TTiffWalk walk(file, at + 10, std::min<std::uint64_t>(length - 8u, fileSize - (at + 10)));
      if (!walk.Sound(error)) return false;
    }
    at += 2u + length;
  }
  return true;
}

}  // namespace

bool TiffStructureSound(const std::string& path, std::string& error) {
  const TFile file(path);
  const std::uint64_t size = file.Size();
  unsigned char start[2];
  // A file that cannot be read here is Exiv2's to refuse.
  if (size < 2 || !file.Read(0, start, 2)) return true;
  if (start[0] == 0xFF && start[1] == 0xD8) return JpegSound(file, size, error);
  TTiffWalk walk(file, 0, size);
  return walk.Sound(error);
}

}  // namespace tvkmd
