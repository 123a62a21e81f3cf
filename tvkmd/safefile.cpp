#include "tvkmd/safefile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "tvkmd/tvkmd.h"

namespace tvkmd {
namespace {

std::atomic<WrittenFileHook> writtenFileHook{nullptr};

// Keeps errno, which the caller still inspects.
std::string SystemError(const char* what, const std::string& path) {
  const int saved = errno;
  std::string text = std::string(what) + " " + path + ": " + std::strerror(saved);
  errno = saved;
  return text;
}

std::int32_t ErrnoResult() {
  return (errno == EACCES || errno == EPERM || errno == EROFS) ? TvkNotWritable : TvkFailed;
}

// Folder and name of a path; the folder of a bare name is ".".
std::pair<std::string, std::string> SplitPath(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? std::string("/") : path.substr(0, slash), path.substr(slash + 1)};
}

// At most `max` bytes of `name`, not ending inside a UTF-8 sequence.
std::string CutName(const std::string& name, std::size_t max) {
  if (name.size() <= max) return name;
  std::size_t end = max;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}

std::string RandomSuffix() {
  static thread_local std::mt19937_64 generator{std::random_device{}()};
  static constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
  std::string suffix(8, ' ');
  for (char& c : suffix) c = alphabet[pick(generator)];
  return suffix;
}

// A temporary file beside the target; removed again unless it was put in place.
class TempFile {
 public:
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty() && !placed_) ::unlink(path_.c_str());
  }

  std::int32_t Create(const std::string& target, mode_t mode, std::string& error) {
    const auto [folder, name] = SplitPath(target);
    // "." + name + "." + 8 random characters + ".tmp" must stay within NAME_MAX.
    const std::string stem = CutName(name, 255 - 14);
    for (int attempt = 0; attempt < 32; ++attempt) {
      std::string path = folder + "/." + stem + "." + RandomSuffix() + ".tmp";
      // Readable too: the content is read back before it is put in place.
      fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
      if (fd_ >= 0) {
        path_ = std::move(path);
        return TvkOk;
      }
      if (errno != EEXIST) {
        error = SystemError("cannot create a temporary file in", folder);
        return ErrnoResult();
      }
    }
    error = "no free temporary file name in " + folder;
    return TvkFailed;
  }

  int Fd() const { return fd_; }
  const std::string& Path() const { return path_; }

  // Flushes the content to disk and closes the file.
  std::int32_t Finish(std::string& error) {
    if (::fsync(fd_) != 0) {
      error = SystemError("cannot flush", path_);
      return TvkFailed;
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
      error = SystemError("cannot close", path_);
      return TvkFailed;
    }
    return TvkOk;
  }

  void Placed() { placed_ = true; }

 private:
  int fd_ = -1;
  std::string path_;
  bool placed_ = false;
};

// Fills the temporary file and reads it back.
std::int32_t WriteChecked(int fd, const ContentWriter& write, const ContentCheck& check, std::string& error) {
  if (const auto result = write(fd, error); result != TvkOk) return result;
  if (const WrittenFileHook hook = writtenFileHook.load(std::memory_order_relaxed)) hook(fd);
  return check(fd, error);
}

}  // namespace

void SetWrittenFileHook(WrittenFileHook hook) { writtenFileHook.store(hook, std::memory_order_relaxed); }

std::string ResolveTarget(const std::string& path, std::string& error) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) {
    error = SystemError("cannot resolve", path);
    return {};
  }
  std::string target(resolved);
  std::free(resolved);
  return target;
}

SourceFile::~SourceFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::int32_t SourceFile::Open(const std::string& path, std::string& error) {
  path_ = path;
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    error = SystemError("cannot open", path);
    return TvkFailed;
  }
  if (::fstat(fd_, &status_) != 0) {
    error = SystemError("cannot query", path);
    return TvkFailed;
  }
  if (!S_ISREG(status_.st_mode)) {
    error = path + " is not a regular file";
    return TvkBadArgument;
  }
  return TvkOk;
}

