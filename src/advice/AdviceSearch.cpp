#include "advice/AdviceSearch.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <exception>
#include <iterator>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "analysis/AnalyzeBus.h"
#include "circuit/CircuitFile.h"
#include "model/BusCheck.h"
#include "model/BusLayout.h"
#include "model/NameText.h"

namespace busweave {
namespace {

constexpr std::int64_t kGridMm = 10;
// A step of the search works only with this share of the bit time to spare at both target rates:
// the sum of the edge responses and the full run of the stream differ by a few nanoseconds, and
// a length found right at the edge would fail its proof.
constexpr double kGuardShare = 0.02;
// How often a found length is shortened (by a twentieth each time) when its proof fails.
constexpr int kProofRetries = 2;
// The stubs searched at most: those of the stations a failure names first, then the longest.
constexpr std::size_t kMostStubs = 3;

// How a unit's failure begins when a proof of it did not finish (its runs are judged all the same).
constexpr const char* kNotProved = "not proved: ";

// A search stopped by its caller.
struct TSearchCancelled {};

std::string metres(std::int64_t Mm) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f m", static_cast<double>(Mm) / 1000.0);
  return text;
}

std::string lowerFirst(std::string Text) {
  if (!Text.empty()) Text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(Text[0])));
  return Text;
}

std::string nodeName(const TCanNodes& Net, TPoint P) {
  const TNode* node = Net.NodeAt(P);
  if (!node) return "the wire end at (" + std::to_string(P.X) + ", " + std::to_string(P.Y) + ")";
  return NameToUtf8(node->FName);
}

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

bool rateWorks(const TStreamVerdict& Verdict, TBusPhase Phase, std::int64_t Rate) {
  for (const TRateVerdict& r : Verdict.Bus.Rates)
    if (r.Phase == Phase && r.BitRate == Rate) return r.Works;
  return false;
}

bool reaches(const TStreamVerdict& Verdict, const TAdviceTargets& Targets) {
  return rateWorks(Verdict, TBusPhase::Data, Targets.DataRate) &&
         rateWorks(Verdict, TBusPhase::Arbitration, Targets.ArbitrationRate);
}

// Reaches the targets with the guard to spare.
bool reachesSafely(const TStreamVerdict& Verdict, const TAdviceTargets& Targets) {
  if (!reaches(Verdict, Targets)) return false;
  for (const auto& [phase, rate] :
       {std::pair{TBusPhase::Data, Targets.DataRate}, std::pair{TBusPhase::Arbitration, Targets.ArbitrationRate}}) {
    const std::optional<double> margin = LeastMargin(Verdict, phase, rate);
    if (margin && *margin < kGuardShare / static_cast<double>(rate)) return false;
  }
  return true;
}

// Everything a unit or a proof needs, shared by the threads of a search.
struct TSearch {
  const TCanNodes& Net;
  const TAdviceOptions& Options;
  TAnalysisSettings Settings;   // judged at the targets
  TAnalysisSettings AtTargets;  // the targets alone: what a trial needs to know
  TAdviceTargets Targets;
  std::size_t Stations = 0;
  std::set<std::size_t> Failing;  // transmitters whose streams fail today, tried first
  std::mutex ProgressLock;
  std::size_t Done = 0;
  std::size_t Total = 0;

  TSearch(const TCanNodes& N, const TAdviceOptions& O) : Net(N), Options(O) {}

  void aim(const TAnalysisSettings& Base, const TAdviceTargets& T) {
    Targets = T;
    Settings = judgedAt(Base, T);
    AtTargets = Settings;
    AtTargets.DataRates = {T.DataRate};
    AtTargets.ArbitrationRates = {T.ArbitrationRate};
  }

  TAnalysisPlan planOf(const std::vector<TEdit>& Edits) const {
    const std::unique_ptr<TCanNodes> net = Net.Snapshot();
    ApplyEdits(*net, Edits);
    TCircuitSources sources;
    const TextLines lines = CircuitFromTemplates(*net, Options.Templates, nullptr, &sources);
    return PlanAnalysis(lines, sources);
  }

  TRunOptions runOptions(int Jobs) const {
    TRunOptions o = Options.Run;
    o.Jobs = Jobs;
    o.Progress = nullptr;
    o.KeepTraces = false;
    o.PatternRate = 0;
    o.Thresholds = Settings.Thresholds;
    return o;
  }

  std::vector<TTransmitterRun> run(const TAnalysisPlan& Plan, const std::vector<std::size_t>& Transmitters, int Jobs) {
    TRunsOutcome outcome = RunTransmitters(Plan, Transmitters, runOptions(Jobs));
    if (outcome.Cancelled) throw TSearchCancelled{};
    return std::move(outcome.Runs);
  }

  // Progress counts transmitter runs; a unit's are estimated when it starts.
  void addSteps(std::size_t Steps) {
    std::lock_guard lock(ProgressLock);
    Total += Steps;
  }
  void stepDone(std::size_t Runs) {
    if (!Options.Run.Progress) return;
    std::lock_guard lock(ProgressLock);
    Done += Runs;
    Total = std::max(Total, Done);
    Options.Run.Progress({Done, Total, std::string()});
  }
};

