#include "tvkmd/tvkmd.h"

#include <exiv2/exiv2.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tvkmd/safefile.h"
#include "tvkmd/structure.h"
#include "tvkmd/verify.h"

namespace {

thread_local std::string lastError;

// Exiv2 reports warnings and errors through this handler only, never on stderr.
void RecordLibraryMessage(int, const char* message) {
  if (!message) return;
  lastError = message;
  while (!lastError.empty() && lastError.back() == '\n') lastError.pop_back();
}

void Initialise() {
  static std::once_flag once;
  std::call_once(once, [] {
    Exiv2::LogMsg::setHandler(RecordLibraryMessage);
    Exiv2::XmpParser::initialize();
  });
}

struct Entry {
  std::string Path;
  std::unique_ptr<Exiv2::Image> Image;
  // A sidecar made by CreateSidecar that is not on disk yet.
  bool Unpublished = false;
  // The file's XMP packet did not parse: saving must not lose it.
  bool XmpUnread = false;
};

class HandleTable {
 public:
  TvkHandle Add(std::shared_ptr<Entry> entry) {
    std::lock_guard lock(mutex_);
    while (next_ <= 0 || entries_.count(next_)) next_ = next_ <= 0 ? 1 : next_ + 1;
    const TvkHandle handle = next_++;
    entries_.emplace(handle, std::move(entry));
    return handle;
  }
  std::shared_ptr<Entry> Find(TvkHandle handle) {
    std::lock_guard lock(mutex_);
    const auto found = entries_.find(handle);
    return found == entries_.end() ? nullptr : found->second;
  }
  std::int32_t Count() {
    std::lock_guard lock(mutex_);
    return static_cast<std::int32_t>(entries_.size());
  }
  void Remove(TvkHandle handle) {
    std::shared_ptr<Entry> released;
    {
      std::lock_guard lock(mutex_);
      const auto found = entries_.find(handle);
      if (found == entries_.end()) return;
      released = std::move(found->second);
      entries_.erase(found);
    }
  }

