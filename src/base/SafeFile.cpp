#include "base/SafeFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "base/FileErrors.h"

namespace busweave {
namespace {

// What the system allows before it reports a loop (Linux: 40).
constexpr int kMaxLinkHops = 40;
// The temporary's suffix ".~" + up to nine digits + ".tmp".
constexpr std::size_t kTemporarySuffixMax = 15;

std::string systemReason(int Error) {
  if (Error == ELOOP) return "a loop of symbolic links (too many levels of symbolic links)";
  return std::strerror(Error);
}

// The folder part of Path with its final slash ("" for a bare name), and the name after it.
std::pair<std::string, std::string> splitPath(const std::string& Path) {
  const auto slash = Path.rfind('/');
  if (slash == std::string::npos) return {"", Path};
  return {Path.substr(0, slash + 1), Path.substr(slash + 1)};
}

// The file a save through Path replaces: Path with its symbolic links followed, also a link whose
// target does not exist yet. Throws EFCreateError on a loop of links.
std::string resolveLinks(const std::string& Path) {
  std::string current = Path;
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    std::string target(static_cast<std::size_t>(std::max<off_t>(info.st_size, 0)) + 256, '\0');
    const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
    if (n < 0) return current;
    target.resize(static_cast<std::size_t>(n));
    current = target.front() == '/' ? target : splitPath(current).first + target;
  }
  throw EFCreateError(Path, systemReason(ELOOP));
}

// The start of the temporary names of a file called Name: Name itself, cut so that a whole
// temporary name stays within the folder's limit on names.
std::string temporaryPrefix(const std::string& Folder, const std::string& Name) {
  long nameMax = ::pathconf(Folder.empty() ? "." : Folder.c_str(), _PC_NAME_MAX);
  if (nameMax <= 0) nameMax = 255;
  const std::size_t room = static_cast<std::size_t>(nameMax) > kTemporarySuffixMax + 1
                               ? static_cast<std::size_t>(nameMax) - kTemporarySuffixMax
                               : 1;
  return Name.substr(0, std::min(Name.size(), room));
}

bool isTemporaryName(std::string_view Name, std::string_view Prefix) {
  if (Name.size() <= Prefix.size() + 2 + 4 || Name.substr(0, Prefix.size()) != Prefix) return false;
  Name.remove_prefix(Prefix.size());
  if (Name.substr(0, 2) != ".~" || Name.substr(Name.size() - 4) != ".tmp") return false;
  const std::string_view digits = Name.substr(2, Name.size() - 6);
  return !digits.empty() && digits.size() <= 9 &&
         std::all_of(digits.begin(), digits.end(), [](char C) { return C >= '0' && C <= '9'; });
}

// Removes the temporaries that saves of this target left behind when they were killed. A save
// holds a lock on its temporary until it is renamed, so a temporary that can be locked is stale.
void removeStaleTemporaries(const std::string& Folder, const std::string& Prefix) {
  DIR* folder = ::opendir(Folder.empty() ? "." : Folder.c_str());
  if (!folder) return;
  const int folderFd = ::dirfd(folder);
  while (const dirent* entry = ::readdir(folder)) {
    if (!isTemporaryName(entry->d_name, Prefix)) continue;
    const int fd = ::openat(folderFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
      (void)::unlinkat(folderFd, entry->d_name, 0);
    ::close(fd);
  }
  ::closedir(folder);
}

// Opens a new, locked file named Prefix.~NNN.tmp in Folder; -1 with errno set when the folder
// refuses.
int createTemporary(const std::string& Folder, const std::string& Prefix, std::string& TempPath) {
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    TempPath = Folder + Prefix + ".~" + std::to_string(random() % 1000000000u) + ".tmp";
    const int fd = ::open(TempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return -1;
    }
    // A cleaner that took the file for stale before the lock was ours has unlinked it.
    struct stat info {};
    if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &info) == 0 && info.st_nlink > 0) return fd;
    ::close(fd);
  }
  errno = EEXIST;
  return -1;
}

