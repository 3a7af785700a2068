// The bus check on small networks: a good bus says nothing, each fault exactly its finding.

#include <gtest/gtest.h>

#include "model/BusCheck.h"

namespace busweave {
namespace {

// Builds buses node by node and wire by wire, as the editor would.
class Bus {
 public:
  // A straight bus along y = 1000: terminated ends at x = 0 and x = 3000, junctions every
  // 1000 units joined by 5 m wires, and a station on a 0.3 m stub below each junction.
  Bus() : FNet(120, 1500, 120) {
    for (int x = 0; x <= 3000; x += 1000) node({x, 1000}, x == 0 || x == 3000 ? 120 : 1500);
    for (int x = 0; x < 3000; x += 1000) wire({x, 1000}, {x + 1000, 1000}, 5000);
    for (int x = 1000; x <= 2000; x += 1000) node({x, 900}, 1500, true).wire({x, 1000}, {x, 900}, 300);
  }

  Bus& node(TPoint P, std::uint16_t Resistance = 1500, bool Driver = false) {
    FNet.AddNode(P);
    FNet.NodeAt(P)->FResistance = Resistance;
    FNet.NodeAt(P)->FSource = Driver ? 1 : 0;
    return *this;
  }
  Bus& wire(TPoint A, TPoint B, std::uint16_t LengthMm, std::uint16_t Impedance = 120) {
    FNet.AddWire(A, B, Impedance, true);
    wireAt(A, B)->FLength = LengthMm;
    return *this;
  }
  TTrmLine* wireAt(TPoint A, TPoint B) {
    int index = 0;
    if (FNet.Find(TCanNodes::WireKey(A, B), index) || FNet.Find(TCanNodes::WireKey(B, A), index))
      return FNet.WireAtIndex(index);
    return nullptr;
  }

  std::vector<TFinding> check(const TCheckSettings& Settings = {}) { return CheckBus(FNet, Settings); }
  TCanNodes& net() { return FNet; }

