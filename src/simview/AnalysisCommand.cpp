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
const QColor kOtherSamples(0x90, 0x90, 0x90);
const QString kNetworkChanged =
    "These waveforms are of the network before its last changes; Edit > Analyze bus analyses it again.";

const TStationResponse* stationIn(const TTransmitterRun& Run, int Station) {
  for (const TStationResponse& s : Run.Stations)
    if (s.Station == Station) return &s;
  return nullptr;
}

QString nsText(double Seconds) { return QString::number(Seconds * 1e9, 'f', 0) + " ns"; }

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

std::optional<TPairStream> PairStream(const TTransmitterRun& Run, int Receiver, const TStreamVerdict& Verdict,
                                      const TAnalysisSettings& Settings, std::int64_t BitRate) {
  const TStationResponse* sender = stationIn(Run, Run.Transmitter);
  const TStationResponse* receiver = stationIn(Run, Receiver);
  if (!sender || !receiver || BitRate <= 0) return std::nullopt;
  const TDriverReference reference = VerdictReference(Verdict);
  TPairStream stream;
  stream.BitRate = BitRate;
  const TWave sent = StreamTrace(*sender, reference, Settings, BitRate);
  const TWave seen = StreamTrace(*receiver, reference, Settings, BitRate);
  stream.Waves = PairWaveforms({sender->Station, sent.Time, sent.Volts}, sender->Name,
                               {receiver->Station, seen.Time, seen.Volts}, receiver->Name);
  stream.Decoded =
      DecodeStream(seen, Receiver == Run.Transmitter, DecodeSettingsOf(Settings, TBusPhase::Data, BitRate));
  for (const TReceiverMargin& m : Verdict.Margins)
    if (m.Phase == TBusPhase::Data && m.BitRate == BitRate && m.Transmitter == sender->Name &&
        m.Receiver == receiver->Name)
      stream.Verdict = m.Works ? MarginText(m) : m.Text;
  return stream;
}

