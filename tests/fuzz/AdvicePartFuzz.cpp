// libFuzzer target for a part of a sharded advice search, read as advise-merge reads each file:
// any bytes give a part or a refusal, never a crash or undefined behaviour.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "advice/AdviceSearch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  try {
    const busweave::TAdvicePart part =
        busweave::ReadAdvicePart(std::string_view(reinterpret_cast<const char*>(Data), Size));
    for (const busweave::TUnitResult& unit : part.Units)
      if (unit.Judged) (void)busweave::JudgeRuns(unit.Final, part.Settings);
    (void)busweave::AdvicePartJson(part);
  } catch (const busweave::EAnalysisError&) {
  }
  return 0;
}
