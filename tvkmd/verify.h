#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace Exiv2 {
class Image;
}

// Reading a saved file back before it replaces the original: Exiv2 has damaged
// maker notes and raw data while writing unrelated tags, and has reported
// writes that saved nothing.
namespace tvkmd {

using ByteSpan = std::span<const unsigned char>;

// A file's bytes: the first ones held in memory, the rest read from `fd` when needed.
class FileBytes {
 public:
  FileBytes(ByteSpan head, int fd, std::size_t size) : head_(head), fd_(fd), size_(size) {}
  ByteSpan Head() const { return head_; }
  std::size_t Size() const { return size_; }
  // Whether `length` bytes at `offset` equal those of `other` at `otherOffset`;
  // false when either range leaves its file.
  bool Same(std::size_t offset, const FileBytes& other, std::size_t otherOffset, std::size_t length) const;
  // `length` bytes at `offset`: in the head, or read into `buffer`; nullptr when unreadable.
  const unsigned char* At(std::size_t offset, std::size_t length, unsigned char* buffer) const;

 private:

  ByteSpan head_;
  int fd_;
  std::size_t size_;
};

// A JPEG segment before the first scan: its marker and the bytes after its length field.
struct JpegSegment {
  unsigned char Marker;
  std::size_t Payload;
  std::size_t PayloadLength;
};

enum class ScanSearch { Found, NeedMore, NotFound };

// Walks a JPEG's segments up to its first scan (SOS marker); `scan` is the
// marker's offset. NeedMore when `data` ends before it.
ScanSearch FindJpegScan(ByteSpan data, std::size_t& scan, std::vector<JpegSegment>* segments = nullptr);

// TvkOk when the file `written` (open for reading) holds what saving `intended`
// over `original` must give, and the XMP packet as read when `keepXmpPacket`
// (one that could not be parsed, which Exiv2 would drop):
// every metadatum of `intended` with the same value (tags that locate data in
// the file compared by the data they point to), nothing else, and the
// original's image data (a JPEG's scans, the strips and tiles of a TIFF-based
// file, a JPEG 2000 codestream, a Photoshop file's layers and image) byte for byte. Otherwise TvkFailed with the first difference in `error`.
std::int32_t CheckWritten(const Exiv2::Image& intended, bool keepXmpPacket, const FileBytes& original, int written,
                          std::string& error);

// The same for an XMP sidecar, which Exiv2 writes with the EXIF and IPTC tags
// of `intended` turned into XMP properties.
std::int32_t CheckWrittenSidecar(const Exiv2::Image& intended, int written, std::string& error);

}  // namespace tvkmd
