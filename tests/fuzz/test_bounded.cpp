// Hostile input is read in bounded memory and time: GPX entity bombs and huge nested
// documents, and photos whose TIFF structure loops or is huge. Each case runs in a forked
// child whose peak memory is read with getrusage and whose CPU time is capped, so a
// runaway ends as a failed case instead of hanging the suite.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "metadata/applicationprocs.h"
#include "metadata/metaprocs.h"
#include "photofixtures.h"
#include "track/gpxreader.h"
#include "tvkmd/structure.h"

namespace {

using fixtures::Bytes;

constexpr long Kb = 1024;
constexpr long Mb = 1024 * Kb;

// Size of each large generated document; LUMIVALE_BOUNDED_MB=1024 gives the long form.
long LargeDocumentBytes() {
  const char* text = std::getenv("LUMIVALE_BOUNDED_MB");
  const long mb = text ? std::atol(text) : 0;
  return (mb > 0 ? mb : 24) * Mb;
}

// A field of /proc/self/status in kB.
long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(status, line))
    if (line.rfind(prefix, 0) == 0) return std::atol(line.c_str() + prefix.size());
  return 0;
}

// What the child measured from TMeter::Start to the end of its body.
struct TUsage {
  bool Finished = false;  // ended normally within its CPU time
  std::string Message;    // the body's complaint; empty when it was content
  long ResidentKb = 0;    // peak resident memory above the start
  long AddressKb = 0;     // peak address space above the start
  long CpuMs = 0;         // processor time of the whole child, for the figures only
};

