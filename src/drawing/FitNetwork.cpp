#include "drawing/FitNetwork.h"

#include <algorithm>
#include <limits>

namespace busweave {
namespace {

std::int32_t sanitizedExtent(std::int64_t Value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(Value, 1, kLargestExtent));
}

bool inside32(std::int64_t Value) {
  return Value >= std::numeric_limits<std::int32_t>::min() && Value <= std::numeric_limits<std::int32_t>::max();
}

bool movesInside(TPoint P, std::int64_t DX, std::int64_t DY) { return inside32(P.X + DX) && inside32(P.Y + DY); }

}  // namespace

TFitPlan PlanFit(const TCanNodes& Net, TPoint Grid, TPoint EmptyExtent) {
  TFitPlan plan;
  if (Net.FNumNodes() == 0) {
    plan.Width = EmptyExtent.X;
    plan.Height = EmptyExtent.Y;
    return plan;
  }
  const std::int64_t minX = Net.FMinX();
  const std::int64_t minY = Net.FMinY();
  const std::int64_t maxX = Net.FMaxX();
  const std::int64_t maxY = Net.FMaxY();
  const std::int64_t dx = Grid.X - minX;
  const std::int64_t dy = Grid.Y - minY;
  plan.Width = maxX - minX + 2 * std::int64_t{Grid.X};
  plan.Height = maxY - minY + 2 * std::int64_t{Grid.Y};
  plan.MoveFits = inside32(dx) && inside32(dy);
  for (int i = 0; i < Net.Count() && plan.MoveFits; ++i) {
    if (const TNode* node = Net.NodeAtIndex(i))
      plan.MoveFits = movesInside(node->FPos, dx, dy);
    else if (const TTrmLine* wire = Net.WireAtIndex(i))
      plan.MoveFits = movesInside(wire->FStart, dx, dy) && movesInside(wire->FEnd, dx, dy);
  }
  if (plan.MoveFits) plan.Delta = {static_cast<std::int32_t>(dx), static_cast<std::int32_t>(dy)};
  return plan;
}

std::string FitProblem(const TFitPlan& Plan) {
  if (Plan.Width > kLargestExtent || Plan.Height > kLargestExtent)
    return "the network needs a document of " + std::to_string(Plan.Width) + " x " + std::to_string(Plan.Height) +
           " units; a document holds at most " + std::to_string(kLargestExtent) + " units (3.2 km) a side";
  if (!Plan.MoveFits)
    return "a wire end lies so far from the nodes that moving the network next to the origin would take it "
           "beyond the coordinate range";
  return {};
}

TPoint FitNetwork(TCanNodes& Net, TPoint Grid, TPoint EmptyExtent) {
  const TFitPlan plan = PlanFit(Net, Grid, EmptyExtent);
  if (Net.FNumNodes() > 0 && plan.MoveFits) Net.MoveAll(plan.Delta);
  return {sanitizedExtent(plan.Width), sanitizedExtent(plan.Height)};
}

}  // namespace busweave
