// The search's state and the start every search shares (today's runs, verdict and targets, and
// the candidates), and the whole search on this machine; its steps are in SearchSteps.h.

#include "advice/AdviceSearch.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>
#include <optional>

#include "advice/SearchSteps.h"
#include "analysis/AnalyzeBus.h"
#include "circuit/CircuitFile.h"
#include "model/BusCheck.h"
#include "model/BusLayout.h"
#include "model/NameText.h"

namespace busweave::advice_detail {
namespace {

// The settings a search judges by: the targets among the listed rates.
TAnalysisSettings judgedAt(TAnalysisSettings Settings, const TAdviceTargets& Targets) {
  const auto add = [](std::vector<std::int64_t>& Rates, std::int64_t Rate) {
    if (std::find(Rates.begin(), Rates.end(), Rate) == Rates.end()) Rates.push_back(Rate);
    std::sort(Rates.begin(), Rates.end());
  };
  add(Settings.ArbitrationRates, Targets.ArbitrationRate);
  add(Settings.DataRates, Targets.DataRate);
  return Settings;
}

std::vector<std::size_t> indices(std::size_t From, std::size_t To) {
  std::vector<std::size_t> list;
  for (std::size_t i = From; i < To; ++i) list.push_back(i);
  return list;
}

bool sameRates(const TAnalysisSettings& L, const TAnalysisSettings& R) {
  const auto sorted = [](std::vector<std::int64_t> Rates) {
    std::sort(Rates.begin(), Rates.end());
    return Rates;
  };
  return sorted(L.ArbitrationRates) == sorted(R.ArbitrationRates) && sorted(L.DataRates) == sorted(R.DataRates);
}

// Today's verdict proved as the analysis proves it, every deciding rate by its full runs.
void proveToday(TSearch& S, const TAnalysisPlan& Plan, const std::vector<TTransmitterRun>& Runs,
                const TAnalysisSettings& Settings, TStreamVerdict& Verdict) {
  TAnalyzeOptions proving;
  proving.Run = S.runOptions(1);
  proving.Confirm = S.Options.Confirm;
  if (!ProveRuns(&Plan, {}, Runs, Settings, proving, Verdict)) throw TSearchCancelled{};
}

TAdviceTargets targetsOf(const TStreamVerdict& Verdict, const TAdviceOptions& Options) {
  TAdviceTargets t;
  t.ArbitrationRate = Options.ArbitrationRate.value_or(Options.Settings.RequiredRate);
  if (Options.DataRate) {
    t.DataRate = *Options.DataRate;
  } else {
    std::vector<std::int64_t> rates = Options.Settings.DataRates;
    std::sort(rates.begin(), rates.end());
    const auto above = std::upper_bound(rates.begin(), rates.end(), Verdict.Bus.MaxDataRate);
    t.DataRate = above == rates.end() ? rates.back() : *above;
  }
  return t;
}

std::vector<std::size_t> everyStation(std::size_t Count) {
  std::vector<std::size_t> all(Count);
  for (std::size_t t = 0; t < Count; ++t) all[t] = t;
  return all;
}

TAdvice cancelled(const std::string& File) {
  TAdvice advice;
  advice.File = File;
  advice.Cancelled = true;
  advice.Summary = "The search was stopped";
  return advice;
}

}  // namespace

bool rateWorks(const TStreamVerdict& Verdict, TBusPhase Phase, std::int64_t Rate) {
  for (const TRateVerdict& r : Verdict.Bus.Rates)
    if (r.Phase == Phase && r.BitRate == Rate) return r.Works;
  return false;
}

bool reaches(const TStreamVerdict& Verdict, const TAdviceTargets& Targets) {
  return rateWorks(Verdict, TBusPhase::Data, Targets.DataRate) &&
         rateWorks(Verdict, TBusPhase::Arbitration, Targets.ArbitrationRate);
}

void TSearch::aim(const TAnalysisSettings& Base, const TAdviceTargets& T) {
  Targets = T;
  Settings = judgedAt(Base, T);
  AtTargets = Settings;
  AtTargets.DataRates = {T.DataRate};
  AtTargets.ArbitrationRates = {T.ArbitrationRate};
}

TAnalysisPlan TSearch::planOf(const std::vector<TEdit>& Edits) const {
  const std::unique_ptr<TCanNodes> net = Net.Snapshot();
  ApplyEdits(*net, Edits);
  TCircuitSources sources;
  const TextLines lines = CircuitFromTemplates(*net, Templates, nullptr, &sources);
  return PlanAnalysis(lines, sources);
}

TAnalysisPlan TSearch::withDriver(const TAnalysisPlan& Plan) {
  if (Options.Run.Runner) return Plan;
  const std::tuple key{Plan.EdgeAt, Plan.Hold, Plan.Stop};
  {
    std::lock_guard lock(DriversLock);
    if (const auto known = Drivers.find(key); known != Drivers.end()) {
      TAnalysisPlan plan = Plan;
      plan.DriverRun = known->second;
      return plan;
    }
  }
  TAnalysisPlan plan = WithDriverRun(Plan, runOptions(1));
  std::lock_guard lock(DriversLock);
  Drivers.emplace(key, *plan.DriverRun);
  return plan;
}

TRunOptions TSearch::runOptions(int Jobs) const {
  TRunOptions o = Options.Run;
  o.Jobs = Jobs;
  o.Progress = nullptr;
  o.KeepTraces = false;
  o.PatternRate = 0;
  o.Thresholds = Settings.Thresholds;
  return o;
}

std::vector<TTransmitterRun> TSearch::run(const TAnalysisPlan& Plan, const std::vector<std::size_t>& Transmitters,
                                          int Jobs) {
  TRunsOutcome outcome = RunTransmitters(Plan, Transmitters, runOptions(Jobs));
  if (outcome.Cancelled) throw TSearchCancelled{};
  return std::move(outcome.Runs);
}

void TSearch::addSteps(std::size_t Steps) {
  std::lock_guard lock(ProgressLock);
  Total += Steps;
}

void TSearch::settleSteps(std::size_t Reserved, std::size_t Taken) {
  std::lock_guard lock(ProgressLock);
  Total = std::max(Total + Taken - std::min(Total + Taken, Reserved), Done);
}

void TSearch::stepsEnded() {
  if (!Options.Run.Progress) return;
  std::lock_guard lock(ProgressLock);
  Total = Done;
  Options.Run.Progress({Done, Total, std::string()});
}

void TSearch::stepDone(std::size_t Runs) {
  if (!Options.Run.Progress) return;
  std::lock_guard lock(ProgressLock);
  Done += Runs;
  Total = std::max(Total, Done);
  Options.Run.Progress({Done, Total, std::string()});
}

// The bus check's errors of the network with Edits, at the target arbitration rate.
std::vector<std::string> checkErrors(const TSearch& S, const std::vector<TEdit>& Edits) {
  const std::unique_ptr<TCanNodes> net = S.Net.Snapshot();
  ApplyEdits(*net, Edits);
  TCheckSettings check;
  check.BitRate = static_cast<std::uint32_t>(std::clamp<std::int64_t>(S.Targets.ArbitrationRate, 1, 10000000));
  std::vector<std::string> errors;
  for (const TFinding& f : CheckBus(*net, check))
    if (f.Severity == TSeverity::Error) errors.push_back(NameToUtf8(f.Message));
  return errors;
}

// Today's verdict at the search's rates, proved by full runs (Proved: already, at these rates).
void readToday(TSearch& S, const std::vector<std::string>& Stations, TToday& Today, const TAnalysisPlan& Plan,
               const TStreamVerdict* Proved) {
  if (Proved) {
    Today.Verdict = *Proved;
  } else {
    Today.Verdict = JudgeRuns(Today.Runs, S.Settings);
    proveToday(S, Plan, Today.Runs, S.Settings, Today.Verdict);
  }
  for (const TReceiverMargin& m : Today.Verdict.Margins) {
    const bool target = (m.Phase == TBusPhase::Data && m.BitRate == S.Targets.DataRate) ||
                        (m.Phase == TBusPhase::Arbitration && m.BitRate == S.Targets.ArbitrationRate);
    if (!target || m.Works) continue;
    for (std::size_t t = 0; t < Stations.size(); ++t)
      if (Stations[t] == m.Transmitter) Today.Failing.insert(t);
    for (const std::string& name : {m.Receiver, m.Transmitter})
      if (std::find(Today.Decide.begin(), Today.Decide.end(), name) == Today.Decide.end()) Today.Decide.push_back(name);
  }
  // Round trips are judged per pair, not per stream: their transmitters fail too.
  for (const TRateVerdict& r : Today.Verdict.Bus.Rates) {
    if (r.Works || !r.Worst) continue;
    const bool target = (r.Phase == TBusPhase::Data && r.BitRate == S.Targets.DataRate) ||
                        (r.Phase == TBusPhase::Arbitration && r.BitRate == S.Targets.ArbitrationRate);
    if (!target) continue;
    for (std::size_t t = 0; t < Stations.size(); ++t)
      if (Stations[t] == r.Worst->Transmitter) Today.Failing.insert(t);
    if (Today.Receiver.empty() || r.Phase == TBusPhase::Data) Today.Receiver = r.Worst->Receiver;
    for (const std::string& name : {r.Worst->Receiver, r.Worst->Transmitter})
      if (std::find(Today.Decide.begin(), Today.Decide.end(), name) == Today.Decide.end()) Today.Decide.push_back(name);
  }
  if (Today.Receiver.empty() && !Today.Decide.empty()) Today.Receiver = Today.Decide.front();
}

// Why no change of the wiring can reach the targets, or nothing: the round trip of arbitration
// holds the transceivers' loop delay however short the bus, and the driver alone into the
// reference load bounds the data rate.
std::string unreachableWhy(const TSearch& S, const TStreamVerdict& Today) {
  const TAnalysisSettings& s = S.Settings;
  const double shortestBit = 2.0 * s.LoopDelay / s.SamplePoint;
  if (shortestBit * static_cast<double>(S.Targets.ArbitrationRate) > 1.0 + 1e-9) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "no bus reaches arbitration %s: the round trip of two loop delays (%.0f ns each) "
                  "must fit within %.0f %% of the bit time, which allows %s at most",
                  RateText(S.Targets.ArbitrationRate).c_str(), s.LoopDelay * 1e9, s.SamplePoint * 100.0,
                  RateText(static_cast<std::int64_t>(1.0 / shortestBit / 1000.0) * 1000).c_str());
    return text;
  }
  // The driver's own bits into the bus's nominal load, as it drives them: the full runs of
  // the smallest bus fail where these do, whatever the sum of the responses says.
  if (Today.DriverMaxDataRate < S.Targets.DataRate)
    return "no change of the wiring reaches data " + RateText(S.Targets.DataRate) +
           ": the driver alone into 60 ohms decodes its own bits only up to " +
           (Today.DriverMaxDataRate ? RateText(Today.DriverMaxDataRate) : std::string("no data rate"));
  return {};
}

