#pragma once

// A fresh folder under the system's temporary folder, removed with everything in it at the end
// of the test. CurrentFolderGuard makes it the current folder for a while.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace busweave::test {

class TempFolder {
 public:
  TempFolder() {
    std::random_device seed;
    FPath =
        std::filesystem::temp_directory_path() / ("busweave-test-" + std::to_string(seed()) + std::to_string(seed()));
    std::filesystem::create_directories(FPath);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::permissions(FPath, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(FPath, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return FPath; }
  std::string File(const std::string& Name) const { return (FPath / Name).string(); }

 private:
  std::filesystem::path FPath;
};

class CurrentFolderGuard {
 public:
  explicit CurrentFolderGuard(const std::filesystem::path& Folder) : FPrevious(std::filesystem::current_path()) {
    std::filesystem::current_path(Folder);
  }
  ~CurrentFolderGuard() { std::filesystem::current_path(FPrevious); }
  CurrentFolderGuard(const CurrentFolderGuard&) = delete;
  CurrentFolderGuard& operator=(const CurrentFolderGuard&) = delete;

 private:
  std::filesystem::path FPrevious;
};

inline std::string ReadBytes(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& Path, const std::string& Bytes) {
  std::ofstream(Path, std::ios::binary | std::ios::trunc) << Bytes;
}

}  // namespace busweave::test