 private:
  std::mutex mutex_;
  std::map<TvkHandle, std::shared_ptr<Entry>> entries_;
  TvkHandle next_ = 1;
};

HandleTable& Table() {
  static HandleTable table;
  return table;
}

std::shared_ptr<Entry> FindEntry(TvkHandle handle) {
  Initialise();
  return handle == 0 ? nullptr : Table().Find(handle);
}

// Runs an operation; whatever it throws becomes a failure result.
template <class Operation>
std::int32_t Guarded(Operation&& operation) {
  try {
    return operation();
  } catch (const std::exception& error) {
    lastError = error.what();
  } catch (...) {
    lastError = "unknown error";
  }
  return TvkFailed;
}

std::optional<Exiv2::ExifKey> ResolveExifKey(const char* key) {
  if (!key) return std::nullopt;
  // Exiv2 0.27 names tag 0xa432 LensSpecification and knows no LensInfo.
  if (std::strcmp(key, "Exif.Photo.LensInfo") == 0) return Exiv2::ExifKey(0xa432, "Photo");
  try {
    return Exiv2::ExifKey(key);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<Exiv2::XmpKey> ResolveXmpKey(const char* key) {
  if (!key) return std::nullopt;
  try {
    return Exiv2::XmpKey(key);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::int32_t CopyOut(const std::string& text, char* buffer, std::int32_t size) {
  const auto capacity = static_cast<std::size_t>(size);
  if (text.size() > capacity) return TvkTooLong;
  std::memcpy(buffer, text.data(), text.size());
  if (text.size() < capacity) buffer[text.size()] = '\0';
  return TvkOk;
}

std::optional<double> RationalNumber(const Exiv2::Value& value, long index) {
  const Exiv2::Rational number = value.toRational(index);
  if (!value.ok() || number.second == 0) return std::nullopt;
  return static_cast<double>(number.first) / number.second;
}

// At most one decimal, none when it is 0: "18", "3.5".
std::string ShortNumber(double number) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, number, std::chars_format::fixed, 1).ptr;
  std::string result(text, end);
  if (result.size() > 2 && result.compare(result.size() - 2, 2, ".0") == 0) result.resize(result.size() - 2);
  return result;
}

bool IsLensSpecification(const Exiv2::Exifdatum& datum) {
  return (datum.tag() == 0xa432 && datum.groupName() == "Photo") ||
         (datum.tag() == 0xc630 && datum.groupName() == "Image");
}

// The four rationals of the lens tag (0xa432) as "18-55mm f/3.5-5.6"; empty
// when the focal length is unknown.
std::string LensSpecificationText(const Exiv2::Value& value) {
  if (value.count() < 2) return {};
  const auto shortest = RationalNumber(value, 0);
  const auto longest = RationalNumber(value, 1);
  if (!shortest || *shortest <= 0) return {};
  // Appended piece by piece: GCC 12 warns falsely on "-" + std::string.
  std::string text = ShortNumber(*shortest);
  if (longest && ShortNumber(*longest) != text && *longest > *shortest) text.append("-").append(ShortNumber(*longest));
  text += "mm";
  if (value.count() >= 4) {
    const auto widest = RationalNumber(value, 2);
    const auto narrowest = RationalNumber(value, 3);
    if (widest && *widest > 0) {
      const std::string wide = ShortNumber(*widest);
      text.append(" f/").append(wide);
      if (narrowest && *narrowest > *widest && ShortNumber(*narrowest) != wide)
        text.append("-").append(ShortNumber(*narrowest));
    }
  }
  return text;
}

std::optional<Exiv2::URational> ToRational(double number) {
  if (!std::isfinite(number) || number < 0) return std::nullopt;
  constexpr double largest = 4294967295.0;
  std::uint64_t denominator = 1000000;
  while (denominator > 1 && number * static_cast<double>(denominator) > largest) denominator /= 10;
  const double scaled = std::round(number * static_cast<double>(denominator));
  if (scaled > largest) return std::nullopt;
  auto numerator = static_cast<std::uint64_t>(scaled);
  const std::uint64_t divisor = std::gcd(numerator, denominator);
  if (divisor > 1) {
    numerator /= divisor;
    denominator /= divisor;
  }
  return Exiv2::URational(static_cast<std::uint32_t>(numerator), static_cast<std::uint32_t>(denominator));
}

bool IsExifType(std::int32_t type) { return type >= Exiv2::unsignedByte && type <= Exiv2::tiffIfd; }

bool IsXmpType(std::int32_t type) { return type >= Exiv2::xmpText && type <= Exiv2::langAlt; }

template <class Data, class Key>
void SetDatum(Data& data, const Key& key, const Exiv2::Value& value) {
  const auto found = data.findKey(key);
  if (found == data.end())
    data.add(key, &value);
  else
    found->setValue(&value);
}

// The bytes an image holds in memory after writeMetadata.
class MemoryContent {
 public:
  explicit MemoryContent(Exiv2::BasicIo& io) : io_(io) {
    if (io_.open() != 0) throw Exiv2::Error(Exiv2::kerDataSourceOpenFailed, io_.path(), "");
    size_ = static_cast<std::size_t>(io_.size());
    data_ = io_.mmap(false);
  }
  ~MemoryContent() {
    io_.munmap();
    io_.close();
  }
  MemoryContent(const MemoryContent&) = delete;
  MemoryContent& operator=(const MemoryContent&) = delete;
  const unsigned char* Data() const { return data_; }
  std::size_t Size() const { return size_; }

 private:
  Exiv2::BasicIo& io_;
  const unsigned char* data_ = nullptr;
  std::size_t size_ = 0;
};

std::int32_t Failure(std::int32_t result, std::string message) {
  lastError = std::move(message);
  return result;
}

// Sets one tag of the metadata that `select` picks to `value` read as `type`.
template <class Resolve, class Select>
std::int32_t Modify(TvkHandle handle, const char* key, const char* value, std::int32_t type, bool typeAllowed,
                    Resolve resolve, Select select) {
  const auto entry = FindEntry(handle);
  if (!entry) return TvkBadHandle;
  if (!value || !typeAllowed) return TvkBadArgument;
  return Guarded([&]() -> std::int32_t {
    const auto resolved = resolve(key);
    if (!resolved) return Failure(TvkBadArgument, std::string("unknown key ") + (key ? key : ""));
    auto created = Exiv2::Value::create(static_cast<Exiv2::TypeId>(type));
    if (created->read(value) != 0) return TvkBadArgument;
    SetDatum(select(*entry->Image), *resolved, *created);
    return TvkOk;
  });
}

// Reads a written sidecar back before it is put in place.
tvkmd::ContentCheck SidecarCheck(const Entry& entry) {
  return [&entry](int written, std::string& error) {
    return tvkmd::CheckWrittenSidecar(*entry.Image, written, error);
  };
}

std::int32_t SaveNewSidecar(Entry& entry) {
  entry.Image->writeMetadata();
  std::string error;
  std::int32_t result;
  {
    const MemoryContent content(entry.Image->io());
    result = tvkmd::PublishNewFile(entry.Path, content.Data(), content.Size(), SidecarCheck(entry), error);
  }
  if (result != TvkOk) return Failure(result, error);
  entry.Unpublished = false;
  return TvkOk;
}

// Whether the photo has a decoded Olympus maker note of the kind whose offsets
// count from the note itself. Exiv2 0.27.6 writes such a note anew under a
// header that neither it nor other readers decode, so its bytes as read are
// written instead.
bool HasOlympusNote(const Exiv2::ExifData& exif) {
  static constexpr char signature[] = "OLYMPUS";  // with its NUL
  const auto note = exif.findKey(Exiv2::ExifKey("Exif.Photo.MakerNote"));
  if (note == exif.end() || note->size() < static_cast<long>(sizeof signature) ||
      exif.findKey(Exiv2::ExifKey("Exif.MakerNote.Offset")) == exif.end())
    return false;
  std::vector<Exiv2::byte> bytes(static_cast<std::size_t>(note->size()));
  note->copy(bytes.data(), Exiv2::littleEndian);
  return std::memcmp(bytes.data(), signature, sizeof signature) == 0;
}

// Leaves the maker note to its raw bytes, which Exiv2 then writes as they are.
void PassNoteAsRead(Exiv2::ExifData& exif) {
  for (auto datum = exif.begin(); datum != exif.end();) {
    const std::string group = datum->groupName();
    datum = group == "MakerNote" || Exiv2::ExifTags::isMakerGroup(group) ? exif.erase(datum) : std::next(datum);
  }
}

// A second image over `size` bytes of the file, given the edited metadata and
// written in memory. Exiv2 would write a file in place, truncating it first.
std::unique_ptr<Exiv2::Image> Rewrite(const Entry& entry, const unsigned char* data, std::size_t size,
                                      const std::string& target) {
  std::unique_ptr<Exiv2::Image> fresh(Exiv2::ImageFactory::open(data, static_cast<long>(size)).release());
  if (!fresh || fresh->imageType() != entry.Image->imageType())
    throw std::runtime_error(target + " changed its format since it was opened");
  fresh->readMetadata();
  const Exiv2::Image& edited = *entry.Image;
  const bool sidecar = fresh->imageType() == Exiv2::ImageType::xmp;
  // A sidecar keeps EXIF tags as XMP: Exiv2 converts them when it writes.
  if (sidecar || (fresh->checkMode(Exiv2::mdExif) & Exiv2::amWrite)) {
    if (HasOlympusNote(edited.exifData())) {
      Exiv2::ExifData exif = edited.exifData();
      PassNoteAsRead(exif);
      fresh->setExifData(exif);
    } else {
      fresh->setExifData(edited.exifData());
    }
  }
  if (sidecar || (fresh->checkMode(Exiv2::mdIptc) & Exiv2::amWrite)) fresh->setIptcData(edited.iptcData());
  if (fresh->checkMode(Exiv2::mdXmp) & Exiv2::amWrite) {
    // A packet that did not parse goes back as it was, unless properties were set.
    if (entry.XmpUnread && edited.xmpData().empty())
      fresh->writeXmpFromPacket(true);
    else
      fresh->setXmpData(edited.xmpData());
  }
  fresh->writeMetadata();
  return fresh;
}

// Reads a written photo back before it replaces `original`.
tvkmd::ContentCheck PhotoCheck(const Entry& entry, const tvkmd::FileBytes& original) {
  return [&entry, &original](int written, std::string& error) {
    return tvkmd::CheckWritten(*entry.Image, entry.XmpUnread, original, written, error);
  };
}

// A JPEG's image data is copied unchanged from its first scan on, so only the
// part before it goes through Exiv2 and the rest is copied file to file;
// nullopt when that does not apply and the whole file is to be rewritten.
std::optional<std::int32_t> SaveJpegHeader(const Entry& entry, const tvkmd::SourceFile& source,
                                           const std::string& target) {
  std::string error;
  const std::size_t size = source.Size();
  std::unique_ptr<unsigned char[]> prefix;
  std::size_t length = std::min<std::size_t>(size, 256 * 1024);
  std::size_t scan = 0;
  for (;;) {
    if (const auto result = source.ReadPrefix(length, prefix, error); result != TvkOk) return Failure(result, error);
    const tvkmd::ScanSearch found = tvkmd::FindJpegScan({prefix.get(), length}, scan);
    if (found == tvkmd::ScanSearch::Found) break;
    if (found == tvkmd::ScanSearch::NotFound || length == size) return std::nullopt;
    length = std::min(size, length * 2);
  }
  const std::size_t kept = std::min(length, scan + 4096);
  const auto fresh = Rewrite(entry, prefix.get(), kept, target);
  const MemoryContent content(fresh->io());
  // Exiv2 copies the input verbatim from the scan on: the written bytes end with it.
  const std::size_t copied = kept - scan;
  if (content.Size() < copied || std::memcmp(content.Data() + content.Size() - copied, prefix.get() + scan, copied))
    return std::nullopt;
  const std::size_t header = content.Size() - copied;
  const auto write = [&](int fd, std::string& writeError) {
    const std::int32_t result = tvkmd::WriteBytes(fd, content.Data(), header, writeError);
    if (result != TvkOk) return result;
    return tvkmd::CopyRange(source.Fd(), static_cast<off_t>(scan), size - scan, fd, writeError);
  };
  const tvkmd::FileBytes original({prefix.get(), length}, source.Fd(), size);
  const std::int32_t result = tvkmd::ReplaceFile(target, source.Status(), write, PhotoCheck(entry, original), error);
  return result == TvkOk ? TvkOk : Failure(result, error);
}

std::int32_t SaveWholeFile(const Entry& entry, const tvkmd::SourceFile& source, const std::string& target) {
  std::string error;
  std::unique_ptr<unsigned char[]> bytes;
  if (const auto result = source.ReadPrefix(source.Size(), bytes, error); result != TvkOk)
    return Failure(result, error);
  const auto fresh = Rewrite(entry, bytes.get(), source.Size(), target);
  const MemoryContent content(fresh->io());
  const auto write = [&](int fd, std::string& writeError) {
    return tvkmd::WriteBytes(fd, content.Data(), content.Size(), writeError);
  };
  const tvkmd::FileBytes original({bytes.get(), source.Size()}, source.Fd(), source.Size());
  const auto check = entry.Image->imageType() == Exiv2::ImageType::xmp ? SidecarCheck(entry)
                                                                        : PhotoCheck(entry, original);
  const std::int32_t result = tvkmd::ReplaceFile(target, source.Status(), write, check, error);
  return result == TvkOk ? TvkOk : Failure(result, error);
}

// The new content is published beside the file and renamed over it.
std::int32_t SaveExisting(const Entry& entry) {
  std::string error;
  const std::string target = tvkmd::ResolveTarget(entry.Path, error);
  if (target.empty()) return Failure(TvkFailed, error);
  if (::access(target.c_str(), W_OK) != 0) return Failure(TvkNotWritable, target + ": " + std::strerror(errno));
  tvkmd::SourceFile source;
  if (const auto result = source.Open(target, error); result != TvkOk) return Failure(result, error);
  if (entry.Image->imageType() == Exiv2::ImageType::jpeg)
    if (const auto saved = SaveJpegHeader(entry, source, target)) return *saved;
  return SaveWholeFile(entry, source, target);
}

}  // namespace

TvkHandle OpenFileImage(const char* path, std::int32_t) {
  Initialise();
  if (!path || !*path) return 0;
  TvkHandle handle = 0;
  Guarded([&]() -> std::int32_t {
    // Only regular files: a FIFO would block, and Exiv2 reads names such as
    // "-" or "http://..." as something other than a file.
    struct stat status {};
    if (::stat(path, &status) != 0) return Failure(TvkFailed, std::string(path) + ": " + std::strerror(errno));
    if (!S_ISREG(status.st_mode)) return Failure(TvkBadArgument, std::string(path) + " is not a regular file");
    if (std::string unsound; !tvkmd::TiffStructureSound(path, unsound))
      return Failure(TvkFailed, std::string(path) + ": " + unsound);
    Exiv2::BasicIo::AutoPtr io(new Exiv2::FileIo(path));
    std::unique_ptr<Exiv2::Image> image(Exiv2::ImageFactory::open(io).release());
    if (!image) return Failure(TvkFailed, std::string(path) + " is not a supported image");
    image->readMetadata();
    auto entry = std::make_shared<Entry>();
    entry->Path = path;
    entry->XmpUnread = image->xmpData().empty() && !image->xmpPacket().empty();
    entry->Image = std::move(image);
    handle = Table().Add(std::move(entry));
    return TvkOk;
  });
  return handle;
}

void FreeImage(TvkHandle handle) {
  if (handle != 0) Table().Remove(handle);
}

std::int32_t SaveImage(TvkHandle handle) {
  const auto entry = FindEntry(handle);
  if (!entry) return TvkBadHandle;
  return Guarded([&]() -> std::int32_t { return entry->Unpublished ? SaveNewSidecar(*entry) : SaveExisting(*entry); });
}

std::int32_t HasEXIFData(TvkHandle handle) {
  const auto entry = FindEntry(handle);
  return entry && !entry->Image->exifData().empty() ? 1 : 0;
}

std::int32_t HasXMPData(TvkHandle handle) {
  const auto entry = FindEntry(handle);
  return entry && !entry->Image->xmpData().empty() ? 1 : 0;
}

std::int32_t HasIPTCData(TvkHandle handle) {
  const auto entry = FindEntry(handle);
  return entry && !entry->Image->iptcData().empty() ? 1 : 0;
}

std::int32_t CopyXMPToMeta(TvkHandle target, TvkHandle source) {
  const auto to = FindEntry(target);
  const auto from = FindEntry(source);
  if (!to || !from) return TvkBadHandle;
  if (to == from) return TvkOk;
  return Guarded([&]() -> std::int32_t {
    Exiv2::XmpData& into = to->Image->xmpData();
    for (const Exiv2::Xmpdatum& datum : from->Image->xmpData())
      SetDatum(into, Exiv2::XmpKey(datum.key()), datum.value());
    return TvkOk;
  });
}

TvkHandle CreateSidecar(TvkHandle photo, const char* path) {
  const auto entry = FindEntry(photo);
  if (!entry || !path || !*path) return 0;
  TvkHandle handle = 0;
  Guarded([&]() -> std::int32_t {
    auto sidecar = std::make_shared<Entry>();
    sidecar->Path = path;
    sidecar->Unpublished = true;
    sidecar->Image.reset(Exiv2::ImageFactory::create(Exiv2::ImageType::xmp).release());
    sidecar->Image->setXmpData(entry->Image->xmpData());
    handle = Table().Add(std::move(sidecar));
    return TvkOk;
  });
  return handle;
}

std::int32_t ReadEXIFMeta(TvkHandle handle, const char* key, char* buffer, std::int32_t size) {
  const auto entry = FindEntry(handle);
  if (!entry) return TvkBadHandle;
  if (!buffer || size <= 0) return TvkBadArgument;
  return Guarded([&]() -> std::int32_t {
    const auto exifKey = ResolveExifKey(key);
    if (!exifKey) return TvkNoValue;
    const Exiv2::ExifData& exif = entry->Image->exifData();
    const auto found = exif.findKey(*exifKey);
    if (found == exif.end()) return TvkNoValue;
    if (IsLensSpecification(*found)) {
      const std::string text = LensSpecificationText(found->value());
      return text.empty() ? TvkNoValue : CopyOut(text, buffer, size);
    }
    return CopyOut(found->print(&exif), buffer, size);
  });
}

std::int32_t ReadXMPMeta(TvkHandle handle, const char* key, char* buffer, std::int32_t size) {
  const auto entry = FindEntry(handle);
  if (!entry) return TvkBadHandle;
  if (!buffer || size <= 0) return TvkBadArgument;
  return Guarded([&]() -> std::int32_t {
    const auto xmpKey = ResolveXmpKey(key);
    if (!xmpKey) return TvkNoValue;
    const Exiv2::XmpData& xmp = entry->Image->xmpData();
    const auto found = xmp.findKey(*xmpKey);
    if (found == xmp.end()) return TvkNoValue;
    // A language alternative reads as its default text.
    return CopyOut(found->typeId() == Exiv2::langAlt ? found->toString(0) : found->toString(), buffer, size);
  });
}

std::int32_t ReadMetaDbl(TvkHandle handle, const char* key, double* value) {
  const auto entry = FindEntry(handle);
  if (!entry) return TvkBadHandle;
  if (!value) return TvkBadArgument;
  return Guarded([&]() -> std::int32_t {
    const Exiv2::Value* found = nullptr;
    if (key && std::strncmp(key, "Xmp.", 4) == 0) {
      const auto xmpKey = ResolveXmpKey(key);
      if (!xmpKey) return TvkNoValue;
      const auto datum = entry->Image->xmpData().findKey(*xmpKey);
      if (datum != entry->Image->xmpData().end()) found = &datum->value();
    } else {
      const auto exifKey = ResolveExifKey(key);
      if (!exifKey) return TvkNoValue;
      const auto datum = entry->Image->exifData().findKey(*exifKey);
      if (datum != entry->Image->exifData().end()) found = &datum->value();
    }
    if (!found || found->count() == 0) return TvkNoValue;
    std::optional<double> number;
    if (found->typeId() == Exiv2::unsignedRational || found->typeId() == Exiv2::signedRational) {
      number = RationalNumber(*found, 0);
    } else {
      const float read = found->toFloat(0);
      if (found->ok()) number = read;
    }
    if (!number || !std::isfinite(*number)) return TvkNoValue;
    *value = *number;
    return TvkOk;
  });
}

std::int32_t ModifyEXIFMeta(TvkHandle handle, const char* key, const char* value, std::int32_t type) {
  return Modify(handle, key, value, type, IsExifType(type), ResolveExifKey,
                [](Exiv2::Image& image) -> Exiv2::ExifData& { return image.exifData(); });
}

std::int32_t ModifyXMPMeta(TvkHandle handle, const char* key, const char* value, std::int32_t type) {
  return Modify(handle, key, value, type, IsXmpType(type), ResolveXmpKey,
                [](Exiv2::Image& image) -> Exiv2::XmpData& { return image.xmpData(); });
}

std::int32_t SetGPSMeta(TvkHandle handle, const char* key, double degrees, double minutes, double seconds) {
  const auto entry = FindEntry(handle);
  if (!entry) return TvkBadHandle;
  return Guarded([&]() -> std::int32_t {
    const auto exifKey = ResolveExifKey(key);
    if (!exifKey) return Failure(TvkBadArgument, std::string("unknown EXIF key ") + (key ? key : ""));
    Exiv2::URationalValue value;
    for (const double number : {degrees, minutes, seconds}) {
      const auto rational = ToRational(number);
      if (!rational) return Failure(TvkBadArgument, "not a non-negative coordinate part");
      value.value_.push_back(*rational);
    }
    SetDatum(entry->Image->exifData(), *exifKey, value);
    return TvkOk;
  });
}

std::int32_t OpenHandleCount() { return Table().Count(); }

const char* LastErrorMessage() { return lastError.c_str(); }
