#include "spice/StepRule.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace busweave {
namespace {

double shortest(const std::vector<double>& Values) {
  double least = 0.0;
  for (double value : Values)
    if (value > 0.0 && std::isfinite(value) && (least == 0.0 || value < least)) least = value;
  return least;
}

}  // namespace

double ShortLineThreshold(const std::vector<double>& Edges, double Ratio) {
  if (!(Ratio > 0.0) || !std::isfinite(Ratio)) return 0.0;
  return shortest(Edges) / Ratio;
}

TStepChoice ChooseMaxStep(double Span, const std::vector<double>& LineDelays, const std::vector<double>& Edges) {
  TStepChoice choice;
  if (!(Span > 0.0) || !std::isfinite(Span)) return choice;
  choice.MaxStep = Span / StepsPerRun;
  choice.Reason = "run of " + TimeText(Span) + " / " + std::to_string(static_cast<int>(StepsPerRun));

  if (const double delay = shortest(LineDelays); delay > 0.0 && delay / StepsPerDelay < choice.MaxStep) {
    choice.MaxStep = delay / StepsPerDelay;
    choice.Reason = "shortest line delay " + TimeText(delay) + " / " + std::to_string(static_cast<int>(StepsPerDelay));
  }
  if (const double edge = shortest(Edges); edge > 0.0 && edge / StepsPerEdge < choice.MaxStep) {
    choice.MaxStep = edge / StepsPerEdge;
    choice.Reason = "shortest source edge " + TimeText(edge) + " / " + std::to_string(static_cast<int>(StepsPerEdge));
  }
  const double floor = Span / MostStepsPerRun;
  if (choice.MaxStep < floor) {
    if (const double delay = shortest(LineDelays); delay > 0.0 && delay < floor) {
      choice.MaxStep = delay;
      choice.Reason = "shortest line delay " + TimeText(delay) + " (more than one million steps)";
    } else {
      choice.MaxStep = floor;
      choice.Reason = "limit of one million steps per run";
    }
  }
  return choice;
}

}  // namespace busweave
