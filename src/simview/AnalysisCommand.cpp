#include "simview/AnalysisCommand.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QWidget>
#include <algorithm>
#include <thread>

#include "analysis/AnalyzeBus.h"
#include "circuit/CircuitFile.h"
#include "gui/Prompts.h"
#include "model/BusCheck.h"
#include "model/NameText.h"
#include "model/NetworkContainer.h"
#include "simview/AnalysisPanel.h"
#include "simview/WaveformWindow.h"
#include "spice/Waveforms.h"

namespace busweave {
namespace {

// The sample points drawn: green at a rate that works, as the eye diagrams draw theirs.
const QColor kWorkingMark(0x17, 0x70, 0x2b);
const QColor kFailingMark(0xb0, 0x50, 0x00);

bool isProgram(const QString& Path) {
  const QFileInfo file(Path);
  return file.isFile() && file.isExecutable();
}

}  // namespace

std::optional<QString> FindAnalysisProgram() {
  const QString folder = QCoreApplication::applicationDirPath();
  for (const QString& path : {folder + "/busweave-cli", folder + "/../cli/busweave-cli"})
    if (isProgram(path)) return QFileInfo(path).absoluteFilePath();
  const QString named = qEnvironmentVariable("BUSWEAVE_CLI");
  if (!named.isEmpty() && isProgram(named)) return named;
  return std::nullopt;
}

TWaveforms PairWaveforms(const TPlotTrace& Sent, const std::string& SentName, const TPlotTrace& Seen,
                         const std::string& SeenName) {
  TWaveforms waves;
  waves.ScaleName = "time";
  waves.Scale = Sent.Time;
  waves.Scale.insert(waves.Scale.end(), Seen.Time.begin(), Seen.Time.end());
  std::sort(waves.Scale.begin(), waves.Scale.end());
  waves.Scale.erase(std::unique(waves.Scale.begin(), waves.Scale.end()), waves.Scale.end());
  for (const auto& [trace, name] : {std::pair{&Sent, &SentName}, std::pair{&Seen, &SeenName}}) {
    TTrace& out = waves.Traces.emplace_back();
    out.Name = *name;
    out.Values.reserve(waves.Scale.size());
    for (const double t : waves.Scale) out.Values.push_back(ValueAt(trace->Time, trace->Volts, t).value_or(0.0));
  }
  return waves;
}

// What the worker hands back: the runs and their verdict, or why there are none.
struct TAnalysisCommand::Outcome {
  std::vector<TStation> Stations;
  std::vector<TTransmitterRun> Runs;
  std::vector<TPairMeasure> Pairs;
  TStreamVerdict Verdict;
  TAnalysisSettings Settings;
  std::vector<TEdgeSamplePoint> SamplePoints;
  std::string Error;
};

TAnalysisCommand::TAnalysisCommand(QWidget* Editor, TCanNodes& Net, TPrompts& Prompts, std::function<void()> Repaint,
                                   std::function<void(const std::vector<TPoint>&)> Mark, std::function<void(bool)> Show)
    : TBackgroundCommand(Editor, Prompts, "Analysing the bus", "Stop the bus analysis", 160),
      FNet(Net),
      FRepaint(std::move(Repaint)),
      FMark(std::move(Mark)),
      FShow(std::move(Show)) {
  FPanel = new TAnalysisPanel;
  FPanel->OnSelect = [this](std::size_t Pair) { ShowPair(Pair); };
}

TAnalysisCommand::~TAnalysisCommand() {
  // The runs stop within moments of the request (their worker processes are killed); the job
  // waits for them as it goes, and their news is dropped. The editor is half destroyed by now:
  // nothing of it is touched.
  FAnalysis.Cancel();
  delete FPanel;
}

TWaveformWindow* TAnalysisCommand::Window() const { return FWindow; }

TWaveformWindow& TAnalysisCommand::window() {
  if (!FWindow) {
    const QFileInfo network(QString::fromLocal8Bit(FNet.FFileName()));
    FWindow =
        new TWaveformWindow(FEditor, FPrompts, network.absolutePath() + "/" + network.completeBaseName() + "-analysis");
  }
  return *FWindow;
}

void TAnalysisCommand::Run() {
  if (Running() || !FNet.FNetworkExists()) return;
  QString program = Program;
  if (program.isEmpty()) {
    const auto found = FindAnalysisProgram();
    if (!found) {
      fail(
          "The bus cannot be analysed: busweave-cli, which runs the simulations, was not found beside this "
          "program (" +
          QCoreApplication::applicationDirPath() + ") nor in its build tree. Set BUSWEAVE_CLI to its path.");
      return;
    }
    program = *found;
  }

  // The circuit here, where the network lives (generating it numbers the node names); planning
  // the runs, which translates the circuit, on the worker.
  TextLines lines;
  TCircuitSources sources;
  try {
    lines = CircuitFromTemplates(FNet, ".", nullptr, &sources);
  } catch (const std::exception& error) {
    fail(failure("The bus cannot be analysed: ", QString::fromStdString(error.what())));
    return;
  }
  if (FRepaint) FRepaint();
  // The bus check's errors go above the verdict: a bus the check calls broken is seen as such.
  FCheckErrors.clear();
  for (const TFinding& finding : CheckBus(FNet, TCheckSettings{}))
    if (finding.Severity == TSeverity::Error) FCheckErrors.push_back(NameToUtf8(finding.Message));
  // Circuit node k is the network's element k - 1 (a wire's number is never used).
  FDrawn.assign(static_cast<std::size_t>(FNet.Count()), {});
  for (int i = 0; i < FNet.Count(); ++i)
    if (const TNode* node = FNet.NodeAtIndex(i)) FDrawn[static_cast<std::size_t>(i)] = {node->FPos, node->FName};

  begin();
  // A verdict on view stays until the new one replaces it (a cancelled run keeps it).
  if (FPanel->HasVerdict())
    FPanel->ShowNote("Analysing the bus again; below, the last analysis.");
  else
    FPanel->ShowMessage("Analysing the bus: each station with a driver transmits in turn.");
  if (FShow) FShow(true);
  // A former analysis still stopping ends first, on the job's thread; it was told to stop when
  // cancelled.
  FAnalysis.Run(
      [this, lines = std::move(lines), sources = std::move(sources),
       program = program.toLocal8Bit().toStdString()](const TJobRun& Job) {
        // A stopped analysis returns what it has; its outcome is dropped.
        auto outcome = std::make_shared<Outcome>();
        try {
          const TAnalysisPlan plan = PlanAnalysis(lines, sources);
          outcome->Stations = plan.Stations;
          TAnalyzeOptions options;
          options.Run.Program = program;
          options.Run.Jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
          options.Run.KeepTraces = true;
          options.Run.Stop = Job.Stop;
          // Called on the job's thread: the news goes to the window's.
          options.Run.Progress = [this, &Job](const TRunProgress& Progress) {
            Job.Post([this, Progress] { onProgress(Progress); });
          };
          options.Checking = [this, &Job] { Job.Post([this] { onChecking(); }); };
          TBusAnalysis analysis = AnalyzeBus(plan, outcome->Settings, options);
          if (analysis.Cancelled) return outcome;  // stopped
          outcome->Runs = std::move(analysis.Runs);
          outcome->Pairs = PairsOf(outcome->Runs);
          outcome->Verdict = std::move(analysis.Verdict);
          outcome->SamplePoints = std::move(analysis.SamplePoints);
        } catch (const std::exception& error) {
          outcome->Error = error.what();
        }
        return outcome;
      },
      [this](std::shared_ptr<Outcome> Result) { onDone(Result); });
}

void TAnalysisCommand::onProgress(const TRunProgress& Progress) {
  showCount(Progress.Done, Progress.Total, "%v of %m transmitters");
}

void TAnalysisCommand::onChecking() { showBusy("checking the deciding rates"); }

void TAnalysisCommand::onDone(const std::shared_ptr<Outcome>& Result) {
  end();
  if (!Result->Error.empty()) {
    fail(failure("The bus cannot be analysed: ", QString::fromStdString(Result->Error)));
    emit Finished();
    return;
  }
  FRuns = std::move(Result->Runs);
  FSettings = Result->Settings;
  FSamplePoints = Result->SamplePoints;
  FStations.clear();
  for (const TStation& station : Result->Stations) {
    const std::size_t number = static_cast<std::size_t>(std::stoul(station.Spice));
    FStations.push_back(number >= 1 && number <= FDrawn.size() ? FDrawn[number - 1] : TDrawnNode{});
  }
  FPanel->ShowVerdict(Result->Verdict, Result->Pairs, FCheckErrors);
  if (editedDuringRun()) FPanel->MarkOutdated();
  if (FShow) FShow(true);
  emit Finished();
}

void TAnalysisCommand::NetworkChanged() {
  noteEdit();
  if (!Running()) FPanel->MarkOutdated();
}

void TAnalysisCommand::fail(const QString& Message) {
  FPanel->ShowMessage(Message);
  if (FShow) FShow(false);
  FPrompts.ShowError(FEditor, Message);
}

void TAnalysisCommand::Cancel() {
  if (!Running()) return;
  // The job kills its worker processes and ends; what it still sends is dropped.
  FAnalysis.Cancel();
  end();
  if (FPanel->HasVerdict()) {
    FPanel->ShowNote("The bus analysis was cancelled; below, the last one.");
    if (editedDuringRun()) FPanel->MarkOutdated();
  } else {
    FPanel->ShowMessage("The bus analysis was cancelled.");
  }
  emit Finished();
}

void TAnalysisCommand::ShowPair(std::size_t Pair) {
  const std::vector<TPairMeasure>& pairs = FPanel->PairList();
  if (Pair >= pairs.size()) return;
  const TPairMeasure& pair = pairs[Pair];
  const auto station = [&](int Index) -> const TDrawnNode* {
    return Index >= 0 && static_cast<std::size_t>(Index) < FStations.size()
               ? &FStations[static_cast<std::size_t>(Index)]
               : nullptr;
  };
  const TDrawnNode* sender = station(pair.Transmitter);
  const TDrawnNode* receiver = station(pair.Receiver);
  if (!sender || !receiver) return;
  // Nodes moved or deleted since the analysis are no longer where it saw them: nothing is marked.
  if (FMark) FMark({sender->Position, receiver->Position});

  const auto run = std::find_if(FRuns.begin(), FRuns.end(),
                                [&](const TTransmitterRun& R) { return R.Transmitter == pair.Transmitter; });
  if (run == FRuns.end()) return;
  const TPlotTrace* sent = nullptr;
  const TPlotTrace* seen = nullptr;
  for (const TPlotTrace& trace : run->Traces) {
    if (trace.Station == pair.Transmitter) sent = &trace;
    if (trace.Station == pair.Receiver) seen = &trace;
  }
  if (!sent || !seen) return;
  TSimulationResult result;
  result.Ok = true;
  result.Transient = PairWaveforms(*sent, sender->Name, *seen, receiver->Name);
  TWaveformWindow& shown = window();
  shown.ShowResult(result, {});
  const TThresholds& thresholds = FSettings.Thresholds;
  QStringList rates;
  if (TWaveformPlot* plot = shown.TransientPlot()) {
    plot->SetThresholds(thresholds);
    std::vector<TPlotLine> marks;
    for (const TEdgeSamplePoint& point : FSamplePoints) {
      const QString rate = BitRateText(point.BitRate);
      marks.push_back({point.Time, "sample point " + rate, point.Works ? kWorkingMark : kFailingMark,
                       point.Works ? Qt::SolidLine : Qt::DashLine});
      const QString named = rate + (point.Works ? " (highest working data rate, solid)" : " (lowest failing, dashed)");
      if (!rates.contains(named)) rates << named;
    }
    plot->SetMarks(std::move(marks));
  }
  const QString sentName = QString::fromStdString(pair.TransmitterName);
  const QString seenName = QString::fromStdString(pair.ReceiverName);
  shown.setWindowTitle("Waveforms - " + sentName + " \u2192 " + seenName);
  // The run's own summary speaks of a simulation step this view does not have.
  QString summary = QString(
                        "%1 transmitting, seen at %2 (%3 edge): delay %4, settling %5. Thresholds: "
                        "dominant at or above %6 V, recessive at or below %7 V.")
                        .arg(sentName, seenName, EdgeName(pair.Edge),
                             pair.Delay ? QString::number(*pair.Delay * 1e9, 'f', 1) + " ns" : QString("none"),
                             pair.Settle ? QString::number(*pair.Settle * 1e9, 'f', 1) + " ns" : QString("never"))
                        .arg(thresholds.Dominant)
                        .arg(thresholds.Recessive);
  if (!rates.isEmpty())
    summary += " Sample points of the bits the two TXD edges start, at " + rates.join(" and ") + ".";
  shown.Summary->setText(summary);
  // In view, but the focus stays in the table, so that the arrow keys go on through the pairs.
  shown.show();
  shown.raise();
}

}  // namespace busweave
