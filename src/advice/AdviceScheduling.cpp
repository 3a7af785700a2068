// The units of an advice search side by side on this machine's workers, and split in shards for
// other machines: the shards balanced by each unit's cost.

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

#include "advice/AdviceSearch.h"
#include "advice/SearchSteps.h"

namespace busweave::advice_detail {
namespace {

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

// A unit's cost in runs, at most as the progress counts it: the shards are balanced by it. A
// proof takes a full run for each of the two target rates; a length search proves its best
// length, and once more when it had to step back from it.
std::int64_t unitCost(const TCandidate& C, std::size_t Stations) {
  constexpr std::int64_t kProofRuns = 2;
  const auto whole = static_cast<std::int64_t>(Stations);
  if (C.Wires.empty()) return whole + kProofRuns;
  std::int64_t steps = 1;
  for (std::int64_t n = 1; n < C.Steps; n *= 2) ++steps;
  return whole + steps * (whole + 1) / 2 + 2 * kProofRuns;
}

}  // namespace

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
std::size_t reserveSteps(TSearch& S, const std::vector<TCandidate>& Candidates, const std::vector<std::size_t>& Which) {
  std::size_t steps = 0;
  for (std::size_t i : Which) steps += static_cast<std::size_t>(unitCost(Candidates[i], S.Stations));
  S.addSteps(steps);
  return steps;
}

std::vector<TUnitResult> runUnits(TSearch& S, const std::vector<TCandidate>& Candidates,
                                  const std::vector<std::size_t>& Which) {
  std::vector<TUnitResult> results(Which.size());
  if (Which.empty()) return results;
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
    S.settleSteps(static_cast<std::size_t>(unitCost(c, S.Stations)), static_cast<std::size_t>(results[i].Runs));
  });
  return results;
}

}  // namespace busweave::advice_detail

namespace busweave {

using advice_detail::reserveSteps;
using advice_detail::runUnits;
using advice_detail::shardsOf;
using advice_detail::startSearch;
using advice_detail::TSearch;
using advice_detail::TSearchCancelled;
using advice_detail::TStart;

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
  TSearch search(Net, Options);
  part.Source = PartSourceOf(File, search.Templates, Options.Settings);
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
    reserveSteps(search, start.Candidates, mine);
    part.Units = runUnits(search, start.Candidates, mine);
    search.stepsEnded();
  } catch (const TSearchCancelled&) {
    throw EAnalysisError("the search was stopped");
  }
  return part;
}

}  // namespace busweave
