#include "metadata/metaprocs.h"

#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <vector>

#include "metadata/applicationprocs.h"
#include "metadata/exiflib.h"
#include "track/position.h"
#include "tvkmd/tvkmd.h"

namespace {

const char* const captureExifKeys[] = {"Exif.Photo.DateTimeOriginal", "Exif.Photo.DateTimeDigitized",
                                       "Exif.Image.DateTime"};
const char* const captureXmpKeys[] = {"Xmp.exif.DateTimeOriginal", "Xmp.exif.DateTimeDigitized",
                                      "Xmp.tiff.DateTime"};
const char* const lensExifKeys[] = {"Exif.CanonCs.Lens",    "Exif.Nikon3.Lens",     "Exif.Pentax.LensType",
                                    "Exif.Minolta.LensID", "Exif.Sigma.LensRange", "Exif.Photo.LensInfo"};

// The first non-empty text that `read` gives for the keys, in their order.
template <class Read, std::size_t Count>
std::string FirstText(Read read, TImageHandle handle, const char* const (&keys)[Count]) {
  for (const char* key : keys) {
    std::string text = read(handle, key);
    if (!text.empty()) return text;
  }
  return {};
}

// The photo's name without its extension (the part from the last dot of the file name).
std::string Stem(const std::string& fileName) {
  const auto dot = fileName.rfind('.');
  const auto slash = fileName.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return fileName;
  return fileName.substr(0, dot);
}

// The sidecar names in the order they are looked for: ".xmp", ".XMP", then the
// mixed cases, since a case-sensitive file system may hold any of them.
std::vector<std::string> SidecarNames(const std::string& fileName) {
  const std::string stem = Stem(fileName);
  std::vector<std::string> names;
  for (const int upper : {0, 7, 1, 2, 3, 4, 5, 6}) {
    std::string name = stem + ".xmp";
    for (int letter = 0; letter < 3; ++letter)
      if (upper & (4 >> letter)) name[stem.size() + 1 + letter] -= 'a' - 'A';
    names.push_back(std::move(name));
  }
  return names;
}

// An existing sidecar file of the photo, empty when there is none.
std::string FindSidecarFile(const std::string& fileName) {
  for (const std::string& name : SidecarNames(fileName)) {
    struct stat status {};
    if (::stat(name.c_str(), &status) == 0 && S_ISREG(status.st_mode)) return name;
  }
  return {};
}

// The name a new sidecar gets: a taken name in any letter case, so that saving
// fails rather than putting a second sidecar beside it, else ".xmp".
std::string NewSidecarName(const std::string& fileName) {
  const std::vector<std::string> names = SidecarNames(fileName);
  for (const std::string& name : names) {
    struct stat status {};
    if (::lstat(name.c_str(), &status) == 0) return name;
  }
  return names.front();
}

bool IsWritablePhoto(const std::string& fileName) {
  if (WritableExtensions.empty()) BuildExtensionLists();
  return IndexOfExtension(WritableExtensions, ExtensionKey(fileName)) >= 0;
}

// A focal length with at most one decimal, none when it is 0: "14", "4.5".
std::string FocalText(double focal) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, std::round(focal * 10) / 10,
                                 std::chars_format::fixed, 1).ptr;
  std::string result(text, end);
  if (result.size() >= 2 && result.compare(result.size() - 2, 2, ".0") == 0) result.resize(result.size() - 2);
  return result;
}

