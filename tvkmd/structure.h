#pragma once
#include <string>

// A look at a photo's TIFF structure (a TIFF-based file, or the EXIF block of a JPEG)
// before Exiv2 reads it. Exiv2 stops at a directory that loops back or holds more than
// 256 entries and reads the rest of the file without it, so saving such a photo would
// drop what it never read; the photo is refused instead.
namespace tvkmd {

// At most this many directories in one TIFF structure: cameras write a dozen. The check
// follows what Exiv2 follows: the chain from IFD0, the EXIF, GPS and sub-IFD pointers of
// IFD0 and the interoperability pointer of the EXIF directory.
inline constexpr int MaxTiffDirectories = 256;
// Exiv2 does not read a directory with more entries.
inline constexpr int MaxTiffEntries = 256;

// False, with the reason in `error`, when the structure loops, or holds a directory with
// too many entries, or too many directories. Files that are not TIFF-based or JPEG, and
// faults that Exiv2 passes over safely (offsets outside the file), are left to Exiv2.
bool TiffStructureSound(const std::string& path, std::string& error);

}  // namespace tvkmd
