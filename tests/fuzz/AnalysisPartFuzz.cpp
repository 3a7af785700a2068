// libFuzzer target for a part of a sharded bus analysis, read as analyze-merge reads each file
// and judged as it judges them: any bytes give a part or a refusal, never a crash or undefined
// behaviour.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "analysis/AnalysisPart.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  try {
    const busweave::TAnalysisPart part =
        busweave::ReadAnalysisPart(std::string_view(reinterpret_cast<const char*>(Data), Size));
    (void)busweave::JudgeRuns(part.Runs, part.Settings);
    (void)busweave::AnalysisPartJson(part);
  } catch (const busweave::EAnalysisError&) {
  }
  return 0;
}
