// Editing operations of the container and their undo: one UndoLast takes back one user action.

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "model/NetworkContainer.h"

using namespace busweave;
using Keys = std::vector<std::string>;
using Counters = std::array<int, 3>;  // nodes, wires, sources

namespace {

// The container as the editor makes it: new nodes get 1500 ohms.
class Editing : public ::testing::Test {
 protected:
  TCanNodes net{120, 1500, 120};

  // Draws a wire the way the editor's mouse release does, as one action.
  void drawWire(std::int32_t Tick, TPoint A, TPoint B, std::uint16_t Impedance = 120, bool ShowLength = true) {
    net.FTickCount = Tick;
    net.AddNode(A);
    net.AddNode(B);
    net.AddWire(A, B, Impedance, ShowLength);
  }
  Counters counters() const { return {net.FNumNodes(), net.FNumLines(), net.FNumSources()}; }
  Keys keys() const {
    Keys out;
    for (int i = 0; i < net.Count(); ++i) out.push_back(net.Strings(i));
    return out;
  }
  TTrmLine* wireAt(TPoint S, TPoint E) const {
    int index = 0;
    return net.Find(TCanNodes::WireKey(S, E), index) ? net.WireAtIndex(index) : nullptr;
  }
  // Saving is the one way out of the modified state; the file itself does not matter here.
  void markSaved() {
    const auto path = std::filesystem::temp_directory_path() / ("busweave-edit-" + std::to_string(::getpid()));
    ASSERT_TRUE(net.SaveNetwork(path.string()));
    std::filesystem::remove(path);
  }
};

TTrmLine line(TPoint S, TPoint E) {
  TTrmLine wire;
  wire.FStart = S;
  wire.FEnd = E;
  return wire;
}

}  // namespace

TEST_F(Editing, AddNodeAddsOnceAndSplitsTheWireUnderIt) {
  EXPECT_TRUE(net.AddNode({0, 0}));
  EXPECT_EQ(net.NodeAt({0, 0})->FResistance, 1500);
  markSaved();
  EXPECT_FALSE(net.AddNode({0, 0}));  // present already: nothing added, still saved
  EXPECT_FALSE(net.FUnDoPossible());

  drawWire(1, {0, 0}, {100, 0}, 90, false);
  wireAt({0, 0}, {100, 0})->FLength = 500;
  const int before = net.FUnDoList().Count();
  net.FTickCount = 5;
  EXPECT_TRUE(net.AddNode({50, 3}));
  EXPECT_EQ(counters(), (Counters{3, 2, 0}));
  const TTrmLine* left = wireAt({0, 0}, {50, 3});
  const TTrmLine* right = wireAt({50, 3}, {100, 0});
  ASSERT_TRUE(left && right);
  for (const TTrmLine* half : {left, right})
    EXPECT_EQ((Counters{half->FImpedance, half->FShowLength, half->FLength}), (Counters{90, 0, 0}));
  EXPECT_EQ(left->FAngle, static_cast<float>(std::atan(3.0 / 50.0)));
  EXPECT_EQ(right->FAngle, static_cast<float>(std::atan(-3.0 / 50.0)));

  // One action: the node, the old wire (the object itself, length and all), the two halves.
  const TStringList& undo = net.FUnDoList();
  ASSERT_EQ(undo.Count(), before + 4);
  const TUndoAction kinds[] = {uaAdded, uaDeleted, uaAdded, uaAdded};
  const char* undoKeys[] = {"N0032:0003", "W0000:0000::0064:0000", "W0000:0000::0032:0003", "W0032:0003::0064:0000"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(undo.Strings(before + i), undoKeys[i]);
    EXPECT_EQ(undo.Objects(before + i)->FAction, kinds[i]);
    EXPECT_EQ(undo.Objects(before + i)->FTick, 5);
  }
  EXPECT_EQ(dynamic_cast<const TTrmLine*>(undo.Objects(before + 1))->FLength, 500);

  // Only the first wire hit, in key order, is split.
  drawWire(6, {0, 100}, {100, 100});
  drawWire(7, {0, 80}, {100, 80});
  EXPECT_TRUE(net.SplitWireAt({50, 90}));
  EXPECT_TRUE(net.WireExists({0, 80}, {50, 90}));
  EXPECT_TRUE(net.WireExists({0, 100}, {100, 100}));
  EXPECT_FALSE(net.SplitWireAt({50, 500}));
}

