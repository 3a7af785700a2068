// The layout of a bus (BusLayout.h) is the one the bus check judges: the check's findings name
// the same trunk ends, trunk wires and stubs as BusLayoutOf gives.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "model/BusCheck.h"
#include "model/BusLayout.h"

namespace busweave {
namespace {

class Net {
 public:
  Net() : FNet(120, 1500, 120) {}
  Net& node(TPoint P, std::uint16_t Resistance = 1500) {
    FNet.AddNode(P);
    FNet.NodeAt(P)->FResistance = Resistance;
    FNet.NodeAt(P)->FSource = 1;
    return *this;
  }
  Net& wire(TPoint A, TPoint B, std::uint16_t LengthMm) {
    FNet.AddWire(A, B, 120, true);
    int index = 0;
    if (!FNet.Find(TCanNodes::WireKey(A, B), index)) FNet.Find(TCanNodes::WireKey(B, A), index);
    FNet.WireAtIndex(index)->FLength = LengthMm;
    return *this;
  }
  const TCanNodes& net() const { return FNet; }

 private:
  TCanNodes FNet;
};

using TStub = std::pair<TPoint, std::vector<std::string>>;  // far end, wires from the trunk out

bool farFirst(const TStub& L, const TStub& R) {
  return L.first.X != R.first.X ? L.first.X < R.first.X : L.first.Y < R.first.Y;
}

// What the check says of the trunk and the stubs once every length is over its limit: the trunk
// in the bus-length finding, each stub in a stub-length finding, or, beyond a termination at an
// end, in a termination-place one.
struct TCheckSees {
  std::string From;
  std::string To;
  std::vector<std::string> Trunk;  // from From to To
  std::vector<TStub> Stubs;
};

TCheckSees checkSees(const TCanNodes& Net) {
  TCheckSettings tight;
  tight.MaxBusLengthM = 0.001;
  tight.MaxStubLengthM = 0.001;
  TCheckSees sees;
  for (const TFinding& f : CheckBus(Net, tight)) {
    if (f.Rule == "bus-length") {
      const std::size_t from = f.Message.find(" long from ") + 11;
      const std::size_t to = f.Message.find(" to ", from);
      sees.From = f.Message.substr(from, to - from);
      sees.To = f.Message.substr(to + 4, f.Message.find("; at ") - to - 4);
      sees.Trunk.assign(f.Wires.rbegin(), f.Wires.rend());  // the finding goes from the far end back
    } else if (f.Rule == "stub-length") {
      sees.Stubs.emplace_back(f.Nodes.at(0), std::vector<std::string>(f.Wires.rbegin(), f.Wires.rend()));
    } else if (f.Rule == "termination-place") {
      EXPECT_EQ(f.Nodes.size(), 2u) << "one line beyond the termination in these buses";
      sees.Stubs.emplace_back(f.Nodes.at(1), std::vector<std::string>(f.Wires.rbegin(), f.Wires.rend()));
    }
  }
  std::sort(sees.Stubs.begin(), sees.Stubs.end(), farFirst);
  return sees;
}

// How the check names a point.
std::string label(const TCanNodes& Net, TPoint P) {
  std::string text = Net.NodeAt(P) ? "node at (" : "the wire end at (";
  text += std::to_string(P.X);
  text += ", ";
  text += std::to_string(P.Y);
  text += ")";
  return text;
}

// A wire's key: it starts at the lesser of its ends.
std::string key(TPoint A, TPoint B) {
  const bool less = A.X < B.X || (A.X == B.X && A.Y < B.Y);
  return less ? TCanNodes::WireKey(A, B) : TCanNodes::WireKey(B, A);
}

// The check and the layout agree; the layout's trunk ends are Ends and its stubs reach Fars, in
// their order (the ends in the order the double sweep finds them, the stubs from EndA on).
void expectAgreement(const Net& Bus, std::pair<TPoint, TPoint> Ends, std::vector<TPoint> Fars, const char* What) {
  SCOPED_TRACE(What);
  const std::optional<TBusLayout> layout = BusLayoutOf(Bus.net());
  ASSERT_TRUE(layout);
  EXPECT_EQ(std::make_pair(layout->EndA, layout->EndB), Ends);
  std::vector<TPoint> fars;
  for (const TBusStub& stub : layout->Stubs) fars.push_back(stub.Far);
  EXPECT_EQ(fars, Fars);

  const TCheckSees sees = checkSees(Bus.net());
  EXPECT_EQ(sees.From, label(Bus.net(), layout->EndA));
  EXPECT_EQ(sees.To, label(Bus.net(), layout->EndB));
  EXPECT_EQ(sees.Trunk, layout->Trunk);
  std::vector<TStub> stubs;
  for (const TBusStub& stub : layout->Stubs) {
    stubs.emplace_back(stub.Far, stub.Wires);
    EXPECT_EQ(StubTo(*layout, stub.Far), &stub);
  }
  std::sort(stubs.begin(), stubs.end(), farFirst);
  EXPECT_EQ(sees.Stubs, stubs);
}

TEST(BusLayout, TheCheckAndTheLayoutAgreeOnTrunkEndsAndStubs) {
  // A star: four arms from a hub, terminations at the ends of the two longest; the arm to
  // (0, -1000) forks, and its stub reaches the farther fork.
  Net star;
  star.node({0, 0}).node({1000, 0}, 120).node({-1000, 0}, 120).node({0, 1000}).node({0, -1000});
  star.node({500, -1000}).node({-500, -1000});
  star.wire({0, 0}, {1000, 0}, 5000).wire({-1000, 0}, {0, 0}, 4000).wire({0, 0}, {0, 1000}, 2000);
  star.wire({0, -1000}, {0, 0}, 1000).wire({0, -1000}, {500, -1000}, 700).wire({-500, -1000}, {0, -1000}, 300);
  expectAgreement(star, {{1000, 0}, {-1000, 0}}, {{0, 1000}, {500, -1000}}, "star");
  const std::optional<TBusLayout> layout = BusLayoutOf(star.net());
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->TrunkMm, 9000u);
  const TBusStub* fork = StubTo(*layout, {500, -1000});
  ASSERT_TRUE(fork);
  EXPECT_EQ(fork->Root, (TPoint{0, 0}));
  EXPECT_EQ(fork->LengthMm, 1700u);
  EXPECT_EQ(fork->Wires, (std::vector<std::string>{key({0, 0}, {0, -1000}), key({0, -1000}, {500, -1000})}));
  EXPECT_EQ(StubTo(*layout, {-500, -1000}), nullptr);  // the nearer fork has no stub of its own
  EXPECT_EQ(StubTo(*layout, {0, 0}), nullptr);         // on the trunk

