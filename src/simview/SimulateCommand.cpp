#include "simview/SimulateCommand.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QWidget>

#include "circuit/CircuitFile.h"
#include "gui/Prompts.h"
#include "model/NetworkContainer.h"
#include "sim/Waveforms.h"
#include "simview/WaveformWindow.h"

namespace busweave {
namespace {

// "tran: 45.3%" gives the analysis and its share done; "--ready--" is done.
std::pair<QString, double> parseProgress(const std::string& Status) {
  const QString text = QString::fromStdString(Status);
  if (text == "--ready--") return {"finishing", 100.0};
  const auto colon = text.indexOf(':');
  const auto percent = text.indexOf('%');
  if (colon < 0 || percent < colon) return {text, 0.0};
  bool ok = false;
  const double share = text.mid(colon + 1, percent - colon - 1).trimmed().toDouble(&ok);
  return {text.left(colon), ok ? share : 0.0};
}

QMainWindow* mainWindowOf(QWidget* Widget) { return qobject_cast<QMainWindow*>(Widget->window()); }

}  // namespace

TSimulateCommand::TSimulateCommand(QWidget* Editor, TCanNodes& Net, TPrompts& Prompts, std::function<void()> Repaint)
    : QObject(Editor), FEditor(Editor), FNet(Net), FPrompts(Prompts), FRepaint(std::move(Repaint)) {
  StatusPanel = new QWidget;
  auto* layout = new QHBoxLayout(StatusPanel);
  layout->setContentsMargins(0, 0, 0, 0);
  ProgressLabel = new QLabel("Simulating", StatusPanel);
  ProgressBar = new QProgressBar(StatusPanel);
  ProgressBar->setRange(0, 1000);
  ProgressBar->setMinimumWidth(110);
  ProgressBar->setMaximumWidth(140);
  ProgressBar->setFormat("%p%");
  CancelButton = new QPushButton("Cancel", StatusPanel);
  CancelButton->setToolTip("Stop the simulation");
  CancelButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  ProgressLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
  layout->addWidget(ProgressLabel);
  layout->addWidget(ProgressBar);
  layout->addWidget(CancelButton);
  connect(CancelButton, &QPushButton::clicked, this, [this] { Cancel(); });
  StatusPanel->hide();
}

TSimulateCommand::~TSimulateCommand() {
  // ngspice's thread must not report to a command that is gone. The editor is half destroyed
  // by now, so nothing of it is touched; the panel leaves the status bar as it is deleted (the
  // status bar may have deleted it already when the main window went first).
  if (FRunning) TSpiceEngine::Instance().Cancel();
  delete StatusPanel.data();
}

TWaveformWindow* TSimulateCommand::Window() const { return FWindow; }

TWaveformWindow& TSimulateCommand::window() {
  if (!FWindow) {
    const QFileInfo network(QString::fromLocal8Bit(FNet.FFileName()));
    FWindow = new TWaveformWindow(FEditor, FPrompts, network.absolutePath() + "/" + network.completeBaseName());
  }
  return *FWindow;
}

void TSimulateCommand::showStatusPanel(bool Visible) {
  if (!StatusPanel) return;
  QMainWindow* main = mainWindowOf(FEditor);
  if (Visible) {
    ProgressBar->setValue(0);
    ProgressBar->setFormat("%p%");
    if (main && StatusPanel->parent() != main->statusBar()) main->statusBar()->addWidget(StatusPanel);
    StatusPanel->show();
  } else {
    if (main && StatusPanel->parent() == main->statusBar()) {
      main->statusBar()->removeWidget(StatusPanel);
      StatusPanel->setParent(nullptr);
    }
    StatusPanel->hide();
  }
}

void TSimulateCommand::Run() {
  if (FRunning) return;
  TSpiceEngine& engine = TSpiceEngine::Instance();
  if (engine.Busy()) {
    FPrompts.Inform(FEditor, "Simulate", "Another document is being simulated. Wait for it or cancel it first.");
    return;
  }
  if (!FNet.FNetworkExists()) return;

  TNgspiceCircuit circuit;
  try {
    std::vector<std::string> warnings;
    circuit = TranslateForNgspice(CircuitFromTemplates(FNet, ".", &warnings));
    FNotes = warnings;
    FNotes.insert(FNotes.end(), circuit.Notes.begin(), circuit.Notes.end());
  } catch (const std::exception& error) {
    FPrompts.ShowError(FEditor, QString::fromLocal8Bit(error.what()));
    return;
  }
  // Generating the network section numbered the node names.
  if (FRepaint) FRepaint();

  std::string error;
  // Called on ngspice's thread: only queue the work for this one.
  const auto notify = [this] {
    QMetaObject::invokeMethod(
        this, [this] { onEngineChanged(); }, Qt::QueuedConnection);
  };
  if (!engine.Start(circuit, notify, error)) {
    TWaveformWindow& shown = window();
    shown.ShowFailure(QString::fromLocal8Bit(error));
    shown.show();
    shown.raise();
    emit Finished();
    return;
  }
  FRunning = true;
  showStatusPanel(true);
  // A run that ended before the notification was set up is caught here.
  onEngineChanged();
}

void TSimulateCommand::onEngineChanged() {
  if (!FRunning) return;
  TSpiceEngine& engine = TSpiceEngine::Instance();
  if (engine.Finished()) {
    finish();
    return;
  }
  const auto [analysis, share] = parseProgress(engine.Progress());
  // The analysis in the bar ("tran 45%"), so that the status bar stays short.
  if (!analysis.isEmpty()) ProgressBar->setFormat(analysis + " %p%");
  ProgressBar->setValue(static_cast<int>(share * 10));
}

void TSimulateCommand::finish() {
  FRunning = false;
  const TSimulationResult result = TSpiceEngine::Instance().Collect();
  showStatusPanel(false);
  TWaveformWindow& shown = window();
  shown.ShowResult(result, FNotes);
  shown.show();
  shown.raise();
  shown.activateWindow();
  emit Finished();
}

void TSimulateCommand::Cancel() {
  if (!FRunning) return;
  FRunning = false;
  TSpiceEngine::Instance().Cancel();
  showStatusPanel(false);
  emit Finished();
}

}  // namespace busweave
