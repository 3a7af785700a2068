#pragma once

// How to make a failing bus work: changes to the network as drawn (a termination moved, added or
// set right; a stub or the trunk shortened), each judged by the bus analysis of the changed
// network, ranked by how little they change.
//
// A rate works for the bus when it works for every transmitter's stream, so the search is a list
// of units, a change and one transmitter each: a fixed change is one run, a length is found by
// bisection on a 10 mm grid, a run per step. The units of one search can be split in shards
// (each shard also runs today's network whole, which decides the list of changes); the merge
// joins them, takes for each length the shortest any transmitter needs, and proves the best
// changes by full analyses of the changed network.

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "model/NetworkContainer.h"
#include "sim/AnalysisPart.h"
#include "sim/AnalysisRun.h"
#include "sim/StreamVerdict.h"

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

// What one unit found: for fixed edits whether the transmitter's stream works at the targets;
// for a length, the largest grid step (1..Steps) at which it works, 0 when not even the shortest.
struct TUnitResult {
  std::string Candidate;
  int Transmitter = 0;
  bool Works = false;
  std::int64_t Step = 0;
  int Runs = 0;
};

// A change with the verdict of the changed network.
struct TProposal {
  TCandidate Change;
  std::vector<TEdit> Edits;  // everything it changes, lengths as found
  double Size = 0.0;         // how much it changes: an edited node counts 1, a shortened wire 1 + metres removed
  bool Proved = false;       // judged by a full analysis of the changed network
  bool Reaches = false;
  std::int64_t MaxArbitrationRate = 0;
  std::int64_t MaxDataRate = 0;
  double Margin = 0.0;     // the least timing margin at the target data rate (s), when it reaches it
  std::string Text;        // what it changes and what it reaches, in a sentence
  std::string Receiver;    // the station that decides the target data rate today
  std::vector<TEye> Eyes;  // that station's eye at the target data rate in the changed network
};

struct TAdvice {
  std::string File;
  TAnalysisSettings Settings;  // as the search judged, the targets among the rates
  std::vector<std::string> Stations;
  TAdviceTargets Targets;
  TStreamVerdict Before;
  std::vector<TEye> BeforeEyes;  // the deciding station's eye at the target data rate today
  std::string Receiver;
  bool AlreadyWorks = false;
  bool Reached = false;
  std::vector<TProposal> Proposals;  // those that reach the targets first, each ranked by Size
  std::string Summary;               // one sentence: what was found, or the best there is
  int Runs = 0;                      // transmitter runs the search took
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
  std::size_t PairedSingles = 5;  // the best singles paired when no single change is enough
};

// The part of a sharded search that `advise --shard I/N` prints and `advise-merge` joins.
struct TAdvicePart {
  std::string File;
  std::string Templates;
  int Shard = 1;
  int Shards = 1;
  TAnalysisSettings Settings;
  TPartSource Source;
  TAdviceTargets Targets;
  std::vector<std::string> Stations;
  std::vector<std::string> Candidates;  // every candidate's id, as every shard lists them
  std::vector<TUnitResult> Units;       // this shard's
  std::vector<TTransmitterRun> Today;   // today's network, every transmitter
};

// The whole search on this machine. Throws EAnalysisError when the network cannot be analysed
// or searched (its wires form a loop or fall apart) or a run fails.
TAdvice Advise(const TCanNodes& Net, const std::string& File, const TAdviceOptions& Options);

// The shard-th of Shards parts of the search's units. Throws as Advise does.
TAdvicePart AdviseShard(const TCanNodes& Net, const std::string& File, const TAdviceOptions& Options, int Shard,
                        int Shards);
// Joins the parts of one search (checked to be of the same input and to cover every unit once)
// and finishes the search on this machine: proofs, and the pairs where no single change works.
TAdvice AdviseFromParts(const TCanNodes& Net, const std::vector<TAdvicePart>& Parts, const TAdviceOptions& Options);

std::string AdvicePartJson(const TAdvicePart& Part);
// Throws EAnalysisError naming what is wrong.
TAdvicePart ReadAdvicePart(std::string_view Text);

// The least timing margin of the streams at a rate of a phase (s); none without margins there.
std::optional<double> LeastMargin(const TStreamVerdict& Verdict, TBusPhase Phase, std::int64_t BitRate);

}  // namespace busweave
