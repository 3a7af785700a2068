// Feeds arbitrary bytes to the analysis planning as a whole circuit, and the plan it makes to
// the decks of the runs: a plan or EAnalysisError, nothing else, and a plan that holds what the
// runs rely on.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "analysis/AnalysisRun.h"
#include "circuit/CircuitFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string bytes(reinterpret_cast<const char*>(Data), Size);
  busweave::TAnalysisPlan plan;
  try {
    plan = busweave::PlanAnalysis(busweave::SplitLines(bytes));
  } catch (const busweave::EAnalysisError&) {
    return 0;  // refused with a reason
  }
  if (plan.Stations.size() < 2 || !(plan.Stop > 0) || !std::isfinite(plan.Stop)) std::abort();
  for (const bool firstDominant : {true, false}) {
    const busweave::TextLines deck = busweave::TransmitterDeck(plan, plan.Stations.size() - 1, firstDominant);
    if (deck.empty() || deck.back() != ".END") std::abort();
    if (busweave::ReferenceDeck(plan, firstDominant).back() != ".END") std::abort();
    const auto edges = busweave::StreamEdges(busweave::WorstCaseStream(), plan.EdgeAt, 1e-6);
    if (busweave::PatternDeck(plan, 0, firstDominant, edges, plan.Stop).back() != ".END") std::abort();
  }
  if (busweave::LevelProbeDeck(plan).empty()) std::abort();
  return 0;
}