TEST_F(Editing, AddWireOrdersEndsAndComputesAngle) {
  net.AddWire({100, 50}, {0, 0}, 75, false);
  net.AddWire({7, 90}, {7, 10}, 120, true);
  net.AddWire({50, 0}, {0, 100}, 120, true);
  const TTrmLine* rising = wireAt({0, 0}, {100, 50});
  const TTrmLine* vertical = wireAt({7, 10}, {7, 90});
  const TTrmLine* falling = wireAt({0, 100}, {50, 0});
  ASSERT_TRUE(rising && vertical && falling);
  EXPECT_EQ(rising->FShowLength, 0);
  EXPECT_EQ(rising->FAngle, static_cast<float>(std::atan(0.5)));
  EXPECT_EQ(vertical->FAngle, 1.5707964f);
  EXPECT_EQ(falling->FAngle, static_cast<float>(std::atan(-2.0)));

  net.AddWire({4, 4}, {4, 4}, 120, true);
  net.AddWire({0, 0}, {100, 50}, 60, true);
  EXPECT_EQ(net.FNumLines(), 3);
  EXPECT_EQ(rising->FImpedance, 75);
}

TEST_F(Editing, WireDistanceAndNearestWire) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    TTrmLine Wire;
    TPoint P;
    bool Hit;
    double Distance;
  };
  const Case cases[] = {
      {line({0, 0}, {100, 0}), {50, 25}, false, 25},  // the tolerance is strict
      {line({0, 0}, {100, 0}), {50, -24}, true, 24},
      {line({0, 0}, {100, 0}), {100, 0}, false, inf},  // horizontal and vertical: ends excluded
      {line({0, 0}, {100, 0}), {0, 3}, false, inf},
      {line({10, 0}, {10, 100}), {35, 50}, false, 25},
      // Stored right to left or top to bottom, as files written elsewhere may hold them.
      {line({600, 100}, {100, 100}), {350, 110}, true, 10},
      {line({600, 400}, {600, 100}), {590, 250}, true, 10},
      {line({600, 400}, {600, 100}), {600, 400}, false, inf},
      // A 5-12-13 slope: |5x - 12y| / 13 is 24.92 and 25.08 for these points.
      {line({0, 0}, {1200, 500}), {72, 3}, true, 324.0 / 13},
      {line({0, 0}, {1200, 500}), {70, 2}, false, 326.0 / 13},
      // Oblique: the closed rectangle of the ends is the test region.
      {line({0, 0}, {100, 100}), {0, 0}, true, 0},
      {line({0, 0}, {100, 100}), {110, 110}, false, inf},
      {line({0, 100}, {100, 0}), {0, 80}, true, 20 / std::sqrt(2.0)},
  };
  for (const Case& c : cases) {
    const THitResult r = TCanNodes::WireDistance(c.P, c.Wire);
    EXPECT_EQ(r.Hit, c.Hit) << c.P.X << "," << c.P.Y;
    EXPECT_TRUE(std::isinf(c.Distance) ? std::isinf(r.Distance) : std::fabs(r.Distance - c.Distance) < 1e-9)
        << c.P.X << "," << c.P.Y << ": " << r.Distance;
  }

  EXPECT_EQ(net.NearestWire({0, 0}), nullptr);
  drawWire(1, {0, 20}, {100, 20});
  drawWire(2, {0, 0}, {100, 0});
  EXPECT_EQ(net.NearestWire({50, 10}), wireAt({0, 0}, {100, 0}));  // a tie goes to the smaller key
  EXPECT_EQ(net.NearestWire({50, 12}), wireAt({0, 20}, {100, 20}));
  EXPECT_EQ(net.NearestWire({50, 60}), nullptr);
}

