// The container: keys and their collation, registration with its undo copies, counters and
// bounding box, node numbering and translation of the whole network.

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <memory>
#include <string>

#include "model/ModelErrors.h"
#include "model/NetworkContainer.h"

using namespace busweave;

namespace {

std::unique_ptr<TNode> makeNode(TPoint P, std::uint8_t Source = 0, std::string Name = "") {
  auto node = std::make_unique<TNode>();
  node->FPos = P;
  node->FName = std::move(Name);
  node->FSource = Source;
  return node;
}

std::unique_ptr<TTrmLine> makeWire(TPoint S, TPoint E) {
  auto wire = std::make_unique<TTrmLine>();
  wire->FStart = S;
  wire->FEnd = E;
  return wire;
}

// Nodes, wires, sources.
std::array<int, 3> counters(const TCanNodes& Net) { return {Net.FNumNodes(), Net.FNumLines(), Net.FNumSources()}; }
// Smallest X and Y, largest X and Y.
std::array<int, 4> box(const TCanNodes& Net) { return {Net.FMinX(), Net.FMinY(), Net.FMaxX(), Net.FMaxY()}; }

// Every key must match its element's coordinates, and the list must be in key order.
void expectConsistentKeys(const TCanNodes& Net) {
  for (int i = 0; i < Net.Count(); ++i) {
    const TNode* node = Net.NodeAtIndex(i);
    const TTrmLine* wire = Net.WireAtIndex(i);
    EXPECT_EQ(Net.Strings(i), node ? TCanNodes::NodeKey(node->FPos) : TCanNodes::WireKey(wire->FStart, wire->FEnd));
    if (i > 0) {
      EXPECT_LT(keyCompare(Net.Strings(i - 1), Net.Strings(i)), 0) << "at index " << i;
    }
  }
}

}  // namespace

TEST(Container, FreshState) {
  TCanNodes net;
  EXPECT_FALSE(net.FNetworkExists());
  EXPECT_FALSE(net.FUnDoPossible());
  EXPECT_EQ(net.FFileName(), "newfile.bwn");
  EXPECT_EQ(net.FFileState(), fstNew);
  EXPECT_EQ(net.FNoZL, 65535);
  EXPECT_EQ(box(net), (std::array<int, 4>{INT_MAX, INT_MAX, -INT_MAX, -INT_MAX}));
  auto editorNet = TCanNodes::CreateWithImpedances(110, 1500, 130);
  EXPECT_EQ((std::array<int, 3>{editorNet->FZL, editorNet->FNoZL, editorNet->FLineZL}),
            (std::array<int, 3>{110, 1500, 130}));
}

