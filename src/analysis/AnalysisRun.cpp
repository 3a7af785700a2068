// The runs of a bus analysis in this process: one simulation per deck, its traces cut into the
// responses to each edge or kept whole for a full run of the stream.

#include "analysis/AnalysisRun.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <string>
#include <vector>

#include "spice/SpiceEngine.h"
#include "spice/SpiceNumbers.h"
#include "spice/SpiceTranslation.h"
#include "spice/Waveforms.h"

namespace busweave {
namespace {

// A response is kept within this share of its swing (thinned for the worker's output).
constexpr double kResponseShare = 2e-4;
// How much longer each edge is held when the responses still ring at the end of the hold, and
// how often: a hold of 1 us grows to 64 us, past the decay of any mode a harness traps.
constexpr double kLongerHold = 4.0;
constexpr int kMostLongerHolds = 3;
// Points per plotted trace: about twice this many, peaks kept.
constexpr std::size_t kPlotBuckets = 300;

}  // namespace

namespace {

// Deck translated for ngspice once: its nodes name the traces the run returns.
TNgspiceCircuit translated(const TextLines& Deck, const std::string& What) {
  try {
    return TranslateForNgspice(Deck);
  } catch (const std::exception& error) {
    throw EAnalysisError(What + ": " + error.what());
  }
}

TSimulationResult simulate(TNgspiceCircuit circuit, const std::string& What) {
  TSimulationResult result = TSpiceEngine::Instance().Run(circuit);
  // ngspice's breakpoint merging can stall on one exact pattern of line echoes ("Timestep too
  // small" at a quiet moment); merging closer breakpoints only gets past it. Some stalls need
  // breakpoints a ten-thousandth of the usual merge apart (plain ngspice agrees).
  for (const double finer : {0.1, 0.01, 0.001, 0.0001}) {
    if (result.Ok || result.Error.find("Timestep too small") == std::string::npos) break;
    bool changed = false;
    for (std::string& line : circuit.Lines)
      if (line.rfind(".OPTIONS MINBREAK=", 0) == 0) {
        line = ".OPTIONS MINBREAK=" + SpiceNumberText(circuit.Step.MaxStep * BreakpointMerge * finer);
        changed = true;
      }
    if (!changed) break;
    result = TSpiceEngine::Instance().Run(circuit);
  }
  if (!result.Ok) throw EAnalysisError(What + " failed:\n" + result.Error);
  if (result.Transient.Traces.size() != circuit.Nodes.size())
    throw EAnalysisError(What + " gave no voltage for some nodes");
  return result;
}

// The points of [From, Until) of every trace, times from Edge, thinned together.
std::vector<TWave> window(const std::vector<double>& Time, const std::vector<const std::vector<double>*>& Volts,
                          double From, double Until, double Edge) {
  const auto first = static_cast<std::size_t>(std::lower_bound(Time.begin(), Time.end(), From) - Time.begin());
  const auto last = static_cast<std::size_t>(std::lower_bound(Time.begin(), Time.end(), Until) - Time.begin());
  std::vector<TWave> traces(Volts.size());
  if (last <= first + 1) return traces;
  const std::span<const double> scale(Time.data() + first, last - first);
  std::vector<std::span<const double>> spans;
  for (const auto* v : Volts) spans.emplace_back(v->data() + first, last - first);
  for (const std::size_t i : ThinnedIndices(scale, spans, kResponseShare))
    for (std::size_t s = 0; s < Volts.size(); ++s) {
      traces[s].Time.push_back(scale[i] - Edge);
      traces[s].Volts.push_back(spans[s][i]);
    }
  return traces;
}

// Each trace's responses to the edge run's dominant and recessive edge.
std::vector<TEdgeResponses> edgeResponses(const TAnalysisPlan& Plan, bool FirstDominant,
                                          const std::vector<double>& Time,
                                          const std::vector<const std::vector<double>*>& Volts) {
  const double toDominant = DominantRamp(Plan, FirstDominant);
  const double toRecessive = RecessiveRamp(Plan, FirstDominant);
  const double back = Plan.EdgeAt + Plan.Hold;
  const auto dominant = window(Time, Volts, Plan.EdgeAt - toDominant, back - toRecessive, Plan.EdgeAt);
  const auto recessive = window(Time, Volts, back - toRecessive, Plan.Stop + 1.0, back);
  std::vector<TEdgeResponses> responses;
  for (std::size_t s = 0; s < Volts.size(); ++s) responses.push_back({dominant[s], recessive[s]});
  return responses;
}

// Bus delay, settling, overshoot and false edges of every receiver, from the TXD edges.
std::vector<TPairMeasure> pairsOf(const TStationResponse& Sender, const std::vector<TStationResponse>& Stations,
                                  const TDriverReference& Reference, const TThresholds& Thresholds) {
  std::vector<TPairMeasure> pairs;
  for (const TStationResponse& receiver : Stations) {
    if (receiver.Station == Sender.Station) continue;
    for (const TBusEdge edge : {TBusEdge::Dominant, TBusEdge::Recessive}) {
      const TWave& r = edge == TBusEdge::Dominant ? receiver.Responses.Dominant : receiver.Responses.Recessive;
      const auto& own = edge == TBusEdge::Dominant ? Reference.DominantDelay : Reference.RecessiveDelay;
      TPairMeasure pair;
      pair.Transmitter = Sender.Station;
      pair.Receiver = receiver.Station;
      pair.TransmitterName = Sender.Name;
      pair.ReceiverName = receiver.Name;
      pair.Edge = edge;
      if (const auto crossing = ResponseDelay(r, edge, Thresholds)) {
        pair.Delay = *crossing - own.value_or(0.0);
        const TEdgeResponse response =
            MeasureResponse(r.Time, r.Volts, edge, *crossing, r.Time.empty() ? 0.0 : r.Time.back(), Thresholds);
        if (response.Settle) pair.Settle = *crossing + *response.Settle;
        pair.Overshoot = response.Overshoot;
        pair.Undershoot = response.Undershoot;
        pair.FalseEdge = response.FalseEdge;
      }
      pairs.push_back(std::move(pair));
    }
  }
  return pairs;
}

// Each station's trace: the run's traces follow the circuit's nodes.
std::vector<const std::vector<double>*> stationVolts(const TAnalysisPlan& Plan, const TNgspiceCircuit& Circuit,
                                                     const TSimulationResult& Result, const std::string& Name) {
  std::vector<const std::vector<double>*> volts(Plan.Stations.size(), nullptr);
  for (std::size_t n = 0; n < Circuit.Nodes.size(); ++n)
    for (std::size_t s = 0; s < Plan.Stations.size(); ++s)
      if (Circuit.Nodes[n].Spice == Plan.Stations[s].Spice) volts[s] = &Result.Transient.Traces[n].Values;
  for (std::size_t s = 0; s < Plan.Stations.size(); ++s)
    if (!volts[s])
      throw EAnalysisError("the run with " + Name + " transmitting has no voltage at " + Plan.Stations[s].Name);
  return volts;
}

bool firstLevelDominant(const TAnalysisPlan& Plan) {
  if (Plan.DriverRun) return Plan.DriverRun->FirstDominant;
  const std::string what = "the run of the driver at its two levels";
  const TSimulationResult probe = simulate(translated(LevelProbeDeck(Plan), what), what);
  return FirstLevelDominant(probe.Transient.Traces[0].Values.back(), probe.Transient.Traces[1].Values.back());
}

// The driver alone into the reference load, its edges held as Plan holds them.
TEdgeResponses referenceRun(const TAnalysisPlan& Plan, bool FirstDominant) {
  const std::string what = "the run of the driver alone into 60 ohms";
  const TSimulationResult reference = simulate(translated(ReferenceDeck(Plan, FirstDominant), what), what);
  return edgeResponses(Plan, FirstDominant, reference.Transient.Scale, {&reference.Transient.Traces[0].Values}).front();
}

}  // namespace

void RefuseOversizedRuns(const TAnalysisPlan& Plan) {
  if (Plan.Stations.empty()) return;
  const TRunSize size = EstimateRunSize(TranslateForNgspice(TransmitterDeck(Plan, 0, true)));
  const std::uint64_t limit = RunMemoryLimit();
  if (size.Bytes <= static_cast<double>(limit)) return;
  const auto megabytes = [](double Bytes) { return std::to_string(static_cast<std::uint64_t>(Bytes / 1e6)) + " MB"; };
  throw EAnalysisError("the bus is too large to analyse on this computer: each transmitter's run would need about " +
                       megabytes(size.Bytes) + " of memory for " + std::to_string(size.Vectors - 1) +
                       " node voltages, and at most " + megabytes(static_cast<double>(limit)) + " fit");
}

TTransmitterRun RunPattern(const TAnalysisPlan& Plan, std::size_t Transmitter, std::int64_t BitRate, double Shift) {
  if (Transmitter >= Plan.Stations.size()) throw EAnalysisError("no station " + std::to_string(Transmitter));
  if (BitRate <= 0 || !std::isfinite(Shift)) throw EAnalysisError("no bit rate to run the stream at");
  const bool firstDominant = firstLevelDominant(Plan);
  const double bitTime = 1.0 / static_cast<double>(BitRate);
  const TBitStream& stream = WorstCaseStream();
  std::vector<TTxdEdge> edges = StreamEdges(stream, Plan.EdgeAt, bitTime);
  for (TTxdEdge& edge : edges)
    if (edge.Edge == TBusEdge::Recessive) edge.Time -= Shift;
  const double stop = Plan.EdgeAt + static_cast<double>(stream.size() + 1) * bitTime;
  const std::string& name = Plan.Stations[Transmitter].Name;
  const TextLines deck = PatternDeck(Plan, Transmitter, firstDominant, edges, stop);
  const std::string what = "the full run of the bit stream with " + name + " transmitting";
  const TNgspiceCircuit circuit = translated(deck, what);
  const TSimulationResult result = simulate(circuit, what);
  const auto volts = stationVolts(Plan, circuit, result, name);
  const auto waves = window(result.Transient.Scale, volts, 0.0, stop + 1.0, 0.0);
  TTransmitterRun run;
  run.Transmitter = static_cast<int>(Transmitter);
  run.Pattern.BitRate = BitRate;
  run.Pattern.Shift = Shift;
  run.Pattern.Start = Plan.EdgeAt;
  for (std::size_t s = 0; s < Plan.Stations.size(); ++s)
    run.Pattern.Stations.push_back({static_cast<int>(s), Plan.Stations[s].Name, waves[s]});
  return run;
}

namespace {

// Reference is the driver's run held as Plan holds its edges; none to run it here.
TTransmitterRun edgeRun(const TAnalysisPlan& Plan, std::size_t Transmitter, const TThresholds& Thresholds,
                        bool KeepTraces, bool FirstDominant, const TEdgeResponses* Reference) {
  const std::string& name = Plan.Stations[Transmitter].Name;
  const TextLines deck = TransmitterDeck(Plan, Transmitter, FirstDominant);
  const std::string what = "the run with " + name + " transmitting";
  const TNgspiceCircuit circuit = translated(deck, what);
  const TSimulationResult result = simulate(circuit, what);

  const auto volts = stationVolts(Plan, circuit, result, name);
  TTransmitterRun run;
  run.Transmitter = static_cast<int>(Transmitter);
  run.Reference = Reference ? *Reference : referenceRun(Plan, FirstDominant);
  const auto responses = edgeResponses(Plan, FirstDominant, result.Transient.Scale, volts);
  for (std::size_t s = 0; s < Plan.Stations.size(); ++s)
    run.Stations.push_back({static_cast<int>(s), Plan.Stations[s].Name, responses[s]});
  run.Pairs =
      pairsOf(run.Stations[Transmitter], run.Stations, DriverReferenceOf(run.Reference, Thresholds), Thresholds);
  if (KeepTraces) {
    const auto& time = result.Transient.Scale;
    for (std::size_t s = 0; s < Plan.Stations.size(); ++s) {
      TPlotTrace trace;
      trace.Station = static_cast<int>(s);
      for (const std::size_t i : PeakPreservingIndices(time, *volts[s], time.front(), time.back(), kPlotBuckets)) {
        trace.Time.push_back(time[i]);
        trace.Volts.push_back((*volts[s])[i]);
      }
      run.Traces.push_back(std::move(trace));
    }
  }
  return run;
}

bool settled(const TTransmitterRun& Run) {
  if (!std::isfinite(SettlingTime(Run.Reference))) return false;
  return std::all_of(Run.Stations.begin(), Run.Stations.end(),
                     [](const TStationResponse& S) { return std::isfinite(SettlingTime(S.Responses)); });
}

}  // namespace

TTransmitterRun RunTransmitter(const TAnalysisPlan& Plan, std::size_t Transmitter, const TThresholds& Thresholds,
                               bool KeepTraces) {
  if (Transmitter >= Plan.Stations.size()) throw EAnalysisError("no station " + std::to_string(Transmitter));
  const bool firstDominant = firstLevelDominant(Plan);
  // A bus that traps a slow mode (equal stubs at one point) still rings when the usual hold
  // ends; the responses' last samples would pass for final levels and every composed edge
  // would carry the ring's offset. Such a run is made again with each edge held longer.
  TAnalysisPlan plan = Plan;
  const TEdgeResponses* known = Plan.DriverRun ? &Plan.DriverRun->Reference : nullptr;
  TTransmitterRun run = edgeRun(plan, Transmitter, Thresholds, KeepTraces, firstDominant, known);
  for (int longer = 0; longer < kMostLongerHolds && !settled(run); ++longer) {
    plan.Hold *= kLongerHold;
    plan.Stop = plan.EdgeAt + 2.0 * plan.Hold;
    if (plan.Stop > LongestRun) break;
    // The driver's edges held as long as the bus's are run again with them.
    run = edgeRun(plan, Transmitter, Thresholds, KeepTraces, firstDominant, nullptr);
  }
  run.Hold = plan.Hold;
  return run;
}

TDriverRun RunDriver(const TAnalysisPlan& Plan) {
  TAnalysisPlan plan = Plan;
  plan.DriverRun.reset();
  TDriverRun driver;
  driver.FirstDominant = firstLevelDominant(plan);
  driver.Reference = referenceRun(plan, driver.FirstDominant);
  return driver;
}

std::vector<TPairMeasure> PairsOf(const std::vector<TTransmitterRun>& Runs) {
  std::vector<TPairMeasure> pairs;
  for (const TTransmitterRun& run : Runs) pairs.insert(pairs.end(), run.Pairs.begin(), run.Pairs.end());
  return pairs;
}

std::vector<TResponseSet> ResponsesOf(const std::vector<TTransmitterRun>& Runs) {
  std::vector<TResponseSet> sets;
  for (const TTransmitterRun& run : Runs) sets.push_back({run.Transmitter, run.Stations});
  return sets;
}

TStreamVerdict JudgeRuns(const std::vector<TTransmitterRun>& Runs, const TAnalysisSettings& Settings, TJudged What) {
  TEdgeResponses reference;
  if (!Runs.empty()) reference = Runs.front().Reference;
  return JudgeStreams(ResponsesOf(Runs), DriverReferenceOf(std::move(reference), Settings.Thresholds), Settings, What);
}

}  // namespace busweave
