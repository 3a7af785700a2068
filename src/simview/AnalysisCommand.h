#pragma once

// The Analyze bus command of one editor: builds the circuit from the current templates as
// Simulate does, then on a thread of its own plans the analysis and runs every station with a
// driver as the transmitter in worker processes (busweave-cli), with a progress bar and a
// Cancel button in the main window's status bar; the window stays usable meanwhile. The
// verdict and the pairs go to the document's analysis panel; a pair picked there is marked in
// the drawing and its two node voltages are shown in a waveform window. The editor owns the
// command (as its child); the command owns the panel and the waveform window.

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/AnalysisRun.h"
#include "gui/LatestJob.h"
#include "model/Elements.h"
#include "simview/BackgroundCommand.h"
#include "spice/SpiceEngine.h"

class QWidget;

namespace busweave {

class TAnalysisPanel;
class TCanNodes;
class TPrompts;
class TWaveformWindow;

// busweave-cli, which runs the transmitters: beside the running program, else in the build
// tree's src/cli (the program runs from src/shell there), else $BUSWEAVE_CLI. None when no
// such executable file exists.
std::optional<QString> FindAnalysisProgram();

// The transmitter's and the receiver's node voltages on one time scale: the points of both
// (each thinned with its peaks kept), each trace read between its own points.
TWaveforms PairWaveforms(const TPlotTrace& Sent, const std::string& SentName, const TPlotTrace& Seen,
                         const std::string& SeenName);

// The worst-case stream at one data rate as the verdict composed it for a pair (the first bit
// starting at 0 s), and what the receiver decoded of it.
struct TPairStream {
  std::int64_t BitRate = 0;
  TWaveforms Waves;  // the transmitter's node, then the receiver's
  TDecodeResult Decoded;
  std::string Verdict;  // the verdict's sentence on this pair at this rate
};
std::optional<TPairStream> PairStream(const TTransmitterRun& Run, int Receiver, const TStreamVerdict& Verdict,
                                      const TAnalysisSettings& Settings, std::int64_t BitRate);

class TAnalysisCommand : public TBackgroundCommand {
  Q_OBJECT

 public:
  // Repaint redraws the network, whose node names the circuit numbers; Mark marks the nodes at
  // these places in the drawing; Show brings the panel into view (in front when its argument is
  // true).
  TAnalysisCommand(QWidget* Editor, TCanNodes& Net, TPrompts& Prompts, std::function<void()> Repaint,
                   std::function<void(const std::vector<TPoint>&)> Mark, std::function<void(bool)> Show);
  ~TAnalysisCommand() override;

  // The command: starts an analysis (or tells why it cannot).
  void Run();
  // Stops the analysis of this document, if any; its worker processes are ended.
  void Cancel() override;
  // The network was edited: a verdict shown, or one still being made, is of the old network.
  void NetworkChanged();

  // Marks the pair's two stations and shows their waveforms; Pair indexes the panel's pairs.
  void ShowPair(std::size_t Pair);

  TAnalysisPanel* Panel() const { return FPanel; }
  // The waveform window of the picked pairs, once one was picked.
  TWaveformWindow* Window() const;

  // The worker program; found by FindAnalysisProgram() when empty.
  QString Program;
  // Who makes the runs in place of the worker program (tests give a fake); none: the program.
  std::shared_ptr<const TRunner> Runner;

 private:
  struct Outcome;
  // Where a circuit node is drawn and what it is called there, as it was when the circuit was
  // made: the runs name nodes by their number in the circuit.
  struct TDrawnNode {
    TPoint Position;
    std::string Name;  // as the drawing stores it
  };
  void onProgress(const TRunProgress& Progress);
  void onChecking();
  void onDone(const std::shared_ptr<Outcome>& Result);
  void fail(const QString& Message);
  TWaveformWindow& window();
  void showPair(std::size_t Pair, bool Raise);
  // The pair in the waveform window is of an analysis no longer on view: the window follows the
  // new analysis to the same pair, or says what it shows.
  void refreshWindow();
  void markWindowOld(const QString& Text);
  // The pair's stream on a page of its own; the sentence that tells of it.
  QString showStream(TWaveformWindow& Shown, const TTransmitterRun& Run, const TPairMeasure& Pair);

  TCanNodes& FNet;
  std::function<void()> FRepaint;
  std::function<void(const std::vector<TPoint>&)> FMark;
  std::function<void(bool)> FShow;
  TAnalysisPanel* FPanel;  // owned; shown in the main window's dock
  QPointer<TWaveformWindow> FWindow;
  std::vector<TDrawnNode> FDrawn;          // by circuit node number - 1, for the run going on
  std::vector<std::string> FCheckErrors;   // the bus check's errors at the start of the run (UTF-8)
  std::vector<TDrawnNode> FStations;       // by station index, for the result shown
  std::vector<TTransmitterRun> FRuns;      // of the result shown, with their traces
  TAnalysisSettings FSettings;             // of the result shown
  TStreamVerdict FVerdict;                 // of the result shown
  double FEdgeAt = 0.0;                    // the dominant TXD edge of its edge runs (s)
  double FHold = 0.0;                      // and how long each edge was held, as planned
  bool FWindowOld = false;                 // the network changed since the pair shown was run
  std::optional<TPairMeasure> FShownPair;  // the pair in the waveform window
  // The planning and the runs of the latest analysis; last, so that they have stopped before the
  // rest goes.
  TLatestJob<std::shared_ptr<Outcome>> FAnalysis{this};
};

}  // namespace busweave
