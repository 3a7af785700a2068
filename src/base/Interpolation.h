#pragma once

// Straight lines between the points of a trace: the one interpolation and the one threshold
// crossing of the verdict, the engine's waveforms and the plots.

#include <algorithm>
#include <cstddef>
#include <vector>

namespace busweave {

// The value at X on the line through (X0, Y0) and (X1, Y1); Y1 where the two share X.
inline double LineValue(double X0, double Y0, double X1, double Y1, double X) {
  if (X1 <= X0) return Y1;
  return Y0 + (Y1 - Y0) * (X - X0) / (X1 - X0);
}

// Where the line through (X0, Y0) and (X1, Y1) reaches Level; X1 where it is level.
inline double LineCrossing(double X0, double Y0, double X1, double Y1, double Level) {
  if (Y1 == Y0) return X1;
  return X0 + (Level - Y0) / (Y1 - Y0) * (X1 - X0);
}

// The trace at X, straight between its points (Xs ascending), the end values beyond them; 0 for
// a trace without points. At a point shared by two samples the later one counts.
inline double ValueBetween(const std::vector<double>& Xs, const std::vector<double>& Ys, double X) {
  if (Xs.empty()) return 0.0;
  if (X <= Xs.front()) return Ys.front();
  if (X >= Xs.back()) return Ys.back();
  const auto i = static_cast<std::size_t>(std::upper_bound(Xs.begin(), Xs.end(), X) - Xs.begin());
  return LineValue(Xs[i - 1], Ys[i - 1], Xs[i], Ys[i], X);
}

}  // namespace busweave