TEST_F(Editing, Deletions) {
  EXPECT_FALSE(net.DeleteElement(-1) || net.DeleteElement(0) || net.DeleteNodeAt({5, 5}));
  EXPECT_EQ(net.FFileState(), fstNew);

  // DeleteEndNode on a path A-B-C and a bare node.
  drawWire(1, {0, 0}, {100, 0});
  drawWire(2, {100, 0}, {200, 0});
  net.AddNode({500, 500});
  TNode* bare = net.NodeAt({500, 500});
  EXPECT_FALSE(net.DeleteEndNode({100, 0}) || net.DeleteEndNode({500, 500}) || net.DeleteEndNode({7, 7}));
  EXPECT_EQ(net.Count(), 6);
  EXPECT_TRUE(net.DeleteEndNode({0, 0}));
  EXPECT_EQ(keys(), (Keys{"N0064:0000", "N00C8:0000", "N01F4:01F4", "W0064:0000::00C8:0000"}));
  EXPECT_TRUE(net.DeleteEndNode({200, 0}));  // the far end is left bare and goes too
  EXPECT_EQ(keys(), (Keys{"N01F4:01F4"}));
  const int entries = net.FUnDoList().Count();
  EXPECT_TRUE(net.DeleteNodeAt({500, 500}));
  EXPECT_EQ(net.FUnDoList().Objects(entries), bare);  // the removed node itself goes to the undo list
  EXPECT_EQ(bare->FAction, uaDeleted);
  EXPECT_EQ(bare->FTick, 2);

  // DeleteWire on a triangle: the first side keeps its nodes, the second leaves one bare.
  drawWire(3, {0, 0}, {100, 0});
  drawWire(4, {100, 0}, {0, 100});
  drawWire(5, {0, 0}, {0, 100});
  TTrmLine* side = wireAt({0, 0}, {100, 0});
  EXPECT_TRUE(net.DeleteWire(side));
  EXPECT_EQ(side, nullptr);
  EXPECT_EQ(counters(), (Counters{3, 2, 0}));
  side = wireAt({0, 100}, {100, 0});
  EXPECT_TRUE(net.DeleteWire(side));
  EXPECT_EQ(keys(), (Keys{"N0000:0000", "N0000:0064", "W0000:0000::0000:0064"}));
  TTrmLine stranger = line({0, 0}, {5, 5});
  TTrmLine* ref = &stranger;
  EXPECT_FALSE(net.DeleteWire(ref));
  EXPECT_EQ(ref, &stranger);
}

TEST_F(Editing, UndoTakesBackWholeActionsOfEveryKind) {
  EXPECT_FALSE(net.UndoLast());
  drawWire(1, {0, 0}, {100, 0});
  TNode* node = net.NodeAt({0, 0});
  TTrmLine* wire = wireAt({0, 0}, {100, 0});
  wire->FLength = 700;
  const Keys drawn = keys();

  net.FTickCount = 2;  // split by a new node
  net.AddNode({50, 3});
  EXPECT_TRUE(net.UndoLast());
  EXPECT_EQ(keys(), drawn);
  EXPECT_EQ(wireAt({0, 0}, {100, 0}), wire);
  EXPECT_EQ(counters(), (Counters{2, 1, 0}));

  net.FTickCount = 3;  // changes through the dialogs
  TNode outsider;
  EXPECT_FALSE(net.BackupNode(&outsider) || net.BackupWire(nullptr));
  ASSERT_TRUE(net.BackupNode(node) && net.BackupWire(wire));
  node->FName = "renamed";
  node->FResistance = 120;
  wire->FReserved[3] = 9;
  EXPECT_TRUE(net.UndoLast());
  EXPECT_EQ(node->FName, "");
  EXPECT_EQ(node->FAction, uaRestored);
  EXPECT_EQ(wire->FReserved[3], 0);

  net.FTickCount = 4;  // a deleted wire with its end nodes
  ASSERT_TRUE(net.DeleteWire(wire));
  EXPECT_TRUE(net.UndoLast());
  EXPECT_EQ(keys(), drawn);

  net.FTickCount = 5;  // a deleted source node comes back counted and no longer highlighted
  auto source = std::make_unique<TNode>();
  source->FPos = {300, -300};
  source->FSource = 1;
  net.AddNodeObject(std::move(source));
  net.FTickCount = 6;
  net.NodeAt({300, -300})->FMarked = 1;
  net.DeleteNodeAt({300, -300});
  EXPECT_TRUE(net.UndoLast());
  EXPECT_EQ(counters(), (Counters{3, 1, 1}));
  EXPECT_EQ(net.NodeAt({300, -300})->FMarked, 0);

  EXPECT_TRUE(net.UndoLast());
  EXPECT_TRUE(net.UndoLast());
  EXPECT_EQ(net.Count(), 0);
  EXPECT_EQ(counters(), (Counters{0, 0, 0}));
  EXPECT_EQ(net.FFileState(), fstModified);
  EXPECT_EQ(net.FMinY(), -300);  // undo never shrinks the box
  EXPECT_FALSE(net.FUnDoPossible());
}

