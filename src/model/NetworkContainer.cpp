#include "model/NetworkContainer.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "model/ModelErrors.h"
#include "model/NameText.h"

namespace busweave {
namespace {

constexpr std::int32_t kBoxMaxStart = -2147483647;
constexpr std::int32_t kBoxMinStart = 2147483647;

// Upper-case hex of the 32-bit value, at least four digits; negatives show their two's complement.
void appendHex(std::string& Out, std::int32_t Value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const auto bits = static_cast<std::uint32_t>(Value);
  int digits = 4;
  while (digits < 8 && (bits >> (4 * digits)) != 0) ++digits;
  for (int d = digits - 1; d >= 0; --d) Out += kDigits[(bits >> (4 * d)) & 0xFu];
}

void appendPoint(std::string& Out, TPoint P) {
  appendHex(Out, P.X);
  Out += ':';
  appendHex(Out, P.Y);
}

}  // namespace

TCanNodes::TCanNodes() : TStringList(true, TDuplicates::dupError) { ResetBoundingBox(); }

TCanNodes::TCanNodes(std::uint16_t ZL, std::uint16_t NoZL, std::uint16_t LineZL) : TCanNodes() {
  FZL = ZL;
  FNoZL = NoZL;
  FLineZL = LineZL;
}

TCanNodes::~TCanNodes() {
  FreeElements(*this);
  FreeElements(FUnDoList_);
  FreeElements(FReDoList_);
}

std::string TCanNodes::NodeKey(TPoint P) {
  std::string key = "N";
  appendPoint(key, P);
  return key;
}

std::string TCanNodes::WireKey(TPoint P1, TPoint P2) {
  std::string key = "W";
  appendPoint(key, P1);
  key += "::";
  appendPoint(key, P2);
  return key;
}

bool TCanNodes::NodeExists(TPoint P) const {
  int index = 0;
  return Find(NodeKey(P), index);
}

TNode* TCanNodes::NodeAt(TPoint P) const {
  int index = 0;
  return Find(NodeKey(P), index) ? NodeAtIndex(index) : nullptr;
}

bool TCanNodes::WireExists(TPoint P1, TPoint P2) const {
  int index = 0;
  return Find(WireKey(P1, P2), index) || Find(WireKey(P2, P1), index);
}

void TCanNodes::ResetBoundingBox() {
  FMaxX_ = kBoxMaxStart;
  FMaxY_ = kBoxMaxStart;
  FMinX_ = kBoxMinStart;
  FMinY_ = kBoxMinStart;
}

void TCanNodes::WidenBoundingBox(TPoint P) {
  FMaxX_ = std::max(FMaxX_, P.X);
  FMaxY_ = std::max(FMaxY_, P.Y);
  FMinX_ = std::min(FMinX_, P.X);
  FMinY_ = std::min(FMinY_, P.Y);
}

int TCanNodes::AddObject(std::string Key, std::unique_ptr<TMyClasses> Element) {
  // Past this the 16-bit counters would wrap and the file could not be read back whole.
  if (Count() >= MaxElements) throw ETooManyElements();
  TMyClasses* element = Element.get();
  const std::string undoKey = Key;
  const int index = TStringList::AddObject(std::move(Key), std::move(Element));
  FFileState_ = fstModified;
  changeMade();

  std::unique_ptr<TMyClasses> copy;
  if (auto* node = AsNode(element)) {
    node->FAction = uaAdded;
    copy = node->CopyRecord();
    ++FNumNodes_;
    WidenBoundingBox(node->FPos);
  } else if (auto* wire = AsWire(element)) {
    wire->FAction = uaAdded;
    copy = wire->CopyRecord();
    ++FNumLines_;
  }
  if (copy) {
    copy->FIndex = index;
    copy->FTick = FTickCount;
    copy->FAction = uaAdded;
    FUnDoList_.AddObject(undoKey, std::move(copy));
  }
  return index;
}

bool TCanNodes::AddNodeObject(std::unique_ptr<TNode> Node) {
  if (!HasRoomFor(1)) return false;
  const std::string key = NodeKey(Node->FPos);
  return AddObject(key, std::move(Node)) >= 0;
}

bool TCanNodes::AddWireObject(std::unique_ptr<TTrmLine> Wire) {
  if (Wire->FStart == Wire->FEnd || WireExists(Wire->FStart, Wire->FEnd) || !HasRoomFor(1)) return false;
  const std::string key = WireKey(Wire->FStart, Wire->FEnd);
  AddObject(key, std::move(Wire));
  return true;
}

std::uint16_t TCanNodes::FNumSources() const {
  std::uint16_t sources = 0;
  for (int i = 0; i < Count(); ++i)
    if (const TNode* node = NodeAtIndex(i); node && node->FSource == 1) ++sources;
  return sources;
}

bool TCanNodes::FreeElements(TStringList& List) {
  List.Clear();
  return true;
}

std::unique_ptr<TCanNodes> TCanNodes::Snapshot() const {
  auto copy = std::make_unique<TCanNodes>(FZL, FNoZL, FLineZL);
  std::vector<Item> items;
  items.reserve(static_cast<std::size_t>(Count()));
  for (int i = 0; i < Count(); ++i) {
    std::unique_ptr<TMyClasses> element;
    if (const TNode* node = NodeAtIndex(i))
      element = node->CopyRecord();
    else if (const TTrmLine* wire = WireAtIndex(i))
      element = wire->CopyRecord();
    else
      continue;
    element->FMarked = Objects(i)->FMarked;
    items.push_back({Strings(i), std::move(element)});
  }
  copy->AssignSorted(std::move(items));
  copy->FFileName_ = FFileName_;
  copy->FFileState_ = FFileState_;
  copy->FMaxX_ = FMaxX_;
  copy->FMaxY_ = FMaxY_;
  copy->FMinX_ = FMinX_;
  copy->FMinY_ = FMinY_;
  copy->FNumNodes_ = FNumNodes_;
  copy->FNumLines_ = FNumLines_;
  copy->FTickCount = FTickCount;
  return copy;
}

int TCanNodes::NumberNodeNames() {
  const int count = Count();
  for (int i = 0; i < count; ++i) {
    TNode* node = NodeAtIndex(i);
    if (!node) continue;
    // A name that already carries its number stays as it is; renumbering it would give the same.
    char prefix[16] = "[";
    char* end = std::to_chars(prefix + 1, prefix + sizeof prefix - 2, i + 1).ptr;
    *end++ = ']';
    *end++ = ' ';
    const std::string_view numbered(prefix, static_cast<std::size_t>(end - prefix));
    if (node->FName.size() <= ShortStringCapacity && std::string_view(node->FName).starts_with(numbered)) continue;
    node->FName = NumberedName(node->FName, i + 1);
  }
  return count;
}

bool TCanNodes::MoveAll(TPoint Delta) {
  if (Count() == 0) return false;
  ResetBoundingBox();
  SetSorted(false);
  for (int i = 0; i < Count(); ++i) {
    if (TNode* node = NodeAtIndex(i)) {
      node->FPos = WrappingAdd(node->FPos, Delta);
      SetString(i, NodeKey(node->FPos));
      WidenBoundingBox(node->FPos);
    } else if (TTrmLine* wire = WireAtIndex(i)) {
      wire->FStart = WrappingAdd(wire->FStart, Delta);
      wire->FEnd = WrappingAdd(wire->FEnd, Delta);
      SetString(i, WireKey(wire->FStart, wire->FEnd));
    }
  }
  // Translation is one-to-one, so the new keys are as unique as the old ones.
  SetSorted(true);

  // The undo and redo entries move with the network, so both still find and restore the right
  // elements under their new keys.
  for (TStringList* history : {&FUnDoList_, &FReDoList_}) {
    for (int i = 0; i < history->Count(); ++i) {
      if (auto* node = AsNode(history->Objects(i))) {
        node->FPos = WrappingAdd(node->FPos, Delta);
        history->SetString(i, NodeKey(node->FPos));
      } else if (auto* wire = AsWire(history->Objects(i))) {
        wire->FStart = WrappingAdd(wire->FStart, Delta);
        wire->FEnd = WrappingAdd(wire->FEnd, Delta);
        history->SetString(i, WireKey(wire->FStart, wire->FEnd));
      }
    }
  }
  return true;
}

}  // namespace busweave