std::vector<TEdit> lengthEdits(const TCandidate& C, std::int64_t Step) {
  std::vector<TEdit> edits = C.Edits;
  for (std::size_t i = 0; i < C.Wires.size(); ++i) {
    const double share = static_cast<double>(Step) / static_cast<double>(C.Steps);
    const auto mm = std::max<std::int64_t>(1, std::llround(static_cast<double>(C.Lengths[i]) * share));
    edits.push_back({C.Wires[i], "length", mm, C.Lengths[i]});
  }
  return edits;
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

// The runs of some transmitters on a changed network and whether their streams reach the
// targets with the guard to spare; Failed names those whose streams do not.
struct TTrial {
  bool Works = false;
  std::vector<TTransmitterRun> Runs;
  std::vector<std::size_t> Failed;
  TAnalysisPlan Plan;
};

// Runs Which on the network with Edits, Width at a time. Unless Whole, it stops after the first
// batch with a stream that misses the targets. A stream's verdict is its own: the runs of
// different transmitters are judged apart and together alike.
TTrial tryChange(TSearch& S, const std::vector<TEdit>& Edits, const std::vector<std::size_t>& Which, bool Whole,
                 int Width, int& Runs) {
  TTrial trial;
  trial.Plan = S.planOf(Edits);
  const auto width = static_cast<std::size_t>(Width);
  for (std::size_t from = 0; from < Which.size(); from += width) {
    const auto first = Which.begin() + static_cast<std::ptrdiff_t>(from);
    const std::vector<std::size_t> batch(first,
                                         first + static_cast<std::ptrdiff_t>(std::min(width, Which.size() - from)));
    for (TTransmitterRun& run : S.run(trial.Plan, batch, Width)) {
      std::vector<TTransmitterRun> one;
      one.push_back(std::move(run));
      if (!reachesSafely(JudgeRuns(one, S.AtTargets), S.Targets))
        trial.Failed.push_back(static_cast<std::size_t>(one.front().Transmitter));
      trial.Runs.push_back(std::move(one.front()));
    }
    Runs += static_cast<int>(batch.size());
    S.stepDone(batch.size());
    if (!Whole && !trial.Failed.empty()) return trial;
  }
  trial.Works = trial.Failed.empty();
  return trial;
}

// The transmitters in the order a trial runs them: those that fail today first.
std::vector<std::size_t> failingFirst(const TSearch& S) {
  std::vector<std::size_t> order(S.Failing.begin(), S.Failing.end());
  for (std::size_t t = 0; t < S.Stations; ++t)
    if (!S.Failing.count(t)) order.push_back(t);
  return order;
}

// Runs sorted by transmitter, one each: a whole trial's runs.
std::vector<TTransmitterRun> byTransmitter(std::vector<TTransmitterRun> Runs) {
  std::sort(Runs.begin(), Runs.end(),
            [](const TTransmitterRun& L, const TTransmitterRun& R) { return L.Transmitter < R.Transmitter; });
  Runs.erase(
      std::unique(Runs.begin(), Runs.end(),
                  [](const TTransmitterRun& L, const TTransmitterRun& R) { return L.Transmitter == R.Transmitter; }),
      Runs.end());
  return Runs;
}

// The trial's verdict checked by the full runs of the stream at the target rates, which are all
// a proposal claims. A change the responses already fail is not proposed: nothing to check.
TStreamVerdict proveTrial(TSearch& S, const TTrial& Trial, int& Runs) {
  TStreamVerdict verdict = JudgeRuns(Trial.Runs, S.Settings);
  if (S.Options.Confirm && reaches(verdict, S.Targets)) {
    const std::size_t before = verdict.Confirmations.size();
    // A proof that does not finish leaves its rate failing, named in the verdict.
    if (!ConfirmVerdict(Trial.Plan, Trial.Runs, S.Settings, S.runOptions(1), verdict,
                        {{TBusPhase::Data, S.Targets.DataRate}, {TBusPhase::Arbitration, S.Targets.ArbitrationRate}}))
      throw TSearchCancelled{};
    Runs += static_cast<int>(verdict.Confirmations.size() - before);
  }
  return verdict;
}

void keep(TUnitResult& Result, TTrial&& Trial, const TStreamVerdict& Verdict, const TAdviceTargets& Targets) {
  Result.Judged = true;
  Result.Works = reaches(Verdict, Targets);
  Result.Least = LeastMarginOf(Verdict, TBusPhase::Data, Targets.DataRate);
  Result.Failure.clear();
  for (const std::string& why : Verdict.Unproved) Result.Failure += (Result.Failure.empty() ? kNotProved : "; ") + why;
  Result.MaxArbitrationRate = Verdict.Bus.MaxArbitrationRate;
  Result.MaxDataRate = Verdict.Bus.MaxDataRate;
  Result.Final = std::move(Trial.Runs);
}

// The bisection of a candidate's length. A step runs only the transmitters that have failed
// somewhere in it (those failing today to begin with), and of those only the ones not yet seen
// to pass at a longer step: a shorter wire passes wherever a longer one does. At the longest
// step found the others run too; one that fails there is tried from then on, and the bisection
// goes on below. Every answer is thus a step where every transmitter's stream was judged.
struct TLengthSearch {
  TSearch& S;
  const TCandidate& C;
  int Width;
  TUnitResult& Result;
  std::vector<std::size_t> Tried;
  std::vector<std::int64_t> PassesUpTo;     // per transmitter: the longest step seen to pass
  std::int64_t Low = 0;                     // every tried transmitter passes here (0: no step yet)
  std::int64_t High = 0;                    // a tried transmitter fails here
  std::vector<TTransmitterRun> AtLow;       // the runs made at Low
  std::vector<TTransmitterRun> AtShortest;  // every run made at step 1

  TLengthSearch(TSearch& Search, const TCandidate& Candidate, int W, TUnitResult& R)
      : S(Search), C(Candidate), Width(W), Result(R), PassesUpTo(Search.Stations, 0) {
    Tried.assign(S.Failing.begin(), S.Failing.end());
    if (Tried.empty()) Tried.push_back(0);
  }

  TTrial at(std::int64_t Step, const std::vector<std::size_t>& Which, bool Whole) {
    TTrial trial = tryChange(S, lengthEdits(C, Step), Which, Whole, Width, Result.Runs);
    if (Step == 1) AtShortest.insert(AtShortest.end(), trial.Runs.begin(), trial.Runs.end());
    // The margin over length the report draws: what the streams run at this step keep.
    const std::optional<double> margin =
        trial.Failed.empty() ? LeastMargin(JudgeRuns(trial.Runs, S.AtTargets), TBusPhase::Data, S.Targets.DataRate)
                             : std::optional<double>(0.0);
    if (margin) Result.Curve.emplace_back(Step, *margin);
    return trial;
  }

  void step(std::int64_t Step) {
    std::vector<std::size_t> which;
    for (std::size_t t : Tried)
      if (PassesUpTo[t] < Step) which.push_back(t);
    TTrial trial = at(Step, which, false);
    if (!trial.Works) {
      High = Step;
      return;
    }
    for (const TTransmitterRun& run : trial.Runs) {
      std::int64_t& passes = PassesUpTo[static_cast<std::size_t>(run.Transmitter)];
      passes = std::max(passes, Step);
    }
    Low = Step;
    AtLow = std::move(trial.Runs);
  }

  // The transmitters without a run in Runs, those failing today first.
  std::vector<std::size_t> notIn(const std::vector<TTransmitterRun>& Runs) const {
    std::vector<std::size_t> rest;
    for (std::size_t t : failingFirst(S))
      if (std::none_of(Runs.begin(), Runs.end(),
                       [t](const TTransmitterRun& R) { return R.Transmitter == static_cast<int>(t); }))
        rest.push_back(t);
    return rest;
  }

  // Every transmitter at Low; true when all pass, with the whole trial in Found.
  bool complete(TTrial& Found) {
    TTrial trial = at(Low, notIn(AtLow), true);
    for (std::size_t t : trial.Failed) {
      // Seen to pass further out but failing here: what was seen there no longer counts.
      PassesUpTo[t] = std::min(PassesUpTo[t], Low - 1);
      if (std::find(Tried.begin(), Tried.end(), t) == Tried.end()) Tried.push_back(t);
    }
    if (!trial.Works) {
      High = Low;
      Low = 0;
      return false;
    }
    trial.Runs.insert(trial.Runs.end(), std::make_move_iterator(AtLow.begin()), std::make_move_iterator(AtLow.end()));
    trial.Runs = byTransmitter(std::move(trial.Runs));
    Found = std::move(trial);
    return true;
  }

  // The longest working step, or nothing when not even the shortest works.
  std::optional<TTrial> run() {
    High = C.Steps;
    // With fixed edits beside it the wire as it is may work; without, it is today's network.
    if (!C.Edits.empty()) {
      High = C.Steps + 1;
      step(C.Steps);
    }
    for (;;) {
      if (Low == 0 && High > 1) step(1);
      if (Low == 0) return std::nullopt;
      while (High - Low > 1) step(Low + (High - Low) / 2);
      TTrial found;
      if (complete(found)) {
        Result.Step = Low;
        return found;
      }
    }
  }

  // The shortest step judged whole, for the best a failing search found.
  TTrial shortestWhole() {
    TTrial trial = at(1, notIn(AtShortest), true);
    trial.Runs.insert(trial.Runs.end(), AtShortest.begin(), AtShortest.end());
    trial.Runs = byTransmitter(std::move(trial.Runs));
    return trial;
  }
};

// One unit: the candidate searched and proved.
TUnitResult runUnit(TSearch& S, const TCandidate& C, int Width) {
  TUnitResult result;
  result.Candidate = C.Id;
  if (C.Wires.empty()) {
    TTrial trial = tryChange(S, C.Edits, failingFirst(S), true, Width, result.Runs);
    trial.Runs = byTransmitter(std::move(trial.Runs));
    const TStreamVerdict verdict = proveTrial(S, trial, result.Runs);
    keep(result, std::move(trial), verdict, S.Targets);
    return result;
  }
  TLengthSearch search(S, C, Width, result);
  std::optional<TTrial> best = search.run();
  if (!best) {
    // Not even the shortest works: judged whole all the same, for the best a failing search found.
    TTrial shortest = search.shortestWhole();
    const TStreamVerdict verdict = JudgeRuns(shortest.Runs, S.Settings);
    keep(result, std::move(shortest), verdict, S.Targets);
    result.Works = false;
    result.Step = 1;
    return result;
  }
  // The full runs of the stream decide; a length they fail is shortened by a twentieth and
  // tried again.
  TStreamVerdict verdict = proveTrial(S, *best, result.Runs);
  for (int retry = 0; retry < kProofRetries && !reaches(verdict, S.Targets) && result.Step > 1; ++retry) {
    result.Step -= std::max<std::int64_t>(1, result.Step / 20);
    best = tryChange(S, lengthEdits(C, result.Step), failingFirst(S), true, Width, result.Runs);
    best->Runs = byTransmitter(std::move(best->Runs));
    verdict = proveTrial(S, *best, result.Runs);
  }
  keep(result, std::move(*best), verdict, S.Targets);
  return result;
}

// Calls Work(i) for i in [0, Count) on Jobs threads; the first failure is rethrown once all
// have stopped, and stops the others from taking more.
template <class TWork>
void inParallel(std::size_t Count, int Jobs, TWork Work) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr first;
  std::mutex lock;
  const auto worker = [&] {
    for (std::size_t i = next++; i < Count && !failed; i = next++) {
      try {
        Work(i);
      } catch (...) {
        std::lock_guard guard(lock);
        if (!first) first = std::current_exception();
        failed = true;
      }
    }
  };
  std::vector<std::thread> threads;
  const auto n = std::min<std::size_t>(Count, static_cast<std::size_t>(std::max(1, Jobs)));
  for (std::size_t t = 0; t < n; ++t) threads.emplace_back(worker);
  for (std::thread& t : threads) t.join();
  if (first) std::rethrow_exception(first);
}