bool startSearch(TSearch& S, TStart& Start) {
  const TAnalysisPlan planned = S.planOf({});
  RefuseOversizedRuns(planned);
  const TAnalysisPlan plan = S.withDriver(planned);
  for (const TStation& s : plan.Stations) Start.Stations.push_back(s.Name);
  S.Stations = plan.Stations.size();
  S.addSteps(S.Stations);
  Start.Today.Runs = S.run(plan, everyStation(S.Stations), S.Options.Run.Jobs);
  S.stepDone(S.Stations);
  // Today's rates are decided as the analysis decides them: the sum of the responses, proved
  // by the full runs of the stream. The default target is the next data rate above the highest.
  TStreamVerdict today = JudgeRuns(Start.Today.Runs, S.Options.Settings);
  proveToday(S, plan, Start.Today.Runs, S.Options.Settings, today);
  Start.Targets = targetsOf(today, S.Options);
  S.aim(S.Options.Settings, Start.Targets);
  readToday(S, Start.Stations, Start.Today, plan, sameRates(S.Settings, S.Options.Settings) ? &today : nullptr);
  S.Failing = Start.Today.Failing;
  // Working as it is needs a clean bus check too: a third termination or a ring is no harness to
  // sign, whatever the rates.
  if (reaches(Start.Today.Verdict, S.Targets) && checkErrors(S, {}).empty()) return true;
  Start.Unreachable = unreachableWhy(S, Start.Today.Verdict);
  if (!Start.Unreachable.empty()) return false;
  const std::optional<TBusLayout> layout = BusLayoutOf(S.Net, TTrunkEnds::LineEndTerminations);
  if (!layout)
    throw EAnalysisError("its wires form a loop or fall apart; changes are searched on one bus with a trunk and stubs");
  Start.Candidates = candidatesOf(S.Net, *layout, Start.Today, S.Targets);
  Start.Singles = Start.Candidates.size();
  for (TCandidate& pair : pairsOf(Start.Candidates, S.Options.PairedSingles))
    Start.Candidates.push_back(std::move(pair));
  return false;
}

