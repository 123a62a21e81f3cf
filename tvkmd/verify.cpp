#include "tvkmd/verify.h"

#include <exiv2/exiv2.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <type_traits>
#include <utility>

#include "tvkmd/tvkmd.h"

namespace tvkmd {
namespace {

bool StartsWith(ByteSpan data, std::string_view prefix) {
  return data.size() >= prefix.size() && std::memcmp(data.data(), prefix.data(), prefix.size()) == 0;
}

bool SameBytes(ByteSpan a, ByteSpan b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

std::int32_t Differs(std::string& error, std::string what) {
  error = "the written file differs: " + std::move(what);
  return TvkFailed;
}

unsigned Big16(const unsigned char* p) { return unsigned(p[0]) << 8 | p[1]; }
std::uint32_t Big32(const unsigned char* p) { return std::uint32_t(Big16(p)) << 16 | Big16(p + 2); }

// The image resources of a Photoshop block other than IPTC (compared as
// metadata), each whole; what cannot be parsed stays one piece.
std::vector<ByteSpan> ResourcesBesidesIptc(ByteSpan data) {
  std::vector<ByteSpan> kept;
  std::size_t at = 0;
  while (at < data.size()) {
    const ByteSpan rest = data.subspan(at);
    const bool signature = StartsWith(rest, "8BIM") || StartsWith(rest, "AgHg") || StartsWith(rest, "PHUT") ||
                           StartsWith(rest, "DCSR");
    if (!signature || rest.size() < 12) {
      kept.push_back(rest);
      break;
    }
    const std::size_t name = (rest[6] + 2u) & ~std::size_t{1};  // Pascal string, padded to even
    if (6 + name + 4 > rest.size()) {
      kept.push_back(rest);
      break;
    }
    const std::size_t length = Big32(rest.data() + 6 + name);
    const std::size_t whole = std::min(rest.size(), 6 + name + 4 + length + (length & 1));
    if (Big16(rest.data() + 4) != 0x0404) kept.push_back(rest.first(whole));
    at += whole;
  }
  return kept;
}

bool SameResources(ByteSpan a, ByteSpan b) {
  const auto left = ResourcesBesidesIptc(a), right = ResourcesBesidesIptc(b);
  return std::equal(left.begin(), left.end(), right.begin(), right.end(), SameBytes);
}

// ---- EXIF

enum class Role {
  Value,      // compared by value
  Position,   // where a directory or the maker note lies: what it holds is compared
  ImageData,  // offsets of strips, tiles or an embedded image: compared by the bytes they point to
  Derived,    // written from other metadata that is compared itself
};

bool IsIfdGroup(const std::string& group) {
  // Every group that shares IFD0's tag list is an image directory (IFD1, sub-IFDs, previews).
  static const std::set<std::string> groups = [] {
    std::set<std::string> names;
    Exiv2::TagListFct ifdTags = nullptr;
    for (const Exiv2::GroupInfo* info = Exiv2::ExifTags::groupList(); info && info->tagList_; ++info)
      if (std::string_view(info->groupName_) == "Image") ifdTags = info->tagList_;
    for (const Exiv2::GroupInfo* info = Exiv2::ExifTags::groupList(); info && info->tagList_; ++info)
      if (info->tagList_ == ifdTags) names.insert(info->groupName_);
    return names;
  }();
  return groups.count(group) != 0;
}

// How the tags of one image are compared.
struct ExifRules {
  bool Jpeg;
  // Exiv2 read the maker note into its own tags: those are compared, and the
  // note's bytes, which hold offsets, are written anew from them.
  bool NoteDecoded;
};

Role RoleOf(const Exiv2::Exifdatum& datum, const ExifRules& rules) {
  const bool jpeg = rules.Jpeg;
  const std::uint16_t tag = datum.tag();
  const std::string group = datum.groupName();
  if (IsIfdGroup(group)) {
    // Compressed images record none of these in IFD0, so Exiv2 leaves them out of a JPEG.
    if (jpeg && group == "Image" &&
        (tag == 0x0106 || tag == 0x0111 || tag == 0x0116 || tag == 0x0117 || tag == 0x0201 || tag == 0x0202 ||
         tag == 0x014a))
      return Role::Derived;
    if (tag == 0x0111 || tag == 0x0144 || tag == 0x0201) return Role::ImageData;
    if (tag == 0x014a || tag == 0x8769 || tag == 0x8825 || tag == 0xc6f5) return Role::Position;
    if (group == "Image" && (tag == 0x02bc || tag == 0x83bb)) return Role::Derived;  // XMP and IPTC blocks
    return Role::Value;
  }
  if (group == "Photo" && tag == 0xa005) return Role::Position;
  if (group == "Photo" && tag == 0x927c && rules.NoteDecoded) return Role::Derived;
  if (group == "MakerNote" && tag == 0x0001) return Role::Position;
  // Sub-directories of maker notes.
  if ((group == "Olympus" || group == "Olympus2") &&
      ((tag >= 0x2010 && tag <= 0x2050 && (tag & 0x000f) == 0) || tag == 0x2031 ||
       (tag >= 0x2100 && tag <= 0x2900 && (tag & 0x00ff) == 0) || tag == 0x3000))
    return Role::Position;
  if ((group == "Nikon3" && tag == 0x0011) || (group == "Samsung2" && tag == 0x0035)) return Role::Position;
  return Role::Value;
}

bool SameValue(const Exiv2::Value& a, const Exiv2::Value& b) {
  if (a.typeId() != b.typeId() || a.count() != b.count() || a.size() != b.size()) return false;
  const auto size = static_cast<std::size_t>(a.size());
  std::array<Exiv2::byte, 512> small[2];
  std::unique_ptr<Exiv2::byte[]> large[2];
  Exiv2::byte* left = small[0].data();
  Exiv2::byte* right = small[1].data();
  if (size > small[0].size()) {
    large[0].reset(new Exiv2::byte[size]);
    large[1].reset(new Exiv2::byte[size]);
    left = large[0].get();
    right = large[1].get();
  }
  a.copy(left, Exiv2::littleEndian);
  b.copy(right, Exiv2::littleEndian);
  return std::memcmp(left, right, size) == 0;
}

bool SameDataArea(const Exiv2::Value& a, const Exiv2::Value& b) {
  if (a.sizeDataArea() != b.sizeDataArea()) return false;
  const Exiv2::DataBuf left = a.dataArea(), right = b.dataArea();
  return SameBytes({left.pData_, static_cast<std::size_t>(left.size_)}, {right.pData_, static_cast<std::size_t>(right.size_)});
}

// A TIFF-based file: offsets count from its first byte.
class TiffLayout {
 public:
  TiffLayout(const Exiv2::ExifData& intended, const Exiv2::ExifData& written, const FileBytes& original,
             const FileBytes& bytes)
      : intended_(intended), written_(written), original_(original), bytes_(bytes) {}

  // Whether the strips, tiles or embedded image that `before` and `after` point to hold the same bytes.
  bool SameImageData(const Exiv2::Exifdatum& before, const Exiv2::Exifdatum& after, std::string& why) const {
    const std::uint16_t sizeTag = before.tag() == 0x0111 ? 0x0117 : before.tag() == 0x0144 ? 0x0145 : 0x0202;
    const Exiv2::ExifKey sizeKey(sizeTag, before.groupName());
    const auto sizes = intended_.findKey(sizeKey);
    const auto writtenSizes = written_.findKey(sizeKey);
    if (sizes == intended_.end() || writtenSizes == written_.end() || !SameValue(sizes->value(), writtenSizes->value())) {
      why = "the sizes beside " + before.key() + " changed";
      return false;
    }
    if (before.count() != after.count() || sizes->count() < before.count()) {
      why = "the parts that " + before.key() + " lists changed";
      return false;
    }
    for (long i = 0; i < before.count(); ++i) {
      const long from = before.toLong(i), to = after.toLong(i), length = sizes->toLong(i);
      if (from < 0 || to < 0 || length < 0) {
        why = before.key() + " holds a negative offset or size";
        return false;
      }
      const auto offset = static_cast<std::size_t>(from), at = static_cast<std::size_t>(to),
                 size = static_cast<std::size_t>(length);
      if (offset > original_.Size() || size > original_.Size() - offset || at > bytes_.Size() ||
          size > bytes_.Size() - at) {
        why = "part " + std::to_string(i) + " of " + before.key() + " lies outside the file";
        return false;
      }
      if (!original_.Same(offset, bytes_, at, size)) {
        why = "the image data of part " + std::to_string(i) + " of " + before.key() + " changed";
        return false;
      }
    }
    return true;
  }

 private:
  const Exiv2::ExifData& intended_;
  const Exiv2::ExifData& written_;
  const FileBytes& original_;
  const FileBytes& bytes_;
};

template <class Datum>
using Listing = std::vector<std::pair<std::string, const Datum*>>;

// The data's entries sorted by key, keeping the order of equal keys.
template <class Data, class Keep>
auto Listed(const Data& data, Keep keep) {
  Listing<std::remove_cvref_t<decltype(*data.begin())>> listing;
  listing.reserve(data.count());
  for (const auto& datum : data)
    if (keep(datum)) listing.emplace_back(datum.key(), &datum);
  std::stable_sort(listing.begin(), listing.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  return listing;
}

// Walks both listings in step; `same` compares two entries of one key.
template <class Datum, class Same>
std::int32_t CompareListings(const Listing<Datum>& intended, const Listing<Datum>& written, Same same,
                             std::string& error) {
  auto left = intended.begin();
  auto right = written.begin();
  while (left != intended.end() || right != written.end()) {
    if (right == written.end() || (left != intended.end() && left->first < right->first))
      return Differs(error, left->first + " is missing");
    if (left == intended.end() || right->first < left->first) return Differs(error, right->first + " was added");
    std::string why;
    if (!same(*left->second, *right->second, why)) return Differs(error, why.empty() ? left->first + " changed" : why);
    ++left;
    ++right;
  }
  return TvkOk;
}

std::int32_t CompareExif(const Exiv2::ExifData& intended, const Exiv2::ExifData& written, bool jpeg,
                         const TiffLayout* layout, std::string& error) {
  const ExifRules rules{jpeg, intended.findKey(Exiv2::ExifKey("Exif.MakerNote.Offset")) != intended.end()};
  const auto keep = [&rules](const Exiv2::Exifdatum& datum) {
    const Role role = RoleOf(datum, rules);
    return role == Role::Value || role == Role::ImageData ||
           (role == Role::Position && datum.value().sizeDataArea() > 0);
  };
  const auto same = [&](const Exiv2::Exifdatum& a, const Exiv2::Exifdatum& b, std::string& why) {
    // A preview or thumbnail that Exiv2 read with its tag.
    if (a.value().sizeDataArea() > 0 || b.value().sizeDataArea() > 0) return SameDataArea(a.value(), b.value());
    if (RoleOf(a, rules) == Role::ImageData) return layout ? layout->SameImageData(a, b, why) : true;
    if (a.groupName() == "Image" && a.tag() == 0x8649 && a.typeId() == b.typeId()) {
      // Photoshop resources: the IPTC one among them is compared as IPTC.
      const auto size = [](const Exiv2::Exifdatum& d) { return static_cast<std::size_t>(d.size()); };
      std::vector<Exiv2::byte> left(size(a)), right(size(b));
      a.copy(left.data(), Exiv2::bigEndian);
      b.copy(right.data(), Exiv2::bigEndian);
      return SameResources(left, right);
    }
    return SameValue(a.value(), b.value());
  };
  return CompareListings(Listed(intended, keep), Listed(written, keep), same, error);
}

// ---- IPTC and XMP

std::int32_t CompareIptc(const Exiv2::IptcData& intended, const Exiv2::IptcData& written, std::string& error) {
  const auto all = [](const Exiv2::Iptcdatum&) { return true; };
  const auto same = [](const Exiv2::Iptcdatum& a, const Exiv2::Iptcdatum& b, std::string&) {
    return SameValue(a.value(), b.value());
  };
  return CompareListings(Listed(intended, all), Listed(written, all), same, error);
}

bool SameXmp(const Exiv2::Xmpdatum& a, const Exiv2::Xmpdatum& b) {
  return a.typeId() == b.typeId() && a.count() == b.count() && a.toString() == b.toString();
}

std::int32_t CompareXmp(const Exiv2::Image& intended, const Exiv2::Image& written, bool keepPacket,
                        std::string& error) {
  if (keepPacket && written.xmpPacket() != intended.xmpPacket())
    return Differs(error, "the XMP packet that could not be read is gone");
  const auto all = [](const Exiv2::Xmpdatum&) { return true; };
  const auto same = [](const Exiv2::Xmpdatum& a, const Exiv2::Xmpdatum& b, std::string&) { return SameXmp(a, b); };
  return CompareListings(Listed(intended.xmpData(), all), Listed(written.xmpData(), all), same, error);
}

// Exiv2's reading of bytes in memory, which it does not copy; nullptr when they are not of `type`.
std::unique_ptr<Exiv2::Image> ReadImage(ByteSpan written, int type) {
  std::unique_ptr<Exiv2::Image> image(
      Exiv2::ImageFactory::open(written.data(), static_cast<long>(written.size())).release());
  if (!image || image->imageType() != type) return nullptr;
  image->readMetadata();
  return image;
}

// ---- JPEG segments

// What Exiv2 rewrites from its metadata, or keeps as they are.
struct JpegHeader {
  std::vector<std::pair<unsigned char, ByteSpan>> Kept;
  std::vector<ByteSpan> Comments;
  std::vector<unsigned char> Photoshop;
  std::vector<unsigned char> IccProfile;
};

JpegHeader SortSegments(ByteSpan data, const std::vector<JpegSegment>& segments) {
  static constexpr std::string_view exif("Exif\0\0", 6), xmp("http://ns.adobe.com/xap/1.0/\0", 29),
      photoshop("Photoshop 3.0\0", 14), icc("ICC_PROFILE\0", 12);
  JpegHeader header;
  for (const JpegSegment& segment : segments) {
    const ByteSpan payload = data.subspan(segment.Payload, segment.PayloadLength);
    if (segment.Marker == 0xE1 && (StartsWith(payload, exif) || StartsWith(payload, xmp))) continue;
    if (segment.Marker == 0xED && StartsWith(payload, photoshop)) {
      header.Photoshop.insert(header.Photoshop.end(), payload.begin() + photoshop.size(), payload.end());
    } else if (segment.Marker == 0xE2 && StartsWith(payload, icc) && payload.size() >= icc.size() + 2) {
      header.IccProfile.insert(header.IccProfile.end(), payload.begin() + icc.size() + 2, payload.end());
    } else if (segment.Marker == 0xFE) {
      header.Comments.push_back(payload);
    } else {
      header.Kept.emplace_back(segment.Marker, payload);
    }
  }
  return header;
}

std::int32_t CompareJpegHeaders(const JpegHeader& before, const JpegHeader& after, std::string& error) {
  const auto sameKept = [](const auto& a, const auto& b) { return a.first == b.first && SameBytes(a.second, b.second); };
  if (!std::equal(before.Kept.begin(), before.Kept.end(), after.Kept.begin(), after.Kept.end(), sameKept))
    return Differs(error, "a JPEG segment changed");
  if (!std::equal(before.Comments.begin(), before.Comments.end(), after.Comments.begin(), after.Comments.end(),
                  SameBytes))
    return Differs(error, "the JPEG comment changed");
  if (before.IccProfile != after.IccProfile) return Differs(error, "the colour profile changed");
  if (!SameResources(before.Photoshop, after.Photoshop)) return Differs(error, "the Photoshop resources changed");
  return TvkOk;
}

// The written file's first bytes, read back: up to its first scan for a JPEG,
// all of it otherwise.
class ReadBack {
 public:
  ReadBack(int fd, bool upToScan) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) return;
    const auto size = static_cast<std::size_t>(status.st_size);
    std::size_t length = upToScan ? std::min<std::size_t>(size, 64 * 1024) : size;
    for (;;) {
      head_.resize(length);
      if (!ReadFully(fd, 0, head_)) return;
      std::size_t scan = 0;
      if (!upToScan || length == size || FindJpegScan(head_, scan) != ScanSearch::NeedMore) break;
      length = std::min(size, length * 2);
    }
    bytes_.emplace(head_, fd, size);
  }
  // nullopt when the file could not be read.
  const std::optional<FileBytes>& Bytes() const { return bytes_; }

 private:
  static bool ReadFully(int fd, std::size_t offset, std::span<unsigned char> into) {
    while (!into.empty()) {
      const ssize_t got = ::pread(fd, into.data(), into.size(), static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      offset += static_cast<std::size_t>(got);
      into = into.subspan(static_cast<std::size_t>(got));
    }
    return true;
  }

  std::vector<unsigned char> head_;
  std::optional<FileBytes> bytes_;
};

std::int32_t CheckJpeg(const Exiv2::Image& intended, bool keepXmpPacket, const FileBytes& original,
                       const FileBytes& written, std::string& error) {
  std::vector<JpegSegment> before, after;
  std::size_t oldScan = 0, newScan = 0;
  if (FindJpegScan(original.Head(), oldScan, &before) != ScanSearch::Found) {
    error = "the image data of the original was not found";
    return TvkFailed;
  }
  if (FindJpegScan(written.Head(), newScan, &after) != ScanSearch::Found)
    return Differs(error, "its image data was not found");
  // The scans and whatever follows them, byte for byte.
  if (written.Size() - newScan != original.Size() - oldScan ||
      !original.Same(oldScan, written, newScan, original.Size() - oldScan))
    return Differs(error, "the image data changed");
  if (const auto result =
          CompareJpegHeaders(SortSegments(original.Head(), before), SortSegments(written.Head(), after), error);
      result != TvkOk)
    return result;
  const auto image = ReadImage(written.Head(), intended.imageType());
  if (!image) return Differs(error, "it is no JPEG");
  if (const auto result = CompareExif(intended.exifData(), image->exifData(), true, nullptr, error); result != TvkOk)
    return result;
  if (const auto result = CompareIptc(intended.iptcData(), image->iptcData(), error); result != TvkOk) return result;
  return CompareXmp(intended, *image, keepXmpPacket, error);
}

// The codestream boxes of a JPEG 2000 file as (offset, length) of their
// content; nullopt when the boxes do not add up to the file.
std::optional<std::vector<std::pair<std::size_t, std::size_t>>> Jp2Codestreams(const FileBytes& file) {
  std::vector<std::pair<std::size_t, std::size_t>> found;
  unsigned char buffer[16];
  std::size_t at = 0;
  while (at < file.Size()) {
    if (file.Size() - at < 8) return std::nullopt;
    const unsigned char* box = file.At(at, std::min<std::size_t>(16, file.Size() - at), buffer);
    if (!box) return std::nullopt;
    std::uint64_t length = Big32(box);
    std::size_t header = 8;
    if (length == 1) {
      if (file.Size() - at < 16) return std::nullopt;
      length = std::uint64_t{Big32(box + 8)} << 32 | Big32(box + 12);
      header = 16;
    } else if (length == 0) {
      length = file.Size() - at;
    }
    if (length < header || length > file.Size() - at) return std::nullopt;
    if (std::memcmp(box + 4, "jp2c", 4) == 0) found.emplace_back(at + header, length - header);
    at += length;
  }
  return found;
}

std::int32_t CompareJp2(const FileBytes& original, const FileBytes& written, std::string& error) {
  const auto before = Jp2Codestreams(original), after = Jp2Codestreams(written);
  if (!before || !after) return Differs(error, "its boxes do not add up");
  const auto same = [&](const auto& a, const auto& b) {
    return a.second == b.second && original.Same(a.first, written, b.first, a.second);
  };
  if (!std::equal(before->begin(), before->end(), after->begin(), after->end(), same))
    return Differs(error, "the codestream changed");
  return TvkOk;
}

// A Photoshop file: its header and colour data, and all after the image
// resources (layers and the image), byte for byte.
std::int32_t ComparePsd(const FileBytes& original, const FileBytes& written, std::string& error) {
  struct Layout {
    std::size_t Resources = 0, Rest = 0;
  };
  const auto layout = [](const FileBytes& file) -> std::optional<Layout> {
    unsigned char buffer[4];
    const unsigned char* colour = file.Size() >= 30 ? file.At(26, 4, buffer) : nullptr;
    if (!colour) return std::nullopt;
    Layout found;
    found.Resources = 30 + std::size_t{Big32(colour)};
    const unsigned char* resources = found.Resources + 4 <= file.Size() ? file.At(found.Resources, 4, buffer) : nullptr;
    if (!resources) return std::nullopt;
    found.Rest = found.Resources + 4 + Big32(resources);
    if (found.Rest > file.Size()) return std::nullopt;
    return found;
  };
  const auto before = layout(original), after = layout(written);
  if (!before || !after) return Differs(error, "its sections do not add up");
  const std::size_t rest = original.Size() - before->Rest;
  if (before->Resources != after->Resources || !original.Same(0, written, 0, before->Resources) ||
      written.Size() - after->Rest != rest || !original.Same(before->Rest, written, after->Rest, rest))
    return Differs(error, "the image data changed");
  return TvkOk;
}

bool IsTiffBased(ByteSpan bytes) { return StartsWith(bytes, "II") || StartsWith(bytes, "MM"); }

}  // namespace

const unsigned char* FileBytes::At(std::size_t offset, std::size_t length, unsigned char* buffer) const {
  if (offset + length <= head_.size()) return head_.data() + offset;
  std::size_t done = 0;
  if (offset < head_.size()) {
    done = head_.size() - offset;
    std::memcpy(buffer, head_.data() + offset, done);
  }
  while (done < length) {
    const ssize_t got = ::pread(fd_, buffer + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return nullptr;
    done += static_cast<std::size_t>(got);
  }
  return buffer;
}

bool FileBytes::Same(std::size_t offset, const FileBytes& other, std::size_t otherOffset, std::size_t length) const {
  if (offset > size_ || length > size_ - offset || otherOffset > other.size_ || length > other.size_ - otherOffset)
    return false;
  // Pieces small enough to stay in the processor's cache, in buffers kept for
  // the next save; mapping the files instead costs more in page faults than
  // the copies do.
  constexpr std::size_t pieceSize = 256 * 1024;
  static thread_local std::unique_ptr<unsigned char[]> buffers;
  while (length > 0) {
    const std::size_t piece = std::min(length, pieceSize);
    if (!buffers && (offset + piece > head_.size() || otherOffset + piece > other.head_.size()))
      buffers.reset(new unsigned char[2 * pieceSize]);
    const unsigned char* mine = At(offset, piece, buffers.get());
    // No buffer yet means both pieces lie in the heads; an offset from null is undefined.
    const unsigned char* theirs = other.At(otherOffset, piece, buffers ? buffers.get() + pieceSize : nullptr);
    if (!mine || !theirs || std::memcmp(mine, theirs, piece) != 0) return false;
    offset += piece;
    otherOffset += piece;
    length -= piece;
  }
  return true;
}

ScanSearch FindJpegScan(ByteSpan data, std::size_t& scan, std::vector<JpegSegment>* segments) {
  const std::size_t size = data.size();
  if (size < 2) return ScanSearch::NeedMore;
  if (data[0] != 0xFF || data[1] != 0xD8) return ScanSearch::NotFound;
  std::size_t at = 2;
  for (;;) {
    if (at >= size) return ScanSearch::NeedMore;
    if (data[at] != 0xFF) return ScanSearch::NotFound;
    while (at < size && data[at] == 0xFF) ++at;
    if (at >= size) return ScanSearch::NeedMore;
    const unsigned char marker = data[at++];
    if (marker == 0xDA) {
      scan = at - 2;
      return ScanSearch::Found;
    }
    if (marker == 0xD9) return ScanSearch::NotFound;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // markers without a length
      if (segments) segments->push_back({marker, at, 0});
      continue;
    }
    if (at + 2 > size) return ScanSearch::NeedMore;
    const std::size_t length = Big16(data.data() + at);
    if (length < 2) return ScanSearch::NotFound;
    if (segments) segments->push_back({marker, at + 2, std::min(length - 2, size - std::min(size, at + 2))});
    at += length;
  }
}

std::int32_t CheckWritten(const Exiv2::Image& intended, bool keepXmpPacket, const FileBytes& original, int written,
                          std::string& error) {
  const bool jpeg = intended.imageType() == Exiv2::ImageType::jpeg;
  const ReadBack back(written, jpeg);
  if (!back.Bytes()) return Differs(error, "it cannot be read back");
  const FileBytes& bytes = *back.Bytes();
  if (jpeg) return CheckJpeg(intended, keepXmpPacket, original, bytes, error);
  const auto image = ReadImage(bytes.Head(), intended.imageType());
  if (!image) return Differs(error, "its format changed");
  const bool tiff = IsTiffBased(original.Head()) && IsTiffBased(bytes.Head());
  const TiffLayout layout(intended.exifData(), image->exifData(), original, bytes);
  if (const auto result = CompareExif(intended.exifData(), image->exifData(), false, tiff ? &layout : nullptr, error);
      result != TvkOk)
    return result;
  if (const auto result = CompareIptc(intended.iptcData(), image->iptcData(), error); result != TvkOk) return result;
  if (intended.comment() != image->comment()) return Differs(error, "the comment changed");
  if (const auto result = CompareXmp(intended, *image, keepXmpPacket, error); result != TvkOk) return result;
  if (intended.imageType() == Exiv2::ImageType::jp2) return CompareJp2(original, bytes, error);
  if (intended.imageType() == Exiv2::ImageType::psd) return ComparePsd(original, bytes, error);
  return TvkOk;
}

std::int32_t CheckWrittenSidecar(const Exiv2::Image& intended, int written, std::string& error) {
  const ReadBack back(written, false);
  if (!back.Bytes()) return Differs(error, "it cannot be read back");
  const auto image = ReadImage(back.Bytes()->Head(), Exiv2::ImageType::xmp);
  if (!image) return Differs(error, "it is no XMP sidecar");
  // What Exiv2 writes: the XMP properties, overwritten by those made from EXIF and IPTC.
  Exiv2::XmpData converted;
  Exiv2::copyExifToXmp(intended.exifData(), converted);
  Exiv2::copyIptcToXmp(intended.iptcData(), converted);
  Exiv2::XmpData expected = intended.xmpData();
  for (const Exiv2::Xmpdatum& datum : converted) expected[datum.key()].setValue(&datum.value());
  const auto all = [](const Exiv2::Xmpdatum&) { return true; };
  const Exiv2::XmpData& before = intended.xmpData();
  const auto same = [&](const Exiv2::Xmpdatum& a, const Exiv2::Xmpdatum& b, std::string&) {
    if (SameXmp(a, b)) return true;
    // Exiv2 gives a date made from EXIF back the time zone it was read with.
    const auto original = before.findKey(Exiv2::XmpKey(a.key()));
    const std::string made = a.toString();
    return original != before.end() && made.size() >= 10 && SameXmp(*original, b) &&
           original->toString().compare(0, 10, made, 0, 10) == 0;
  };
  return CompareListings(Listed(expected, all), Listed(image->xmpData(), all), same, error);
}

}  // namespace tvkmd
