// libFuzzer target for the advice apply reads: any bytes give a change to apply or a refusal,
// never a crash, undefined behaviour or a message longer than a line.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "advice/AdviceFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string_view text(reinterpret_cast<const char*>(Data), Size);
  for (std::size_t rank : {1, 2}) {
    try {
      const busweave::TAdviceChoice choice = busweave::ReadAdviceChoice(text, rank);
      if (choice.Edits.empty() || choice.Network.size() != 64) std::abort();
      for (const busweave::TEdit& e : choice.Edits)
        if (e.Value < 1 || e.Value > 65535 || e.Was < 0 || e.Was > 65535) std::abort();
    } catch (const busweave::EAnalysisError& error) {
      if (std::string_view(error.what()).size() > 400) std::abort();
    }
  }
  return 0;
}
