#include "photofixtures.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "tvkmd/tvkmd.h"

namespace fixtures {
namespace fs = std::filesystem;

namespace {

// Written once with Qt's JPEG writer: 8x8 grey, quality 50.
const unsigned char tinyJpeg[] = {
    0xff, 0xd8, 0xff, 0xe0, 0x00, 0x10, 0x4a, 0x46, 0x49, 0x46, 0x00, 0x01, 0x01, 0x01, 0x00, 0x64,
    0x00, 0x64, 0x00, 0x00, 0xff, 0xdb, 0x00, 0x43, 0x00, 0x10, 0x0b, 0x0c, 0x0e, 0x0c, 0x0a, 0x10,
    0x0e, 0x0d, 0x0e, 0x12, 0x11, 0x10, 0x13, 0x18, 0x28, 0x1a, 0x18, 0x16, 0x16, 0x18, 0x31, 0x23,
    0x25, 0x1d, 0x28, 0x3a, 0x33, 0x3d, 0x3c, 0x39, 0x33, 0x38, 0x37, 0x40, 0x48, 0x5c, 0x4e, 0x40,
    0x44, 0x57, 0x45, 0x37, 0x38, 0x50, 0x6d, 0x51, 0x57, 0x5f, 0x62, 0x67, 0x68, 0x67, 0x3e, 0x4d,
    0x71, 0x79, 0x70, 0x64, 0x78, 0x5c, 0x65, 0x67, 0x63, 0xff, 0xc0, 0x00, 0x0b, 0x08, 0x00, 0x08,
    0x00, 0x08, 0x01, 0x01, 0x11, 0x00, 0xff, 0xc4, 0x00, 0x1f, 0x00, 0x00, 0x01, 0x05, 0x01, 0x01,
    0x01, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04,
    0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0xff, 0xc4, 0x00, 0xb5, 0x10, 0x00, 0x02, 0x01, 0x03,
    0x03, 0x02, 0x04, 0x03, 0x05, 0x05, 0x04, 0x04, 0x00, 0x00, 0x01, 0x7d, 0x01, 0x02, 0x03, 0x00,
    0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71, 0x14, 0x32,
    0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72,
    0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35,
    0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55,
    0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75,
    0x76, 0x77, 0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94,
    0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2,
    0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9,
    0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6,
    0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa, 0xff, 0xda,
    0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3f, 0x00, 0x2b, 0xff, 0xd9};

void Put16(Bytes& bytes, unsigned value) {
  bytes.push_back(static_cast<unsigned char>(value & 0xff));
  bytes.push_back(static_cast<unsigned char>(value >> 8));
}

void Put32(Bytes& bytes, unsigned value) {
  Put16(bytes, value & 0xffff);
  Put16(bytes, value >> 16);
}

std::unique_ptr<Exiv2::Image> OpenFresh(const std::string& path) {
  std::unique_ptr<Exiv2::Image> image(Exiv2::ImageFactory::open(path).release());
  image->readMetadata();
  return image;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace

TempFolder::TempFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/lumivale-test-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  ::chmod(path_.c_str(), 0755);
}

TempFolder::~TempFolder() {
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(path_, error); !error && it != fs::end(it); it.increment(error))
    if (it->is_directory(error) && !it->is_symlink(error)) ::chmod(it->path().c_str(), 0755);
  ::chmod(path_.c_str(), 0755);
  fs::remove_all(path_, error);
}

Bytes TinyJpeg() { return Bytes(std::begin(tinyJpeg), std::end(tinyJpeg)); }

Bytes NoiseBytes(std::size_t size, unsigned seed) {
  Bytes bytes(size);
  unsigned state = seed;
  for (unsigned char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<unsigned char>((state >> 16) % 255);  // never 0xff, no marker
  }
  return bytes;
}

Bytes LargeJpeg(std::size_t size) {
  Bytes bytes = TinyJpeg();
  const Bytes padding = NoiseBytes(size > bytes.size() ? size - bytes.size() : 0, 12345);
  bytes.insert(bytes.end() - 2, padding.begin(), padding.end());
  return bytes;
}

TiffField TiffShorts(unsigned tag, const std::vector<unsigned>& values) {
  TiffField field{tag, 3, static_cast<unsigned>(values.size()), {}};
  for (const unsigned value : values) Put16(field.Data, value);
  return field;
}

TiffField TiffLongs(unsigned tag, const std::vector<unsigned>& values) {
  TiffField field{tag, 4, static_cast<unsigned>(values.size()), {}};
  for (const unsigned value : values) Put32(field.Data, value);
  return field;
}

TiffField TiffBytes(unsigned tag, const std::vector<unsigned>& values) {
  TiffField field{tag, 1, static_cast<unsigned>(values.size()), {}};
  for (const unsigned value : values) field.Data.push_back(static_cast<unsigned char>(value));
  return field;
}

TiffField TiffAscii(unsigned tag, const std::string& text) {
  TiffField field{tag, 2, static_cast<unsigned>(text.size() + 1), Bytes(text.begin(), text.end())};
  field.Data.push_back(0);
  return field;
}

namespace {

void Patch32(Bytes& bytes, std::size_t at, unsigned value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

void PadToEven(Bytes& bytes) {
  if (bytes.size() % 2) bytes.push_back(0);
}

// Appends the directory's strips, sub-directories, values and entries; returns where its entries begin.
unsigned AppendDirectory(Bytes& out, const TiffDirectory& directory) {
  std::vector<TiffField> fields = directory.Fields;
  if (!directory.Strips.empty()) {
    std::vector<unsigned> offsets, sizes;
    for (const Bytes& strip : directory.Strips) {
      offsets.push_back(static_cast<unsigned>(out.size()));
      sizes.push_back(static_cast<unsigned>(strip.size()));
      out.insert(out.end(), strip.begin(), strip.end());
      PadToEven(out);
    }
    fields.push_back(TiffLongs(273, offsets));
    fields.push_back(TiffLongs(279, sizes));
  }
  if (!directory.SubDirectories.empty()) {
    std::vector<unsigned> offsets;
    for (const TiffDirectory& sub : directory.SubDirectories) offsets.push_back(AppendDirectory(out, sub));
    fields.push_back(TiffLongs(330, offsets));
  }
  std::sort(fields.begin(), fields.end(), [](const TiffField& a, const TiffField& b) { return a.Tag < b.Tag; });
  std::vector<unsigned> valueOffsets;
  for (const TiffField& field : fields) {
    valueOffsets.push_back(static_cast<unsigned>(out.size()));
    if (field.Data.size() > 4) {
      out.insert(out.end(), field.Data.begin(), field.Data.end());
      PadToEven(out);
    }
  }
  const auto start = static_cast<unsigned>(out.size());
  Put16(out, static_cast<unsigned>(fields.size()));
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const TiffField& field = fields[i];
    Put16(out, field.Tag);
    Put16(out, field.Type);
    Put32(out, field.Count);
    if (field.Data.size() > 4) {
      Put32(out, valueOffsets[i]);
    } else {
      Bytes inline4 = field.Data;
      inline4.resize(4, 0);
      out.insert(out.end(), inline4.begin(), inline4.end());
    }
  }
  Put32(out, 0);
  return start;
}

}  // namespace

Bytes BuildTiff(const TiffDirectory& first, unsigned magic) {
  Bytes out = {'I', 'I'};
  Put16(out, magic);
  Put32(out, 0);
  Patch32(out, 4, AppendDirectory(out, first));
  return out;
}

TiffDirectory GreyDirectory(unsigned width, unsigned height, unsigned rowsPerStrip, unsigned seed) {
  TiffDirectory directory;
  directory.Fields = {TiffLongs(256, {width}),  TiffLongs(257, {height}), TiffShorts(258, {8}),
                      TiffShorts(259, {1}),      TiffShorts(262, {1}),     TiffShorts(277, {1}),
                      TiffLongs(278, {rowsPerStrip})};
  for (unsigned row = 0; row < height; row += rowsPerStrip)
    directory.Strips.push_back(NoiseBytes(width * std::min(rowsPerStrip, height - row), seed + row));
  return directory;
}

Bytes TinyTiff() {
  struct Field {
    unsigned tag, type, value;
  };
  constexpr unsigned fieldCount = 9;
  constexpr unsigned pixelOffset = 8 + 2 + fieldCount * 12 + 4;
  const Field fields[fieldCount] = {
      {256, 3, 1}, {257, 3, 1}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1},
      {273, 4, pixelOffset}, {277, 3, 1}, {278, 3, 1}, {279, 4, 1}};
  Bytes bytes = {'I', 'I', 42, 0};
  Put32(bytes, 8);
  Put16(bytes, fieldCount);
  for (const Field& field : fields) {
    Put16(bytes, field.tag);
    Put16(bytes, field.type);
    Put32(bytes, 1);
    if (field.type == 3) {
      Put16(bytes, field.value);
      Put16(bytes, 0);
    } else {
      Put32(bytes, field.value);
    }
  }
  Put32(bytes, 0);
  bytes.push_back(0x80);
  return bytes;
}

