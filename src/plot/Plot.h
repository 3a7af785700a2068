#pragma once

// One drawing of an x-y plot for every target: the waveform window paints it on the screen and
// into PNG and SVG files, the eye view paints its eye diagrams, and busweave-cli's reports take
// the same as SVG text. Qt Gui only. The plot is a plain description (title, axes, traces,
// levels, marks, cursors); TPlotLayout places its parts on a target rectangle, and PaintPlot
// draws it there.

#include <QColor>
#include <QFont>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <utility>
#include <vector>

class QPainter;

namespace busweave {

// A line of the plot: points in axis units, ascending in x, thinned by the caller to what the
// target can show. A point whose value is not finite breaks the line.
struct TPlotCurve {
  QString Name;
  QColor Color;
  QList<QPointF> Points;
  bool Visible = true;
  double Width = 1.5;
  // A dot of this radius on every point, where the points are what was measured (0: none).
  double DotRadius = 0.0;
};

// A straight line across the plot at one value: a level (horizontal, at a y value), a mark or a
// cursor (vertical, at an x value), with a short label beside it.
struct TPlotLine {
  double Value = 0.0;
  QString Label;
  QColor Color;
  Qt::PenStyle Style = Qt::DashLine;
};

struct TPlot {
  // A heading above the area, wrapped to the target's width rather than cut (empty: none).
  QString Title;
  QString XTitle;
  QString YTitle;
  // A logarithmic x axis (frequencies); its range must then be positive.
  bool LogX = false;
  // The part shown, in axis units.
  double XFrom = 0.0;
  double XTo = 1.0;
  double YFrom = 0.0;
  double YTo = 1.0;
  std::vector<TPlotCurve> Traces;
  std::vector<TPlotLine> Levels;
  // Moments the plot points out (sample points): labelled at the foot of the area, the labels
  // stacked so that none covers another.
  std::vector<TPlotLine> Marks;
  std::vector<TPlotLine> Cursors;
  // A legend entry per trace at the right; a trace switched off keeps a pale entry.
  bool Legend = true;
};

// A tick of an axis: its value in axis units and its label (minor ticks have none).
struct TPlotTick {
  double Value = 0.0;
  QString Label;
};

// About six ticks at round steps (1, 2 or 5 times a power of ten), labelled alike.
std::vector<TPlotTick> LinearTicks(double From, double To);
// A tick per decade, labelled in one notation (1, 10, 100, 1k, 10k, ... 1G), and unlabelled
// ticks at 2 to 9 times each decade.
std::vector<TPlotTick> LogTicks(double From, double To);
// A value with an SI prefix and at most three significant digits: 1k, 2.5M, 10m.
QString SiText(double Value);

// The unit a span of time reads best in ("ms", "µs", "ns", "ps") and the factor that turns
// seconds into it.
std::pair<QString, double> TimeUnit(double Span);

// The colour of the Index-th trace: 32 colours that stay apart from each other and from the
// white ground, then round again.
QColor PlotTraceColor(int Index);

// Where the parts of a plot go in a target rectangle, and the mapping between axis units and
// target coordinates. Text is measured in pixels of the plot's font, so every target gets the
// same layout.
class TPlotLayout {
 public:
  TPlotLayout(const TPlot& Plot, const QRectF& Target, const QFont& Font);

  const QRectF& Target() const { return FTarget; }
  const QFont& Font() const { return FFont; }
  // The area inside the axes where the traces are drawn.
  const QRectF& Area() const { return FArea; }
  // Where the title goes, all its lines (empty without a title).
  const QRectF& TitleArea() const { return FTitle; }
  // The legend entry of a trace (empty without a legend or when it does not fit).
  QRectF LegendEntry(int Trace) const;
  // The trace whose legend entry holds the point, or -1.
  int LegendEntryAt(QPointF Point) const;
  // Where a mark's label goes (empty when the mark lies outside the area).
  QRectF MarkLabel(int Mark) const;

  QPointF ToTarget(double X, double Y) const;
  double XAt(double TargetX) const;
  double YAt(double TargetY) const;

 private:
  double xPosition(double X) const;
  void placeMarkLabels(const TPlot& Plot);

  QRectF FTarget;
  QFont FFont;
  QRectF FArea;
  QRectF FTitle;
  std::vector<QRectF> FLegend;
  std::vector<QRectF> FMarkLabels;
  bool FLogX = false;
  double FXFrom = 0.0;
  double FXTo = 1.0;
  double FYFrom = 0.0;
  double FYTo = 1.0;
};

// Draws the plot on a white ground filling the layout's target.
void PaintPlot(QPainter& Painter, const TPlot& Plot, const TPlotLayout& Layout);

// The plot as an SVG document of Size pixels, with Title as its title. Characters XML does not
// allow (control characters in a node's name) become U+FFFD, so that every reader opens it.
QByteArray PlotSvg(const TPlot& Plot, QSize Size, const QFont& Font, const QString& Title);
// The same as an element to put inside an HTML page: no XML prolog, and Size in CSS pixels.
QByteArray PlotSvgElement(const TPlot& Plot, QSize Size, const QFont& Font);

}  // namespace busweave
