#include "safecopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

void ThrowErrno(const char* what) { throw std::runtime_error(std::string(what) + ": " + std::strerror(errno)); }

void SafeCopy(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) ThrowErrno("open");
  struct stat status {};
  ::fstat(in, &status);
  std::vector<char> bytes(static_cast<std::size_t>(status.st_size));
  if (::read(in, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) ThrowErrno("read");
  ::close(in);
  const std::string temp = to + ".tmp";
  const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out < 0) ThrowErrno("create");
  if (::write(out, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) ThrowErrno("write");
  ::fchmod(out, status.st_mode & 07777);
  if (::fsync(out) != 0) ThrowErrno("fsync");
  ::close(out);
  if (::rename(temp.c_str(), to.c_str()) != 0) ThrowErrno("rename");
}
