#include "base/PathText.h"

#include <algorithm>

namespace busweave {
namespace {

// Where the file-name part starts, and where the dot of its extension stands (npos: none).
struct TPathSplit {
  std::size_t Name = 0;
  std::size_t Dot = std::string::npos;
};

TPathSplit splitPath(const std::string& Path) {
  // The portable copy has the same length, so its positions hold for the path as given.
  const std::string portable = PortablePath(Path);
  const std::size_t separator = portable.rfind('/');
  TPathSplit split;
  split.Name = separator == std::string::npos ? 0 : separator + 1;
  const std::size_t dot = portable.rfind('.');
  if (dot != std::string::npos && dot >= split.Name) split.Dot = dot;
  return split;
}

}  // namespace

std::string PortablePath(std::string Path) {
  std::replace(Path.begin(), Path.end(), '\\', '/');
  return Path;
}

std::string FolderOf(const std::string& Path) {
  const std::size_t name = splitPath(Path).Name;
  return name == 0 ? std::string() : Path.substr(0, name - 1);
}

std::string FileNameOf(const std::string& Path) { return Path.substr(splitPath(Path).Name); }

bool HasExtension(const std::string& Path) { return splitPath(Path).Dot != std::string::npos; }

std::string PathWithoutExtension(const std::string& Path) { return Path.substr(0, splitPath(Path).Dot); }

std::string ReplaceExtension(const std::string& Path, const std::string& Extension) {
  return PathWithoutExtension(Path) + "." + Extension;
}

}  // namespace busweave