// A unit's cost in transmitter runs, roughly: the shards are balanced by it.
std::int64_t unitCost(const TCandidate& C, std::size_t Stations) {
  const auto whole = static_cast<std::int64_t>(Stations);
  if (C.Wires.empty()) return whole;
  std::int64_t steps = 1;
  for (std::int64_t n = 1; n < C.Steps; n *= 2) ++steps;
  return whole + steps * (whole + 1) / 2;
}

// The candidates' shards: the costliest first, each to the shard with the least so far, so that
// the shards take about equally long whatever the mix of fixed changes and searched lengths.
std::vector<int> shardsOf(const std::vector<TCandidate>& Candidates, std::size_t Stations, int Shards) {
  std::vector<std::size_t> order(Candidates.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t L, std::size_t R) {
    return unitCost(Candidates[L], Stations) > unitCost(Candidates[R], Stations);
  });
  std::vector<std::int64_t> load(static_cast<std::size_t>(Shards), 0);
  std::vector<int> shard(Candidates.size(), 1);
  for (std::size_t i : order) {
    const auto least = static_cast<std::size_t>(std::min_element(load.begin(), load.end()) - load.begin());
    load[least] += unitCost(Candidates[i], Stations);
    shard[i] = static_cast<int>(least) + 1;
  }
  return shard;
}

