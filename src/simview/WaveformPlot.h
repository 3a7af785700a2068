#pragma once

// The plot of one analysis in the waveform window: the node voltages over time or the AC
// magnitudes over frequency, with cursors, zoom and pan. The window owns its plots.

#include <QWidget>
#include <array>
#include <optional>

#include "plot/Plot.h"
#include "spice/SpiceEngine.h"
#include "verdict/BusAnalysis.h"

class QRubberBand;

namespace busweave {

// One analysis as a plot: a line per node, a legend whose entries switch lines on and off,
// cursors A and B, zoom (drag, wheel) and pan (right or middle drag, arrow keys). The transient
// plot also shows the receivers' thresholds. The drawing is the shared plot routine's.
class TWaveformPlot : public QWidget {
  Q_OBJECT

 public:
  enum TScaleKind { skTime, skFrequency };

  TWaveformPlot(const TWaveforms& Waves, TScaleKind Kind, QWidget* Parent = nullptr);

  const TWaveforms& Waves() const { return FWaves; }
  TScaleKind Kind() const { return FKind; }
  int TraceCount() const { return static_cast<int>(FPlot.Traces.size()); }
  QString TraceName(int Index) const { return trace(Index).Name; }
  // The points drawn for the part in view, in axis units (time times UnitFactor).
  const QList<QPointF>& TracePoints(int Index) const { return trace(Index).Points; }
  bool TraceVisible(int Index) const { return trace(Index).Visible; }
  void SetTraceVisible(int Index, bool Visible);

  // Cursors in scale units (seconds, hertz); 0 is A, 1 is B.
  std::optional<double> Cursor(int Which) const { return FCursors[static_cast<std::size_t>(Which)]; }
  void SetCursor(int Which, double X);
  // The scale value under a point of the view.
  std::optional<double> ScaleAt(QPoint ViewPoint) const;
  // The point of the view that shows scale value X at value Y.
  QPoint ViewPoint(double X, double Y) const;
  // The legend entry of a trace, in view coordinates; a click on it switches the line.
  QRect LegendEntry(int Index) const;
  // The plot as drawn, and as SVG text of the view's size.
  const TPlot& Plot() const { return FPlot; }
  QByteArray Svg(const QString& Title) const;

  // The receivers' thresholds drawn on a transient plot (the bus analysis's own until set).
  void SetThresholds(const TThresholds& Thresholds);
  // Labelled vertical marks at scale values (seconds, hertz), in place of those before.
  void SetMarks(std::vector<TPlotLine> Marks);

  // The visible part of the scale, in scale units.
  std::pair<double, double> VisibleRange() const;
  void ShowRange(double From, double To);
  void ShowWhole();

  // "µs" and 1e6 for a run of microseconds; the axis shows scale * factor.
  QString UnitName() const { return FUnitName; }
  double UnitFactor() const { return FUnitFactor; }

 signals:
  void CursorsChanged();

 protected:
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void wheelEvent(QWheelEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

 private:
  const TPlotCurve& trace(int Index) const { return FPlot.Traces[static_cast<std::size_t>(Index)]; }
  TPlotLayout layout() const;
  void refreshPoints();
  void fitVertically();
  void showAxisRange(double From, double To);
  void scrollBy(double Dx, double Dy);
  void zoomAroundMiddle(double Factor);
  double toAxis(double X) const;
  double fromAxis(double X) const;

  TWaveforms FWaves;
  TScaleKind FKind;
  QString FUnitName;
  double FUnitFactor = 1.0;
  TPlot FPlot;
  std::array<std::optional<double>, 2> FCursors;
  QRubberBand* FRubberBand = nullptr;
  QPoint FPressPoint;
  QPoint FLastPoint;
  Qt::MouseButton FPressButton = Qt::NoButton;
  bool FDragged = false;
};

}  // namespace busweave
