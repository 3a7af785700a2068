#pragma once

// Fitting a document to its network, as the editor does when it opens a file: the network moves
// next to the origin and the document takes the nodes' bounding box plus one grid step of
// margin on every side. Widget-free, so busweave-cli fits pictures the same way.

#include <string>

#include "model/NetworkContainer.h"

namespace busweave {

// The largest document extent the editor keeps, per axis.
inline constexpr std::int32_t kLargestExtent = 16'000'000;

// What fitting a network takes, worked out in 64 bits so that coordinates near the 32-bit
// limits cannot fold the drawing.
struct TFitPlan {
  TPoint Delta{0, 0};      // the move that puts the leftmost node at Grid.X, the lowest at Grid.Y
  std::int64_t Width = 0;  // the fitted extent, before it is limited to kLargestExtent
  std::int64_t Height = 0;
  bool MoveFits = true;  // every coordinate, wire ends included, stays inside 32 bits on the move
};

// The plan for Net; a network without nodes needs no move and gets EmptyExtent.
TFitPlan PlanFit(const TCanNodes& Net, TPoint Grid, TPoint EmptyExtent);

// Why the fitted network cannot be drawn whole (too large a document, or a move that would
// leave 32-bit coordinates); empty when it can.
std::string FitProblem(const TFitPlan& Plan);

// Moves Net so that its leftmost node lies at x = Grid.X and its lowest at y = Grid.Y, and
// returns the fitted extent, at most kLargestExtent a side (a larger network is shown cut). A
// network without nodes, or one whose move would leave 32-bit coordinates, is not moved.
TPoint FitNetwork(TCanNodes& Net, TPoint Grid, TPoint EmptyExtent);

}  // namespace busweave
