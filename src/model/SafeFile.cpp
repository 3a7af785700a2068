#include "model/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "model/ModelErrors.h"

namespace busweave {
namespace {

// Opens a new file beside Path under a name no other file has; -1 when the folder refuses.
int createTemporaryBeside(const std::string& Path, std::string& TempPath) {
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    TempPath = Path + ".~" + std::to_string(random() % 1000000000u) + ".tmp";
    const int fd = ::open(TempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool writeAll(int Fd, std::string_view Bytes) {
  while (!Bytes.empty()) {
    const ssize_t n = ::write(Fd, Bytes.data(), Bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    Bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

void writeFileAtomically(const std::string& Path, std::string_view Bytes) {
  struct stat existing {};
  const bool targetExists = ::stat(Path.c_str(), &existing) == 0;
  if (targetExists && S_ISDIR(existing.st_mode)) throw EFCreateError(Path);

  std::string tempPath;
  const int fd = createTemporaryBeside(Path, tempPath);
  if (fd < 0) throw EFCreateError(Path);

  // A replaced file keeps its permissions.
  if (targetExists) (void)::fchmod(fd, existing.st_mode & 07777);

  const bool written = writeAll(fd, Bytes) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed) {
    ::unlink(tempPath.c_str());
    throw EWriteError();
  }
  if (::rename(tempPath.c_str(), Path.c_str()) != 0) {
    ::unlink(tempPath.c_str());
    throw EFCreateError(Path);
  }
}

int openRegularFile(const std::string& Path) {
  // O_NONBLOCK keeps a FIFO from blocking the open; the type is checked on what was opened.
  const int fd = ::open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT) throw EFOpenError(Path, "file not found");
    if (error == ELOOP) throw EFOpenError(Path, "too many levels of symbolic links");
    throw EFOpenError(Path, std::strerror(error));
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const bool folder = S_ISDIR(info.st_mode);
    ::close(fd);
    throw EFOpenError(Path, folder ? "this is a folder, not a file" : "not a regular file");
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

std::string readRegularFile(const std::string& Path, std::size_t MaxBytes) {
  const int fd = openRegularFile(Path);
  std::string bytes;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      throw EFOpenError(Path, std::strerror(error));
    }
    if (n == 0) break;
    // The size is checked while reading: a file may grow after it was opened.
    if (bytes.size() + static_cast<std::size_t>(n) > MaxBytes) {
      ::close(fd);
      throw EFOpenError(Path, "larger than " + std::to_string(MaxBytes) + " bytes");
    }
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return bytes;
}

}  // namespace busweave
