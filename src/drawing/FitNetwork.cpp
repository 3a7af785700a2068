#include "drawing/FitNetwork.h"

#include <algorithm>

namespace busweave {
namespace {

std::int32_t sanitizedExtent(std::int64_t Value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(Value, 1, kLargestExtent));
}

// Moves wrap around as 32-bit two's complement, like every coordinate sum of the model.
std::int32_t wrap(std::int64_t Value) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(Value)); }

}  // namespace

TPoint FitNetwork(TCanNodes& Net, TPoint Grid, TPoint EmptyExtent) {
  if (Net.FNumNodes() == 0) return {sanitizedExtent(EmptyExtent.X), sanitizedExtent(EmptyExtent.Y)};
  Net.MoveAll({wrap(std::int64_t{Grid.X} - Net.FMinX()), wrap(std::int64_t{Grid.Y} - Net.FMinY())});
  return {sanitizedExtent(std::int64_t{Net.FMaxX()} - Net.FMinX() + 2 * std::int64_t{Grid.X}),
          sanitizedExtent(std::int64_t{Net.FMaxY()} - Net.FMinY() + 2 * std::int64_t{Grid.Y})};
}

}  // namespace busweave