TEST_F(Editing, UndoStillRightAfterMoveAll) {
  // (FFFF, 0) and (10000, 0) swap places in key order when moved by one.
  net.FTickCount = 1;
  net.AddNode({0xFFFF, 0});
  net.FTickCount = 2;
  net.AddNode({0x10000, 0});
  net.FTickCount = 3;
  TNode* renamed = net.NodeAt({0xFFFF, 0});
  net.BackupNode(renamed);
  renamed->FName = "changed";
  ASSERT_TRUE(net.MoveAll({1, 0}));
  EXPECT_TRUE(net.UndoLast());
  EXPECT_EQ(renamed->FName, "");
  EXPECT_EQ(renamed->FPos, (TPoint{0x10000, 0}));  // the old record does not move it back
  EXPECT_TRUE(net.UndoLast());
  EXPECT_EQ(keys(), (Keys{"N10000:0000"}));
  EXPECT_EQ(net.NodeAt({0x10000, 0}), renamed);
  EXPECT_TRUE(net.UndoLast());

  // A split taken back after the network was moved restores the moved wire.
  drawWire(4, {0, 0}, {100, 0});
  net.FTickCount = 5;
  net.AddNode({50, 3});
  ASSERT_TRUE(net.MoveAll({1000, 1000}));
  EXPECT_TRUE(net.UndoLast());
  EXPECT_EQ(keys(), (Keys{"N03E8:03E8", "N044C:03E8", "W03E8:03E8::044C:03E8"}));
  EXPECT_TRUE(net.UndoLast());
  EXPECT_EQ(net.Count(), 0);
}

TEST_F(Editing, UndoBeepsAtAnEntryItCannotTakeBack) {
  int beeps = 0;
  net.OnBeep = [&beeps] { ++beeps; };
  net.FTickCount = 1;
  net.AddNode({0, 0});
  net.AddNode({100, 0});
  TCanNodes::FreeElements(net);  // the elements are gone, their undo entries stay
  net.AddNode({100, 0});
  // The newest entry still has its element; the one below it does not.
  EXPECT_TRUE(net.UndoLast());
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(net.FUnDoList().Count(), 2);
  EXPECT_FALSE(net.UndoLast());
  EXPECT_EQ(beeps, 2);
  EXPECT_EQ(net.FUnDoList().Count(), 2);
}