// What the worker hands back: the runs and their verdict, or why there are none.
struct TAnalysisCommand::Outcome {
  std::vector<TStation> Stations;
  std::vector<TTransmitterRun> Runs;
  std::vector<TPairMeasure> Pairs;
  TStreamVerdict Verdict;
  TAnalysisSettings Settings;
  double EdgeAt = 0.0;
  double Hold = 0.0;
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
      [this, lines = std::move(lines), sources = std::move(sources), program = program.toLocal8Bit().toStdString(),
       runner = Runner](const TJobRun& Job) {
        // A stopped analysis returns what it has; its outcome is dropped.
        auto outcome = std::make_shared<Outcome>();
        try {
          const TAnalysisPlan plan = PlanAnalysis(lines, sources);
          outcome->Stations = plan.Stations;
          outcome->EdgeAt = plan.EdgeAt;
          outcome->Hold = plan.Hold;
          TAnalyzeOptions options;
          options.Run.Program = program;
          options.Run.Runner = runner;
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
    markWindowOld("These waveforms are of the previous analysis: the new one failed.");
    emit Finished();
    return;
  }
  FRuns = std::move(Result->Runs);
  FSettings = Result->Settings;
  FVerdict = std::move(Result->Verdict);
  FEdgeAt = Result->EdgeAt;
  FHold = Result->Hold;
  FStations.clear();
  for (const TStation& station : Result->Stations) {
    const std::size_t number = static_cast<std::size_t>(std::stoul(station.Spice));
    FStations.push_back(number >= 1 && number <= FDrawn.size() ? FDrawn[number - 1] : TDrawnNode{});
  }
  FPanel->ShowVerdict(FVerdict, Result->Pairs, FCheckErrors);
  FWindowOld = editedDuringRun();
  if (FWindowOld) FPanel->MarkOutdated();
  refreshWindow();
  if (FShow) FShow(true);
  emit Finished();
}

void TAnalysisCommand::NetworkChanged() {
  noteEdit();
  if (Running()) return;
  FPanel->MarkOutdated();
  FWindowOld = true;
  markWindowOld(kNetworkChanged);
}

void TAnalysisCommand::markWindowOld(const QString& Text) {
  if (FWindow && FShownPair) FWindow->ShowNotice(Text);
}

void TAnalysisCommand::refreshWindow() {
  if (!FWindow || !FShownPair) return;
  const TPairMeasure old = *FShownPair;
  const std::vector<TPairMeasure>& pairs = FPanel->PairList();
  for (std::size_t i = 0; i < pairs.size(); ++i)
    if (pairs[i].TransmitterName == old.TransmitterName && pairs[i].ReceiverName == old.ReceiverName &&
        pairs[i].Edge == old.Edge) {
      FPanel->SelectPair(i);
      if (FWindow->isVisible())
        showPair(i, false);
      else
        FShownPair.reset();  // closed: the next pair picked opens it afresh
      return;
    }
  markWindowOld("These waveforms are of the previous analysis: the new one has no pair " +
                QString::fromStdString(old.TransmitterName) + " \u2192 " + QString::fromStdString(old.ReceiverName) +
                ". Pick a pair in the bus analysis panel.");
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

void TAnalysisCommand::ShowPair(std::size_t Pair) { showPair(Pair, true); }

void TAnalysisCommand::showPair(std::size_t Pair, bool Raise) {
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
  FShownPair = pair;
  const TThresholds& thresholds = FSettings.Thresholds;
  const QString sentName = QString::fromStdString(pair.TransmitterName);
  const QString seenName = QString::fromStdString(pair.ReceiverName);
  const double hold = run->Hold > 0.0 ? run->Hold : FHold;
  const std::vector<TEdgeSamplePoint> points =
      EdgeRunSamplePoints(*run, pair.Receiver, FVerdict, FSettings, FEdgeAt, FHold);
  QStringList rates;
  if (TWaveformPlot* plot = shown.TransientPlot()) {
    plot->SetThresholds(thresholds);
    std::vector<TPlotLine> marks;
    for (const TEdgeSamplePoint& point : points)
      marks.push_back({point.Time, "sample point " + BitRateText(point.BitRate),
                       point.Works ? kWorkingMark : kFailingMark, point.Works ? Qt::SolidLine : Qt::DashLine});
    plot->SetMarks(std::move(marks));
  }
  // Per rate its dominant edge's point, then its recessive edge's.
  for (std::size_t i = 0; i + 1 < points.size(); i += 2)
    rates << QString("at %1 (%2) %3 after the dominant and %4 after the recessive TXD edge")
                 .arg(BitRateText(points[i].BitRate),
                      points[i].Works ? "highest working data rate, solid" : "lowest failing, dashed",
                      nsText(points[i].Time - FEdgeAt), nsText(points[i + 1].Time - FEdgeAt - hold));
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
  if (!rates.isEmpty()) {
    summary += QString(
                   " Sample points where the verdict reads the bits the two TXD edges start: %1 synchronises on "
                   "the dominant edge as it sees it and samples %2 % of a bit later, ")
                   .arg(seenName)
                   .arg(FSettings.DataSamplePoint * 100, 0, 'f', 0) +
               rates.join("; ") + ".";
    if (const double shift = DriverCompensation(VerdictReference(FVerdict), FSettings); shift != 0.0)
      summary += " In the verdict's stream the recessive TXD edges go out " + nsText(shift) +
                 " early (the driver's asymmetry taken out): here, on the run as made, their marks lie that much "
                 "later.";
  }
  summary += showStream(shown, *run, pair);
  shown.Summary->setText(summary);
  if (FWindowOld) markWindowOld(kNetworkChanged);
  // In view, but the focus stays in the table, so that the arrow keys go on through the pairs.
  shown.show();
  if (Raise) shown.raise();
}

QString TAnalysisCommand::showStream(TWaveformWindow& Shown, const TTransmitterRun& Run, const TPairMeasure& Pair) {
  // The failing bit where a data rate fails, else the least margin at the highest that works.
  const auto [working, failing] = EyeDataRates(FVerdict.Bus);
  const std::int64_t rate = failing ? failing : working;
  const auto stream = PairStream(Run, Pair.Receiver, FVerdict, FSettings, rate);
  if (!stream || stream->Decoded.Samples.empty()) return {};
  const TDecodeResult& decoded = stream->Decoded;
  TWaveformPlot* plot = Shown.AddTimePlot(stream->Waves, "&Stream at " + BitRateText(rate), "stream");
  plot->SetThresholds(FSettings.Thresholds);
  const std::size_t bit = decoded.Error ? decoded.Error->Bit : decoded.LeastMarginBit;
  std::vector<TPlotLine> marks;
  for (std::size_t k = 0; k < decoded.Samples.size(); ++k)
    if (k != bit) marks.push_back({decoded.Samples[k], {}, kOtherSamples, Qt::DotLine});
  const QString label = decoded.Error ? QString("bit %1 read %2").arg(bit + 1).arg(BitReadName(decoded.Error->Read))
                                      : QString("bit %1: least margin").arg(bit + 1);
  marks.push_back({decoded.Samples[bit], label, decoded.Error ? kFailingMark : kWorkingMark, Qt::SolidLine});
  plot->SetMarks(std::move(marks));
  const double bitTime = 1.0 / static_cast<double>(rate);
  plot->ShowRange(decoded.BitStarts[bit] - 3 * bitTime, decoded.BitStarts[bit] + 4 * bitTime);
  QString text = " The Stream page shows the worst-case bit stream at " + BitRateText(rate) +
                 " as the verdict composed it from these responses, every sample point dotted, around the bit "
                 "that decides";
  if (!stream->Verdict.empty()) text += ": " + QString::fromStdString(stream->Verdict);
  return text + ".";
}

}  // namespace busweave
