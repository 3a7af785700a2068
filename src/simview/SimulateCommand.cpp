#include "simview/SimulateCommand.h"

#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QWidget>

#include "circuit/CircuitFile.h"
#include "gui/Prompts.h"
#include "model/NetworkContainer.h"
#include "simview/WaveformWindow.h"
#include "spice/Waveforms.h"

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

// The command whose circuit is being translated: the engine is not busy yet, but it is taken.
// Touched on the window's thread only.
const TSimulateCommand* translating = nullptr;

}  // namespace

// What the translation hands back: the circuit, or why there is none.
struct TSimulateCommand::Translated {
  TNgspiceCircuit Circuit;
  std::string Error;
};

TSimulateCommand::TSimulateCommand(QWidget* Editor, TCanNodes& Net, TPrompts& Prompts, std::function<void()> Repaint)
    : TBackgroundCommand(Editor, Prompts, "Simulating", "Stop the simulation", 140),
      FNet(Net),
      FRepaint(std::move(Repaint)) {}

TSimulateCommand::~TSimulateCommand() {
  // ngspice's thread must not report to a command that is gone. The editor is half destroyed
  // by now, so nothing of it is touched.
  if (Running() && !FTranslating) TSpiceEngine::Instance().Cancel();
  if (translating == this) translating = nullptr;
  // The translation stops at its next statement; the job waits for it as it goes.
  FTranslation.Cancel();
}

TWaveformWindow* TSimulateCommand::Window() const { return FWindow; }

TWaveformWindow& TSimulateCommand::window() {
  if (!FWindow) {
    const QFileInfo network(QString::fromLocal8Bit(FNet.FFileName()));
    FWindow = new TWaveformWindow(FEditor, FPrompts, network.absolutePath() + "/" + network.completeBaseName());
  }
  return *FWindow;
}

void TSimulateCommand::Run() {
  if (Running()) return;
  TSpiceEngine& engine = TSpiceEngine::Instance();
  if (engine.Busy() || translating) {
    FPrompts.Inform(FEditor, "Simulate", "Another document is being simulated. Wait for it or cancel it first.");
    return;
  }
  if (!FNet.FNetworkExists()) return;

  // Templates and the network section here, where the network lives (generating the section
  // numbers the node names); the translation, which a template can make slow, on a worker.
  TextLines lines;
  TTranslationOptions options;
  try {
    std::vector<std::string> warnings;
    TCircuitSources sources;
    lines = CircuitFromTemplates(FNet, ".", &warnings, &sources);
    options.Sources = sources;
    FNotes = warnings;
  } catch (const std::exception& error) {
    FPrompts.ShowError(FEditor, QString::fromLocal8Bit(error.what()));
    return;
  }
  // Generating the network section numbered the node names.
  if (FRepaint) FRepaint();

  FTranslating = true;
  translating = this;
  begin();
  showBusy("preparing");
  FTranslation.Run(
      [lines = std::move(lines), options](const TJobRun& Job) {
        auto outcome = std::make_shared<Translated>();
        try {
          outcome->Circuit = TranslateForNgspice(lines, Job.Stop, options);
        } catch (const std::exception& error) {
          outcome->Error = error.what();
        } catch (...) {
          outcome->Error = "The circuit could not be translated for ngspice.";
        }
        return outcome;
      },
      [this](std::shared_ptr<Translated> Outcome) { onTranslated(Outcome); });
}

void TSimulateCommand::onTranslated(const std::shared_ptr<Translated>& Outcome) {
  FTranslating = false;
  if (translating == this) translating = nullptr;
  if (!Outcome->Error.empty()) {
    end();
    FPrompts.ShowError(FEditor, QString::fromLocal8Bit(Outcome->Error));
    emit Finished();
    return;
  }
  FNotes.insert(FNotes.end(), Outcome->Circuit.Notes.begin(), Outcome->Circuit.Notes.end());
  startEngine(Outcome->Circuit);
}

void TSimulateCommand::startEngine(const TNgspiceCircuit& Circuit) {
  std::string error;
  // Called on ngspice's thread: only queue the work for this one.
  const auto notify = [this] {
    QMetaObject::invokeMethod(
        this, [this] { onEngineChanged(); }, Qt::QueuedConnection);
  };
  if (!TSpiceEngine::Instance().Start(Circuit, notify, error)) {
    end();
    TWaveformWindow& shown = window();
    shown.ShowFailure(QString::fromLocal8Bit(error));
    shown.show();
    shown.raise();
    emit Finished();
    return;
  }
  showCount(0, 1000, "%p%");
  // A run that ended before the notification was set up is caught here.
  onEngineChanged();
}

void TSimulateCommand::onEngineChanged() {
  if (!Running()) return;
  TSpiceEngine& engine = TSpiceEngine::Instance();
  if (engine.Finished()) {
    finish();
    return;
  }
  const auto [analysis, share] = parseProgress(engine.Progress());
  // The analysis in the bar ("tran 45%"), so that the status bar stays short.
  showCount(static_cast<std::size_t>(share * 10), 1000, analysis.isEmpty() ? QString("%p%") : analysis + " %p%");
}

void TSimulateCommand::finish() {
  const TSimulationResult result = TSpiceEngine::Instance().Collect();
  end();
  TWaveformWindow& shown = window();
  shown.ShowResult(result, FNotes);
  shown.show();
  shown.raise();
  shown.activateWindow();
  emit Finished();
}

void TSimulateCommand::Cancel() {
  if (!Running()) return;
  if (FTranslating) {
    // The translation stops at its next statement; what it still sends is dropped.
    FTranslating = false;
    if (translating == this) translating = nullptr;
    FTranslation.Cancel();
  } else {
    TSpiceEngine::Instance().Cancel();
  }
  end();
  emit Finished();
}

}  // namespace busweave