// The units of the candidates Which names, side by side. With fewer units than workers each
// runs several transmitters at a time, so that every worker stays busy.
std::vector<TUnitResult> runUnits(TSearch& S, const std::vector<TCandidate>& Candidates,
                                  const std::vector<std::size_t>& Which) {
  std::vector<TUnitResult> results(Which.size());
  if (Which.empty()) return results;
  for (std::size_t i : Which) S.addSteps(static_cast<std::size_t>(unitCost(Candidates[i], S.Stations)));
  const int jobs = std::max(1, S.Options.Run.Jobs);
  const int side = static_cast<int>(std::min<std::size_t>(Which.size(), static_cast<std::size_t>(jobs)));
  inParallel(Which.size(), side, [&](std::size_t i) {
    const TCandidate& c = Candidates[Which[i]];
    try {
      results[i] = runUnit(S, c, jobs / side);
    } catch (const EAnalysisError& error) {
      // A changed network the simulator cannot run is no answer; the search goes on without it.
      results[i] = TUnitResult{};
      results[i].Candidate = c.Id;
      results[i].Failure = error.what();
    }
  });
  return results;
}

std::vector<std::size_t> indices(std::size_t From, std::size_t To) {
  std::vector<std::size_t> list;
  for (std::size_t i = From; i < To; ++i) list.push_back(i);
  return list;
}

// Today's verdict decides the targets, the transmitters whose streams fail and the station that
// decides.
struct TToday {
  std::vector<TTransmitterRun> Runs;
  TStreamVerdict Verdict;
  std::set<std::size_t> Failing;    // transmitters whose streams fail at the targets
  std::vector<std::string> Decide;  // stations named by the failures, receivers and transmitters
  std::string Receiver;
};

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

TPoint nodeNamed(const TCanNodes& Net, const std::string& Name, bool& Found) {
  for (int i = 0; i < Net.Count(); ++i)
    if (const TNode* node = Net.NodeAtIndex(i); node && NameToUtf8(node->FName) == Name) {
      Found = true;
      return node->FPos;
    }
  Found = false;
  return {};
}

TEdit resistanceEdit(const TCanNodes& Net, TPoint P, std::int64_t Value) {
  return {TCanNodes::NodeKey(P), "resistance", Value, Net.NodeAt(P)->FResistance};
}

// Every change worth trying, from the layout and today's failures, in a fixed order.
std::vector<TCandidate> candidatesOf(const TCanNodes& Net, const TBusLayout& Layout, const TToday& Today,
                                     const TAdviceTargets& Targets) {
  std::vector<TCandidate> list;
  const auto isEnd = [&](TPoint P) { return P == Layout.EndA || P == Layout.EndB; };
  const auto terminated = [&](TPoint P) {
    return std::find(Layout.Terminations.begin(), Layout.Terminations.end(), P) != Layout.Terminations.end();
  };
  std::vector<TPoint> open;  // trunk ends with a node and no termination
  for (TPoint end : {Layout.EndA, Layout.EndB})
    if (Net.NodeAt(end) && !terminated(end)) open.push_back(end);
  std::vector<TPoint> misplaced;
  for (TPoint t : Layout.Terminations)
    if (!isEnd(t)) misplaced.push_back(t);
  const std::int64_t termination = Net.FZL;
  const std::int64_t none = Net.FNoZL;
  int n = 0;
  const auto fixed = [&](std::string Text, std::vector<TEdit> Edits) {
    TCandidate c;
    c.Id = "t" + std::to_string(++n);
    c.Kind = TChangeKind::Termination;
    c.Text = std::move(Text);
    c.Edits = std::move(Edits);
    list.push_back(std::move(c));
  };
  for (TPoint from : misplaced)
    for (TPoint to : open) {
      const std::int64_t value = Net.NodeAt(from)->FResistance;
      const std::int64_t moved = value >= 100 && value <= 130 ? value : termination;
      // A value that changes on the way is said: the engineer fits another resistor.
      fixed("move the termination from " + nodeName(Net, from) + " to " + nodeName(Net, to) +
                (moved == value ? std::string() : " and make it " + std::to_string(moved) + " ohms"),
            {resistanceEdit(Net, from, none), resistanceEdit(Net, to, moved)});
    }
  if (Layout.Terminations.size() < 2)
    for (TPoint to : open)
      fixed("add a termination of " + std::to_string(termination) + " ohms at " + nodeName(Net, to),
            {resistanceEdit(Net, to, termination)});
  // A wrong value is set in place too where the termination is not at an end: the move above
  // may not be possible in the harness.
  for (TPoint t : Layout.Terminations) {
    const std::int64_t value = Net.NodeAt(t)->FResistance;
    if (value != termination && (value < 100 || value > 130))
      fixed("set the termination at " + nodeName(Net, t) + " from " + std::to_string(value) + " to " +
                std::to_string(termination) + " ohms",
            {resistanceEdit(Net, t, termination)});
  }
  if (Layout.Terminations.size() > 2)
    for (TPoint from : misplaced)
      fixed("remove the termination at " + nodeName(Net, from), {resistanceEdit(Net, from, none)});

  // The stubs of the stations the failures name.
  const auto lengthsOf = [&](TCandidate& C, const std::vector<std::string>& Wires, std::string What) {
    C.Wires = Wires;
    C.Groups = {{std::move(What), Wires.size()}};
    std::int64_t total = 0;
    for (const std::string& key : Wires) {
      const TTrmLine* wire = Net.WireAtIndex(Net.IndexOf(key));
      C.Lengths.push_back(wire->FLength);
      total += wire->FLength;
    }
    C.Steps = std::max<std::int64_t>(1, (total + kGridMm - 1) / kGridMm);
  };
  // The stubs of the stations the failures name, then the longest others: a reflection from a
  // stub reaches every station, also those on the trunk.
  std::vector<const TBusStub*> stubs;
  for (const std::string& name : Today.Decide) {
    bool found = false;
    const TPoint at = nodeNamed(Net, name, found);
    if (const TBusStub* stub = found ? StubTo(Layout, at) : nullptr) stubs.push_back(stub);
  }
  std::vector<const TBusStub*> longest;
  for (const TBusStub& stub : Layout.Stubs) longest.push_back(&stub);
  std::stable_sort(longest.begin(), longest.end(),
                   [](const TBusStub* L, const TBusStub* R) { return L->LengthMm > R->LengthMm; });
  stubs.insert(stubs.end(), longest.begin(), longest.end());
  int s = 0;
  std::set<std::string> seen;
  for (const TBusStub* stub : stubs) {
    if (seen.size() >= kMostStubs) break;
    if (stub->LengthMm <= 2 * kGridMm || !Net.NodeAt(stub->Far) || !seen.insert(stub->Wires.front()).second) continue;
    const std::string name = nodeName(Net, stub->Far);
    TCandidate c;
    c.Id = "s" + std::to_string(++s);
    c.Kind = TChangeKind::Stub;
    c.Station = name;
    c.Text = "shorten the stub to " + name + " (" + metres(static_cast<std::int64_t>(stub->LengthMm)) + ")";
    lengthsOf(c, stub->Wires, "the stub to " + name);
    list.push_back(std::move(c));
  }
  const bool arbitrationFails = !rateWorks(Today.Verdict, TBusPhase::Arbitration, Targets.ArbitrationRate);
  if (arbitrationFails && Layout.TrunkMm > 2 * kGridMm) {
    TCandidate c;
    c.Id = "trunk";
    c.Kind = TChangeKind::Trunk;
    c.Text = "shorten the trunk (" + metres(static_cast<std::int64_t>(Layout.TrunkMm)) + ")";
    lengthsOf(c, Layout.Trunk, "the trunk");
    list.push_back(std::move(c));
  }
  return list;
}