Bytes NotAnImage() {
  const std::string text = "This is a plain text file, not a photo.\n";
  return Bytes(text.begin(), text.end());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  Bytes bytes(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

bool Exists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

void EditMetadata(const std::string& path,
                  const std::function<void(Exiv2::ExifData&, Exiv2::XmpData&)>& edit) {
  auto image = OpenFresh(path);
  edit(image->exifData(), image->xmpData());
  image->writeMetadata();
}

void AddOlympusFocalLengths(Exiv2::ExifData& exif, unsigned minimum, unsigned maximum) {
  // Header, an IFD with the equipment sub-IFD (offsets count from the note's start), the sub-IFD.
  Bytes note = {'O', 'L', 'Y', 'M', 'P', 'U', 'S', 0, 'I', 'I', 3, 0};
  const unsigned count = (minimum ? 1 : 0) + (maximum ? 1 : 0);
  Put16(note, 1);
  Put16(note, 0x2010);
  Put16(note, 4);
  Put32(note, 1);
  Put32(note, 30);
  Put32(note, 0);
  Put16(note, count);
  for (const auto& [tag, value] : {std::pair{0x207u, minimum}, std::pair{0x208u, maximum}}) {
    if (!value) continue;
    Put16(note, tag);
    Put16(note, 3);
    Put32(note, 1);
    Put32(note, value);
  }
  Put32(note, 0);
  exif["Exif.Image.Make"] = "OLYMPUS CORPORATION";
  exif["Exif.Image.Model"] = "E-M5";
  const Exiv2::DataValue value(note.data(), static_cast<long>(note.size()), Exiv2::invalidByteOrder, Exiv2::undefined);
  exif["Exif.Photo.MakerNote"].setValue(&value);
}

std::optional<std::string> ExifText(const std::string& path, const std::string& key) {
  auto image = OpenFresh(path);
  const auto found = image->exifData().findKey(Exiv2::ExifKey(key));
  if (found == image->exifData().end()) return std::nullopt;
  return found->toString();
}

std::optional<std::string> XmpText(const std::string& path, const std::string& key) {
  auto image = OpenFresh(path);
  const auto found = image->xmpData().findKey(Exiv2::XmpKey(key));
  if (found == image->xmpData().end()) return std::nullopt;
  return found->toString();
}

std::string RunCommand(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot run " + command);
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  const int result = ::pclose(pipe);
  if (status) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  return output;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

std::string ExiftoolPosition(const std::string& path) {
  return Trimmed(RunCommand("exiftool -n -s3 -Composite:GPSPosition " + Quoted(path) + " 2>/dev/null"));
}

std::string Exiv2ToolValue(const std::string& path, const std::string& key) {
  return Trimmed(RunCommand("exiv2 -q -Pv -K " + Quoted(key) + " " + Quoted(path) + " 2>/dev/null"));
}

void ExpectPosition(const std::string& text, double latitude, double longitude) {
  std::istringstream in(text);
  double lat = 0, lon = 0;
  ASSERT_TRUE(in >> lat >> lon) << "position text: \"" << text << "\"";
  EXPECT_NEAR(lat, latitude, 1e-6);
  EXPECT_NEAR(lon, longitude, 1e-6);
}

void WritePosition(int handle, double latitude, double longitude) {
  const auto parts = [](double value, double& d, double& m, double& s) {
    value = std::fabs(value);
    d = std::floor(value);
    m = std::floor((value - d) * 60);
    s = std::round(((value - d) * 60 - m) * 60 * 1000) / 1000;
  };
  double d, m, s;
  parts(latitude, d, m, s);
  ASSERT_EQ(SetGPSMeta(handle, "Exif.GPSInfo.GPSLatitude", d, m, s), TvkOk);
  ASSERT_EQ(ModifyEXIFMeta(handle, "Exif.GPSInfo.GPSLatitudeRef", latitude < 0 ? "S" : "N", TvkTypeAscii), TvkOk);
  parts(longitude, d, m, s);
  ASSERT_EQ(SetGPSMeta(handle, "Exif.GPSInfo.GPSLongitude", d, m, s), TvkOk);
  ASSERT_EQ(ModifyEXIFMeta(handle, "Exif.GPSInfo.GPSLongitudeRef", longitude < 0 ? "W" : "E", TvkTypeAscii),
            TvkOk);
}

Handle::~Handle() { FreeImage(handle_); }

std::string RunUnprivileged(const std::function<std::string()>& body) {
  int channel[2];
  if (::pipe(channel) != 0) return "pipe failed";
  const pid_t child = ::fork();
  if (child < 0) return "fork failed";
  if (child == 0) {
    ::close(channel[0]);
    std::string message;
    if (::getuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(UnprivilegedId) != 0 ||
                            ::setuid(UnprivilegedId) != 0 || ::setuid(0) == 0)) {
      message = "SKIP: cannot drop to uid and gid 65534 in a child process";
    } else {
      try {
        message = body();
      } catch (const std::exception& error) {
        message = std::string("exception: ") + error.what();
      }
    }
    if (::write(channel[1], message.data(), message.size()) < 0) ::_exit(2);
    ::_exit(0);
  }
  ::close(channel[1]);
  std::string message;
  char buffer[512];
  ssize_t got;
  while ((got = ::read(channel[0], buffer, sizeof buffer)) > 0) message.append(buffer, static_cast<std::size_t>(got));
  ::close(channel[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child ended abnormally: " + message;
  return message;
}

bool GiveToUnprivileged(const std::string& path) {
  return ::geteuid() != 0 || ::chown(path.c_str(), UnprivilegedId, UnprivilegedId) == 0;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace fixtures