std::int32_t SourceFile::ReadPrefix(std::size_t length, std::unique_ptr<unsigned char[]>& data,
                                    std::string& error) const {
  data.reset(new unsigned char[length ? length : 1]);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t got = ::pread(fd_, data.get() + done, length - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      error = got < 0 ? SystemError("cannot read", path_) : path_ + " became shorter while read";
      return TvkFailed;
    }
    done += static_cast<std::size_t>(got);
  }
  return TvkOk;
}

std::int32_t WriteBytes(int fd, const void* data, std::size_t size, std::string& error) {
  auto bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) {
      error = SystemError("cannot write", "the temporary file");
      return TvkFailed;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return TvkOk;
}

std::int32_t CopyRange(int from, off_t offset, std::size_t length, int to, std::string& error) {
  bool inKernel = true;
  std::unique_ptr<unsigned char[]> buffer;
  constexpr std::size_t bufferSize = 1 << 20;
  while (length > 0) {
    if (inKernel) {
      const ssize_t copied = ::copy_file_range(from, &offset, to, nullptr, length, 0);
      if (copied > 0) {
        length -= static_cast<std::size_t>(copied);
        continue;
      }
      if (copied < 0 && errno == EINTR) continue;
      if (copied == 0) {
        error = "the file became shorter while copied";
        return TvkFailed;
      }
      if (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL) {
        error = SystemError("cannot copy into", "the temporary file");
        return TvkFailed;
      }
      inKernel = false;
      buffer.reset(new unsigned char[bufferSize]);
    }
    const ssize_t got = ::pread(from, buffer.get(), std::min(length, bufferSize), offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      error = got < 0 ? SystemError("cannot read", "the original") : "the file became shorter while copied";
      return TvkFailed;
    }
    if (const auto result = WriteBytes(to, buffer.get(), static_cast<std::size_t>(got), error); result != TvkOk)
      return result;
    offset += got;
    length -= static_cast<std::size_t>(got);
  }
  return TvkOk;
}

std::int32_t ReplaceFile(const std::string& target, const struct stat& original, const ContentWriter& write,
                         const ContentCheck& check, std::string& error) {
  TempFile temp;
  if (const auto result = temp.Create(target, 0600, error); result != TvkOk) return result;
  if (const auto result = WriteChecked(temp.Fd(), write, check, error); result != TvkOk) return result;
  // Owner before mode: changing the owner can clear set-id bits. Without the
  // right to give the file away, the group alone may still be possible.
  struct stat created {};
  if (::fstat(temp.Fd(), &created) == 0 &&
      (created.st_uid != original.st_uid || created.st_gid != original.st_gid)) {
    if (::fchown(temp.Fd(), original.st_uid, original.st_gid) != 0)
      (void)::fchown(temp.Fd(), static_cast<uid_t>(-1), original.st_gid);
  }
  if (::fchmod(temp.Fd(), original.st_mode & 07777) != 0) {
    error = SystemError("cannot set the permissions of", temp.Path());
    return TvkFailed;
  }
  if (const auto result = temp.Finish(error); result != TvkOk) return result;
  if (::rename(temp.Path().c_str(), target.c_str()) != 0) {
    error = SystemError("cannot rename over", target);
    return ErrnoResult();
  }
  temp.Placed();
  return TvkOk;
}

std::int32_t PublishNewFile(const std::string& target, const void* data, std::size_t size,
                            const ContentCheck& check, std::string& error) {
  TempFile temp;
  if (const auto result = temp.Create(target, 0666, error); result != TvkOk) return result;
  const auto write = [&](int fd, std::string& writeError) { return WriteBytes(fd, data, size, writeError); };
  if (const auto result = WriteChecked(temp.Fd(), write, check, error); result != TvkOk) return result;
  if (const auto result = temp.Finish(error); result != TvkOk) return result;
  if (::renameat2(AT_FDCWD, temp.Path().c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
    temp.Placed();
    return TvkOk;
  }
  // File systems without the flag: a hard link fails just as surely on a taken
  // name, and the temporary name is then removed.
  if (errno == EINVAL || errno == ENOSYS) {
    if (::link(temp.Path().c_str(), target.c_str()) == 0) return TvkOk;
  }
  if (errno == EEXIST) {
    error = target + " exists and is kept";
    return TvkExists;
  }
  error = SystemError("cannot create", target);
  return ErrnoResult();
}

}  // namespace tvkmd
