#pragma once
#include <cstdint>

// The metadata library: photo files and XMP sidecars opened behind integer
// handles. Texts are NUL-terminated UTF-8; keys use the family.group.tag scheme
// ("Exif.GPSInfo.GPSLatitude", "Xmp.exif.GPSLatitude"). No operation throws:
// each one reports through its result.

using TvkHandle = std::int32_t;

// Results: 0 is success everywhere except the presence queries (1 or 0).
enum TvkResult : std::int32_t {
  TvkOk = 0,
  TvkNoValue = 1,      // the tag has no value, or the key is unknown
  TvkTooLong = 2,      // the value does not fit the caller's buffer
  TvkBadHandle = 3,    // 0 or a handle that is not open
  TvkBadArgument = 4,  // a key, value or path the library cannot use
  TvkNotWritable = 5,  // the user may not write the file or its folder
  TvkExists = 6,       // a new sidecar's name is taken: nothing is replaced
  TvkFailed = 7,       // reading, encoding or writing failed
};

inline constexpr std::int32_t TvkOpenMode = 230;        // the one open mode
inline constexpr std::int32_t TvkTypeAscii = 2;         // EXIF ASCII text
inline constexpr std::int32_t TvkTypeXmpText = 65541;   // XMP simple text

// A handle for the file's metadata, 0 when it cannot be opened (not a regular
// file, unreadable, not a supported format, corrupt).
TvkHandle OpenFileImage(const char* path, std::int32_t mode);
// Releases what the handle holds; 0 or an unknown handle does nothing.
void FreeImage(TvkHandle handle);
// Writes the handle's metadata into its file: the new file is written beside it
// and renamed over it, so the old file stays whole on any failure. A new
// sidecar never replaces an existing file.
std::int32_t SaveImage(TvkHandle handle);

std::int32_t HasEXIFData(TvkHandle handle);
std::int32_t HasXMPData(TvkHandle handle);
std::int32_t HasIPTCData(TvkHandle handle);

// Merges the XMP properties of `source` into `target`; equal handles are fine.
std::int32_t CopyXMPToMeta(TvkHandle target, TvkHandle source);
// An XMP sidecar held in memory until SaveImage, holding a copy of the photo's
// XMP; 0 when `photo` is not open or the path is empty.
TvkHandle CreateSidecar(TvkHandle photo, const char* path);

// The value's text into `buffer`: NUL-terminated when shorter than `size`,
// exactly `size` bytes without NUL when it has that length, TvkTooLong (buffer
// untouched) when longer. Dates read as "YYYY:MM:DD hh:mm:ss" (EXIF) or
// "YYYY-MM-DDThh:mm:ss" (XMP); lens data as readable text ("18-55mm f/3.5-5.6").
std::int32_t ReadEXIFMeta(TvkHandle handle, const char* key, char* buffer, std::int32_t size);
std::int32_t ReadXMPMeta(TvkHandle handle, const char* key, char* buffer, std::int32_t size);
std::int32_t ReadMetaDbl(TvkHandle handle, const char* key, double* value);

// Sets the tag, created when missing; `type` is an Exiv2 type id.
std::int32_t ModifyEXIFMeta(TvkHandle handle, const char* key, const char* value, std::int32_t type);
std::int32_t ModifyXMPMeta(TvkHandle handle, const char* key, const char* value, std::int32_t type);
// Stores three non-negative numbers as EXIF rationals, exact to 6 decimals.
std::int32_t SetGPSMeta(TvkHandle handle, const char* key, double degrees, double minutes,
                        double seconds);

// How many handles are open, so that callers can check they release each one.
std::int32_t OpenHandleCount();

// What went wrong in this thread's last failed operation (Exiv2's message or a
// system error), for diagnostics; never shown on the terminal.
const char* LastErrorMessage();
