#pragma once
#include <exiv2/exiv2.hpp>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Photo fixtures made in the test, and an independent reader and writer: a
// fresh Exiv2 image opened here, or the exiv2 and exiftool command-line tools.
namespace fixtures {

using Bytes = std::vector<unsigned char>;

// A temporary folder, removed with everything in it (permissions restored first).
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// An 8x8 grey baseline JPEG without any metadata.
Bytes TinyJpeg();
// The same JPEG with its scan data padded to about `size` bytes.
Bytes LargeJpeg(std::size_t size);
// A 1x1 grey uncompressed TIFF, little-endian, without EXIF.
Bytes TinyTiff();
// Bytes that no reader takes for an image.
Bytes NotAnImage();
// `size` bytes that look random and never hold 0xff, from `seed`.
Bytes NoiseBytes(std::size_t size, unsigned seed);

// A little-endian TIFF structure built field by field, for TIFF-based raw
// formats: each directory with its strips and sub-directories.
struct TiffField {
  unsigned Tag;
  unsigned Type;  // 1 BYTE, 2 ASCII, 3 SHORT, 4 LONG
  unsigned Count;
  Bytes Data;     // little-endian
};
TiffField TiffShorts(unsigned tag, const std::vector<unsigned>& values);
TiffField TiffLongs(unsigned tag, const std::vector<unsigned>& values);
TiffField TiffBytes(unsigned tag, const std::vector<unsigned>& values);
TiffField TiffAscii(unsigned tag, const std::string& text);
struct TiffDirectory {
  std::vector<TiffField> Fields;  // StripOffsets, StripByteCounts and SubIFDs are added
  std::vector<Bytes> Strips;
  std::vector<TiffDirectory> SubDirectories;
};
// `magic` 42 for TIFF; ORF uses 0x4f52.
Bytes BuildTiff(const TiffDirectory& first, unsigned magic = 42);
// An 8-bit grey image directory of `width` x `height` noise pixels in strips of `rowsPerStrip` rows.
TiffDirectory GreyDirectory(unsigned width, unsigned height, unsigned rowsPerStrip, unsigned seed);

void WriteBytes(const std::string& path, const Bytes& bytes);
Bytes ReadBytes(const std::string& path);
bool Exists(const std::string& path);

// Changes a photo's metadata through a fresh Exiv2 image.
void EditMetadata(const std::string& path,
                  const std::function<void(Exiv2::ExifData&, Exiv2::XmpData&)>& edit);
// An Olympus maker note holding the lens's focal lengths (0 leaves one out),
// with the Make that makes readers decode it.
void AddOlympusFocalLengths(Exiv2::ExifData& exif, unsigned minimum, unsigned maximum);
// A tag's raw text as a fresh Exiv2 image reads it; nullopt when missing.
std::optional<std::string> ExifText(const std::string& path, const std::string& key);
std::optional<std::string> XmpText(const std::string& path, const std::string& key);

// Standard output of a shell command; `status` gets its exit status.
std::string RunCommand(const std::string& command, int* status = nullptr);
std::string Quoted(const std::string& text);
// exiftool's composite GPS position ("lat lon", signed decimal degrees), empty when none.
std::string ExiftoolPosition(const std::string& path);
// The value the exiv2 tool prints for a key ("-Pv"), empty when none.
std::string Exiv2ToolValue(const std::string& path, const std::string& key);

// Writes a position into the handle's GPS tags through the metadata library,
// the seconds rounded to 3 decimals.
void WritePosition(int handle, double latitude, double longitude);

// Checks a "lat lon" text against a position, to within a micro-degree.
void ExpectPosition(const std::string& text, double latitude, double longitude);

// Releases a metadata library handle at the end of a test, whatever happens.
class Handle {
 public:
  explicit Handle(int handle) : handle_(handle) {}
  ~Handle();
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  operator int() const { return handle_; }

 private:
  int handle_;
};

// Runs `body` in a forked child; when the process is root the child first drops
// to uid/gid 65534, so that permission bits bind. The result is the body's
// message ("" for success), or "SKIP: ..." when the child could not drop.
std::string RunUnprivileged(const std::function<std::string()>& body);
inline constexpr unsigned UnprivilegedId = 65534;
// Gives the file or folder to uid/gid 65534 when the process is root; true
// when that was done or is not needed.
bool GiveToUnprivileged(const std::string& path);

// Names of the folder's entries, sorted.
std::vector<std::string> FolderEntries(const std::string& folder);

}  // namespace fixtures
