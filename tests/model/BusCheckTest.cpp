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

  // An empty network, to build from scratch.
  struct Blank {};
  explicit Bus(Blank) : FNet(120, 1500, 120) {}

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

TEST(BusCheck, AGoodBusHasNoFinding) { EXPECT_TRUE(Bus().check().empty()); }

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
  ASSERT_EQ(rules(findings), std::vector<std::string>{"termination-value"});
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
  EXPECT_EQ(BusLengthLimitMm(1000000), 40000u);
  EXPECT_EQ(BusLengthLimitMm(125000), 500000u);
  EXPECT_EQ(BusLengthLimitMm(250000), 250000u);
  EXPECT_EQ(StubLengthLimitMm(1000000), 300u);

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
  lenient.CableMin = 85;
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

// A straight trunk along y = 0 of wires with the given lengths, a terminated station at each end.
void trunk(Bus& bus, const std::vector<std::uint16_t>& LengthsMm) {
  const int last = static_cast<int>(LengthsMm.size()) * 100;
  for (int x = 0; x <= last; x += 100) bus.node({x, 0}, x == 0 || x == last ? 120 : 1500, x == 0 || x == last);
  for (std::size_t i = 0; i < LengthsMm.size(); ++i) {
    const int x = static_cast<int>(i) * 100;
    bus.wire({x, 0}, {x + 100, 0}, LengthsMm[i]);
  }
}

void setAllImpedances(TCanNodes& Net, std::uint16_t Ohms) {
  for (int i = 0; i < Net.Count(); ++i)
    if (TTrmLine* wire = Net.WireAtIndex(i)) wire->FImpedance = Ohms;
}

TEST(BusCheck, TrunkLimitsAreTheUsualTableCountedInWholeMillimetres) {
  const std::pair<std::uint32_t, std::uint64_t> table[] = {{10000, 5000000}, {20000, 2500000}, {50000, 1000000},
                                                           {125000, 500000}, {250000, 250000}, {500000, 100000},
                                                           {800000, 50000},  {1000000, 40000}};
  for (const auto& [rate, mm] : table) EXPECT_EQ(BusLengthLimitMm(rate), mm) << rate;
  std::uint64_t previous = BusLengthLimitMm(10000);
  for (std::uint32_t rate = 10500; rate <= 1000000; rate += 500) {
    EXPECT_LE(BusLengthLimitMm(rate), previous) << rate;
    previous = BusLengthLimitMm(rate);
  }
  EXPECT_EQ(BusLengthLimitMm(1000), 5000000u);
  EXPECT_EQ(StubLengthLimitMm(500000), 600u);

  // At and one millimetre past the limit, at table points and between them.
  for (std::uint32_t rate : {250000u, 50000u, 100000u}) {
    TCheckSettings settings;
    settings.BitRate = rate;
    const std::uint64_t limit = BusLengthLimitMm(rate);
    std::vector<std::uint16_t> lengths(static_cast<std::size_t>(limit / 62500), 62500);
    lengths.push_back(static_cast<std::uint16_t>(limit % 62500));
    if (lengths.back() == 0) lengths.pop_back();
    Bus at(Bus::Blank{});
    trunk(at, lengths);
    EXPECT_TRUE(at.check(settings).empty()) << rate;
    ++lengths.back();
    Bus past(Bus::Blank{});
    trunk(past, lengths);
    const auto findings = past.check(settings);
    ASSERT_EQ(rules(findings), std::vector<std::string>{"bus-length"}) << rate;
    EXPECT_EQ(findings[0].Wires.size(), lengths.size());
  }
  Bus over(Bus::Blank{});
  trunk(over, {62500, 62500, 62500, 62501});
  EXPECT_NE(over.check({250000}).front().Message.find("250.001 m long"), std::string::npos);
}

TEST(BusCheck, ANodesResistanceMakesItATerminationAStationOrAWrongValue) {
  for (std::uint16_t r : std::initializer_list<std::uint16_t>{1500, 301, 10000, 65535}) {
    Bus bus;
    bus.net().NodeAt({1000, 900})->FResistance = r;
    EXPECT_TRUE(bus.check().empty()) << r;
  }
  for (std::uint16_t r : std::initializer_list<std::uint16_t>{100, 130}) {
    Bus bus;
    bus.net().NodeAt({1000, 900})->FResistance = r;
    EXPECT_EQ(rules(bus.check()), std::vector<std::string>{"termination-count"}) << r;
  }
  for (std::uint16_t r : std::initializer_list<std::uint16_t>{0, 60, 99, 131, 300}) {
    Bus bus;
    bus.net().NodeAt({1000, 900})->FResistance = r;
    EXPECT_EQ(rules(bus.check()), (std::vector<std::string>{"termination-value", "termination-count"})) << r;
  }
  // The range is an option.
  Bus low;
  low.net().NodeAt({0, 1000})->FResistance = 105;
  EXPECT_TRUE(low.check().empty());
  TCheckSettings narrow;
  narrow.TerminationMin = 110;
  EXPECT_EQ(rules(low.check(narrow)), std::vector<std::string>{"termination-value"});
}