class TMeter {
 public:
  // Memory in use now is the baseline; the peak is counted from here.
  void Start() {
    FResidentKb = StatusKb("VmRSS");
    FAddressKb = StatusKb("VmSize");
    std::ofstream("/proc/self/clear_refs") << "5";
  }
  void Finish(long& residentKb, long& addressKb, long& cpuMs) const {
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    residentKb = usage.ru_maxrss - FResidentKb;
    addressKb = StatusKb("VmPeak") - FAddressKb;
    cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
            (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
  }

 private:
  long FResidentKb = 0;
  long FAddressKb = 0;
};

TUsage MeasureInChild(int cpuSeconds, const std::function<std::string(TMeter&)>& body) {
  int channel[2];
  if (::pipe(channel) != 0) return {false, "pipe failed"};
  const pid_t child = ::fork();
  if (child < 0) return {false, "fork failed"};
  if (child == 0) {
    ::close(channel[0]);
    const rlimit cpu{static_cast<rlim_t>(cpuSeconds), static_cast<rlim_t>(cpuSeconds)};
    ::setrlimit(RLIMIT_CPU, &cpu);
    TMeter meter;
    meter.Start();
    std::string message;
    try {
      message = body(meter);
    } catch (const std::exception& error) {
      message = std::string("exception: ") + error.what();
    }
    long residentKb = 0, addressKb = 0, cpuMs = 0;
    meter.Finish(residentKb, addressKb, cpuMs);
    const std::string report = std::to_string(residentKb) + " " + std::to_string(addressKb) + " " +
                               std::to_string(cpuMs) + " " + message;
    if (::write(channel[1], report.data(), report.size()) < 0) ::_exit(2);
    ::_exit(0);
  }
  ::close(channel[1]);
  std::string report;
  char buffer[512];
  ssize_t got;
  while ((got = ::read(channel[0], buffer, sizeof buffer)) > 0) report.append(buffer, static_cast<std::size_t>(got));
  ::close(channel[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  TUsage usage;
  usage.Finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!usage.Finished) {
    usage.Message = WIFSIGNALED(status) ? "child ended by signal " + std::to_string(WTERMSIG(status))
                                        : "child ended abnormally";
    return usage;
  }
  char* rest = nullptr;
  usage.ResidentKb = std::strtol(report.c_str(), &rest, 10);
  usage.AddressKb = std::strtol(rest, &rest, 10);
  usage.CpuMs = std::strtol(rest, &rest, 10);
  usage.Message = *rest == ' ' ? rest + 1 : rest;
  return usage;
}

// The figures, for the long form run by hand.
void Report(const char* name, const TUsage& usage) {
  std::printf("  %-40s peak resident +%ld kB, address space +%ld kB, %ld ms processor time\n", name,
              usage.ResidentKb, usage.AddressKb, usage.CpuMs);
}

TTimeZoneOptions FixedZone() {
  TTimeZoneOptions options;
  options.LocalTime = false;
  options.SelectedZone = "(UTC+01:00) Europe/Berlin";
  return options;
}

std::size_t TextBytes(const TTrackPointList& points) {
  std::size_t bytes = 0;
  for (const TTrackPoint& point : points) bytes += point.Latitude.size() + point.Longitude.size();
  return bytes;
}

// ---- GPX entity bombs ----

struct TBomb {
  const char* Name;
  std::string Declarations;  // inside <!DOCTYPE gpx [ ... ]>
  std::string Reference;     // put into lat, lon and the time text
};

std::string Repeated(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

std::vector<TBomb> Bombs() {
  std::string laughs = "<!ENTITY l0 \"lol\">";
  for (int level = 1; level <= 10; ++level)
    laughs += "<!ENTITY l" + std::to_string(level) + " \"" + Repeated("&l" + std::to_string(level - 1) + ";", 10) +
              "\">";
  const std::string big = "<!ENTITY big \"" + std::string(64 * Kb, 'x') + "\">";
  std::string chain = "<!ENTITY c0 \"end\">";
  for (int level = 1; level <= 200; ++level)
    chain += "<!ENTITY c" + std::to_string(level) + " \"&c" + std::to_string(level - 1) + ";&c" +
             std::to_string(level - 1) + ";\">";
  return {
      {"billion laughs", laughs, "&l10;"},
      {"quadratic blowup", big, Repeated("&big;", 64 * 1024)},
      {"self reference", "<!ENTITY self \"a&self;\">", "&self;"},
      {"mutual reference", "<!ENTITY a \"&b;x\"><!ENTITY b \"&a;y\">", "&a;"},
      {"doubling chain of 200", chain, "&c200;"},
  };
}

TEST(BoundedGpx, EntityBombsExpandWithinTheBudget) {
  for (const TBomb& bomb : Bombs()) {
    SCOPED_TRACE(bomb.Name);
    const std::string document = "<?xml version=\"1.0\"?><!DOCTYPE gpx [" + bomb.Declarations + "]><gpx><trk><trkseg>" +
                                 "<trkpt lat=\"" + bomb.Reference + "\" lon=\"" + bomb.Reference +
                                 "\"><time>2012-06-01T08:30:00Z" + bomb.Reference + "</time></trkpt>" +
                                 "</trkseg></trk></gpx>";
    const TUsage usage = MeasureInChild(60, [&](TMeter& meter) -> std::string {
      TGpxReader reader;
      reader.SetDocument(document, "bomb.gpx");
      meter.Start();
      TTrackPointList points;
      reader.Scan(points, FixedZone());
      if (points.size() != 1) return "points: " + std::to_string(points.size());
      if (TextBytes(points) > document.size() + TXmlScanner::EntityExpansionBudget)
        return "texts of " + std::to_string(TextBytes(points)) + " bytes";
      return {};
    });
    ASSERT_TRUE(usage.Finished) << usage.Message;
    Report(bomb.Name, usage);
    EXPECT_EQ(usage.Message, "");
    // The budget is 1 MB; a few copies of it at most.
    EXPECT_LT(usage.ResidentKb, 32 * 1024) << "kB";
    EXPECT_LT(usage.AddressKb, 64 * 1024) << "kB";
  }
}

// ---- Large documents ----

struct TShape {
  const char* Name;
  std::string Head;  // once
  std::string Unit;  // repeated up to the size
};

std::vector<TShape> Shapes() {
  return {
      {"elements nested without end", "<gpx>", "<a>"},
      {"track points nested without end", "<gpx>", "<trkpt lat=\"48.1\" lon=\"11.5\"><time>"},
      {"bare track point tags", "", "<trkpt"},
      {"one huge attribute", "<gpx><trkpt lat=\"", "48.1372 "},
      {"an unterminated comment", "<gpx><!--", "<trkpt lat=\"1\" lon=\"2\"> -- "},
      {"an unterminated document type", "<!DOCTYPE gpx [<!ENTITY e \"", "&#x26;e;"},
      {"entity references past the budget", "<!DOCTYPE gpx [<!ENTITY e \"" + std::string(1000, 'e') + "\">]><gpx>",
       "&e;&e;&e;&e;"},
  };
}

// Writes Head and then Unit until the file holds `size` bytes, without the whole in memory.
void WriteLargeDocument(const std::string& path, const TShape& shape, long size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << shape.Head;
  std::string block;
  while (block.size() < 1 << 20) block += shape.Unit;
  long written = static_cast<long>(shape.Head.size());
  while (written < size) {
    const long part = std::min<long>(static_cast<long>(block.size()), size - written);
    out.write(block.data(), part);
    written += part;
  }
  ASSERT_TRUE(out.good());
}

TEST(BoundedGpx, LargeDocumentsNeedMemoryForTheDocumentOnly) {
  const long size = LargeDocumentBytes();
  fixtures::TempFolder folder;
  const std::string path = folder.File("large.gpx");
  for (const TShape& shape : Shapes()) {
    SCOPED_TRACE(shape.Name);
    WriteLargeDocument(path, shape, size);
    // A generous cap against runaway (quadratic) work: a few seconds per 100 MB suffice.
    const int cpuSeconds = 60 + static_cast<int>(size / Mb);
    const TUsage usage = MeasureInChild(cpuSeconds, [&](TMeter&) -> std::string {
      TGpxReader reader;
      if (!reader.LoadFile(path)) return "not loaded";
      if (static_cast<long>(reader.Document().size()) != size) return "loaded the wrong size";
      TTrackPointList points;
      reader.Scan(points, FixedZone());
      if (!points.empty()) return "points: " + std::to_string(points.size());
      return {};
    });
    ASSERT_TRUE(usage.Finished) << usage.Message;
    Report(shape.Name, usage);
    EXPECT_EQ(usage.Message, "");
    const long documentKb = size / Kb;
    // A few times the document (it, a text or attribute as long as it, which the point
    // copies, a string's spare room, the sanitizer's shadow of all that), and a constant;
    // nothing that grows with the nesting or the references.
    EXPECT_LT(usage.ResidentKb, 4 * documentKb + 64 * 1024) << "kB for a document of " << documentKb << " kB";
    EXPECT_LT(usage.AddressKb, 5 * documentKb + 64 * 1024) << "kB for a document of " << documentKb << " kB";
  }
}

// ---- Photos ----

// Little-endian TIFF pieces.
void Put16(Bytes& bytes, unsigned value) {
  bytes.push_back(static_cast<unsigned char>(value & 0xff));
  bytes.push_back(static_cast<unsigned char>(value >> 8 & 0xff));
}

void Put32(Bytes& bytes, std::uint32_t value) {
  Put16(bytes, value & 0xffff);
  Put16(bytes, value >> 16);
}

struct TEntry {
  unsigned Tag, Type;
  std::uint32_t Count, Value;
};

// A directory of `entries` followed by `next`.
void PutDirectory(Bytes& bytes, const std::vector<TEntry>& entries, std::uint32_t next) {
  Put16(bytes, static_cast<unsigned>(entries.size()));
  for (const TEntry& entry : entries) {
    Put16(bytes, entry.Tag);
    Put16(bytes, entry.Type);
    Put32(bytes, entry.Count);
    Put32(bytes, entry.Value);
  }
  Put32(bytes, next);
}

constexpr std::uint32_t DirectorySize(std::size_t entries) { return static_cast<std::uint32_t>(2 + 12 * entries + 4); }

Bytes TiffHeader() { return {'I', 'I', 42, 0, 8, 0, 0, 0}; }

const std::vector<TEntry> ImageEntries = {{0x100, 4, 1, 1}, {0x101, 4, 1, 1}, {0x132, 2, 4, 0x636261}};

Bytes Looping(std::uint32_t next) {
  Bytes bytes = TiffHeader();
  PutDirectory(bytes, ImageEntries, next);
  return bytes;
}

Bytes TwoLooping() {
  Bytes bytes = TiffHeader();
  const std::uint32_t second = 8 + DirectorySize(ImageEntries.size());
  PutDirectory(bytes, ImageEntries, second);
  PutDirectory(bytes, ImageEntries, 8);
  return bytes;
}

// IFD0 whose sub-directory pointer (EXIF, GPS) leads back to IFD0 itself.
Bytes SubDirectoryLoop(unsigned pointerTag) {
  std::vector<TEntry> entries = ImageEntries;
  entries.push_back({pointerTag, 4, 1, 8});
  Bytes bytes = TiffHeader();
  PutDirectory(bytes, entries, 0);
  return bytes;
}

// A directory claiming `count` entries, with `present` of them in the file.
Bytes HugeCount(unsigned count, unsigned present) {
  Bytes bytes = TiffHeader();
  Put16(bytes, count);
  for (unsigned i = 0; i < present; ++i) {
    Put16(bytes, 0x132);
    Put16(bytes, 2);
    Put32(bytes, 4);
    Put32(bytes, 0x636261);
  }
  Put32(bytes, 0);
  return bytes;
}

Bytes LongChain(unsigned directories) {
  Bytes bytes = TiffHeader();
  const std::vector<TEntry> entries = {{0x132, 2, 4, 0x636261}};
  for (unsigned i = 0; i < directories; ++i)
    PutDirectory(bytes, entries, i + 1 < directories ? 8 + (i + 1) * DirectorySize(1) : 0);
  return bytes;
}

// SubIFDs naming `count` directories (all IFD0 again).
Bytes ManySubDirectories(std::uint32_t count) {
  std::vector<TEntry> entries = ImageEntries;
  const std::uint32_t arrayOffset = 8 + DirectorySize(entries.size() + 1);
  entries.push_back({0x14A, 4, count, arrayOffset});
  Bytes bytes = TiffHeader();
  PutDirectory(bytes, entries, 0);
  for (std::uint32_t i = 0; i < count; ++i) Put32(bytes, 8);
  return bytes;
}

// IFD1 holds an EXIF pointer to a directory of 65535 entries: Exiv2 takes a pointer tag
// outside IFD0 for plain data, and so does the check.
Bytes PointerOutsideIfd0() {
  Bytes bytes = TiffHeader();
  const std::uint32_t second = 8 + DirectorySize(ImageEntries.size());
  const std::uint32_t garbage = second + DirectorySize(1);
  PutDirectory(bytes, ImageEntries, second);
  PutDirectory(bytes, {{0x8769, 4, 1, garbage}}, 0);
  Put16(bytes, 65535);
  Put32(bytes, 0);
  return bytes;
}

// The TIFF structure as the EXIF block of the tiny JPEG.
Bytes InJpeg(const Bytes& tiff) {
  Bytes jpeg = fixtures::TinyJpeg();
  Bytes segment = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
  segment.insert(segment.end(), tiff.begin(), tiff.end());
  const std::size_t length = segment.size() - 2;
  segment[2] = static_cast<unsigned char>(length >> 8);
  segment[3] = static_cast<unsigned char>(length & 0xff);
  jpeg.insert(jpeg.begin() + 2, segment.begin(), segment.end());
  return jpeg;
}

struct TPhoto {
  const char* Name;
  Bytes Content;
  const char* Reason;  // what the check says
};

std::vector<TPhoto> UnsoundPhotos() {
  return {
      {"IFD0 whose next directory is itself", Looping(8), "reached twice"},
      {"two directories pointing at each other", TwoLooping(), "reached twice"},
      {"EXIF pointer back to IFD0", SubDirectoryLoop(0x8769), "reached twice"},
      {"GPS pointer back to IFD0", SubDirectoryLoop(0x8825), "reached twice"},
      {"65535 entries, file cut short", HugeCount(65535, 2), "65535 entries"},
      {"65535 entries all present", HugeCount(65535, 65535), "65535 entries"},
      {"257 entries", HugeCount(257, 257), "257 entries"},
      {"a chain of 100000 directories", LongChain(100000), "TIFF directories"},
      {"70000 sub-directories", ManySubDirectories(70000), "TIFF directories"},
      {"JPEG: IFD0 loop in the EXIF block", InJpeg(Looping(8)), "reached twice"},
      {"JPEG: 65535 entries in the EXIF block", InJpeg(HugeCount(65535, 100)), "65535 entries"},
  };
}

TEST(BoundedPhoto, LoopingOrHugeStructuresAreRefused) {
  BuildExtensionLists();
  fixtures::TempFolder folder;
  for (const TPhoto& photo : UnsoundPhotos()) {
    SCOPED_TRACE(photo.Name);
    const bool jpeg = photo.Content[0] == 0xFF;
    const std::string path = folder.File(jpeg ? "photo.jpg" : "photo.tif");
    fixtures::WriteBytes(path, photo.Content);
    std::string reason;
    EXPECT_FALSE(tvkmd::TiffStructureSound(path, reason));
    EXPECT_NE(reason.find(photo.Reason), std::string::npos) << reason;

    const TUsage usage = MeasureInChild(60, [&](TMeter&) -> std::string {
      TMetaData metaData;
      if (metaData.Open(path, false, true)) return "opened";
      if (metaData.MainHandle != 0 || metaData.XmpHandle != 0) return "a handle is left";
      return {};
    });
    ASSERT_TRUE(usage.Finished) << usage.Message;
    Report(photo.Name, usage);
    EXPECT_EQ(usage.Message, "");
    EXPECT_LT(usage.ResidentKb, 64 * 1024) << "kB";
    // Refused before Exiv2 reads it: the file is as it was.
    EXPECT_EQ(fixtures::ReadBytes(path), photo.Content);
  }
}

// The check passes sound photos on: every seed of the photo fuzz target, the test
// fixtures, a sound chain of a few directories, and pointers where Exiv2 follows none.
TEST(BoundedPhoto, SoundStructuresOpen) {
  BuildExtensionLists();
  fixtures::TempFolder folder;
  std::vector<std::pair<std::string, Bytes>> photos = {
      {"tiny.jpg", fixtures::TinyJpeg()}, {"tiny.tif", fixtures::TinyTiff()}, {"chain.tif", LongChain(5)},
      {"pointer outside IFD0.tif", PointerOutsideIfd0()}};
  for (const auto& entry : std::filesystem::directory_iterator(LUMIVALE_PHOTO_SEEDS))
    photos.emplace_back(entry.path().filename().string(), fixtures::ReadBytes(entry.path().string()));
  ASSERT_GT(photos.size(), 5u);
  for (const auto& [name, content] : photos) {
    SCOPED_TRACE(name);
    const std::string path = folder.File(name);
    fixtures::WriteBytes(path, content);
    std::string reason;
    EXPECT_TRUE(tvkmd::TiffStructureSound(path, reason)) << reason;
    TMetaData metaData;
    EXPECT_TRUE(metaData.Open(path, false, true));
    metaData.Close();
  }
}

}  // namespace
