// Feeds arbitrary bytes to the network file reader. Whatever it accepts must save and load
// back to the same bytes.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "model/NetworkContainer.h"

namespace {

std::string scratchPath(const char* Suffix) {
  return "/tmp/busweave-fuzz-" + std::to_string(::getpid()) + Suffix;
}

std::string readAll(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static const std::string input = scratchPath(".bwn");
  static const std::string saved = scratchPath("-saved.bwn");
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
