#pragma once

// What the Simulate command and `busweave-cli simulate` share: the waveforms as CSV, and the
// reading of a trace between its points.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "spice/SpiceEngine.h"

namespace busweave {

// The scale and every trace as CSV: a header row ("time" or "frequency", then the node names
// in UTF-8, quoted where needed), one row per point, '.' as decimal point, LF line ends.
std::string WaveformsCsv(const TWaveforms& Waveforms);

// The trace's value at X by linear interpolation between the neighbouring points; the end
// values outside the scale. Scale must be ascending; nothing when it is empty.
std::optional<double> ValueAt(const std::vector<double>& Scale, const std::vector<double>& Values, double X);

// The points of [From, To] thinned to about 2 * Buckets, keeping each bucket's lowest and
// highest value so that no peak is lost on the screen. Indices into the scale, ascending.
std::vector<std::size_t> PeakPreservingIndices(const std::vector<double>& Scale, const std::vector<double>& Values,
                                               double From, double To, std::size_t Buckets);

// How closely a thinned run follows the computed one: a share of the largest swing of any trace.
inline constexpr double ThinningShare = 1e-4;

// The points of a run worth keeping for the plot and the CSV, indices into the scale, ascending:
// the first and the last point, each trace's highest and lowest point, the points either side
// of each crossing of a trace's middle level (half-way between its lowest and highest point),
// and otherwise just enough points that every dropped point of every trace lies within
// Share x the largest swing of the straight line between its kept neighbours (a swinging door
// over all traces at once, one pass). Every trace holds at least Scale.size() values.
std::vector<std::size_t> ThinnedIndices(std::span<const double> Scale,
                                        const std::vector<std::span<const double>>& Traces,
                                        double Share = ThinningShare);

}  // namespace busweave
