// One unit of an advice search: a candidate tried on the changed network, its length found by
// bisection on the grid where it has one, and the change found proved by the full runs.

#include <algorithm>
#include <iterator>
#include <optional>

#include "advice/SearchSteps.h"

namespace busweave::advice_detail {
namespace {

// A step of the search works only with this share of the bit time to spare at both target rates:
// the sum of the edge responses and the full run of the stream differ by a few nanoseconds, and
// a length found right at the edge would fail its proof.
constexpr double kGuardShare = 0.02;
// How often a found length is shortened (by a twentieth each time) when its proof fails.
constexpr int kProofRetries = 2;

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
  trial.Plan = S.withDriver(S.planOf(Edits));
  const auto width = static_cast<std::size_t>(Width);
  for (std::size_t from = 0; from < Which.size(); from += width) {
    const auto first = Which.begin() + static_cast<std::ptrdiff_t>(from);
    const std::vector<std::size_t> batch(first,
                                         first + static_cast<std::ptrdiff_t>(std::min(width, Which.size() - from)));
    for (TTransmitterRun& run : S.run(trial.Plan, batch, Width)) {
      std::vector<TTransmitterRun> one;
      one.push_back(std::move(run));
      if (!reachesSafely(JudgeRuns(one, S.AtTargets, TJudged::RatesOnly), S.Targets))
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
    S.stepDone(verdict.Confirmations.size() - before);
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
        trial.Failed.empty()
            ? LeastMargin(JudgeRuns(trial.Runs, S.AtTargets, TJudged::RatesOnly), TBusPhase::Data, S.Targets.DataRate)
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

}  // namespace

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

}  // namespace busweave::advice_detail
