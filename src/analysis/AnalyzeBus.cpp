#include "analysis/AnalyzeBus.h"

#include <memory>

namespace busweave {
namespace {

// In place of the simulator where there is no circuit to run: every run fails with the reason.
class TNoCircuitRunner : public TRunner {
 public:
  explicit TNoCircuitRunner(std::string Why) : FWhy(std::move(Why)) {}
  TRunsOutcome Run(const TAnalysisPlan&, const std::vector<std::size_t>&, const TRunOptions&) const override {
    throw EAnalysisError(FWhy);
  }

 private:
  std::string FWhy;
};

}  // namespace

bool ProveRuns(const TAnalysisPlan* Plan, const std::string& NoPlan, const std::vector<TTransmitterRun>& Runs,
               const TAnalysisSettings& Settings, const TAnalyzeOptions& Options, TStreamVerdict& Verdict) {
  if (!Options.Confirm) {
    Verdict.Confirmations.push_back(
        "not checked by full runs of the stream, as asked: the rates are those of the sum of the edge responses");
    return true;
  }
  if (Options.Checking) Options.Checking();
  TRunOptions run = Options.Run;
  run.Progress = nullptr;
  run.KeepTraces = false;
  run.Thresholds = Settings.Thresholds;
  if (Plan) return ConfirmVerdict(*Plan, Runs, Settings, run, Verdict);
  // The stations by name, as the runs know them, so that each rate's proof fails by name.
  TAnalysisPlan names;
  if (!Runs.empty())
    for (const TStationResponse& s : Runs.front().Stations)
      names.Stations.push_back({std::to_string(s.Station), s.Name});
  run.Runner = std::make_shared<TNoCircuitRunner>(NoPlan);
  return ConfirmVerdict(names, Runs, Settings, run, Verdict);
}

TBusAnalysis AnalyzeBus(const TAnalysisPlan& Plan, const TAnalysisSettings& Settings, const TAnalyzeOptions& Options) {
  TBusAnalysis analysis;
  // What a simulation may take is ngspice's matter; a runner given in its place has its own.
  if (!Options.Run.Runner) RefuseOversizedRuns(Plan);
  std::vector<std::size_t> transmitters(Plan.Stations.size());
  for (std::size_t t = 0; t < transmitters.size(); ++t) transmitters[t] = t;
  TRunOptions run = Options.Run;
  run.Thresholds = Settings.Thresholds;
  run.PatternRate = 0;
  if (run.Progress) run.Progress({0, transmitters.size(), {}});
  // The driver is run once, here, and every transmitter's run and proof is given its run.
  const TAnalysisPlan plan = WithDriverRun(Plan, run);
  TRunsOutcome outcome = RunTransmitters(plan, transmitters, run);
  if (outcome.Cancelled) {
    analysis.Cancelled = true;
    return analysis;
  }
  analysis.Runs = std::move(outcome.Runs);
  analysis.Verdict = JudgeRuns(analysis.Runs, Settings);
  if (!ProveRuns(&plan, {}, analysis.Runs, Settings, Options, analysis.Verdict)) {
    analysis.Cancelled = true;
    return analysis;
  }
  return analysis;
}

}  // namespace busweave