double sizeOf(const std::vector<TEdit>& Edits) {
  double size = 0.0;
  for (const TEdit& e : Edits)
    size +=
        1.0 + (e.Field == "length" ? static_cast<double>(std::max<std::int64_t>(0, e.Was - e.Value)) / 1000.0 : 0.0);
  return size;
}

std::vector<TEye> eyesOf(const std::vector<TTransmitterRun>& Runs, const TAnalysisSettings& Settings,
                         std::int64_t DataRate, const std::string& Receiver) {
  TAnalysisSettings at = Settings;
  at.DataRates = {DataRate};
  TStreamVerdict verdict = JudgeRuns(Runs, at);
  std::vector<TEye> eyes;
  for (TEye& eye : verdict.Eyes)
    if (eye.Receiver == Receiver && eye.BitRate == DataRate) eyes.push_back(std::move(eye));
  return eyes;
}

std::string proposalText(const TProposal& P, const TAdviceTargets& Targets) {
  const TCandidate& c = P.Change;
  // The fixed edits in the candidate's words, then each searched group as found.
  std::string text;
  if (!c.Edits.empty()) text = c.Groups.empty() ? c.Text : c.Text.substr(0, c.Text.find(" and shorten "));
  std::size_t wire = 0;
  for (const TLengthGroup& g : c.Groups) {
    std::int64_t was = 0;
    std::int64_t now = 0;
    for (std::size_t i = 0; i < g.Wires; ++i, ++wire)
      for (const TEdit& e : P.Edits)
        if (e.Field == "length" && e.Key == c.Wires[wire]) {
          was += e.Was;
          now += e.Value;
        }
    text += (text.empty() ? "shorten " : " and shorten ") + g.What + " from " + metres(was) + " to " + metres(now);
    if (g.What.rfind("the stub to ", 0) == 0) text += " (move " + g.What.substr(12) + " closer to the trunk)";
  }
  if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  if (!P.Proved) return text;
  // Only the asked rates are stated: they are what the full runs of the stream proved.
  text += P.Reaches ? ": reaches " : ": does not reach ";
  text += "data " + RateWords(Targets.DataRate) + " with arbitration " + RateWords(Targets.ArbitrationRate);
  if (P.Reaches) {
    char margin[64];
    std::snprintf(margin, sizeof margin, "; least margin at data %s: %.1f ns", RateWords(Targets.DataRate).c_str(),
                  P.Margin * 1e9);
    text += margin;
    if (!P.MarginWhere.empty()) text += " at " + P.MarginWhere;
  }
  return text;
}

// Candidates made of two of the first Most singles (the list puts the terminations first, then
// the stubs of the failing stations, then the longest others): the fixed edits of both, or a fixed change with the
// other's length searched again on top of it; two lengths are searched together.
std::vector<TCandidate> pairsOf(const std::vector<TCandidate>& Singles, std::size_t Most) {
  std::vector<TCandidate> pairs;
  const std::size_t paired = std::min(Singles.size(), Most);
  for (std::size_t i = 0; i < paired; ++i)
    for (std::size_t j = i + 1; j < paired; ++j) {
      const TCandidate* a = &Singles[i];
      const TCandidate* b = &Singles[j];
      if (a->Edits.empty() && !b->Edits.empty()) std::swap(a, b);
      bool clash = false;
      for (const TEdit& x : a->Edits)
        for (const TEdit& y : b->Edits) clash = clash || x.Key == y.Key;
      for (const std::string& x : a->Wires)
        for (const std::string& y : b->Wires) clash = clash || x == y;
      if (clash) continue;
      TCandidate c;
      c.Id = a->Id + "+" + b->Id;
      c.Kind = TChangeKind::Pair;
      c.Text = a->Text + " and " + b->Text;
      c.Station = b->Station.empty() ? a->Station : b->Station;
      c.Edits = a->Edits;
      c.Edits.insert(c.Edits.end(), b->Edits.begin(), b->Edits.end());
      c.Wires = a->Wires;
      c.Wires.insert(c.Wires.end(), b->Wires.begin(), b->Wires.end());
      c.Lengths = a->Lengths;
      c.Lengths.insert(c.Lengths.end(), b->Lengths.begin(), b->Lengths.end());
      c.Groups = a->Groups;
      c.Groups.insert(c.Groups.end(), b->Groups.begin(), b->Groups.end());
      c.Steps = std::max(a->Steps, b->Steps);
      pairs.push_back(std::move(c));
    }
  return pairs;
}