// The editor places and removes sources by changing nodes in place; the source count must
// follow, also when such a node is deleted and the deletion undone.
TEST_F(Editing, SourceCountFollowsSourcesPlacedInPlace) {
  drawWire(1, {0, 0}, {100, 0});
  net.FTickCount = 2;
  TNode* node = net.NodeAt({0, 0});
  ASSERT_TRUE(net.BackupNode(node));
  node->FSource = 1;
  EXPECT_EQ(net.FNumSources(), 1);

  net.FTickCount = 3;
  ASSERT_TRUE(net.DeleteEndNode({0, 0}));
  EXPECT_EQ(counters(), (Counters{0, 0, 0}));
  EXPECT_TRUE(net.UndoLast());
  EXPECT_EQ(counters(), (Counters{2, 1, 1}));
  EXPECT_TRUE(net.UndoLast());  // the placing of the source
  EXPECT_EQ(counters(), (Counters{2, 1, 0}));
}

// Redo walks forward through the same states undo walked back through, one action at a time,
// and what it redoes can be undone again; the next change, a save or a move keep it consistent.
TEST_F(Editing, RedoReplaysUndoneActionsOfEveryKindStepByStep) {
  auto state = [this] {
    std::string out;
    for (int i = 0; i < net.Count(); ++i) {
      out += net.Strings(i);
      if (const TNode* node = net.NodeAtIndex(i)) {
        const auto bytes = node->PackRecord();
        out.append(bytes.begin(), bytes.end());
      } else {
        const auto bytes = net.WireAtIndex(i)->PackRecord();
        out.append(bytes.begin(), bytes.end());
      }
    }
    return out + std::to_string(net.FNumNodes()) + "/" + std::to_string(net.FNumLines());
  };
  std::vector<std::string> states{state()};
  drawWire(1, {0, 0}, {200, 0});
  states.push_back(state());
  drawWire(2, {100, 0}, {100, 200});  // splits the first wire
  states.push_back(state());
  net.FTickCount = 3;  // dialog changes of a node and a wire
  net.BackupNode(net.NodeAt({0, 0}));
  net.NodeAt({0, 0})->FSource = 1;
  net.BackupWire(wireAt({100, 0}, {200, 0}));
  wireAt({100, 0}, {200, 0})->FLength = 40;
  states.push_back(state());
  net.FTickCount = 4;
  ASSERT_TRUE(net.DeleteEndNode({100, 200}));
  states.push_back(state());
  net.FTickCount = 5;
  TTrmLine* wire = wireAt({0, 0}, {100, 0});
  ASSERT_TRUE(net.DeleteWire(wire));
  states.push_back(state());

  EXPECT_FALSE(net.RedoLast());
  for (std::size_t i = states.size() - 1; i > 0; --i) {
    ASSERT_TRUE(net.UndoLast());
    EXPECT_EQ(state(), states[i - 1]) << "undo to step " << i - 1;
  }
  EXPECT_FALSE(net.FUnDoPossible());
  net.FTickCount = 99;
  for (std::size_t i = 1; i < states.size(); ++i) {
    ASSERT_TRUE(net.RedoLast());
    EXPECT_EQ(state(), states[i]) << "redo to step " << i;
  }
  EXPECT_FALSE(net.FReDoPossible());
  EXPECT_EQ(net.FTickCount, 99);
  // Redone actions are undone again as whole actions.
  ASSERT_TRUE(net.UndoLast() && net.UndoLast());
  EXPECT_EQ(state(), states[3]);
  EXPECT_EQ(net.FNumSources(), 1);

  // Entries waiting for redo move with the network.
  ASSERT_TRUE(net.MoveAll({1000, 0}));
  ASSERT_TRUE(net.RedoLast());
  EXPECT_FALSE(net.NodeExists({1100, 200}));
  EXPECT_TRUE(net.NodeExists({1100, 0}));
  EXPECT_TRUE(net.UndoLast());

  // A new change ends the redo history, as does a save.
  net.FTickCount = 100;
  net.AddNode({5000, 5000});
  EXPECT_FALSE(net.FReDoPossible());
  EXPECT_FALSE(net.RedoLast());
  ASSERT_TRUE(net.UndoLast());
  ASSERT_TRUE(net.FReDoPossible());
  markSaved();
  EXPECT_FALSE(net.FReDoPossible() || net.FUnDoPossible());
}

