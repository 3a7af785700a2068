#pragma once

// A bus without ngspice, for the analysis, its proof and the advice search: every station sees
// each TXD edge as a ramp of Ramp seconds, Delay seconds per station of distance after the
// transmitter's own node, so the verdict is known by hand. A full run of the stream is those
// responses composed, so it agrees with the verdict, except at the rates told to fail, where it
// fails as a worker that died does.

#include <atomic>
#include <cmath>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "analysis/AnalysisRun.h"
#include "verdict/StreamVerdict.h"

namespace busweave::test {

class TFakeRunner : public TRunner {
 public:
  int Stations = 2;
  double Delay = 20e-9;
  double Ramp = 30e-9;
  double Span = 2e-6;                   // how long each response lasts after its edge
  std::set<std::int64_t> FailingRates;  // full runs at these rates fail
  TAnalysisSettings Settings;           // as the analysis judges, for composing the full runs
  mutable std::atomic<int> EdgeRuns{0};
  mutable std::atomic<int> FullRuns{0};

  // "[2] S2" for the second station, as the drawing numbers names.
  static std::string Name(int Station) {
    const std::string number = std::to_string(Station + 1);
    std::string name = "[";
    name += number;
    name += "] S";
    name += number;
    return name;
  }

  TAnalysisPlan Plan() const {
    TAnalysisPlan plan;
    for (int s = 0; s < Stations; ++s) plan.Stations.push_back({std::to_string(s + 1), Name(s)});
    return plan;
  }

  TRunsOutcome Run(const TAnalysisPlan& Plan, const std::vector<std::size_t>& Transmitters,
                   const TRunOptions& Options) const override {
    TRunsOutcome outcome;
    for (const std::size_t t : Transmitters) {
      if (Options.Stop.stop_requested()) {
        outcome.Cancelled = true;
        return outcome;
      }
      TTransmitterRun run = edgeRun(static_cast<int>(t));
      if (Options.PatternRate > 0) {
        ++FullRuns;
        if (FailingRates.count(Options.PatternRate))
          throw EAnalysisError("the run with " + Plan.Stations[t].Name + " transmitting failed: the worker stopped");
        TTransmitterRun full;
        full.Transmitter = run.Transmitter;
        full.Pattern.BitRate = Options.PatternRate;
        full.Pattern.Shift = Options.PatternShift;
        const TDriverReference reference = DriverReferenceOf(run.Reference, Settings.Thresholds);
        for (const TStationResponse& s : run.Stations)
          full.Pattern.Stations.push_back(
              {s.Station, s.Name, StreamTrace(s, reference, Settings, Options.PatternRate)});
        outcome.Runs.push_back(std::move(full));
      } else {
        ++EdgeRuns;
        if (Options.KeepTraces) keepTraces(Plan, run);
        outcome.Runs.push_back(std::move(run));
      }
    }
    return outcome;
  }

  // A ramp from From to To starting At seconds after the TXD edge.
  TWave ramp(double At, double From, double To) const { return {{-50e-9, At, At + Ramp, Span}, {From, From, To, To}}; }

  // What the program keeps for its waveform window: every station's voltage over the whole run,
  // the dominant TXD edge at Plan.EdgeAt and the recessive one Plan.Hold later; the pairs.
  void keepTraces(const TAnalysisPlan& Plan, TTransmitterRun& Run) const {
    for (const TStationResponse& s : Run.Stations) {
      const double at = Delay * std::abs(s.Station - Run.Transmitter);
      const double dominant = Plan.EdgeAt + at;
      const double recessive = dominant + Plan.Hold;
      Run.Traces.push_back({s.Station,
                            {0.0, dominant, dominant + Ramp, recessive, recessive + Ramp, Plan.Stop},
                            {0.0, 0.0, 2.0, 2.0, 0.0, 0.0}});
      if (s.Station == Run.Transmitter) continue;
      for (const TBusEdge edge : {TBusEdge::Dominant, TBusEdge::Recessive}) {
        TPairMeasure pair;
        pair.Transmitter = Run.Transmitter;
        pair.Receiver = s.Station;
        pair.TransmitterName = Name(Run.Transmitter);
        pair.ReceiverName = s.Name;
        pair.Edge = edge;
        pair.Delay = at;
        Run.Pairs.push_back(pair);
      }
    }
  }

  TTransmitterRun edgeRun(int Transmitter) const {
    TTransmitterRun run;
    run.Transmitter = Transmitter;
    run.Reference = {ramp(0.0, 0.0, 2.0), ramp(0.0, 2.0, 0.0)};
    for (int s = 0; s < Stations; ++s) {
      const double at = Delay * std::abs(s - Transmitter);
      run.Stations.push_back({s, Name(s), {ramp(at, 0.0, 2.0), ramp(at, 2.0, 0.0)}});
    }
    return run;
  }
};

}  // namespace busweave::test