struct TFound {
  std::vector<TCandidate> Candidates;
  std::vector<TUnitResult> Results;  // by candidate, in the candidates' order
  std::size_t Singles = 0;           // the candidates before the pairs
};

// The advice from the units' results: the changes that reach the targets by size, or, when none
// does, the judged ones that come nearest. No run is made here.
TAdvice finish(TSearch& S, const TToday& Today, const TFound& Found, const std::string& File,
               const std::vector<std::string>& Stations) {
  TAdvice advice;
  advice.File = File;
  advice.Settings = S.Settings;
  advice.Stations = Stations;
  advice.Targets = S.Targets;
  advice.Before = Today.Verdict;
  for (const std::string& why : Today.Verdict.Unproved) advice.Unproved.push_back("the bus as it is: " + why);
  advice.Receiver = Today.Receiver;
  advice.CheckErrors = checkErrors(S, {});
  advice.BeforeEyes = eyesOf(Today.Runs, S.Settings, S.Targets.DataRate, Today.Receiver);
  // The pairs count only where no single change works, as in a search that tried them only then.
  bool singleWorks = false;
  for (std::size_t i = 0; i < Found.Singles && i < Found.Results.size(); ++i) singleWorks |= Found.Results[i].Works;
  std::vector<TProposal> list;
  for (std::size_t i = 0; i < Found.Results.size(); ++i) {
    const TUnitResult& r = Found.Results[i];
    if (!r.Judged || (singleWorks && i >= Found.Singles)) continue;
    TProposal p;
    p.Change = Found.Candidates[i];
    p.Edits = p.Change.Wires.empty() ? p.Change.Edits : lengthEdits(p.Change, r.Step);
    p.Size = sizeOf(p.Edits);
    p.CheckErrors = checkErrors(S, p.Edits);
    p.Proved = true;
    p.Reaches = r.Works;
    p.MaxArbitrationRate = r.MaxArbitrationRate;
    p.MaxDataRate = r.MaxDataRate;
    // The margin stated is the least of the proved verdict's and of the responses' sum: a part
    // may claim less margin than its runs show, never more.
    std::optional<TReceiverMargin> least =
        LeastMarginOf(JudgeRuns(r.Final, S.Settings), TBusPhase::Data, S.Targets.DataRate);
    if (r.Least && (!least || std::min(r.Least->EarlyMargin, r.Least->LateMargin) <
                                  std::min(least->EarlyMargin, least->LateMargin)))
      least = r.Least;
    if (least) {
      p.Margin = std::min(least->EarlyMargin, least->LateMargin);
      p.MarginWhere = least->Receiver + (least->Own ? " itself" : " from " + least->Transmitter) + ", bit " +
                      std::to_string(least->Bit + 1) + " (" + BitRole(WorstCaseStream(), least->Bit) + ")";
    }
    p.Receiver = Today.Receiver;
    p.Curve = r.Curve;
    p.Eyes = eyesOf(r.Final, S.Settings, S.Targets.DataRate, Today.Receiver);
    list.push_back(std::move(p));
  }
  std::stable_sort(list.begin(), list.end(), [](const TProposal& L, const TProposal& R) {
    if (L.Reaches != R.Reaches) return L.Reaches;
    if (!L.Reaches && L.MaxDataRate != R.MaxDataRate) return L.MaxDataRate > R.MaxDataRate;
    if (!L.Reaches && L.MaxArbitrationRate != R.MaxArbitrationRate) return L.MaxArbitrationRate > R.MaxArbitrationRate;
    // A change that leaves the bus check's errors is no fix of the harness.
    if (L.CheckErrors.empty() != R.CheckErrors.empty()) return L.CheckErrors.empty();
    return L.Size < R.Size;
  });
  const bool reached = !list.empty() && list.front().Reaches;
  const std::size_t most = reached ? S.Options.MostProposals : std::min<std::size_t>(3, S.Options.MostProposals);
  for (TProposal& p : list) {
    if (advice.Proposals.size() >= most || (reached && !p.Reaches)) break;
    // The rates ranked by above come from the edge responses; those stated are the proved ones.
    p.MaxArbitrationRate = p.Reaches ? S.Targets.ArbitrationRate : 0;
    p.MaxDataRate = p.Reaches ? S.Targets.DataRate : 0;
    p.Text = proposalText(p, S.Targets);
    advice.Proposals.push_back(std::move(p));
  }
  advice.Reached = reached;
  const std::string target =
      "data " + RateWords(S.Targets.DataRate) + " with arbitration " + RateWords(S.Targets.ArbitrationRate);
  if (reached && reaches(Today.Verdict, S.Targets))
    advice.Summary = "The bus works at " + target + " as it is, but the bus check finds errors; " +
                     lowerFirst(advice.Proposals.front().Text);
  else if (reached)
    advice.Summary = advice.Proposals.front().Text;
  else if (advice.Proposals.empty())
    advice.Summary = "No change tried reaches " + target + "; no change judged on this layout comes nearer";
  else
    advice.Summary = "No change tried reaches " + target + "; the best found: " + advice.Proposals.front().Text;
  for (std::size_t i = 0; i < Found.Results.size(); ++i) {
    advice.Runs += Found.Results[i].Runs;
    const std::string& failure = Found.Results[i].Failure;
    if (failure.rfind(kNotProved, 0) == 0)
      advice.Unproved.push_back(Found.Candidates[i].Text + ": " + failure);
    else if (!failure.empty())
      advice.Unsimulated.push_back(Found.Candidates[i].Text + ": " + failure);
  }
  advice.Runs += static_cast<int>(Stations.size());
  return advice;
}

