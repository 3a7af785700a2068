// The advice from the units' results: the changes ranked and said in words, and the merge of the
// parts of a sharded search, each part's results checked against its runs.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>
#include <set>

#include "advice/AdviceSearch.h"
#include "advice/SearchSteps.h"
#include "model/BusLayout.h"

namespace busweave::advice_detail {
namespace {

std::string lowerFirst(std::string Text) {
  if (!Text.empty()) Text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(Text[0])));
  return Text;
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
  text += "data " + RateText(Targets.DataRate) + " with arbitration " + RateText(Targets.ArbitrationRate);
  if (P.Reaches) {
    char margin[64];
    std::snprintf(margin, sizeof margin, "; least margin at data %s: %.1f ns", RateText(Targets.DataRate).c_str(),
                  P.Margin * 1e9);
    text += margin;
    if (!P.MarginWhere.empty()) text += " at " + P.MarginWhere;
  }
  return text;
}

}  // namespace

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
      "data " + RateText(S.Targets.DataRate) + " with arbitration " + RateText(S.Targets.ArbitrationRate);
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

}  // namespace busweave::advice_detail

namespace busweave {

using advice_detail::alreadyWorks;
using advice_detail::candidatesOf;
using advice_detail::checkErrors;
using advice_detail::finish;
using advice_detail::pairsOf;
using advice_detail::reaches;
using advice_detail::readToday;
using advice_detail::shardsOf;
using advice_detail::TFound;
using advice_detail::TSearch;
using advice_detail::TStart;
using advice_detail::unreachable;
using advice_detail::unreachableWhy;

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
  const std::optional<TBusLayout> layout = BusLayoutOf(Net, TTrunkEnds::LineEndTerminations);
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
      return EAnalysisError(part + " claims the change " + id + " reaches data " + RateText(search.Targets.DataRate) +
                            " with arbitration " + RateText(search.Targets.ArbitrationRate) +
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
