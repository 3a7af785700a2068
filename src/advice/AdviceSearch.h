#pragma once

// How to make a failing bus work: changes to the network as drawn (a termination moved, added or
// set right; a stub or the trunk shortened), each judged by the bus analysis of the changed
// network, ranked by how little they change.
//
// The search is a list of units, one candidate change each: a fixed change is analysed whole; a
// length is found by bisection on a 10 mm grid, each step an analysis that stops at the first
// transmitter whose stream fails (those that fail today first); the change found is proved by
// the full runs of the stream. The units can be split in shards: each shard also runs today's
// network, which decides the list of changes, and tries its share of the pairs too, as no shard
// knows whether a single change suffices. The merge joins the parts without another run.

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/AnalysisPart.h"
#include "analysis/AnalysisRun.h"
#include "model/NetworkContainer.h"
#include "verdict/StreamVerdict.h"

namespace busweave {

// One element's value changed: a node's resistance (ohms) or a wire's length (mm).
struct TEdit {
  std::string Key;    // the element's key, "N0190:0190" or "W0064:0064::0190:0190"
  std::string Field;  // "resistance" or "length"
  std::int64_t Value = 0;
  std::int64_t Was = 0;

  bool operator==(const TEdit&) const = default;
};

// Sets the values the edits name. Throws EAnalysisError naming the element when a key is not in
// Net, names another kind of element, or a value does not fit its field (1 to 65535).
void ApplyEdits(TCanNodes& Net, const std::vector<TEdit>& Edits);

enum class TChangeKind { Termination, Stub, Trunk, Pair };
const char* ChangeKindName(TChangeKind Kind);  // "termination", "stub", "trunk", "pair"

// Wires searched together as one: a stub's, or the trunk's.
struct TLengthGroup {
  std::string What;       // "the stub to [1] ECU5", "the trunk"
  std::size_t Wires = 0;  // how many of the candidate's wires, in order, are this group's
};

// A change to try: fixed edits, and wires whose lengths are searched together (each scaled by
// the same share of its present length; none for a change of fixed edits only).
struct TCandidate {
  std::string Id;  // stable within one search: "t1", "s2", "trunk", "t1+s2"
  TChangeKind Kind = TChangeKind::Termination;
  std::string Text;  // what it changes, in words: "move the termination from [3] Hub-A to [2] ECU1"
  std::vector<TEdit> Edits;
  std::vector<std::string> Wires;
  std::vector<std::int64_t> Lengths;  // the wires' present lengths (mm)
  std::vector<TLengthGroup> Groups;   // the searched wires, group by group
  std::int64_t Steps = 0;             // grid steps of the longest searched group (10 mm each)
  std::string Station;                // the station a stub leads to
};

// The target rates of a search.
struct TAdviceTargets {
  std::int64_t DataRate = 0;
  std::int64_t ArbitrationRate = 0;
};

// What the search of one candidate found, proved by the analysis of the changed network: every
// transmitter's run there and the rates the full runs of the stream left it. A fixed change is
// always judged whole; a length that works nowhere on the grid is not judged.
struct TUnitResult {
  std::string Candidate;
  bool Works = false;     // the change reaches the targets
  std::int64_t Step = 0;  // the grid step (1..Steps) of the length found; 0 without one
  int Runs = 0;           // transmitter runs the unit took
  bool Judged = false;    // Final holds every transmitter's run
  std::vector<TTransmitterRun> Final;
  std::int64_t MaxArbitrationRate = 0;
  std::int64_t MaxDataRate = 0;
  std::string Failure;  // why the changed network could not be simulated, if it could not
  // The least margin at the target data rate of the verdict as proved (full runs included) and
  // where it lies, in the verdict's words; none when the change was not judged.
  std::optional<TReceiverMargin> Least;
  // A length search's steps: each length tried (grid step) and the least timing margin at the
  // target data rate of the streams run there (s; 0 where one fails), in the order tried.
  std::vector<std::pair<std::int64_t, double>> Curve;
};

// A change with the verdict of the changed network.
struct TProposal {
  TCandidate Change;
  std::vector<TEdit> Edits;  // everything it changes, lengths as found
  double Size = 0.0;         // how much it changes: an edited node counts 1, a shortened wire 1 + metres removed
  bool Proved = false;       // judged by a full analysis of the changed network
  bool Reaches = false;
  // The rates the full runs proved: the asked ones where the change reaches them, else none.
  std::int64_t MaxArbitrationRate = 0;
  std::int64_t MaxDataRate = 0;
  double Margin = 0.0;  // the least timing margin at the target data rate (s), when it reaches it
  std::string MarginWhere;
  std::vector<std::pair<std::int64_t, double>> Curve;  // the unit's, when a length was searched  // where it lies: "[1]
                                                       // A from [2] B, bit 6 (single recessive after five dominant)"
  std::string Text;                                    // what it changes and what it reaches, in a sentence
  std::string Receiver;                                // the station that decides the target data rate today
  std::vector<TEye> Eyes;                // that station's eye at the target data rate in the changed network
  std::vector<std::string> CheckErrors;  // the bus check's errors the changed network still has
};

struct TAdvice {
  std::string File;
  TAnalysisSettings Settings;  // as the search judged, the targets among the rates
  std::vector<std::string> Stations;
  TAdviceTargets Targets;
  TStreamVerdict Before;
  std::vector<TEye> BeforeEyes;  // the deciding station's eye at the target data rate today
  std::string Receiver;
  std::vector<std::string> CheckErrors;  // the bus check's errors of the network as it is
  bool AlreadyWorks = false;
  bool Reached = false;
  std::vector<TProposal> Proposals;      // those that reach the targets first, each ranked by Size
  std::string Summary;                   // one sentence: what was found, or the best there is
  std::vector<std::string> Unsimulated;  // changes the simulator could not run, each with the reason
  // Full runs that did not finish (a worker died, hung, or ngspice stopped short), a sentence
  // each: the rates they were to prove count as failing, and the search is no answer to sign.
  std::vector<std::string> Unproved;
  int Runs = 0;  // transmitter runs the search took
  bool Cancelled = false;
};

struct TAdviceOptions {
  std::string Templates = ".";
  TAnalysisSettings Settings;
  std::optional<std::int64_t> DataRate;         // default: the next listed data rate above the highest that works
  std::optional<std::int64_t> ArbitrationRate;  // default: the required arbitration rate
  TRunOptions Run;      // the workers (Program, Jobs), Progress and Stop; Thresholds are the settings'
  bool Confirm = true;  // proofs include the full runs of the stream
  std::size_t MostProposals = 5;
  std::size_t PairedSingles = 5;  // the first singles paired when no single change is enough
};

// The part of a sharded search that `advise --shard I/N` prints and `advise-merge` joins.
struct TAdvicePart {
  // The network file and the templates folder as they were named, and the absolute folder the
  // search ran in, which they are relative to (empty in parts of older versions).
  std::string File;
  std::string Templates;
  std::string Folder;
  int Shard = 1;
  int Shards = 1;
  TAnalysisSettings Settings;
  TPartSource Source;
  TAdviceTargets Targets;
  std::vector<std::string> Stations;
  std::vector<std::string> Candidates;  // every candidate's id, singles then pairs, as every shard lists them
  std::size_t Singles = 0;
  std::vector<TUnitResult> Units;      // this shard's candidates
  std::vector<TTransmitterRun> Today;  // today's network, every transmitter
};

// The whole search on this machine. Throws EAnalysisError when the network cannot be analysed
// or searched (its wires form a loop or fall apart) or a run fails.
TAdvice Advise(const TCanNodes& Net, const std::string& File, const TAdviceOptions& Options);

// The shard-th of Shards parts of the search's units. Throws as Advise does.
TAdvicePart AdviseShard(const TCanNodes& Net, const std::string& File, const TAdviceOptions& Options, int Shard,
                        int Shards);
// Joins the parts of one search (checked to be of the same input and to cover every unit once)
// into the advice the whole search gives; no run is made.
TAdvice AdviseFromParts(const TCanNodes& Net, const std::vector<TAdvicePart>& Parts, const TAdviceOptions& Options);

std::string AdvicePartJson(const TAdvicePart& Part);
// Throws EAnalysisError naming what is wrong.
TAdvicePart ReadAdvicePart(std::string_view Text);

// The least timing margin of the streams at a rate of a phase (s); none without margins there.
std::optional<double> LeastMargin(const TStreamVerdict& Verdict, TBusPhase Phase, std::int64_t BitRate);
// The station's margins that hold it.
std::optional<TReceiverMargin> LeastMarginOf(const TStreamVerdict& Verdict, TBusPhase Phase, std::int64_t BitRate);

}  // namespace busweave
