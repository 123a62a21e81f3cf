#pragma once
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Reading the file to be replaced, and the atomic publishing of a new content:
// it goes into a temporary file in the target's folder (a hidden name ending in
// ".tmp", so that no folder scan takes it for a photo), is flushed to disk and
// renamed into place. Results are TvkResult codes; `error` says why.
namespace tvkmd {

// The file a path names after following every symbolic link; empty on failure.
std::string ResolveTarget(const std::string& path, std::string& error);

// A regular file opened for reading.
class SourceFile {
 public:
  SourceFile() = default;
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;
  ~SourceFile();

  std::int32_t Open(const std::string& path, std::string& error);
  int Fd() const { return fd_; }
  const struct stat& Status() const { return status_; }
  std::size_t Size() const { return static_cast<std::size_t>(status_.st_size); }
  // Bytes [0, length) into `data` (length bytes, not initialised before).
  std::int32_t ReadPrefix(std::size_t length, std::unique_ptr<unsigned char[]>& data, std::string& error) const;

 private:
  int fd_ = -1;
  std::string path_;
  struct stat status_ {};
};

// Fills the temporary file; TvkOk or a failure with `error` set.
using ContentWriter = std::function<std::int32_t(int fd, std::string& error)>;
// Reads the written file (`fd`, open for reading) back before it replaces the
// original; TvkOk when it holds what it should.
using ContentCheck = std::function<std::int32_t(int fd, std::string& error)>;

// Called with the temporary file after it was written and before it is read
// back, when set; only tests set it, to spoil a write on purpose.
using WrittenFileHook = void (*)(int fd);
void SetWrittenFileHook(WrittenFileHook hook);

std::int32_t WriteBytes(int fd, const void* data, std::size_t size, std::string& error);
// Copies [offset, offset + length) of `from` to the end of `to`, inside the kernel where it can.
std::int32_t CopyRange(int from, off_t offset, std::size_t length, int to, std::string& error);

// Replaces `target` (no symbolic link) with what `write` produces once `check`
// accepts it, keeping the permission bits, and the owner and group where the
// process may set them, of `original`.
std::int32_t ReplaceFile(const std::string& target, const struct stat& original, const ContentWriter& write,
                         const ContentCheck& check, std::string& error);

// Creates `target` with `data` once `check` accepts what was written; fails
// with TvkExists when anything has that name.
std::int32_t PublishNewFile(const std::string& target, const void* data, std::size_t size,
                            const ContentCheck& check, std::string& error);

}  // namespace tvkmd
