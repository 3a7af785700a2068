#pragma once

// An eye diagram as a plot: a station's bits folded onto one bit time, over time in the bit and
// volts, the receivers' thresholds dashed and the sample point marked. The eye view of the
// analysis and advice panels and the reports of busweave-cli draw this same plot.

#include <utility>
#include <vector>

#include "plot/Plot.h"
#include "verdict/StreamVerdict.h"

namespace busweave {

// The colours an eye plot and a waveform's sample points share: the sample point at a rate that
// works, and at one that fails.
inline const QColor kWorkingSampleColor(0x17, 0x70, 0x2b);
inline const QColor kFailingSampleColor(0xb0, 0x50, 0x00);

// The voltage range that holds every bit of the eyes and both thresholds, with room above: eyes
// compared with each other (before and after a change) are drawn over one such range.
std::pair<double, double> EyeVoltRange(const std::vector<const TEye*>& Eyes, const TThresholds& Thresholds);

// The eye over Volts, without a title; the caller names it where it shows it.
TPlot EyePlot(const TEye& Eye, const TThresholds& Thresholds, std::pair<double, double> Volts);

}  // namespace busweave
