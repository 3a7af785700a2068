// The changes an advice search tries: terminations moved, added, set right or removed, stubs and
// the trunk shortened, and pairs of them; and the edits that make them.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "advice/AdviceSearch.h"
#include "advice/SearchSteps.h"
#include "model/BusLayout.h"
#include "model/NameText.h"

namespace busweave::advice_detail {
namespace {

constexpr std::int64_t kGridMm = 10;
// The stubs searched at most: those of the stations a failure names first, then the longest.
constexpr std::size_t kMostStubs = 3;

// A node's name as the analysis names its station: without trailing blanks, so that an unnamed
// node numbered "[3] " is "[3]".
std::string nodeName(const TCanNodes& Net, TPoint P) {
  const TNode* node = Net.NodeAt(P);
  if (!node) return "the wire end at (" + std::to_string(P.X) + ", " + std::to_string(P.Y) + ")";
  std::string name = NameToUtf8(node->FName);
  name.erase(name.find_last_not_of(' ') + 1);
  return name;
}

TPoint nodeNamed(const TCanNodes& Net, const std::string& Name, bool& Found) {
  for (int i = 0; i < Net.Count(); ++i)
    if (const TNode* node = Net.NodeAtIndex(i); node && nodeName(Net, node->FPos) == Name) {
      Found = true;
      return node->FPos;
    }
  Found = false;
  return {};
}

TEdit resistanceEdit(const TCanNodes& Net, TPoint P, std::int64_t Value) {
  return {TCanNodes::NodeKey(P), "resistance", Value, Net.NodeAt(P)->FResistance};
}

}  // namespace

std::string metres(std::int64_t Mm) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f m", static_cast<double>(Mm) / 1000.0);
  return text;
}

std::vector<TEdit> lengthEdits(const TCandidate& C, std::int64_t Step) {
  std::vector<TEdit> edits = C.Edits;
  for (std::size_t i = 0; i < C.Wires.size(); ++i) {
    const double share = static_cast<double>(Step) / static_cast<double>(C.Steps);
    const auto mm = std::max<std::int64_t>(1, std::llround(static_cast<double>(C.Lengths[i]) * share));
    edits.push_back({C.Wires[i], "length", mm, C.Lengths[i]});
  }
  return edits;
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
    // Appended: GCC 12 at -O3 warns falsely (-Wrestrict) on "literal" + string here.
    c.Id = "t";
    c.Id += std::to_string(++n);
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

}  // namespace busweave::advice_detail

namespace busweave {

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

}  // namespace busweave
