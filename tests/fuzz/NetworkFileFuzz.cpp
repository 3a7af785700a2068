// Feeds arbitrary bytes to the network file reader. Whatever it accepts must save and load
// back to the same bytes.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "model/NetworkContainer.h"

namespace {

// Files live in a folder of their own in memory (/dev/shm) where there is one: every save syncs
// its file and its folder, which on a disk would cost more than the reading under test.
const std::string& scratchFolder() {
  // Never destroyed: the exit handler below needs the name after static objects are gone.
  static const std::string& folder = *new std::string([] {
    std::error_code ec;
    const std::filesystem::path memory = "/dev/shm";
    const std::filesystem::path base = std::filesystem::is_directory(memory, ec) && ::access("/dev/shm", W_OK) == 0
                                           ? memory
                                           : std::filesystem::temp_directory_path();
    const std::filesystem::path path = base / ("busweave-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(scratchFolder(), ignored);
    });
    return path.string();
  }());
  return folder;
}

std::string scratchPath(const char* Name) { return scratchFolder() + "/" + Name; }

std::string readAll(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static const std::string input = scratchPath("input.bwn");
  static const std::string saved = scratchPath("saved.bwn");
  {
    std::ofstream out(input, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(Data), static_cast<std::streamsize>(Size));
  }

  busweave::TCanNodes net;
  net.LoadNetwork(input);
  net.NumberNodeNames();
  if (!net.SaveNetwork(saved)) return 0;

  busweave::TCanNodes again;
  if (!again.LoadNetwork(saved) || again.Count() != net.Count()) std::abort();
  again.NumberNodeNames();
  again.SaveNetwork(saved + "2");
  if (readAll(saved) != readAll(saved + "2")) std::abort();
  return 0;
}