TEST_F(Editing, MovingANodeTakesItsWireEndsAlongAsOneUndoableAction) {
  auto state = [this] {
    std::string out;
    for (int i = 0; i < net.Count(); ++i) {
      out += net.Strings(i);
      if (const TNode* node = net.NodeAtIndex(i)) {
        const auto bytes = node->PackRecord();
        out.append(bytes.begin(), bytes.end());
      } else {
        const auto bytes = net.WireAtIndex(i)->PackRecord();
        out.append(bytes.begin(), bytes.end());
      }
    }
    return out + std::to_string(net.FNumNodes()) + "/" + std::to_string(net.FNumLines());
  };
  drawWire(1, {0, 0}, {200, 0});
  drawWire(2, {200, 0}, {200, 200}, 90);
  net.FTickCount = 3;
  net.BackupNode(net.NodeAt({200, 0}));
  net.NodeAt({200, 0})->FSource = 1;
  net.NodeAt({200, 0})->FName = "T";
  wireAt({0, 0}, {200, 0})->FLength = 700;
  const std::string before = state();
  const int undoEntries = net.FUnDoList().Count();

  // Refusals change nothing and record nothing.
  net.FTickCount = 4;
  EXPECT_EQ(net.MoveNode({200, 0}, {0, 0}), TMoveOutcome::Occupied);
  EXPECT_EQ(net.MoveNode({100, 100}, {300, 300}), TMoveOutcome::NoNode);
  EXPECT_EQ(net.MoveNode({200, 0}, {200, 0}), TMoveOutcome::Unchanged);
  EXPECT_EQ(state(), before);
  EXPECT_EQ(net.FUnDoList().Count(), undoEntries);

  // The node keeps its record; its wires get new keys, ordered ends and angles, and keep theirs.
  ASSERT_EQ(net.MoveNode({200, 0}, {100, -100}), TMoveOutcome::Moved);
  EXPECT_EQ(keys(), (Keys{TCanNodes::NodeKey({0, 0}), TCanNodes::NodeKey({100, -100}), TCanNodes::NodeKey({200, 200}),
                          TCanNodes::WireKey({0, 0}, {100, -100}), TCanNodes::WireKey({100, -100}, {200, 200})}));
  const TNode* node = net.NodeAt({100, -100});
  EXPECT_EQ(node->FName, "T");
  EXPECT_EQ(node->FSource, 1);
  const TTrmLine* first = wireAt({0, 0}, {100, -100});
  EXPECT_EQ(first->FLength, 700);
  EXPECT_FLOAT_EQ(first->FAngle, WireAngle({0, 0}, {100, -100}));
  EXPECT_EQ(wireAt({100, -100}, {200, 200})->FImpedance, 90);
  EXPECT_EQ(counters(), (Counters{3, 2, 1}));
  EXPECT_EQ(net.FMinY(), -100);
  const std::string after = state();

  ASSERT_TRUE(net.UndoLast());
  EXPECT_EQ(state(), before);
  ASSERT_TRUE(net.RedoLast());
  EXPECT_EQ(state(), after);
  ASSERT_TRUE(net.UndoLast());
  EXPECT_EQ(state(), before);

  // Dropped on a wire, the node splits it as a new node would; a split half that would double a
  // moved wire is refused.
  drawWire(5, {400, 0}, {400, 400});
  net.FTickCount = 6;
  ASSERT_EQ(net.MoveNode({0, 0}, {400, 200}), TMoveOutcome::Moved);
  EXPECT_TRUE(wireAt({400, 0}, {400, 200}) && wireAt({400, 200}, {400, 400}) && wireAt({200, 0}, {400, 200}));
  EXPECT_EQ(counters(), (Counters{5, 4, 1}));
  ASSERT_TRUE(net.UndoLast());
  drawWire(7, {200, 200}, {600, 200});
  const std::string joined = state();
  net.FTickCount = 8;
  EXPECT_EQ(net.MoveNode({200, 0}, {400, 200}), TMoveOutcome::WireExists);
  EXPECT_EQ(state(), joined);
}
