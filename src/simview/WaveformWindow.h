#pragma once

// The waveform window of one document: the node voltages of the last simulation over time, the
// AC magnitudes over frequency, cursors that read values, zoom and pan, and the export of the
// plot (PNG, SVG) and of the data (CSV). A simulation error is shown in the window with
// ngspice's message. The editor owns the window; the window owns its plots.

#include <QWidget>
#include <array>
#include <optional>

#include "plot/Plot.h"
#include "spice/SpiceEngine.h"
#include "verdict/BusAnalysis.h"

class QLabel;
class QPlainTextEdit;
class QRubberBand;
class QTabWidget;
class QTableWidget;
class QToolBar;
class QAction;

namespace busweave {

class TPrompts;

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

class TWaveformWindow : public QWidget {
  Q_OBJECT

 public:
  // BaseName is the network file without extension; exports propose BaseName-transient.png and
  // the like.
  TWaveformWindow(QWidget* Parent, TPrompts& Prompts, const QString& BaseName);

  // A finished run: its plots, and its error above them when it failed.
  void ShowResult(const TSimulationResult& Result, const std::vector<std::string>& Notes);
  // A run that could not start: ngspice's message alone.
  void ShowFailure(const QString& Message);

  QTabWidget* Tabs;
  QPlainTextEdit* ErrorText;
  QLabel* Summary;
  QTableWidget* Readout;
  QToolBar* ToolBar;
  QAction* ExportPngAction;
  QAction* ExportSvgAction;
  QAction* ExportCsvAction;
  QAction* WholePlotAction;

  TWaveformPlot* TransientPlot() const { return FTransient; }
  TWaveformPlot* AcPlot() const { return FAc; }
  // The plot of the page in front, if any.
  TWaveformPlot* CurrentPlot() const;

  // The exports of the plot in front; false (with a message) when the file cannot be written.
  bool ExportPng(const QString& Path);
  bool ExportSvg(const QString& Path);
  bool ExportCsv(const QString& Path);

 protected:
  void showEvent(QShowEvent* Event) override;

 private:
  void fitOnScreen();
  void clearPlots();
  void updateReadout();
  void updateActions();
  void askAndExport(const QString& What, const QString& Filter, const QString& Suffix,
                    bool (TWaveformWindow::*Export)(const QString&));
  bool writeBytes(const QString& Path, const QByteArray& Bytes);

  TPrompts& FPrompts;
  QString FBaseName;
  QWidget* FPlots = nullptr;  // the pages and the readout below them
  TWaveformPlot* FTransient = nullptr;
  TWaveformPlot* FAc = nullptr;
  bool FPlaced = false;
};

}  // namespace busweave
