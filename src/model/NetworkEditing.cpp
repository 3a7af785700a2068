// Editing operations and undo of TCanNodes.

#include <algorithm>
#include <cmath>
#include <numbers>
#include <set>
#include <utility>
#include <vector>

#include "model/NetworkContainer.h"

namespace busweave {
namespace {

// A copy of an element's record, of the element's own kind.
std::unique_ptr<TMyClasses> copyRecord(const TMyClasses& Element) {
  if (Element.Kind() == TMyClasses::TKind::Node) return static_cast<const TNode&>(Element).CopyRecord();
  return static_cast<const TTrmLine&>(Element).CopyRecord();
}

// Files what redo needs to do again under the stamp of the action it belongs to.
void recordRedo(TStringList& List, const std::string& Key, std::unique_ptr<TMyClasses> Entry, TUndoAction Action,
                std::int32_t Tick) {
  Entry->FAction = Action;
  Entry->FTick = Tick;
  Entry->FMarked = 0;
  List.AddObject(Key, std::move(Entry));
}

}  // namespace

bool TCanNodes::HasRoomFor(int Added) {
  if (Count() + Added <= MaxElements) return true;
  if (OnBeep) OnBeep();
  return false;
}

bool TCanNodes::AddNode(TPoint P) {
  if (!NodeExists(P)) {
    // The node and, when it splits a wire, the second half of that wire.
    if (!HasRoomFor(WireThrough(P) >= 0 ? 2 : 1)) return false;
    auto node = std::make_unique<TNode>();
    node->FPos = P;
    node->FResistance = FNoZL;
    node->FShowName = 1;
    node->FSource = 0;
    AddObject(NodeKey(P), std::move(node));
    SplitWireAt(P);
  }
  return FFileState_ == fstModified;
}

void TCanNodes::AddWire(TPoint P1, TPoint P2, std::uint16_t Impedance, bool ShowLength) {
  auto wire = std::make_unique<TTrmLine>();
  const bool firstIsSmaller = P1.X < P2.X || (P1.X == P2.X && P1.Y < P2.Y);
  wire->FStart = firstIsSmaller ? P1 : P2;
  wire->FEnd = firstIsSmaller ? P2 : P1;
  wire->FImpedance = Impedance;
  wire->FShowLength = ShowLength ? 1 : 0;
  wire->FLength = 0;
  wire->FAngle = WireAngle(wire->FStart, wire->FEnd);
  AddWireObject(std::move(wire));
}

THitResult TCanNodes::WireDistance(TPoint P, const TTrmLine& W) {
  const TPoint S = W.FStart;
  const TPoint E = W.FEnd;
  THitResult result;
  // A file written elsewhere may store a wire right to left or top to bottom; it is picked as
  // one drawn here, so the ends are taken in either order.
  if (S.Y == E.Y) {
    if (!(std::min(S.X, E.X) < P.X && P.X < std::max(S.X, E.X))) return result;
    result.Distance = std::fabs(static_cast<double>(P.Y) - S.Y);
  } else if (S.X == E.X) {
    if (!(std::min(S.Y, E.Y) < P.Y && P.Y < std::max(S.Y, E.Y))) return result;
    result.Distance = std::fabs(static_cast<double>(P.X) - S.X);
  } else {
    if (!InBox(S, E, P)) return result;
    const long double dx = static_cast<long double>(P.X) - S.X;
    const long double dy = static_cast<long double>(P.Y) - S.Y;
    const long double a1 = std::atan((static_cast<long double>(E.Y) - S.Y) / (static_cast<long double>(E.X) - S.X));
    long double a2 = 0;
    if (dx == 0)
      a2 = dy >= 0 ? std::numbers::pi_v<long double> / 2 : -std::numbers::pi_v<long double> / 2;
    else
      a2 = std::atan(dy / dx);
    result.Distance = static_cast<double>(std::fabs(std::sqrt(dx * dx + dy * dy) * std::sin(a2 - a1)));
  }
  result.Hit = result.Distance < HitTolerance;
  return result;
}

int TCanNodes::FirstWireIndex() const {
  int index = 0;
  Find("W", index);
  return index;
}

TTrmLine* TCanNodes::NearestWire(TPoint P) const {
  TTrmLine* best = nullptr;
  double bestDistance = 0;
  for (int i = FirstWireIndex(); i < Count(); ++i) {
    TTrmLine* wire = WireAtIndex(i);
    if (!wire) continue;
    const THitResult hit = WireDistance(P, *wire);
    if (hit.Hit && (!best || hit.Distance < bestDistance)) {
      best = wire;
      bestDistance = hit.Distance;
    }
  }
  return best;
}

int TCanNodes::WireThrough(TPoint P) const {
  for (int i = FirstWireIndex(); i < Count(); ++i)
    if (const TTrmLine* wire = WireAtIndex(i); wire && WireDistance(P, *wire).Hit) return i;
  return -1;
}

bool TCanNodes::SplitWireAt(TPoint P) {
  const int i = WireThrough(P);
  // Checked before anything changes: a split that ran out of room half way would lose a wire.
  if (i < 0 || !HasRoomFor(1)) return false;
  const TTrmLine* wire = WireAtIndex(i);
  const TPoint S = wire->FStart;
  const TPoint E = wire->FEnd;
  const bool showLength = wire->FShowLength != 0;
  const std::uint16_t impedance = wire->FImpedance;
  DeleteElement(i);
  AddWire(S, P, impedance, showLength);
  AddWire(P, E, impedance, showLength);
  return true;
}

bool TCanNodes::DeleteElement(int Index) {
  if (Index < 0 || Index >= Count()) return false;
  TMyClasses* element = Objects(Index);
  if (AsNode(element)) {
    --FNumNodes_;
  } else if (AsWire(element)) {
    --FNumLines_;
  } else {
    return false;
  }
  element->FAction = uaDeleted;
  element->FIndex = Index;
  element->FTick = FTickCount;
  const std::string key = Strings(Index);
  FUnDoList_.AddObject(key, Extract(Index));
  FFileState_ = fstModified;
  changeMade();
  return true;
}

bool TCanNodes::DeleteNodeAt(TPoint P) {
  int index = 0;
  if (!Find(NodeKey(P), index) || !NodeAtIndex(index)) return false;
  return DeleteElement(index);
}

bool TCanNodes::HasWireEndingAt(TPoint P) const {
  for (int i = FirstWireIndex(); i < Count(); ++i)
    if (const TTrmLine* wire = WireAtIndex(i); wire && (wire->FStart == P || wire->FEnd == P)) return true;
  return false;
}

bool TCanNodes::DeleteEndNode(TPoint P) {
  if (!NodeExists(P)) return false;
  int found = 0;
  int wireIndex = -1;
  TPoint farEnd;
  for (int i = FirstWireIndex(); i < Count() && found < 2; ++i) {
    const TTrmLine* wire = WireAtIndex(i);
    if (!wire) continue;
    if (wire->FStart == P || wire->FEnd == P) {
      ++found;
      wireIndex = i;
      farEnd = wire->FStart == P ? wire->FEnd : wire->FStart;
    }
  }
  if (found != 1) return false;

  DeleteElement(wireIndex);
  DeleteNodeAt(P);
  if (!HasWireEndingAt(farEnd) && NodeExists(farEnd)) DeleteNodeAt(farEnd);
  FFileState_ = fstModified;
  return true;
}

bool TCanNodes::DeleteWire(TTrmLine*& W) {
  if (!W) return false;
  int index = 0;
  if (!Find(WireKey(W->FStart, W->FEnd), index) || !WireAtIndex(index)) return false;
  const TPoint A = W->FStart;
  const TPoint B = W->FEnd;
  const bool deleted = DeleteElement(index);
  W = nullptr;
  if (!HasWireEndingAt(A)) DeleteNodeAt(A);
  if (!HasWireEndingAt(B)) DeleteNodeAt(B);
  return deleted;
}

TMoveOutcome TCanNodes::MoveNode(TPoint From, TPoint To) {
  if (!NodeAt(From)) return TMoveOutcome::NoNode;
  if (From == To) return TMoveOutcome::Unchanged;
  if (NodeExists(To)) return TMoveOutcome::Occupied;

  // The far ends of the node's wires; each must not be joined to the target already, neither
  // by a wire there nor by a half of the wire the target splits.
  std::vector<int> wires;
  std::set<std::pair<std::int32_t, std::int32_t>> farEnds;
  for (int i = FirstWireIndex(); i < Count(); ++i) {
    const TTrmLine* wire = WireAtIndex(i);
    if (!wire || (wire->FStart != From && wire->FEnd != From)) continue;
    const TPoint far = wire->FStart == From ? wire->FEnd : wire->FStart;
    if (WireExists(far, To)) return TMoveOutcome::WireExists;
    wires.push_back(i);
    farEnds.insert({far.X, far.Y});
  }
  const int through = WireThrough(To);
  if (through >= 0) {
    const TTrmLine* split = WireAtIndex(through);
    if (farEnds.contains({split->FStart.X, split->FStart.Y}) || farEnds.contains({split->FEnd.X, split->FEnd.Y}))
      return TMoveOutcome::WireExists;
  }

  std::unique_ptr<TNode> node = NodeAt(From)->CopyRecord();
  node->FPos = To;
  std::vector<std::unique_ptr<TTrmLine>> moved;
  for (const int i : wires) {
    const TTrmLine* wire = WireAtIndex(i);
    const TPoint far = wire->FStart == From ? wire->FEnd : wire->FStart;
    auto copy = wire->CopyRecord();
    const bool farFirst = far.X < To.X || (far.X == To.X && far.Y < To.Y);
    copy->FStart = farFirst ? far : To;
    copy->FEnd = farFirst ? To : far;
    copy->FAngle = WireAngle(copy->FStart, copy->FEnd);
    moved.push_back(std::move(copy));
  }
  // From the back, so the indices still to come stay valid; wires follow the nodes in the list.
  for (auto i = wires.rbegin(); i != wires.rend(); ++i) DeleteElement(*i);
  DeleteNodeAt(From);
  AddNodeObject(std::move(node));
  // Before the moved wires exist: a wire that ends at the target would count as passing it.
  SplitWireAt(To);
  for (auto& wire : moved) AddWireObject(std::move(wire));
  return TMoveOutcome::Moved;
}

bool TCanNodes::BackupNode(const TNode* N) { return N && backupElement(IndexOfObject(N), N->CopyRecord()); }

bool TCanNodes::BackupWire(const TTrmLine* W) { return W && backupElement(IndexOfObject(W), W->CopyRecord()); }

bool TCanNodes::backupElement(int Index, std::unique_ptr<TMyClasses> Copy) {
  if (Index < 0) return false;
  Copy->FIndex = Index;
  Copy->FTick = FTickCount;
  Copy->FAction = uaChanged;
  FUnDoList_.AddObject(Strings(Index), std::move(Copy));
  FFileState_ = fstModified;
  changeMade();
  return true;
}

// Undo finds the element an entry concerns by its key rather than by the index it had, so
// entries stay right after MoveAll has re-sorted the list; in an unmoved list both agree.
bool TCanNodes::UndoLast() {
  if (FUnDoList_.Count() == 0) return false;
  const std::int32_t tick = FUnDoList_.Objects(FUnDoList_.Count() - 1)->FTick;
  bool undone = false;
  while (FUnDoList_.Count() > 0) {
    const int last = FUnDoList_.Count() - 1;
    TMyClasses* entry = FUnDoList_.Objects(last);
    if (entry->FTick != tick) break;
    const std::string key = FUnDoList_.Strings(last);
    auto* entryNode = AsNode(entry);
    auto* entryWire = AsWire(entry);
    int index = 0;
    const bool present = Find(key, index);
    // The element under the entry's key must be of the entry's kind.
    const bool kindMatches = present && ((entryNode && NodeAtIndex(index)) || (entryWire && WireAtIndex(index)));

    if (entry->FAction == uaChanged && kindMatches && (entryNode || entryWire)) {
      recordRedo(FReDoList_, key, copyRecord(*Objects(index)), uaChanged, tick);
      if (entryNode) {
        NodeAtIndex(index)->AssignRecord(*entryNode);
        NodeAtIndex(index)->FAction = uaRestored;
      } else {
        WireAtIndex(index)->AssignRecord(*entryWire);
        WireAtIndex(index)->FAction = uaRestored;
      }
      FUnDoList_.Delete(last);
    } else if (entry->FAction == uaDeleted && !present && (entryNode || entryWire)) {
      recordRedo(FReDoList_, key, copyRecord(*entry), uaDeleted, tick);
      entry->FAction = uaRestored;
      entry->FMarked = 0;
      if (entryNode)
        ++FNumNodes_;
      else
        ++FNumLines_;
      InsertItem(index, key, FUnDoList_.Extract(last));
    } else if (entry->FAction == uaAdded && kindMatches) {
      if (entryNode)
        --FNumNodes_;
      else
        --FNumLines_;
      recordRedo(FReDoList_, key, Extract(index), uaAdded, tick);
      FUnDoList_.Delete(last);
    } else {
      if (OnBeep) OnBeep();
      break;
    }
    undone = true;
  }
  return undone;
}

// Redo replays the entries of the last undone action in the order the action first made them,
// through the same operations, so they land on the undo list as the action first put them there.
bool TCanNodes::RedoLast() {
  if (FReDoList_.Count() == 0) return false;
  const std::int32_t tick = FReDoList_.Objects(FReDoList_.Count() - 1)->FTick;
  const std::int32_t stamp = FTickCount;
  FTickCount = tick;
  FRedoing_ = true;
  bool redone = false;
  while (FReDoList_.Count() > 0) {
    const int last = FReDoList_.Count() - 1;
    TMyClasses* entry = FReDoList_.Objects(last);
    if (entry->FTick != tick) break;
    const std::string key = FReDoList_.Strings(last);
    auto* entryNode = AsNode(entry);
    int index = 0;
    const bool present = Find(key, index);
    const bool kindMatches = present && (entryNode ? NodeAtIndex(index) != nullptr : WireAtIndex(index) != nullptr);

    if (entry->FAction == uaChanged && kindMatches) {
      backupElement(index, copyRecord(*Objects(index)));
      if (entryNode)
        NodeAtIndex(index)->AssignRecord(*entryNode);
      else
        WireAtIndex(index)->AssignRecord(*AsWire(entry));
      FReDoList_.Delete(last);
    } else if (entry->FAction == uaDeleted && kindMatches) {
      DeleteElement(index);
      FReDoList_.Delete(last);
    } else if (entry->FAction == uaAdded && !present && Count() < MaxElements) {
      AddObject(key, FReDoList_.Extract(last));
    } else {
      if (OnBeep) OnBeep();
      break;
    }
    redone = true;
  }
  FRedoing_ = false;
  FTickCount = stamp;
  return redone;
}

}  // namespace busweave