TAdvice alreadyWorks(TSearch& S, const TStart& Start, const std::string& File) {
  TAdvice advice;
  advice.File = File;
  advice.Settings = S.Settings;
  advice.Stations = Start.Stations;
  advice.Targets = S.Targets;
  advice.Before = Start.Today.Verdict;
  advice.AlreadyWorks = true;
  advice.Reached = true;
  advice.Summary = "The bus works at data " + RateText(S.Targets.DataRate) + " with arbitration " +
                   RateText(S.Targets.ArbitrationRate) + " as it is; nothing needs to change";
  advice.Runs = static_cast<int>(Start.Stations.size());
  return advice;
}

// The advice when the request is beyond any wiring: said at once, with the reason.
TAdvice unreachable(TSearch& S, const TStart& Start, const std::string& File) {
  TAdvice advice = finish(S, Start.Today, TFound{}, File, Start.Stations);
  advice.Summary = Start.Unreachable;
  advice.Summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(advice.Summary[0])));
  return advice;
}

}  // namespace busweave::advice_detail

namespace busweave {

using advice_detail::alreadyWorks;
using advice_detail::cancelled;
using advice_detail::finish;
using advice_detail::indices;
using advice_detail::reserveSteps;
using advice_detail::runUnits;
using advice_detail::startSearch;
using advice_detail::TFound;
using advice_detail::TSearch;
using advice_detail::TSearchCancelled;
using advice_detail::TStart;
using advice_detail::unreachable;

std::optional<TReceiverMargin> LeastMarginOf(const TStreamVerdict& Verdict, TBusPhase Phase, std::int64_t BitRate) {
  std::optional<TReceiverMargin> least;
  for (const TReceiverMargin& m : Verdict.Margins)
    if (m.Phase == Phase && m.BitRate == BitRate &&
        (!least || std::min(m.EarlyMargin, m.LateMargin) < std::min(least->EarlyMargin, least->LateMargin)))
      least = m;
  return least;
}

std::optional<double> LeastMargin(const TStreamVerdict& Verdict, TBusPhase Phase, std::int64_t BitRate) {
  const auto least = LeastMarginOf(Verdict, Phase, BitRate);
  if (!least) return std::nullopt;
  return std::min(least->EarlyMargin, least->LateMargin);
}

TAdvice Advise(const TCanNodes& Net, const std::string& File, const TAdviceOptions& Options) {
  TSearch search(Net, Options);
  TStart start;
  try {
    if (startSearch(search, start)) return alreadyWorks(search, start, File);
    if (!start.Unreachable.empty()) return unreachable(search, start, File);
    TFound found;
    found.Candidates = start.Candidates;
    found.Singles = start.Singles;
    reserveSteps(search, found.Candidates, indices(0, found.Singles));
    const std::size_t pairSteps =
        reserveSteps(search, found.Candidates, indices(found.Singles, found.Candidates.size()));
    found.Results = runUnits(search, found.Candidates, indices(0, found.Singles));
    // The pairs only where no single change works.
    if (std::none_of(found.Results.begin(), found.Results.end(), [](const TUnitResult& R) { return R.Works; })) {
      std::vector<TUnitResult> pairs =
          runUnits(search, found.Candidates, indices(found.Singles, found.Candidates.size()));
      found.Results.insert(found.Results.end(), pairs.begin(), pairs.end());
    } else {
      search.settleSteps(pairSteps, 0);
      found.Candidates.resize(found.Singles);
    }
    TAdvice advice = finish(search, start.Today, found, File, start.Stations);
    search.stepsEnded();
    return advice;
  } catch (const TSearchCancelled&) {
    return cancelled(File);
  }
}

}  // namespace busweave
