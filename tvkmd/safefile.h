#pragma once
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Whole-file reading and the atomic publishing of a new file content: the
// bytes go into a temporary file in the target's folder (a hidden name ending
// in ".tmp", so no folder scan takes it for a photo), are flushed to disk and
// renamed into place. Results are TvkResult codes; `error` says why.
namespace tvkmd {

struct FileBytes {
  std::unique_ptr<unsigned char[]> Data;
  std::size_t Size = 0;
  struct stat Status {};
};

// The file a path names after following every symbolic link; empty on failure.
std::string ResolveTarget(const std::string& path, std::string& error);

std::int32_t ReadWholeFile(const std::string& path, FileBytes& file, std::string& error);

// Replaces `target` (no symbolic link) with `data`, keeping the permission
// bits, and the owner and group where the process may set them, of `original`.
std::int32_t ReplaceFile(const std::string& target, const struct stat& original, const void* data,
                         std::size_t size, std::string& error);

// Creates `target` with `data`; fails with TvkExists when anything has that name.
std::int32_t PublishNewFile(const std::string& target, const void* data, std::size_t size,
                            std::string& error);

}  // namespace tvkmd
