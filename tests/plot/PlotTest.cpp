// The plot drawing: axis labels, trace colours, a plot with awkward values drawn as SVG, and the
// eye diagram as a plot.

#include <gtest/gtest.h>

#include <QFont>
#include <QFontMetricsF>
#include <QXmlStreamReader>
#include <cmath>
#include <limits>

#include "plot/EyePlot.h"
#include "plot/Plot.h"

namespace busweave {
namespace {

QStringList labelsOf(const std::vector<TPlotTick>& Ticks) {
  QStringList labels;
  for (const TPlotTick& tick : Ticks)
    if (!tick.Label.isEmpty()) labels << tick.Label;
  return labels;
}

TEST(PlotAxes, LabelsReadInOneNotation) {
  EXPECT_EQ(labelsOf(LogTicks(1, 1e8)), QStringList({"1", "10", "100", "1k", "10k", "100k", "1M", "10M", "100M"}));
  EXPECT_EQ(LogTicks(1, 1e8).size(), 8u * 9 + 1);  // 2 to 9 times each decade between them
  // Within one decade the multiples carry the labels.
  EXPECT_EQ(labelsOf(LogTicks(2e6, 5e6)), QStringList({"2M", "3M", "4M", "5M"}));
  EXPECT_EQ(SiText(999.96), "1k");
  EXPECT_EQ(SiText(2.5e-6), QString::fromUtf8("2.5\u00b5"));
  EXPECT_TRUE(LogTicks(0, 10).empty());  // a logarithmic axis has no zero

  // Small and large linear ranges keep plain decimals, never an exponent.
  for (const auto& [from, to] : {std::pair{0.0, 5e-5}, std::pair{-3e6, 4e6}, std::pair{0.25, 2.0}})
    for (const QString& label : labelsOf(LinearTicks(from, to)))
      EXPECT_FALSE(label.contains('e')) << label.toStdString();
  EXPECT_EQ(labelsOf(LinearTicks(0, 2)), QStringList({"0.0", "0.5", "1.0", "1.5", "2.0"}));
  EXPECT_TRUE(LinearTicks(1, std::numeric_limits<double>::infinity()).empty());
}

// CIE 1976 colour difference, from sRGB.
double colourDistance(const QColor& A, const QColor& B) {
  const auto lab = [](const QColor& C) {
    const auto linear = [](double V) { return V <= 0.04045 ? V / 12.92 : std::pow((V + 0.055) / 1.055, 2.4); };
    const double r = linear(C.redF()), g = linear(C.greenF()), b = linear(C.blueF());
    const auto f = [](double T) { return T > 0.008856 ? std::cbrt(T) : 7.787 * T + 16.0 / 116; };
    const double x = f((0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047);
    const double y = f(0.2126 * r + 0.7152 * g + 0.0722 * b);
    const double z = f((0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883);
    return std::array<double, 3>{116 * y - 16, 500 * (x - y), 200 * (y - z)};
  };
  const auto a = lab(A);
  const auto b = lab(B);
  return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}

TEST(PlotColours, ThirtyTwoTracesStayApart) {
  for (int i = 0; i < 32; ++i) {
    EXPECT_GT(colourDistance(PlotTraceColor(i), Qt::white), 30) << i;
    for (int k = 0; k < i; ++k) EXPECT_GT(colourDistance(PlotTraceColor(i), PlotTraceColor(k)), 20) << k << " " << i;
  }
  EXPECT_EQ(PlotTraceColor(32), PlotTraceColor(0));
  EXPECT_EQ(PlotTraceColor(-1), PlotTraceColor(31));
}

TEST(PlotDrawing, MapsBothWaysAndDrawsAwkwardValues) {
  TPlot plot;
  plot.XTitle = "Frequency [Hz]";
  plot.LogX = true;
  plot.XFrom = 10;
  plot.XTo = 1e5;
  plot.YFrom = -1;
  plot.YTo = 1;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  plot.Traces = {{"near", Qt::red, {{10, 0}, {100, nan}, {1000, 1e300}, {1e4, -1e300}, {1e5, 0.5}}, true},
                 {"far \u00e4", Qt::blue, {{1e5, 0.25}}, false}};
  plot.Levels = {{0.9, "dominant 0.9 V", Qt::gray, Qt::DashLine}};
  plot.Cursors = {{1000, "A", Qt::darkRed, Qt::SolidLine}};

  const TPlotLayout layout(plot, QRectF(0, 0, 640, 400), QFont());
  EXPECT_NEAR(layout.XAt(layout.ToTarget(1000, 0).x()), 1000, 1e-6);
  EXPECT_NEAR(layout.YAt(layout.ToTarget(1000, 0.5).y()), 0.5, 1e-9);
  EXPECT_NEAR(layout.ToTarget(1000, 0).x(), layout.Area().center().x(), 1e-9);  // halfway in decades
  EXPECT_TRUE(layout.Area().contains(layout.ToTarget(100, 0)));
  EXPECT_EQ(layout.LegendEntryAt(layout.LegendEntry(1).center()), 1);
  EXPECT_FALSE(layout.Area().intersects(layout.LegendEntry(0)));

  const QString svg = QString::fromUtf8(PlotSvg(plot, QSize(640, 400), QFont(), "bus"));
  EXPECT_TRUE(svg.contains("<svg"));
  for (const char* text : {"near", "far \u00e4", "dominant 0.9 V", "100k", "Frequency [Hz]"})
    EXPECT_TRUE(svg.contains(QString::fromUtf8(text))) << text;

  // A node named with a control character still leaves SVG that XML readers open, as a file
  // and inside a page.
  plot.Traces[0].Name = QString("A\x01<b>");
  for (const QByteArray& bytes :
       {PlotSvg(plot, QSize(640, 400), QFont(), "bus\x1b"), PlotSvgElement(plot, QSize(640, 400), QFont())}) {
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) xml.readNext();
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  }
  EXPECT_TRUE(PlotSvgElement(plot, QSize(640, 400), QFont()).startsWith("<svg"));
}

TEST(PlotEye, ScaledTitledAndComparable) {
  TEye eye;
  eye.BitTime = 500e-9;
  eye.SamplePoint = 350e-9;
  eye.Bits = {{{0, 250e-9, 500e-9}, {0.1, 2.0, 2.2}}, {{0, 500e-9}, {2.0, -0.4}}};
  TEye wide = eye;
  wide.Bits = {{{0, 500e-9}, {3.0, 0.0}}};
  const TThresholds thresholds{0.9, 0.5};
  const auto [low, high] = EyeVoltRange({&eye, &wide}, thresholds);
  EXPECT_DOUBLE_EQ(low, -0.4);
  EXPECT_GT(high, 3.0);

  TPlot plot = EyePlot(eye, thresholds, {low, high});
  EXPECT_EQ(plot.XTitle, "Time in the bit [ns]");
  EXPECT_DOUBLE_EQ(plot.XTo, 500);
  EXPECT_DOUBLE_EQ(plot.YTo, high);  // the common range, not the eye's own
  ASSERT_EQ(plot.Traces.size(), 2u);
  EXPECT_DOUBLE_EQ(plot.Traces[0].Points[1].x(), 250);
  ASSERT_EQ(plot.Levels.size(), 2u);
  EXPECT_DOUBLE_EQ(plot.Levels[1].Value, 0.5);
  ASSERT_EQ(plot.Marks.size(), 1u);
  EXPECT_DOUBLE_EQ(plot.Marks[0].Value, 350);

  // A title longer than a narrow cell wraps above the area instead of running out of it.
  plot.Title = "a station with a long name at 2 Mbit/s: a bit read wrong";
  const TPlotLayout layout(plot, QRectF(0, 0, 160, 200), QFont());
  EXPECT_GT(layout.TitleArea().height(), 1.5 * QFontMetricsF(layout.Font()).height());
  EXPECT_LE(layout.TitleArea().right(), 160);
  EXPECT_LT(layout.TitleArea().bottom(), layout.Area().top());
  EXPECT_FALSE(layout.MarkLabel(0).isEmpty());
}

}  // namespace
}  // namespace busweave
