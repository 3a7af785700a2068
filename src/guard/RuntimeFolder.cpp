#include "guard/RuntimeFolder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace busweave {

bool ProvideRuntimeFolder() {
  const char* set = std::getenv("XDG_RUNTIME_DIR");
  if (set && *set) return true;
  // Where Qt would put it: the temporary folder (TMPDIR when it is an absolute path).
  const char* temporary = std::getenv("TMPDIR");
  std::string folder = temporary && *temporary == '/' ? temporary : "/tmp";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const uid_t user = ::geteuid();
  const passwd* account = ::getpwuid(user);
  folder += "/runtime-" + (account && account->pw_name ? std::string(account->pw_name) : std::to_string(user));

  if (::mkdir(folder.c_str(), S_IRWXU) != 0 && errno != EEXIST) return false;
  // Not through a link, and not someone else's folder made in the shared temporary folder.
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != user) return false;
  if ((info.st_mode & 07777) != S_IRWXU && ::chmod(folder.c_str(), S_IRWXU) != 0) return false;
  return ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1) == 0;
}

}  // namespace busweave
