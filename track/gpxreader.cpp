#include "track/gpxreader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace {

class TScanEvents final : public TXmlHandler {
 public:
  explicit TScanEvents(TGpxReader& reader) : FReader(reader) {}
  void XmlProlog(std::string_view, std::string_view, bool) override { FReader.XmlScannerXmlProlog(); }
  void StartTag(std::string_view name, const std::vector<TXmlAttribute>& attributes) override {
    FReader.XmlScannerStartTag(name, attributes);
  }
  void EndTag(std::string_view name) override { FReader.XmlScannerEndTag(name); }
  void Content(std::string_view text) override { FReader.XmlScannerContent(text); }

 private:
  TGpxReader& FReader;
};

class TFileDescriptor {
 public:
  explicit TFileDescriptor(int fd) : FFd(fd) {}
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;
  ~TFileDescriptor() {
    if (FFd >= 0) ::close(FFd);
  }
  int Get() const { return FFd; }

 private:
  int FFd;
};

// Large buffers are filled once and kept: huge pages spare tens of thousands of page faults,
// which cost more than the copying itself on virtual machines. Only advice; failure is harmless.
void AdviseHugePages(const void* data, std::size_t bytes) {
  constexpr std::uintptr_t HugePage = 2 << 20;
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + HugePage - 1) & ~(HugePage - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(HugePage - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

ssize_t ReadSome(int fd, char* buffer, std::size_t size) {
  ssize_t got;
  do got = ::read(fd, buffer, size);
  while (got < 0 && errno == EINTR);
  return got;
}

bool ReadWholeFile(const std::string& path, std::string& content) {
  const TFileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (file.Get() < 0 || ::fstat(file.Get(), &status) != 0 || S_ISDIR(status.st_mode)) return false;
  // Sized once from the file, so a large track is not copied while it grows.
  const std::size_t fileSize = S_ISREG(status.st_mode) ? static_cast<std::size_t>(status.st_size) : 0;
  content.reserve(fileSize);
  AdviseHugePages(content.data(), fileSize);
  content.resize(fileSize);
  std::size_t size = 0;
  for (;;) {
    if (size < content.size()) {
      const ssize_t got = ReadSome(file.Get(), content.data() + size, content.size() - size);
      if (got < 0) return false;
      if (got == 0) break;
      size += static_cast<std::size_t>(got);
    } else {
      // Beyond the size it had: only a file that grew, or one without a size, gives more.
      char more[65536];
      const ssize_t got = ReadSome(file.Get(), more, sizeof more);
      if (got < 0) return false;
      if (got == 0) break;
      content.append(more, static_cast<std::size_t>(got));
      size = content.size();
    }
  }
  content.resize(size);
  return true;
}

// A point written out in the document takes more bytes than this: "<trkpt><time>", a time
// of 18 characters or more, "</trkpt" (points made of entities may be more; the list then
// grows as usual).
constexpr std::size_t MinimalPointBytes = 32;

// An upper bound of the points a document can give, so the list is sized once. Bare
// "<trkpt" tags (or ones in comments) give no points, so they must not make the list
// reserve ten times the document.
std::size_t CountTrackPointTags(std::string_view document) {
  std::size_t count = 0;
  for (std::size_t at = document.find("<trkpt"); at != std::string_view::npos;
       at = document.find("<trkpt", at + 6))
    ++count;
  return std::min(count, document.size() / MinimalPointBytes);
}

}  // namespace

bool TGpxReader::LoadFile(const std::string& path) {
  std::string content;
  if (!ReadWholeFile(path, content)) {
    SetDocument({}, {});
    return false;
  }
  SetDocument(std::move(content), path);
  return true;
}

void TGpxReader::SetDocument(std::string content, std::string fileName) {
  FDocument = std::move(content);
  FTrackFileName = std::move(fileName);
}

void TGpxReader::Scan(TTrackPointList& points, const TTimeZoneOptions& options) {
  struct TScanScope {
    TGpxReader& Reader;
    ~TScanScope() {
      // A point still open when the document ends is not appended.
      Reader.FPointOpen = false;
      Reader.FCurrentPoint = {};
      Reader.FPoints = nullptr;
      Reader.FOptions = nullptr;
    }
  } scope{*this};
  FPoints = &points;
  FOptions = &options;
  FPointOpen = false;
  // A document without a declaration must not inherit the flags or the offset of the last one.
  XmlScannerXmlProlog();
  points.reserve(points.size() + CountTrackPointTags(FDocument));
  AdviseHugePages(points.data(), points.capacity() * sizeof(TTrackPoint));
  TScanEvents events(*this);
  FProblem = FScanner.Scan(FDocument, events);
}

void TGpxReader::XmlScannerXmlProlog() {
  InTrackPoint = false;
  InTime = false;
  const TTimeZoneOptions& options = Options();
  if (!options.LocalTime) FixedOffset = ZoneOffsetMinutes(options.SelectedZone) + (options.UseDst ? 60 : 0);
}

void TGpxReader::XmlScannerStartTag(std::string_view name, const std::vector<TXmlAttribute>& attributes) {
  if (name == "trkpt") {
    InTrackPoint = true;
    // A time element left open by the last point must not take this point's other texts.
    InTime = false;
    // An earlier point that was never closed is dropped here.
    FCurrentPoint.Latitude.clear();
    FCurrentPoint.Longitude.clear();
    FCurrentPoint.Time = 0;
    FPointOpen = true;
    for (const TXmlAttribute& attribute : attributes) {
      if (attribute.Name == "lat") FCurrentPoint.Latitude = attribute.Value;
      else if (attribute.Name == "lon") FCurrentPoint.Longitude = attribute.Value;
    }
  } else if (InTrackPoint && name == "time") {
    InTime = true;
  }
}

void TGpxReader::XmlScannerEndTag(std::string_view name) {
  if (name == "trkpt") {
    InTrackPoint = false;
    if (FPointOpen && FCurrentPoint.Time != 0 && FPoints) FPoints->push_back(std::move(FCurrentPoint));
    FPointOpen = false;
  } else if (name == "time") {
    InTime = false;
  }
}

void TGpxReader::XmlScannerContent(std::string_view text) {
  if (!InTime || !FPointOpen) return;
  const TDateTime utc = ParseDateTimeText(text);
  // A time that cannot be read leaves the point without time, so it is dropped whatever the
  // shift; shifted, it would claim every photo taken before the track.
  if (utc == 0) {
    FCurrentPoint.Time = 0;
    return;
  }
  FCurrentPoint.Time = Options().LocalTime ? UtcToLocal(utc) : ShiftMinutes(utc, FixedOffset);
}
