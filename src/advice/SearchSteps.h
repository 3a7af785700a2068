#pragma once

// The steps of the advice search that its files share: the search's state, today's verdict, the
// start, the candidates, the units and the proposals. Internal to src/advice; not installed.

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "advice/AdviceSearch.h"
#include "circuit/CircuitFile.h"
#include "model/BusLayout.h"

namespace busweave::advice_detail {

// How a unit's failure begins when a proof of it did not finish (its runs are judged all the same).
inline constexpr const char* kNotProved = "not proved: ";

// A search stopped by its caller.
struct TSearchCancelled {};

// Everything a unit or a proof needs, shared by the threads of a search.
struct TSearch {
  const TCanNodes& Net;
  const TAdviceOptions& Options;
  TAnalysisSettings Settings;   // judged at the targets
  TAnalysisSettings AtTargets;  // the targets alone: what a trial needs to know
  TAdviceTargets Targets;
  std::size_t Stations = 0;
  std::set<std::size_t> Failing;  // transmitters whose streams fail today, tried first
  std::mutex DriversLock;
  std::map<std::tuple<double, double, double>, TDriverRun> Drivers;  // by edge, hold and stop
  std::mutex ProgressLock;
  std::size_t Done = 0;
  std::size_t Total = 0;

  // Read once: every change is tried with the same templates, and a part records their digests.
  TCircuitTemplates Templates;

  TSearch(const TCanNodes& N, const TAdviceOptions& O)
      : Net(N), Options(O), Templates(ReadCircuitTemplates(O.Templates)) {}

  void aim(const TAnalysisSettings& Base, const TAdviceTargets& T);
  TAnalysisPlan planOf(const std::vector<TEdit>& Edits) const;
  // The plan with its driver's run, made once for every plan that holds its edges alike (the
  // driver is the templates', the same for every change; only the edges' timing follows the bus).
  TAnalysisPlan withDriver(const TAnalysisPlan& Plan);
  TRunOptions runOptions(int Jobs) const;
  std::vector<TTransmitterRun> run(const TAnalysisPlan& Plan, const std::vector<std::size_t>& Transmitters, int Jobs);

  // Progress counts transmitter runs. The units' are reserved at their most as soon as the
  // candidates are known (the pairs' too, so that the total does not grow when they start) and
  // settled to what each took as it ends; the count ends at its total.
  void addSteps(std::size_t Steps);
  void settleSteps(std::size_t Reserved, std::size_t Taken);
  void stepDone(std::size_t Runs);
  void stepsEnded();
};

// Today's verdict decides the targets, the transmitters whose streams fail and the station that
// decides.
struct TToday {
  std::vector<TTransmitterRun> Runs;
  TStreamVerdict Verdict;
  std::set<std::size_t> Failing;    // transmitters whose streams fail at the targets
  std::vector<std::string> Decide;  // stations named by the failures, receivers and transmitters
  std::string Receiver;
};

// What the units found, in the candidates' order.
struct TFound {
  std::vector<TCandidate> Candidates;
  std::vector<TUnitResult> Results;  // by candidate, in the candidates' order
  std::size_t Singles = 0;           // the candidates before the pairs
};

// Today's runs and the candidates; true when today's network reaches the targets already.
struct TStart {
  TToday Today;
  TAdviceTargets Targets;
  std::vector<std::string> Stations;
  std::vector<TCandidate> Candidates;  // the singles, then their pairs
  std::size_t Singles = 0;
  std::string Unreachable;  // why no change of the wiring can reach the targets; nothing is searched then
};

// AdviceSearch.cpp: today's verdict and the start every search shares.
bool rateWorks(const TStreamVerdict& Verdict, TBusPhase Phase, std::int64_t Rate);
bool reaches(const TStreamVerdict& Verdict, const TAdviceTargets& Targets);
std::vector<std::string> checkErrors(const TSearch& S, const std::vector<TEdit>& Edits);
void readToday(TSearch& S, const std::vector<std::string>& Stations, TToday& Today, const TAnalysisPlan& Plan,
               const TStreamVerdict* Proved);
std::string unreachableWhy(const TSearch& S, const TStreamVerdict& Today);
bool startSearch(TSearch& S, TStart& Start);
TAdvice alreadyWorks(TSearch& S, const TStart& Start, const std::string& File);
TAdvice unreachable(TSearch& S, const TStart& Start, const std::string& File);

// AdviceCandidates.cpp: the changes worth trying.
std::string metres(std::int64_t Mm);
std::vector<TEdit> lengthEdits(const TCandidate& C, std::int64_t Step);
std::vector<TCandidate> candidatesOf(const TCanNodes& Net, const TBusLayout& Layout, const TToday& Today,
                                     const TAdviceTargets& Targets);
std::vector<TCandidate> pairsOf(const std::vector<TCandidate>& Singles, std::size_t Most);

// LengthSearch.cpp: one unit, its length searched and proved.
TUnitResult runUnit(TSearch& S, const TCandidate& C, int Width);

// AdviceScheduling.cpp: the units side by side and in shards.
std::vector<int> shardsOf(const std::vector<TCandidate>& Candidates, std::size_t Stations, int Shards);
// The most transmitter runs the units Which names may take, reserved in S's progress.
std::size_t reserveSteps(TSearch& S, const std::vector<TCandidate>& Candidates, const std::vector<std::size_t>& Which);
// The units Which names, their steps reserved before (reserveSteps).
std::vector<TUnitResult> runUnits(TSearch& S, const std::vector<TCandidate>& Candidates,
                                  const std::vector<std::size_t>& Which);

// AdviceProposals.cpp: the advice from the units' results.
TAdvice finish(TSearch& S, const TToday& Today, const TFound& Found, const std::string& File,
               const std::vector<std::string>& Stations);

}  // namespace busweave::advice_detail
