#pragma once

// The runs behind the bus analysis: for each station with a driver, the user's circuit (as the
// export writes it, translated as the simulation does) with only that station's driver
// switching and every other driver held at the level of its source at which it leaves the bus
// alone. Which level that is comes from the circuit: a short run of the driver held at each
// level into a bus load shows which one drives.
//
// ngspice runs one circuit per process, so the runs go to worker processes (busweave-cli's
// hidden analyze-worker command), as many at a time as asked. The caller gets progress through
// a callback and stops the runs with a stop token; it may run them on a thread of its own.

#include <functional>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

#include "circuit/CircuitFile.h"
#include "sim/BusAnalysis.h"

namespace busweave {

// The circuit cannot be analysed, or a run failed; the text says why in the user's terms.
class EAnalysisError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TStation {
  std::string Spice;  // its circuit node, "3"
  std::string Name;   // as the drawing shows it, UTF-8: "[3] ECU2"
};

// A transmission line between two circuit nodes and its delay (s).
struct TLineDelay {
  std::string A;
  std::string B;
  double Delay = 0.0;
};

// What every transmitter's run shares, read once from the circuit.
struct TAnalysisPlan {
  TextLines Circuit;               // the user's circuit, as the export writes it
  std::vector<TStation> Stations;  // nodes with a driver, in node order
  std::string Driver;              // the driver's subcircuit name as written
  std::string HeldDriver;          // the name of its copies held at one level
  // The driver's PULSE source: its two levels as written, and its times (s).
  std::string FirstLevel;
  std::string SecondLevel;
  double Delay = 0.0;
  double Rise = 0.0;
  double Fall = 0.0;
  double Width = 0.0;
  double Period = 0.0;      // 0 when the source does not repeat within the run
  double LineDelays = 0.0;  // all line delays together: no path between stations is longer
  std::vector<TLineDelay> Lines;
  double Stop = 0.0;  // the end of each transmitter's run
};

// Reads the circuit. Throws EAnalysisError when it has fewer than two stations with a driver,
// or its driver has not exactly one PULSE source whose times can be read, or the translation
// for ngspice refuses it (Sources, when given, names the templates as the simulation does).
TAnalysisPlan PlanAnalysis(const TextLines& Circuit, const std::optional<TCircuitSources>& Sources = std::nullopt);

// The deck that shows which level of the source drives the bus: the driver held at the first
// level on node 1 and at the second on node 2, each into 60 ohms (two terminations).
TextLines LevelProbeDeck(const TAnalysisPlan& Plan);
// True when the first level drives harder (further from 0 V) than the second, from the probe's
// node voltages. Throws EAnalysisError when the two levels do not differ.
bool FirstLevelDominant(double FirstVolts, double SecondVolts);

// Transmitter's deck: the other drivers held at the recessive level, the run long enough for
// the first pulse to reach every station, no AC analysis. Before translation.
TextLines TransmitterDeck(const TAnalysisPlan& Plan, std::size_t Transmitter, bool FirstDominant);

// The delay of the shortest line path from the transmitter to each station (0 when none).
std::vector<double> ArrivalDelays(const TAnalysisPlan& Plan, std::size_t Transmitter);

// The source's two edges, dominant first.
std::vector<TEdgeWindow> EdgeWindows(const TAnalysisPlan& Plan, bool FirstDominant);

// A station's voltage in a run, thinned for a plot (peaks kept).
struct TPlotTrace {
  int Station = 0;
  std::vector<double> Time;
  std::vector<double> Volts;
};

struct TTransmitterRun {
  int Transmitter = 0;
  std::vector<TPairMeasure> Pairs;
  std::vector<TPlotTrace> Traces;  // every station's, when asked for
};

// Both runs of one transmitter in this process with the ngspice library. Throws EAnalysisError
// with ngspice's reason when a run fails.
TTransmitterRun RunTransmitter(const TAnalysisPlan& Plan, std::size_t Transmitter, const TThresholds& Thresholds,
                               bool KeepTraces);

// The run's JSON as workers print it and shard files keep it, numbers exact.
std::string TransmitterRunJson(const TTransmitterRun& Run);
// Throws EAnalysisError when Text is not one.
TTransmitterRun TransmitterRunFromJson(const std::string& Text);

struct TRunProgress {
  std::size_t Done = 0;
  std::size_t Total = 0;
  std::string Station;  // the transmitter whose run just finished
};

struct TRunOptions {
  std::string Program;  // busweave-cli, which has the analyze-worker command
  int Jobs = 1;         // worker processes at a time
  bool KeepTraces = false;
  TThresholds Thresholds;
  std::function<void(const TRunProgress&)> Progress;  // on the calling thread, after each run
  std::stop_token Stop;                               // kills the workers and returns
};

struct TRunsOutcome {
  std::vector<TTransmitterRun> Runs;  // in the order of Transmitters
  bool Cancelled = false;
};

// Runs the transmitters (station indices) in worker processes. Throws EAnalysisError naming
// the station when a worker fails; the others are stopped then.
TRunsOutcome RunTransmitters(const TAnalysisPlan& Plan, const std::vector<std::size_t>& Transmitters,
                             const TRunOptions& Options);

// The pairs of all runs, in the order of the runs.
std::vector<TPairMeasure> PairsOf(const std::vector<TTransmitterRun>& Runs);

// The analyze-worker command: the circuit on In, the transmitter and thresholds in Args,
// the run's JSON on Out. Returns the exit code.
int RunAnalysisWorker(const std::vector<std::string>& Args, std::istream& In, std::ostream& Out, std::ostream& Err);

}  // namespace busweave
