#pragma once

// Fitting a document to its network, as the editor does when it opens a file: the network moves
// next to the origin and the document takes the nodes' bounding box plus one grid step of
// margin on every side. Widget-free, so busweave-cli fits pictures the same way.

#include "model/NetworkContainer.h"

namespace busweave {

// The largest document extent the editor keeps, per axis.
inline constexpr std::int32_t kLargestExtent = 16'000'000;

// Moves Net so that its leftmost node lies at x = Grid.X and its lowest at y = Grid.Y, and
// returns the fitted extent. A network without nodes is not moved and gets EmptyExtent.
TPoint FitNetwork(TCanNodes& Net, TPoint Grid, TPoint EmptyExtent);

}  // namespace busweave