 private:
  TCanNodes FNet;
};

// The rules that fired, in order.
std::vector<std::string> rules(const std::vector<TFinding>& Findings) {
  std::vector<std::string> out;
  for (const auto& f : Findings) out.push_back(f.Rule);
  return out;
}

TEST(BusCheck, AGoodBusHasNoFinding) {
  EXPECT_TRUE(Bus().check().empty());
  EXPECT_TRUE(CheckBus(TCanNodes()).empty());
}

TEST(BusCheck, TerminationsAreTwoAtTheEndsWithTheRightValue) {
  Bus third;
  third.net().NodeAt({1000, 1000})->FResistance = 120;
  auto findings = third.check();
  ASSERT_EQ(rules(findings), std::vector<std::string>{"termination-count"});
  EXPECT_EQ(findings[0].Severity, TSeverity::Error);
  EXPECT_EQ(findings[0].Nodes, (std::vector<TPoint>{{1000, 1000}}));

  Bus midway;
  midway.net().NodeAt({3000, 1000})->FResistance = 1500;
  midway.net().NodeAt({2000, 1000})->FResistance = 120;
  findings = midway.check();
  ASSERT_EQ(rules(findings), std::vector<std::string>{"termination-place"});
  EXPECT_EQ(findings[0].Nodes, (std::vector<TPoint>{{2000, 1000}, {3000, 1000}}));

  Bus missing;
  missing.net().NodeAt({0, 1000})->FResistance = 1500;
  findings = missing.check();
  ASSERT_EQ(rules(findings), std::vector<std::string>{"termination-missing"});
  EXPECT_EQ(findings[0].Nodes, (std::vector<TPoint>{{0, 1000}}));

  Bus weak;
  weak.net().NodeAt({0, 1000})->FResistance = 60;
  findings = weak.check();
  ASSERT_EQ(rules(findings), (std::vector<std::string>{"termination-value", "impedance", "impedance", "impedance",
                                                       "impedance", "impedance"}));
  EXPECT_NE(findings[0].Message.find("60 ohms"), std::string::npos);

  // An end station on a short stub beyond the termination is still the end of the bus.
  Bus endStation;
  endStation.node({-100, 1000}, 1500, true).wire({-100, 1000}, {0, 1000}, 300);
  EXPECT_TRUE(endStation.check().empty());
}

TEST(BusCheck, LengthsFollowTheBitRate) {
  Bus unset;
  unset.wire({3000, 1000}, {3000, 900}, 0);
  unset.node({3000, 900}, 1500, true);
  auto findings = unset.check();
  ASSERT_EQ(rules(findings), std::vector<std::string>{"wire-length"});
  EXPECT_EQ(findings[0].Wires, (std::vector<std::string>{TCanNodes::WireKey({3000, 900}, {3000, 1000})}));

  // 15 m of bus: fine at 500 kbit/s, too long when 40 m shrink to 10 m at 4 Mbit/s.
  TCheckSettings fast;
  fast.BitRate = 4000000;
  fast.MaxStubLengthM = 0.3;
  findings = Bus().check(fast);
  ASSERT_EQ(rules(findings), std::vector<std::string>{"bus-length"});
  EXPECT_EQ(findings[0].Wires.size(), 3u);  // the three segments between the ends
  EXPECT_DOUBLE_EQ(BusLengthLimitM(1000000), 40);
  EXPECT_DOUBLE_EQ(BusLengthLimitM(125000), 500);
  EXPECT_NEAR(BusLengthLimitM(250000), 250, 1e-9);
  EXPECT_DOUBLE_EQ(StubLengthLimitM(1000000), 0.3);

  Bus longStub;
  longStub.node({1500, 500}, 1500, true).wire({1000, 1000}, {1500, 500}, 2500);
  findings = longStub.check();
  ASSERT_EQ(rules(findings), std::vector<std::string>{"stub-length"});
  EXPECT_EQ(findings[0].Severity, TSeverity::Warning);
  EXPECT_EQ(findings[0].Nodes, (std::vector<TPoint>{{1500, 500}}));
  EXPECT_EQ(findings[0].Wires, (std::vector<std::string>{TCanNodes::WireKey({1000, 1000}, {1500, 500})}));
}

TEST(BusCheck, PiecesImpedancesAndStations) {
  Bus apart;
  apart.node({5000, 1000}, 1500, true).node({6000, 1000}, 1500, true).wire({5000, 1000}, {6000, 1000}, 1000);
  auto findings = apart.check();
  ASSERT_EQ(rules(findings), std::vector<std::string>{"pieces"});
  EXPECT_EQ(findings[0].Nodes.size(), 2u);  // the smaller piece

  Bus mismatched;
  mismatched.net().NodeAt({1000, 900});  // keep the layout, change one line
  mismatched.wire({1000, 1000}, {2000, 1000}, 5000, 90);
  int index = 0;
  mismatched.net().Find(TCanNodes::WireKey({1000, 1000}, {2000, 1000}), index);
  mismatched.net().WireAtIndex(index)->FImpedance = 90;
  findings = mismatched.check();
  ASSERT_EQ(rules(findings), std::vector<std::string>{"impedance"});
  EXPECT_EQ(findings[0].Wires, (std::vector<std::string>{TCanNodes::WireKey({1000, 1000}, {2000, 1000})}));
  TCheckSettings lenient;
  lenient.ImpedanceTolerance = 0.3;
  EXPECT_TRUE(mismatched.check(lenient).empty());

  Bus lonely;
  lonely.node({9000, 9000}, 1500, true);
  findings = lonely.check();
  EXPECT_EQ(rules(findings), (std::vector<std::string>{"pieces", "station-unconnected"}));

  TCheckSettings few;
  few.MaxStations = 1;
  EXPECT_EQ(rules(Bus().check(few)), std::vector<std::string>{"station-count"});
  Bus single;
  single.net().NodeAt({1000, 900})->FSource = 0;
  findings = single.check();
  ASSERT_EQ(rules(findings), std::vector<std::string>{"station-count"});
  EXPECT_EQ(findings[0].Severity, TSeverity::Warning);
}

}  // namespace
}  // namespace busweave