// The number a text spells, '.' as decimal point; 0 when it is not one.
double TextNumber(const std::string& text) {
  double number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  return error == std::errc() && end == text.data() + text.size() ? number : 0;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool TMetaData::Open(const std::string& fileName, bool copyXmp, bool findSidecar, const std::string& aliasName) {
  // A photo left open would keep its handles for ever.
  if (MainHandle != 0 || XmpHandle != 0) Close();
  FileName = fileName;
  AliasName = aliasName.empty() ? fileName : aliasName;
  HasExif = HasXmp = HasIptc = false;
  CaptureTime = 0;
  MinFocalLength = MaxFocalLength = 0;
  HasSidecar = false;
  FPhotoWritable = IsWritablePhoto(FileName);
  FMainWriteFailed = FXmpWriteFailed = false;
  {
    FloatingPointGuard guard;
    MainHandle = OpenImage(FileName);
    if (MainHandle != 0) {
      HasExif = HasEXIFData(MainHandle) == 1;
      HasIptc = HasIPTCData(MainHandle) == 1;
    }
    if (findSidecar && ExtensionKey(FileName) != ".xmp") {
      const std::string sidecar = FindSidecarFile(FileName);
      if (!sidecar.empty()) XmpHandle = OpenImage(sidecar);
      if (XmpHandle != 0) {
        HasSidecar = true;
        if (!HasExif) {
          // The sidecar serves EXIF; the photo's own handle has no use left.
          FreeImage(MainHandle);
          MainHandle = XmpHandle;
          HasExif = HasEXIFData(XmpHandle) == 1;
        }
      }
    }
    if (!HasSidecar) XmpHandle = MainHandle;
    if (XmpHandle != 0) {
      HasXmp = HasXMPData(XmpHandle) == 1;
      if (HasXmp && copyXmp) CopyXMPToMeta(MainHandle, XmpHandle);
    }
  }
  if (MainHandle == 0) return false;
  CaptureTime = ReadCaptureTime();
  return true;
}

TDateTime TMetaData::ReadCaptureTime() {
  std::string text = FirstText(&ReadExifValue, MainHandle, captureExifKeys);
  if (text.empty() && HasXmp) text = FirstText(&ReadXmpValue, XmpHandle, captureXmpKeys);
  return text.empty() ? 0 : ParseDateTimeText(text);
}

std::string TMetaData::ReadExif(const std::string& key) {
  std::string value = ReadExifValue(MainHandle, key);
  if (value == "0/0 s" || value == "(0/0)") value.clear();
  return Utf8ToAnsiText(value);
}

void TMetaData::AddSidecar() {
  if (HasSidecar || FileName.empty() || MainHandle == 0) return;
  TextBuffer<PathBufferSize> path;
  if (!path.Set(NewSidecarName(FileName))) return;
  FloatingPointGuard guard;
  // Nothing reaches the disk before Save, which never replaces an existing file.
  const TImageHandle sidecar = CreateSidecar(MainHandle, path.Text());
  if (sidecar == 0) return;
  XmpHandle = sidecar;
  HasSidecar = true;
  FXmpWriteFailed = false;
  // A lens text the sidecar cannot take leaves it without one.
  const std::string lens = LensText();
  if (!lens.empty()) WriteXmpValue(XmpHandle, "Xmp.aux.Lens", lens, TvkTypeXmpText);
}

void TMetaData::WriteGps(const std::string& exifKey, const std::string& xmpKey, const std::string& coordinate) {
  double degrees = 0, minutes = 0, seconds = 0;
  ParseDms(coordinate, degrees, minutes, seconds);
  const double value = minutes / 60 + degrees + seconds / 3600;
  std::string letter;
  const auto hemisphere = [&](const char* positive, const char* negative) {
    if (value >= 0) {
      letter = positive;
      return;
    }
    letter = negative;
    degrees = -degrees;
    minutes = -minutes;
    seconds = -seconds;
  };
  if (exifKey == "Exif.GPSInfo.GPSLatitude")
    hemisphere("N", "S");
  else if (exifKey == "Exif.GPSInfo.GPSLongitude")
    hemisphere("E", "W");

  TextBuffer<KeyBufferSize> key, refKey, ref;
  if (!key.Set(exifKey) || !refKey.Set(exifKey + "Ref") || !ref.Set(letter)) {
    FMainWriteFailed = FXmpWriteFailed = true;
    return;
  }
  FloatingPointGuard guard;
  const auto writeExif = [&](TImageHandle handle) {
    return SetGPSMeta(handle, key.Text(), degrees, minutes, seconds) == TvkOk &&
           ModifyEXIFMeta(handle, refKey.Text(), ref.Text(), TvkTypeAscii) == TvkOk;
  };
  if (!writeExif(MainHandle)) FMainWriteFailed = true;
  if (xmpKey.empty()) return;
  if (HasXmp) {
    TextBuffer<KeyBufferSize> xmpKeyText, xmpValue;
    if (!xmpKeyText.Set(xmpKey) || !xmpValue.Set(XmpCoordinateText(degrees, minutes, seconds) + letter) ||
        ModifyXMPMeta(MainHandle, xmpKeyText.Text(), xmpValue.Text(), TvkTypeXmpText) != TvkOk)
      FMainWriteFailed = true;
  }
  if (HasSidecar && !writeExif(XmpHandle)) FXmpWriteFailed = true;
}

bool TMetaData::Save() {
  if (MainHandle == 0) return false;
  FloatingPointGuard guard;
  // A photo without EXIF may be served by its sidecar alone: one file, saved once.
  const bool sidecarOnly = HasSidecar && MainHandle == XmpHandle;
  bool attempted = false;
  bool saved = true;
  if (FPhotoWritable && !sidecarOnly) {
    attempted = true;
    saved = !FMainWriteFailed && SaveImage(MainHandle) == TvkOk;
  }
  if (HasSidecar) {
    attempted = true;
    const bool failed = FXmpWriteFailed || (sidecarOnly && FMainWriteFailed);
    saved = !failed && SaveImage(XmpHandle) == TvkOk && saved;
  }
  return attempted && saved;
}

void TMetaData::Close() {
  if (MainHandle != 0) FreeImage(MainHandle);
  if (XmpHandle != 0 && XmpHandle != MainHandle) FreeImage(XmpHandle);
  MainHandle = 0;
  XmpHandle = 0;
  FileName.clear();
  AliasName.clear();
}

std::string TMetaData::LensText() {
  std::string text = FirstText(&ReadExifValue, MainHandle, lensExifKeys);
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  while (!text.empty() && blank(text.back())) text.pop_back();
  std::size_t first = 0;
  while (first < text.size() && blank(text[first])) ++first;
  text.erase(0, first);
  if (text.rfind("0.", 0) == 0) return {};
  if (text.empty())
    text = ReadXmpValue(XmpHandle, "Xmp.aux.Lens");
  else if (text.find("mm") == std::string::npos)
    text.clear();
  if (!text.empty()) {
    ParseLensRange(text, MinFocalLength, MaxFocalLength);
    return text;
  }
  MinFocalLength = 0;
  MaxFocalLength = 0;
  MinFocalLength = ReadMetaDouble(MainHandle, "Exif.OlympusEq.MinFocalLength");
  if (MinFocalLength != 0) MaxFocalLength = ReadMetaDouble(MainHandle, "Exif.OlympusEq.MaxFocalLength");
  if (MaxFocalLength == 0) {
    MinFocalLength = ReadMetaDouble(MainHandle, "Exif.Fujifilm.MinFocalLength");
    if (MinFocalLength != 0) MaxFocalLength = ReadMetaDouble(MainHandle, "Exif.Fujifilm.MaxFocalLength");
  }
  if (MaxFocalLength == 0) return {};
  const std::string longest = FocalText(MaxFocalLength);
  if (MinFocalLength != MaxFocalLength) return FocalText(MinFocalLength) + " - " + longest + " mm";
  return longest + " mm";
}

void TMetaData::ParseLensRange(const std::string& text, double& minFocal, double& maxFocal) {
  std::string minimum, maximum;
  int state = 0;
  for (const char c : text) {
    if (state == 0) {
      if (IsDigit(c)) {
        minimum += c;
        state = 1;
      }
    } else if (state == 1) {
      if (IsDigit(c) || c == '.')
        minimum += c;
      else
        state = c == '-' ? 3 : 2;
    } else if (state == 2) {
      if (c == '-') state = 3;
    } else if (IsDigit(c) || c == '.') {
      maximum += c;
    } else if (!maximum.empty()) {
      break;
    }
  }
  if (minimum.empty() || maximum.empty()) return;
  minFocal = TextNumber(minimum);
  maxFocal = TextNumber(maximum);
}

// UTF-8 is the 8-bit encoding here, so a valid text is already converted, and
// one that is not valid UTF-8 is handed back unchanged.
std::string Utf8ToAnsiText(const std::string& text) { return text; }