  // A termination in the middle of the line: the trunk ends there, and the line beyond it is a
  // stub that the check says goes on past the termination.
  Net middle;
  for (int x = 0; x <= 3000; x += 1000) middle.node({x, 0}, x == 0 || x == 2000 ? 120 : 1500);
  middle.node({1000, 500});
  for (int x = 0; x < 3000; x += 1000) middle.wire({x, 0}, {x + 1000, 0}, 5000);
  middle.wire({1000, 0}, {1000, 500}, 300);
  expectAgreement(middle, {{2000, 0}, {0, 0}}, {{3000, 0}, {1000, 500}}, "termination in the middle");
  // The advice's view runs the trunk past it to the open end where it belongs.
  const std::optional<TBusLayout> advised = BusLayoutOf(middle.net(), TTrunkEnds::LineEndTerminations);
  ASSERT_TRUE(advised);
  EXPECT_EQ(advised->EndA, (TPoint{0, 0}));
  EXPECT_EQ(advised->EndB, (TPoint{3000, 0}));
  EXPECT_EQ(advised->TrunkMm, 15000u);
  EXPECT_EQ(StubTo(*advised, {3000, 0}), nullptr);

  // No termination at all: the trunk is the longest path, and both its ends lack one.
  Net open;
  open.node({0, 0}).node({1000, 0}).node({2000, 0}).node({1000, 400}).node({1000, -400});
  open.wire({0, 0}, {1000, 0}, 3000).wire({1000, 0}, {2000, 0}, 4000);
  open.wire({1000, 0}, {1000, 400}, 500).wire({1000, -400}, {1000, 0}, 200);
  expectAgreement(open, {{2000, 0}, {0, 0}}, {{1000, 400}, {1000, -400}}, "no termination");
  std::vector<std::string> missing;
  for (const TFinding& f : CheckBus(open.net()))
    if (f.Rule == "termination-missing") missing.push_back(f.Message);
  EXPECT_EQ(missing, (std::vector<std::string>{"The end of the bus at node at (2000, 0) has no termination",
                                               "The end of the bus at node at (0, 0) has no termination"}));
}

TEST(BusLayout, NoLayoutWithoutOneTreeOfWires) {
  EXPECT_FALSE(BusLayoutOf(TCanNodes(120, 1500, 120)));
  Net apart;
  apart.node({0, 0}).node({1000, 0}).node({3000, 0}).node({4000, 0});
  apart.wire({0, 0}, {1000, 0}, 1000).wire({3000, 0}, {4000, 0}, 1000);
  EXPECT_FALSE(BusLayoutOf(apart.net()));
  Net ring;
  ring.node({0, 0}).node({1000, 0}).node({1000, 1000});
  ring.wire({0, 0}, {1000, 0}, 1000).wire({1000, 0}, {1000, 1000}, 1000).wire({1000, 1000}, {0, 0}, 1000);
  EXPECT_FALSE(BusLayoutOf(ring.net()));
  // A node off the wires ends no trunk.
  Net aside;
  aside.node({0, 0}).node({1000, 0}).node({5000, 5000}, 120);
  aside.wire({0, 0}, {1000, 0}, 1000);
  ASSERT_TRUE(BusLayoutOf(aside.net()));
  EXPECT_EQ(BusLayoutOf(aside.net())->Trunk.size(), 1u);
  EXPECT_EQ(BusLayoutOf(aside.net())->Terminations, (std::vector<TPoint>{{5000, 5000}}));
}

}  // namespace
}  // namespace busweave
