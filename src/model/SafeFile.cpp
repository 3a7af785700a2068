#include "model/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

}  // namespace busweave
