#pragma once
#include <string>

#include "track/datetime.h"

using TImageHandle = int;

// One photo opened in the metadata library, with its XMP sidecar when one
// exists or is made. Paths are UTF-8. A photo whose extension is not one of
// WritableExtensions is never written itself: only its sidecar is.
class TMetaData {
 public:
  bool Open(const std::string& fileName, bool copyXmp, bool findSidecar,
            const std::string& aliasName = {});
  TDateTime ReadCaptureTime();
  std::string ReadExif(const std::string& key);
  void AddSidecar();
  void WriteGps(const std::string& exifKey, const std::string& xmpKey, const std::string& coordinate);
  // True when everything that had to be written was written.
  bool Save();
  void Close();
  std::string LensText();
  void ParseLensRange(const std::string& text, double& minFocal, double& maxFocal);

  std::string FileName;
  std::string AliasName;
  TImageHandle MainHandle = 0;
  TImageHandle XmpHandle = 0;
  bool HasSidecar = false;
  bool HasExif = false;
  bool HasXmp = false;
  bool HasIptc = false;
  TDateTime CaptureTime = 0;
  double MinFocalLength = 0;
  double MaxFocalLength = 0;

 private:
  // The photo file itself may be written: its extension is one of WritableExtensions.
  bool FPhotoWritable = false;
  // A write through MainHandle or XmpHandle failed, so that file is not saved.
  bool FMainWriteFailed = false;
  bool FXmpWriteFailed = false;
};

std::string Utf8ToAnsiText(const std::string& text);