std::vector<std::size_t> everyStation(std::size_t Count) {
  std::vector<std::size_t> all(Count);
  for (std::size_t t = 0; t < Count; ++t) all[t] = t;
  return all;
}

// Today's runs and the candidates; true when today's network reaches the targets already.
struct TStart {
  TToday Today;
  TAdviceTargets Targets;
  std::vector<std::string> Stations;
  std::vector<TCandidate> Candidates;  // the singles, then their pairs
  std::size_t Singles = 0;
  std::string Unreachable;  // why no change of the wiring can reach the targets; nothing is searched then
};

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
                  RateWords(S.Targets.ArbitrationRate).c_str(), s.LoopDelay * 1e9, s.SamplePoint * 100.0,
                  RateWords(static_cast<std::int64_t>(1.0 / shortestBit / 1000.0) * 1000).c_str());
    return text;
  }
  // The driver's own bits into the bus's nominal load, as it drives them: the full runs of
  // the smallest bus fail where these do, whatever the sum of the responses says.
  if (Today.DriverMaxDataRate < S.Targets.DataRate)
    return "no change of the wiring reaches data " + RateWords(S.Targets.DataRate) +
           ": the driver alone into 60 ohms decodes its own bits only up to " +
           (Today.DriverMaxDataRate ? RateWords(Today.DriverMaxDataRate) : std::string("no data rate"));
  return {};
}

bool startSearch(TSearch& S, TStart& Start) {
  const TAnalysisPlan plan = S.planOf({});
  RefuseOversizedRuns(plan);
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
  const std::optional<TBusLayout> layout = BusLayoutOf(S.Net);
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
  advice.Summary = "The bus works at data " + RateWords(S.Targets.DataRate) + " with arbitration " +
                   RateWords(S.Targets.ArbitrationRate) + " as it is; nothing needs to change";
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

TAdvice cancelled(const std::string& File) {
  TAdvice advice;
  advice.File = File;
  advice.Cancelled = true;
  advice.Summary = "The search was stopped";
  return advice;
}

}  // namespace

void ApplyEdits(TCanNodes& Net, const std::vector<TEdit>& Edits) {
  for (const TEdit& e : Edits) {
    const int index = Net.IndexOf(e.Key);
    if (index < 0) throw EAnalysisError("the network has no element " + e.Key);
    if (e.Value < 1 || e.Value > 65535)
      throw EAnalysisError("the " + e.Field + " of " + e.Key + " cannot be " + std::to_string(e.Value) +
                           " (1 to 65535)");
    const auto value = static_cast<std::uint16_t>(e.Value);
    if (e.Field == "resistance") {
      TNode* node = Net.NodeAtIndex(index);
      if (!node) throw EAnalysisError(e.Key + " is no node; only a node has a resistance");
      node->FResistance = value;
    } else if (e.Field == "length") {
      TTrmLine* wire = Net.WireAtIndex(index);
      if (!wire) throw EAnalysisError(e.Key + " is no wire; only a wire has a length");
      wire->FLength = value;
    } else {
      throw EAnalysisError("an edit of " + e.Key + " names the field \"" + e.Field +
                           "\"; only resistance and length are changed");
    }
  }
}

const char* ChangeKindName(TChangeKind Kind) {
  switch (Kind) {
    case TChangeKind::Termination:
      return "termination";
    case TChangeKind::Stub:
      return "stub";
    case TChangeKind::Trunk:
      return "trunk";
    case TChangeKind::Pair:
      return "pair";
  }
  return "termination";
}

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
    found.Results = runUnits(search, found.Candidates, indices(0, found.Singles));
    // The pairs only where no single change works.
    if (std::none_of(found.Results.begin(), found.Results.end(), [](const TUnitResult& R) { return R.Works; })) {
      std::vector<TUnitResult> pairs =
          runUnits(search, found.Candidates, indices(found.Singles, found.Candidates.size()));
      found.Results.insert(found.Results.end(), pairs.begin(), pairs.end());
    } else {
      found.Candidates.resize(found.Singles);
    }
    return finish(search, start.Today, found, File, start.Stations);
  } catch (const TSearchCancelled&) {
    return cancelled(File);
  }
}

TAdvicePart AdviseShard(const TCanNodes& Net, const std::string& File, const TAdviceOptions& Options, int Shard,
                        int Shards) {
  TAdvicePart part;
  part.File = File;
  part.Templates = Options.Templates;
  part.Shard = Shard;
  part.Shards = Shards;
  part.Settings = Options.Settings;
  // What the part is made from, read before the runs, so that a file changed meanwhile does not
  // pass for the one they ran.
  part.Source = PartSourceOf(File, Options.Templates, Options.Settings);
  TSearch search(Net, Options);
  TStart start;
  try {
    const bool works = startSearch(search, start);
    part.Targets = start.Targets;
    part.Stations = start.Stations;
    part.Today = start.Today.Runs;
    part.Singles = start.Singles;
    if (works) return part;
    for (const TCandidate& c : start.Candidates) part.Candidates.push_back(c.Id);
    const std::vector<int> shards = shardsOf(start.Candidates, start.Stations.size(), Shards);
    std::vector<std::size_t> mine;
    for (std::size_t i = 0; i < shards.size(); ++i)
      if (shards[i] == Shard) mine.push_back(i);
    part.Units = runUnits(search, start.Candidates, mine);
  } catch (const TSearchCancelled&) {
    throw EAnalysisError("the search was stopped");
  }
  return part;
}