TEST(Keys, FormatAndCollation) {
  EXPECT_EQ(TCanNodes::NodeKey({100, 200}), "N0064:00C8");
  EXPECT_EQ(TCanNodes::NodeKey({65536, 1}), "N10000:0001");
  EXPECT_EQ(TCanNodes::NodeKey({-1, 5}), "NFFFFFFFF:0005");
  EXPECT_EQ(TCanNodes::NodeKey({INT_MIN, INT_MAX}), "N80000000:7FFFFFFF");
  EXPECT_EQ(TCanNodes::WireKey({16, 32}, {65536, 5}), "W0010:0020::10000:0005");

  // ':' before digits before letters, case ignored, a prefix before its extensions.
  EXPECT_LT(keyCompare(":", "0"), 0);
  EXPECT_LT(keyCompare("9", "A"), 0);
  EXPECT_LT(keyCompare("a", "B"), 0);
  EXPECT_EQ(keyCompare("n00ab:0000", "N00AB:0000"), 0);
  EXPECT_LT(keyCompare("N1234", "N12345"), 0);

  TCanNodes net;
  net.AddWireObject(makeWire({0, 0}, {1, 0}));
  for (TPoint p : {TPoint{0xFFFF, 0}, TPoint{-1, 0}, TPoint{0x12345, 0}, TPoint{0x10000, 0}, TPoint{0x1234, 0}})
    net.AddNodeObject(makeNode(p));
  const char* expected[] = {"N10000:0000", "N1234:0000",     "N12345:0000",
                            "NFFFF:0000",  "NFFFFFFFF:0000", "W0000:0000::0001:0000"};
  ASSERT_EQ(net.Count(), 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(net.Strings(i), expected[i]);
  EXPECT_EQ(net.NodeAt({-1, 0}), net.Objects(4));
  EXPECT_TRUE(net.WireExists({1, 0}, {0, 0}));
}

TEST(Container, AddObjectRecordsUndoCopiesCountersAndBox) {
  TCanNodes net;
  net.FTickCount = 7;
  auto first = makeNode({100, 200}, 1, "gateway");
  TNode* firstNode = first.get();
  ASSERT_TRUE(net.AddNodeObject(std::move(first)));
  EXPECT_EQ(net.FFileState(), fstModified);
  const TStringList& undo = net.FUnDoList();
  ASSERT_EQ(undo.Count(), 1);
  EXPECT_EQ(undo.Strings(0), "N0064:00C8");
  const auto* copy = dynamic_cast<const TNode*>(undo.Objects(0));
  ASSERT_TRUE(copy && copy != firstNode);
  EXPECT_EQ(copy->PackRecord(), firstNode->PackRecord());
  EXPECT_EQ(copy->FTick, 7);

  // A node that sorts in front records the index it was inserted at; only source 1 counts.
  net.AddNodeObject(makeNode({50, -20}, 2));
  EXPECT_EQ(undo.Objects(1)->FIndex, 0);
  EXPECT_EQ(counters(net), (std::array<int, 3>{2, 0, 1}));
  EXPECT_EQ(box(net), (std::array<int, 4>{50, -20, 100, 200}));

  // Wires count, carry their reserved bytes into the copy and leave the box alone.
  auto wire = makeWire({-500, 900}, {50, -20});
  wire->FReserved[0] = 0x5A;
  ASSERT_TRUE(net.AddWireObject(std::move(wire)));
  EXPECT_EQ(box(net), (std::array<int, 4>{50, -20, 100, 200}));
  const auto* wireCopy = dynamic_cast<const TTrmLine*>(undo.Objects(2));
  ASSERT_TRUE(wireCopy && wireCopy->FReserved[0] == 0x5A);

  // Refusals change nothing: a second node on a spot, a zero-length wire, a reversed twin.
  try {
    net.AddNodeObject(makeNode({100, 200}));
    ADD_FAILURE() << "a second node on one spot was accepted";
  } catch (const EStringListError& error) {
    EXPECT_STREQ(error.what(), "String list does not allow duplicates");
  }
  EXPECT_FALSE(net.AddWireObject(makeWire({3, 3}, {3, 3})));
  EXPECT_FALSE(net.AddWireObject(makeWire({50, -20}, {-500, 900})));
  EXPECT_EQ(net.Count(), 3);
  EXPECT_EQ(counters(net), (std::array<int, 3>{2, 1, 1}));
  EXPECT_EQ(undo.Count(), 3);
  EXPECT_EQ(net.NodeAt({100, 200}), firstNode);
}

TEST(Container, NumberNodeNames) {
  TCanNodes net;
  net.AddNodeObject(makeNode({0, 0}));
  net.AddNodeObject(makeNode({1, 0}, 0, "[7] Gateway"));
  net.AddNodeObject(makeNode({2, 0}, 0, "x]yz"));
  net.AddNodeObject(makeNode({3, 0}, 0, std::string(255, 'a')));
  net.AddWireObject(makeWire({0, 0}, {1, 0}));
  EXPECT_EQ(net.NumberNodeNames(), 5);
  EXPECT_EQ(net.NodeAt({0, 0})->FName, "[1] ");
  EXPECT_EQ(net.NodeAt({1, 0})->FName, "[2] Gateway");
  EXPECT_EQ(net.NodeAt({2, 0})->FName, "[3] z");  // the character after ']' goes even when not a blank
  EXPECT_EQ(net.NodeAt({3, 0})->FName, "[4] " + std::string(251, 'a'));

  // A node that sorts in front renumbers the ones behind it.
  net.AddNodeObject(makeNode({0, -1}, 0, "second"));
  net.NumberNodeNames();
  EXPECT_EQ(net.NodeAt({0, -1})->FName, "[2] second");
  EXPECT_EQ(net.NodeAt({1, 0})->FName, "[3] Gateway");
}

TEST(Container, MoveAllRekeysResortsAndWraps) {
  TCanNodes net;
  EXPECT_FALSE(net.MoveAll({10, -5}));
  net.AddNodeObject(makeNode({5, 7}));
  net.AddNodeObject(makeNode({0xFFFF, 0}));
  net.AddNodeObject(makeNode({0x10000, 0}));
  net.AddWireObject(makeWire({5, 7}, {0xFFFF, 0}));
  net.AddWireObject(makeWire({0xFFFF, 0}, {0x10000, 0}));
  TNode* wasFFFF = net.NodeAt({0xFFFF, 0});
  ASSERT_TRUE(net.MoveAll({10, -5}));
  expectConsistentKeys(net);
  EXPECT_EQ(net.Objects(1), wasFFFF);  // moved ahead of the node that was before it
  EXPECT_TRUE(net.WireExists({15, 2}, {0x10009, -5}));
  EXPECT_EQ(box(net), (std::array<int, 4>{15, -5, 0x1000A, 2}));
  EXPECT_EQ(net.FUnDoList().Count(), 5);

  TCanNodes edge;
  edge.AddNodeObject(makeNode({INT_MAX, INT_MIN}));
  edge.AddNodeObject(makeNode({0, 0}));
  edge.AddWireObject(makeWire({0, 0}, {INT_MAX, INT_MIN}));
  ASSERT_TRUE(edge.MoveAll({1, -1}));
  expectConsistentKeys(edge);
  EXPECT_TRUE(edge.NodeExists({INT_MIN, INT_MAX}));
  EXPECT_TRUE(edge.WireExists({1, -1}, {INT_MIN, INT_MAX}));
  EXPECT_EQ(box(edge), (std::array<int, 4>{INT_MIN, -1, 1, INT_MAX}));
}
