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
#include <memory>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "circuit/CircuitFile.h"
#include "verdict/BusAnalysis.h"
#include "verdict/StreamVerdict.h"

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

// Longer runs than this (seconds) are not a bus: a line of kilometres, an edge of milliseconds.
inline constexpr double LongestRun = 0.1;

// What the driver does, the same on every bus built from the same templates: which level of its
// source drives the bus, and its edges alone into the reference load of 60 ohms. Found once by
// one run of the driver and sent with the plan to every transmitter's run.
struct TDriverRun {
  bool FirstDominant = true;
  TEdgeResponses Reference;
};

// What every transmitter's run shares, read once from the circuit.
struct TAnalysisPlan {
  TextLines Circuit;               // the user's circuit, as the export writes it
  std::vector<TStation> Stations;  // nodes with a driver, in node order
  std::string Driver;              // the driver's subcircuit name as written
  std::string HeldDriver;          // the name of its copies held at one level
  std::string SendingDriver;       // the name of the copy that sends the edges
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
  double Hold = 0.0;    // how long each edge of the edge run is held (s)
  double EdgeAt = 0.0;  // the dominant TXD edge of the edge run (s)
  double Stop = 0.0;    // the end of each transmitter's run
  // Once found (WithDriverRun); without it every transmitter's run finds it again.
  std::optional<TDriverRun> DriverRun;
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

// The transmitter's edge run: its driver sends one dominant TXD edge at Plan.EdgeAt and one
// recessive edge Plan.Hold later (each with the ramp of the source's own edge), every other
// driver is held at the recessive level, no AC analysis. Before translation.
TextLines TransmitterDeck(const TAnalysisPlan& Plan, std::size_t Transmitter, bool FirstDominant);
// The transmitter sending Edges (TXD instants, ramps as the source's) until Stop: the full run
// that a verdict built from the edge run's responses is checked against.
TextLines PatternDeck(const TAnalysisPlan& Plan, std::size_t Transmitter, bool FirstDominant,
                      const std::vector<TTxdEdge>& Edges, double Stop);
// The same edges from the driver alone into the reference load of 60 ohms, on node 1.
TextLines ReferenceDeck(const TAnalysisPlan& Plan, bool FirstDominant);
// The ramps of the source's edges towards the dominant and the recessive level (s).
double DominantRamp(const TAnalysisPlan& Plan, bool FirstDominant);
double RecessiveRamp(const TAnalysisPlan& Plan, bool FirstDominant);

// Where a data-phase bit that one of the edge run's TXD edges starts is sampled.
struct TEdgeSamplePoint {
  double Time = 0.0;  // s, on the edge run's time scale
  std::int64_t BitRate = 0;
  bool Works = false;  // the verdict's rate works
};

// A station's voltage in a run, thinned for a plot (peaks kept).
struct TPlotTrace {
  int Station = 0;
  std::vector<double> Time;
  std::vector<double> Volts;
};

// A full run of the worst-case stream at one rate: every station's voltage, the stream's
// first bit starting at Start.
struct TPatternRun {
  std::int64_t BitRate = 0;
  double Shift = 0.0;  // how much earlier the recessive TXD edges were sent (compensation)
  double Start = 0.0;
  std::vector<TStationWave> Stations;
};

struct TTransmitterRun {
  int Transmitter = 0;
  double Hold = 0.0;                // how long its edge run held each edge (s): longer than planned on a ringing bus
  TPatternRun Pattern;              // a pattern run's, instead of the rest
  std::vector<TPairMeasure> Pairs;  // delays and settling from the TXD edges
  std::vector<TStationResponse> Stations;  // every station's responses to the two edges
  TEdgeResponses Reference;                // the driver alone into the reference load
  std::vector<TPlotTrace> Traces;          // every station's, when asked for
};

// Where the verdict reads the bits that the edge run's dominant and recessive TXD edge start, at
// one station of one transmitter's run, at the highest working and then the lowest failing data
// rate, on the run's time scale (its dominant TXD edge at EdgeAt). The station's decoder, run on
// the stream the verdict composed, synchronises on the dominant edge as the station sees it, not
// on the TXD edge, and a compensated recessive edge was sent earlier in that stream: the points
// are where those instants fall on the edge run's own waveform. PlannedHold stands for the hold of
// a run that does not record its own (one read from an older part).
std::vector<TEdgeSamplePoint> EdgeRunSamplePoints(const TTransmitterRun& Run, int Station,
                                                  const TStreamVerdict& Verdict, const TAnalysisSettings& Settings,
                                                  double EdgeAt, double PlannedHold);

// Throws EAnalysisError at once, before any run, when a transmitter's run would need more memory
// than a simulation may take here (see RunMemoryLimit).
void RefuseOversizedRuns(const TAnalysisPlan& Plan);

// The full run of the worst-case stream at BitRate from one transmitter, its recessive edges
// Shift earlier. Throws EAnalysisError as RunTransmitter does.
TTransmitterRun RunPattern(const TAnalysisPlan& Plan, std::size_t Transmitter, std::int64_t BitRate, double Shift);

// The driver's run in this process with the ngspice library: the level probe and the driver alone
// into the reference load. Throws EAnalysisError as RunTransmitter does.
TDriverRun RunDriver(const TAnalysisPlan& Plan);

// The plan and, as the pool sends it to a worker, the driver's run with it; read back with every
// number checked. Throws EAnalysisError when Text is not one.
std::string AnalysisPlanJson(const TAnalysisPlan& Plan);
TAnalysisPlan AnalysisPlanFromJson(const std::string& Text);
std::string DriverRunJson(const TDriverRun& Run);
TDriverRun DriverRunFromJson(const std::string& Text);

// The runs of one transmitter in this process with the ngspice library. Throws EAnalysisError
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

class TRunner;

struct TRunOptions {
  std::string Program;  // busweave-cli, which has the analyze-worker command
  // Who makes the runs: worker processes with ngspice when none is given (tests give a fake).
  std::shared_ptr<const TRunner> Runner;
  int Jobs = 1;  // worker processes at a time
  bool KeepTraces = false;
  std::int64_t PatternRate = 0;  // not 0: full runs of the stream at this rate instead
  double PatternShift = 0.0;
  TThresholds Thresholds;
  std::function<void(const TRunProgress&)> Progress;  // on the calling thread, after each run
  std::stop_token Stop;                               // kills the workers and returns
};

struct TRunsOutcome {
  std::vector<TTransmitterRun> Runs;  // in the order of Transmitters
  bool Cancelled = false;
};

// The simulator as the analysis sees it: the runs of some transmitters of one planned circuit,
// edge runs or (Options.PatternRate) full runs of the stream. The analysis, its proof and the
// advice search are given one, so that they are tested with a fake in place of ngspice.
class TRunner {
 public:
  virtual ~TRunner() = default;
  // Throws EAnalysisError naming the station when a run fails.
  virtual TRunsOutcome Run(const TAnalysisPlan& Plan, const std::vector<std::size_t>& Transmitters,
                           const TRunOptions& Options) const = 0;
};

// Runs the transmitters (station indices) with Options.Runner, or in worker processes without
// one. Throws EAnalysisError naming the station when a run fails; the others are stopped then.
TRunsOutcome RunTransmitters(const TAnalysisPlan& Plan, const std::vector<std::size_t>& Transmitters,
                             const TRunOptions& Options);
// The plan with its driver's run, found once in a worker process, so that the transmitters' runs
// each make one simulation. A plan that has it, or a runner given in place of the workers, leaves
// the plan as it is. Throws EAnalysisError when the driver's run fails.
TAnalysisPlan WithDriverRun(const TAnalysisPlan& Plan, const TRunOptions& Options);
// The worker processes themselves, as many at a time as Options.Jobs.
TRunsOutcome RunInWorkers(const TAnalysisPlan& Plan, const std::vector<std::size_t>& Transmitters,
                          const TRunOptions& Options);

// The pairs of all runs, in the order of the runs.
std::vector<TPairMeasure> PairsOf(const std::vector<TTransmitterRun>& Runs);
std::vector<TResponseSet> ResponsesOf(const std::vector<TTransmitterRun>& Runs);
// The verdict of the runs, the driver's reference taken from the first.
TStreamVerdict JudgeRuns(const std::vector<TTransmitterRun>& Runs, const TAnalysisSettings& Settings,
                         TJudged What = TJudged::Whole);

// Checks the verdict built from the edge runs' responses by full runs of the stream: for each
// phase, the deciding transmitter at the highest working and the lowest failing rate. A full
// run that disagrees decides, and the verdict says so. A full run that does not finish (its
// worker died, hung or ngspice stopped short) proves nothing: that rate fails, named in
// Verdict.Unproved, and the others' checks stand. With Only, just those (phase, rate) pairs are
// checked, once. Returns false when cancelled.
bool ConfirmVerdict(const TAnalysisPlan& Plan, const std::vector<TTransmitterRun>& Runs,
                    const TAnalysisSettings& Settings, const TRunOptions& Options, TStreamVerdict& Verdict,
                    const std::vector<std::pair<TBusPhase, std::int64_t>>& Only = {});

// The analyze-worker command: the circuit on In, the transmitter and thresholds in Args,
// the run's JSON on Out. Returns the exit code.
int RunAnalysisWorker(const std::vector<std::string>& Args, std::istream& In, std::ostream& Out, std::ostream& Err);

}  // namespace busweave