bool writeAll(int Fd, std::string_view Bytes) {
  while (!Bytes.empty()) {
    const ssize_t n = ::write(Fd, Bytes.data(), Bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    Bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// A device or FIFO is written in place: there is nothing a rename could replace.
void writeDirectly(const std::string& Path, std::string_view Bytes) {
  // Without O_NONBLOCK a FIFO that no process reads would block here for ever.
  const int fd = ::open(Path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == ENXIO) throw EFCreateError(Path, "no process reads from this FIFO");
    throw EFCreateError(Path, systemReason(error));
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  const bool written = writeAll(fd, Bytes);
  const int error = errno;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed) throw EWriteError(Path, systemReason(written ? errno : error));
}

// The reason a file that exists may not be replaced, or "" when it may.
std::string readOnlyReason(const std::string& Path, const struct stat& Info) {
  if (::faccessat(AT_FDCWD, Path.c_str(), W_OK, AT_EACCESS) != 0)
    return errno == EACCES ? "the file is read-only" : systemReason(errno);
  // The superuser may write anything; a file without any write permission still says "keep me".
  if ((Info.st_mode & 0222) == 0) return "the file is read-only";
  return "";
}

void syncFolder(const std::string& Folder) {
  const int fd = ::open(Folder.empty() ? "." : Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

}  // namespace

void writeFileAtomically(const std::string& Path, std::string_view Bytes) {
  struct stat existing {};
  bool targetExists = ::stat(Path.c_str(), &existing) == 0;
  if (!targetExists && errno != ENOENT) throw EFCreateError(Path, systemReason(errno));
  if (targetExists) {
    if (S_ISDIR(existing.st_mode)) throw EFCreateError(Path, "this is a folder, not a file");
    if (S_ISCHR(existing.st_mode) || S_ISFIFO(existing.st_mode)) return writeDirectly(Path, Bytes);
    if (!S_ISREG(existing.st_mode)) throw EFCreateError(Path, "not a regular file, a character device or a FIFO");
    if (const std::string reason = readOnlyReason(Path, existing); !reason.empty()) throw EFCreateError(Path, reason);
  }

  // A symbolic link stays a link: its target is replaced, through a temporary beside the target.
  const auto [folder, name] = splitPath(resolveLinks(Path));
  if (name.empty()) throw EFCreateError(Path, "no file name");
  const std::string target = folder + name;
  const std::string prefix = temporaryPrefix(folder, name);
  removeStaleTemporaries(folder, prefix);

  std::string tempPath;
  const int fd = createTemporary(folder, prefix, tempPath);
  if (fd < 0) throw EFCreateError(Path, systemReason(errno));
  auto fail = [&](auto Error) {
    ::unlink(tempPath.c_str());
    ::close(fd);
    throw Error;
  };

  // A replaced file keeps its owner and permissions where the system lets us; the owner first,
  // because changing it clears set-user-ID bits. Only root may give a file away: for anyone
  // else a failed fchown is expected and the new file stays theirs.
  if (targetExists) {
    [[maybe_unused]] const int owned = ::fchown(fd, existing.st_uid, existing.st_gid);
    (void)::fchmod(fd, existing.st_mode & 07777);
  }

  if (!writeAll(fd, Bytes) || ::fsync(fd) != 0) fail(EWriteError(Path, systemReason(errno)));
  // The lock is held until the rename, so no other save takes this temporary for stale.
  if (::rename(tempPath.c_str(), target.c_str()) != 0) fail(EFCreateError(Path, systemReason(errno)));
  ::close(fd);
  // Without this a power cut may bring back the old name.
  syncFolder(folder);
}

int openRegularFile(const std::string& Path) {
  // Opening a device can do things (a terminal, a watchdog), so only a regular file is opened.
  struct stat before {};
  if (::stat(Path.c_str(), &before) != 0) {
    const int error = errno;
    if (error == ENOENT) throw EFOpenError(Path, "file not found", error);
    throw EFOpenError(Path, systemReason(error), error);
  }
  if (S_ISDIR(before.st_mode)) throw EFOpenError(Path, "this is a folder, not a file");
  if (!S_ISREG(before.st_mode)) throw EFOpenError(Path, "not a regular file");

  // O_NONBLOCK keeps a FIFO put in its place meanwhile from blocking the open; the type is
  // checked again on what was opened.
  const int fd = ::open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT) throw EFOpenError(Path, "file not found", error);
    throw EFOpenError(Path, systemReason(error), error);
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
      throw EFOpenError(Path, systemReason(error), error);
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
