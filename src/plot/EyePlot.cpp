#include "plot/EyePlot.h"

#include <algorithm>

namespace busweave {
namespace {

// Many bits lie on top of each other: each alone faint, so that where they gather reads dark.
const QColor kBitColor(31, 95, 191, 110);
const QColor kThresholdColor(0xc0, 0x39, 0x2b);

}  // namespace

std::pair<double, double> EyeVoltRange(const std::vector<const TEye*>& Eyes, const TThresholds& Thresholds) {
  double low = std::min(0.0, Thresholds.Recessive);
  double high = Thresholds.Dominant;
  for (const TEye* eye : Eyes)
    for (const TWave& bit : eye->Bits)
      for (const double volts : bit.Volts) low = std::min(low, volts), high = std::max(high, volts);
  return {low, high + 0.1 * (high - low)};
}

TPlot EyePlot(const TEye& Eye, const TThresholds& Thresholds, std::pair<double, double> Volts) {
  const double bitTime = Eye.BitTime > 0 ? Eye.BitTime : 1e-9;
  const auto [unit, factor] = TimeUnit(bitTime);
  TPlot plot;
  plot.XTitle = "Time in the bit [" + unit + "]";
  plot.YTitle = "Voltage [V]";
  plot.XFrom = 0.0;
  plot.XTo = bitTime * factor;
  std::tie(plot.YFrom, plot.YTo) = Volts;
  plot.Legend = false;
  for (const TWave& bit : Eye.Bits) {
    TPlotCurve curve{{}, kBitColor, {}, true, 1.0};
    const std::size_t count = std::min(bit.Time.size(), bit.Volts.size());
    curve.Points.reserve(static_cast<qsizetype>(count));
    for (std::size_t i = 0; i < count; ++i) curve.Points.append(QPointF(bit.Time[i] * factor, bit.Volts[i]));
    plot.Traces.push_back(std::move(curve));
  }
  plot.Levels = {{Thresholds.Dominant, QString("dominant %1 V").arg(Thresholds.Dominant), kThresholdColor},
                 {Thresholds.Recessive, QString("recessive %1 V").arg(Thresholds.Recessive), kThresholdColor}};
  plot.Marks = {{Eye.SamplePoint * factor, "sample point", kWorkingSampleColor, Qt::SolidLine}};
  return plot;
}

}  // namespace busweave