TEST(BusCheck, TerminationsEndTheTrunkAndEveryStubIsWithinItsLimit) {
  // 500 kbit/s: the termination 300 mm beyond the last junction, an end station on a stub
  // from that junction; a stub is fine up to 600 mm.
  for (std::uint16_t stub : std::initializer_list<std::uint16_t>{350, 600, 601}) {
    Bus bus;
    bus.net().NodeAt({3000, 1000})->FResistance = 1500;
    bus.node({3100, 1000}, 120).wire({3000, 1000}, {3100, 1000}, 300);
    bus.node({3000, 1100}, 1500, true).wire({3000, 1000}, {3000, 1100}, stub);
    const auto findings = bus.check();
    if (stub <= 600) {
      EXPECT_TRUE(findings.empty()) << stub;
      continue;
    }
    ASSERT_EQ(rules(findings), std::vector<std::string>{"stub-length"});
    EXPECT_NE(findings[0].Message.find("at node at (3000, 1000) is 0.601 m"), std::string::npos) << findings[0].Message;
  }
  // Beyond a termination a line longer than a stub means the termination is not at the end.
  for (std::uint16_t beyond : std::initializer_list<std::uint16_t>{600, 601}) {
    Bus bus;
    bus.node({-100, 1000}, 1500, true).wire({-100, 1000}, {0, 1000}, beyond);
    const auto findings = bus.check();
    if (beyond == 600) {
      EXPECT_TRUE(findings.empty());
      continue;
    }
    ASSERT_EQ(rules(findings), std::vector<std::string>{"termination-place"});
    EXPECT_EQ(findings[0].Nodes, (std::vector<TPoint>{{0, 1000}, {-100, 1000}}));
  }
  // A long stub is a long stub where it leaves the trunk, also near an end.
  for (int x : {1000, 2000}) {
    Bus bus;
    bus.node({x, 1800}, 1500, true).wire({x, 1000}, {x, 1800}, 8000);
    const auto findings = bus.check();
    ASSERT_EQ(rules(findings), (std::vector<std::string>{"stub-length", "stub-total"})) << x;
    EXPECT_NE(findings[0].Message.find("leaving the trunk at node at (" + std::to_string(x) + ", 1000) is 8.00 m"),
              std::string::npos)
        << findings[0].Message;
    EXPECT_EQ(findings[0].Nodes, (std::vector<TPoint>{{x, 1800}}));
  }
}

TEST(BusCheck, RingsAndEmptyNetworksAreErrors) {
  EXPECT_EQ(rules(CheckBus(TCanNodes())), std::vector<std::string>{"empty"});
  Bus nodesOnly(Bus::Blank{});
  nodesOnly.node({0, 0}, 120, true).node({100, 0}, 120, true);
  EXPECT_EQ(rules(nodesOnly.check()), std::vector<std::string>{"empty"});

  // Four wires in a ring, with a station on a stub off it: the ring is named, not the stub.
  Bus ring(Bus::Blank{});
  const std::vector<TPoint> corners = {{0, 0}, {1000, 0}, {1000, 1000}, {0, 1000}};
  for (std::size_t i = 0; i < corners.size(); ++i)
    ring.node(corners[i], i < 2 ? 120 : 1500, true).wire(corners[i], corners[(i + 1) % corners.size()], 1000);
  ring.node({-100, 0}, 1500, true).wire({-100, 0}, {0, 0}, 300);
  const auto findings = ring.check();
  ASSERT_EQ(rules(findings), std::vector<std::string>{"loop"});
  EXPECT_EQ(findings[0].Severity, TSeverity::Error);
  EXPECT_EQ(findings[0].Nodes.size(), 4u);
  EXPECT_EQ(findings[0].Wires.size(), 4u);
}

TEST(BusCheck, WiresAgainstTheCableRangeTerminationsAgainstTheirLine) {
  for (std::uint16_t z : std::initializer_list<std::uint16_t>{95, 140, 94, 141}) {
    Bus bus;
    setAllImpedances(bus.net(), z);
    EXPECT_EQ(bus.check().size(), z == 94 || z == 141 ? 5u : 0u) << z;
  }
  // 130 ohms are 30 % off a 100-ohm line, within the default tolerance; a 99-ohm line is not.
  for (std::uint16_t z : std::initializer_list<std::uint16_t>{100, 99}) {
    Bus bus;
    setAllImpedances(bus.net(), z);
    for (TPoint end : {TPoint{0, 1000}, TPoint{3000, 1000}}) bus.net().NodeAt(end)->FResistance = 130;
    const auto findings = bus.check();
    if (z == 100) {
      EXPECT_TRUE(findings.empty());
      continue;
    }
    ASSERT_EQ(rules(findings), (std::vector<std::string>{"termination-match", "termination-match"}));
    EXPECT_EQ(findings[0].Nodes[0].X + findings[1].Nodes[0].X, 3000);  // one at each end
    TCheckSettings loose;
    loose.TerminationTolerancePercent = 32;
    EXPECT_TRUE(bus.check(loose).empty());
  }
}

}  // namespace
}  // namespace busweave
