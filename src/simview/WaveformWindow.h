#pragma once

// The waveform window of one document: the node voltages of the last simulation over time, the
// AC magnitudes over frequency, cursors that read values, zoom and pan, and the export of the
// plot (PNG, SVG) and of the data (CSV). A simulation error is shown in the window with
// ngspice's message. The editor owns the window; the window owns its plots.

#include <QWidget>

#include "simview/WaveformPlot.h"
#include "spice/SpiceEngine.h"

class QLabel;
class QPlainTextEdit;
class QTabWidget;
class QTableWidget;
class QToolBar;
class QAction;

namespace busweave {

class TPrompts;

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
  // One more page of time plots after those of the result; FilePart names its exports
  // (BaseName-FilePart.png).
  TWaveformPlot* AddTimePlot(const TWaveforms& Waves, const QString& Tab, const QString& FilePart);
  // A line above the plots that says what they no longer show (empty: none); the next result
  // takes it away.
  void ShowNotice(const QString& Text);

  QTabWidget* Tabs;
  QLabel* Notice;
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