TAdvice AdviseFromParts(const TCanNodes& Net, const std::vector<TAdvicePart>& Parts, const TAdviceOptions& Options) {
  if (Parts.empty()) throw EAnalysisError("there are no parts to join");
  const TAdvicePart& first = Parts.front();
  std::set<int> seen;
  for (const TAdvicePart& p : Parts) {
    if (p.Shards != first.Shards) throw EAnalysisError("the parts are of searches split in different numbers of parts");
    if (!(p.Source == first.Source) || p.Targets.DataRate != first.Targets.DataRate ||
        p.Targets.ArbitrationRate != first.Targets.ArbitrationRate || p.Candidates != first.Candidates ||
        p.Singles != first.Singles || p.Stations != first.Stations)
      throw EAnalysisError("part " + std::to_string(p.Shard) + " of " + std::to_string(p.Shards) +
                           " is of another network, templates, options or rates than part " +
                           std::to_string(first.Shard));
    if (!seen.insert(p.Shard).second) throw EAnalysisError("part " + std::to_string(p.Shard) + " is given twice");
    // Today's runs decide the changes and judge them; only part 1's are used, so every part
    // must have seen the same. A caller that checked a part's as it read it may have let them go.
    if (!p.Today.empty() &&
        (p.Today.size() != first.Today.size() || !std::equal(p.Today.begin(), p.Today.end(), first.Today.begin(),
                                                             [](const TTransmitterRun& L, const TTransmitterRun& R) {
                                                               return TransmitterRunJson(L) == TransmitterRunJson(R);
                                                             })))
      throw EAnalysisError("part " + std::to_string(p.Shard) + " holds other runs of today's network than part " +
                           std::to_string(first.Shard));
  }
  for (int i = 1; i <= first.Shards; ++i)
    if (!seen.count(i))
      throw EAnalysisError("part " + std::to_string(i) + " of " + std::to_string(first.Shards) + " is missing");
  if (FileDigest(first.File) != first.Source.Network)
    throw EAnalysisError("the network file " + first.File + " has changed since the parts were made");
  TAdviceOptions options = Options;
  options.Settings = first.Settings;
  options.Templates = first.Templates;
  TSearch search(Net, options);
  search.aim(first.Settings, first.Targets);
  search.Stations = first.Stations.size();
  TStart start;
  start.Stations = first.Stations;
  start.Targets = first.Targets;
  start.Today.Runs = first.Today;
  readToday(search, start.Stations, start.Today, search.planOf({}), nullptr);
  search.Failing = start.Today.Failing;
  if (reaches(start.Today.Verdict, search.Targets) && checkErrors(search, {}).empty())
    return alreadyWorks(search, start, first.File);
  start.Unreachable = unreachableWhy(search, start.Today.Verdict);
  if (!start.Unreachable.empty()) return unreachable(search, start, first.File);
  const std::optional<TBusLayout> layout = BusLayoutOf(Net);
  if (!layout) throw EAnalysisError("its wires form a loop or fall apart");
  TFound found;
  found.Candidates = candidatesOf(Net, *layout, start.Today, search.Targets);
  found.Singles = found.Candidates.size();
  for (TCandidate& pair : pairsOf(found.Candidates, options.PairedSingles)) found.Candidates.push_back(std::move(pair));
  std::vector<std::string> ids;
  for (const TCandidate& c : found.Candidates) ids.push_back(c.Id);
  if (ids != first.Candidates || found.Singles != first.Singles)
    throw EAnalysisError("the parts list other changes than this network gives");
  // Each candidate's result from the part whose shard ran it.
  const std::vector<int> shards = shardsOf(found.Candidates, start.Stations.size(), first.Shards);
  std::map<std::string, const TAdvicePart*> owners;
  std::map<std::string, const TUnitResult*> results;
  for (const TAdvicePart& p : Parts)
    for (const TUnitResult& r : p.Units) {
      const auto at = std::find(ids.begin(), ids.end(), r.Candidate);
      if (at == ids.end() || shards[static_cast<std::size_t>(at - ids.begin())] != p.Shard ||
          !results.emplace(r.Candidate, &r).second)
        throw EAnalysisError("part " + std::to_string(p.Shard) + " holds the change " + r.Candidate +
                             ", which is not its own");
      owners[r.Candidate] = &p;
    }
  // The search counts its runs in an int; the parts' counts are summed wider and checked.
  auto runs = static_cast<std::int64_t>(start.Stations.size());
  for (const TCandidate& c : found.Candidates) {
    const std::string& id = c.Id;
    const auto r = results.find(id);
    if (r == results.end()) throw EAnalysisError("no part holds the change " + id);
    const std::string part = "part " + std::to_string(owners.at(id)->Shard);
    TUnitResult result = *r->second;
    if (result.Step > (c.Wires.empty() ? 0 : c.Steps))
      throw EAnalysisError(part + " holds a length of the change " + id + " beyond its wires' present one");
    if (result.Judged && result.Final.size() != start.Stations.size())
      throw EAnalysisError(part + " holds " + std::to_string(result.Final.size()) + " runs of the change " + id +
                           " for " + std::to_string(start.Stations.size()) + " stations");
    runs += result.Runs;
    if (runs > std::numeric_limits<int>::max())
      throw EAnalysisError(part + " counts " + std::to_string(result.Runs) + " runs for the change " + id +
                           ", which takes the search past " + std::to_string(std::numeric_limits<int>::max()));
    // A part's word is not taken for what its runs can show: each judged change is judged again
    // as the search judged it. The full runs of the stream a proof adds can only fail a rate the
    // responses pass, so a part may claim less than its runs show, never more.
    const auto unfounded = [&] {
      return EAnalysisError(part + " claims the change " + id + " reaches data " + RateWords(search.Targets.DataRate) +
                            " with arbitration " + RateWords(search.Targets.ArbitrationRate) +
                            "; its runs do not show it");
    };
    if (result.Judged) {
      const TStreamVerdict verdict = JudgeRuns(result.Final, search.Settings);
      if (result.Works && !reaches(verdict, search.Targets)) throw unfounded();
      result.MaxArbitrationRate = std::min(result.MaxArbitrationRate, verdict.Bus.MaxArbitrationRate);
      result.MaxDataRate = std::min(result.MaxDataRate, verdict.Bus.MaxDataRate);
    } else if (result.Works) {
      throw unfounded();
    }
    found.Results.push_back(std::move(result));
  }
  return finish(search, start.Today, found, first.File, start.Stations);
}

}  // namespace busweave
