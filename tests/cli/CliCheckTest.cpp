// busweave-cli check --json: each verdict at and just past its limit, and the options.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CliRun.h"
#include "TempFolder.h"
#include "model/NetworkContainer.h"

namespace busweave {
namespace {

struct Verdict {
  int Code;
  std::vector<std::string> Rules;  // in the order printed
  std::string Messages;            // all of them, one a line
};

class CliCheck : public ::testing::Test {
 protected:
  // A trunk along y = 0 of wires with the given lengths, a terminated station at each end;
  // More adds to it. Saved and checked with Options.
  Verdict check(const std::vector<std::uint16_t>& LengthsMm, const std::vector<std::string>& Options,
                const std::function<void(TCanNodes&)>& More = {}) {
    TCanNodes net(120, 1500, 120);
    const int last = static_cast<int>(LengthsMm.size()) * 100;
    for (int x = 0; x <= last; x += 100) {
      net.AddNode({x, 0});
      net.NodeAt({x, 0})->FResistance = x == 0 || x == last ? 120 : 1500;
      net.NodeAt({x, 0})->FSource = x == 0 || x == last ? 1 : 0;
    }
    for (std::size_t i = 0; i < LengthsMm.size(); ++i)
      wire(net, {static_cast<int>(i) * 100, 0}, {static_cast<int>(i) * 100 + 100, 0}, LengthsMm[i]);
    if (More) More(net);
    const std::string file = FFolder.File("bus.bwn");
    EXPECT_TRUE(net.SaveNetwork(file));
    std::vector<std::string> args = {"check", file, "--json"};
    args.insert(args.end(), Options.begin(), Options.end());
    const test::Outcome outcome = test::run(args);
    Verdict verdict{outcome.Code, {}, outcome.Err};
    if (outcome.Code == 2) return verdict;
    const auto json = nlohmann::json::parse(outcome.Out);
    int errors = 0;
    for (const auto& finding : json["findings"]) {
      verdict.Rules.push_back(finding["rule"]);
      verdict.Messages += finding["message"].get<std::string>() + "\n";
      errors += finding["severity"] == "error" ? 1 : 0;
    }
    EXPECT_EQ(json["errors"], errors);
    return verdict;
  }

  static void wire(TCanNodes& Net, TPoint A, TPoint B, std::uint16_t LengthMm, std::uint16_t Ohms = 120) {
    Net.AddWire(A, B, Ohms, true);
    int index = 0;
    ASSERT_TRUE(Net.Find(TCanNodes::WireKey(A, B), index) || Net.Find(TCanNodes::WireKey(B, A), index));
    Net.WireAtIndex(index)->FLength = LengthMm;
  }
  static void station(TCanNodes& Net, TPoint P, std::uint16_t Ohms, TPoint From, std::uint16_t LengthMm) {
    Net.AddNode(P);
    Net.NodeAt(P)->FResistance = Ohms;
    Net.NodeAt(P)->FSource = 1;
    wire(Net, From, P, LengthMm);
  }

  test::TempFolder FFolder;
};

using Rules = std::vector<std::string>;

TEST_F(CliCheck, TrunkLengthsHoldExactlyAtTheTablePoints) {
  const std::vector<std::uint16_t> m250(4, 62500);
  EXPECT_EQ(check(m250, {"--bitrate", "250000"}).Code, 0);
  std::vector<std::uint16_t> past = m250;
  past.back() = 62501;
  const Verdict over = check(past, {"--bitrate", "250000"});
  EXPECT_EQ(over.Code, 1);
  EXPECT_EQ(over.Rules, Rules{"bus-length"});
  EXPECT_NE(over.Messages.find("250.001 m long"), std::string::npos) << over.Messages;
  EXPECT_NE(over.Messages.find("at most 250.00 m"), std::string::npos) << over.Messages;

  // The usual figures below 125 kbit/s: 1,000 m at 50 kbit/s, 5,000 m at 10 kbit/s.
  const std::vector<std::uint16_t> km1(16, 62500);
  EXPECT_EQ(check(km1, {"--bitrate", "50000"}).Code, 0);
  past = km1;
  past.back() = 62501;
  EXPECT_EQ(check(past, {"--bitrate", "50000"}).Rules, Rules{"bus-length"});
  std::vector<std::uint16_t> km5(80, 62500);
  EXPECT_EQ(check(km5, {"--bitrate", "10000"}).Code, 0);
  km5.push_back(1);
  EXPECT_EQ(check(km5, {"--bitrate", "10000"}).Rules, Rules{"bus-length"});
}

TEST_F(CliCheck, StationInputsAreNoTerminationsAndNearValuesAreWrongOnes) {
  for (std::uint16_t ohms : std::initializer_list<std::uint16_t>{10000, 65535, 301}) {
    const Verdict v = check({5000, 5000}, {}, [&](TCanNodes& Net) { station(Net, {100, 100}, ohms, {100, 0}, 300); });
    EXPECT_EQ(v.Code, 0) << ohms;
    EXPECT_EQ(v.Rules, Rules{}) << ohms;
  }
  for (std::uint16_t ohms : std::initializer_list<std::uint16_t>{300, 60}) {
    const Verdict v = check({5000, 5000}, {}, [&](TCanNodes& Net) { station(Net, {100, 100}, ohms, {100, 0}, 300); });
    EXPECT_EQ(v.Code, 1);
    EXPECT_EQ(v.Rules, (Rules{"termination-value", "termination-count"})) << ohms;
  }
  // The range is an option: 105 ohms at an end is a termination by default, not within 110..130.
  auto weak = [](TCanNodes& Net) { Net.NodeAt({0, 0})->FResistance = 105; };
  EXPECT_EQ(check({5000}, {}, weak).Code, 0);
  EXPECT_EQ(check({5000}, {"--termination", "110..130"}, weak).Rules, Rules{"termination-value"});
}

TEST_F(CliCheck, EndStationsOnStubsBeyondTheTerminationAreFine) {
  // 500 kbit/s: the termination 300 mm beyond the last junction, the end station on a stub.
  auto endStation = [](std::uint16_t Stub) {
    return [Stub](TCanNodes& Net) {
      Net.NodeAt({200, 0})->FResistance = 1500;
      Net.NodeAt({200, 0})->FSource = 0;
      Net.AddNode({300, 0});
      Net.NodeAt({300, 0})->FResistance = 120;
      wire(Net, {200, 0}, {300, 0}, 300);
      station(Net, {200, 100}, 1500, {200, 0}, Stub);
    };
  };
  const Verdict fine = check({5000, 5000}, {}, endStation(350));
  EXPECT_EQ(fine.Code, 0);
  EXPECT_EQ(fine.Rules, Rules{}) << fine.Messages;
  EXPECT_EQ(check({5000, 5000}, {}, endStation(600)).Rules, Rules{});
  const Verdict longStub = check({5000, 5000}, {}, endStation(601));
  EXPECT_EQ(longStub.Code, 0);  // a warning
  EXPECT_EQ(longStub.Rules, Rules{"stub-length"});

  // An 8 m stub in the middle of a 10 m bus is a long stub where it leaves the trunk.
  const Verdict middle = check({5000, 5000}, {}, [](TCanNodes& Net) {
    station(Net, {100, 100}, 1500, {100, 0}, 8000);
  });
  EXPECT_EQ(middle.Rules, (Rules{"stub-length", "stub-total"}));
  EXPECT_NE(middle.Messages.find("leaving the trunk at node [2] at (100, 0) is 8.00 m"), std::string::npos)
      << middle.Messages;
}

TEST_F(CliCheck, RingsAndEmptyNetworksFail) {
  // An empty list, as another program may write it (this one saves no empty network).
  const std::string file = FFolder.File("empty.bwn");
  std::ofstream(file, std::ios::binary) << std::string("\x01\x00", 2);
  const test::Outcome nothing = test::run({"check", file, "--json"});
  EXPECT_EQ(nothing.Code, 1);
  EXPECT_NE(nothing.Out.find("\"rule\": \"empty\""), std::string::npos) << nothing.Out;

  const Verdict ring = check({1000, 1000}, {}, [](TCanNodes& Net) {
    Net.AddNode({100, 100});
    wire(Net, {0, 0}, {100, 100}, 1000);
    wire(Net, {100, 100}, {200, 0}, 1000);
  });
  EXPECT_EQ(ring.Code, 1);
  EXPECT_EQ(ring.Rules, Rules{"loop"});
}

TEST_F(CliCheck, OptionsTakeWholeNumbersAndRanges) {
  // Bit rates as analyze and advise take them; a sign, exponent or hexadecimal is no rate.
  EXPECT_EQ(check({5000}, {"--bitrate", "250k"}).Code, check({5000}, {"--bitrate", "250000"}).Code);
  for (const Rules& bad : {Rules{"--max-stations", "2.5"}, Rules{"--bitrate", "250000.5"}, Rules{"--bitrate", "1e6"},
                           Rules{"--bitrate", "0x3e8"}, Rules{"--bitrate", "1e3k"}, Rules{"--bitrate", "20M"},
                           Rules{"--max-stations", "-3"}, Rules{"--termination", "130..100"},
                           Rules{"--cable", "95-140"}, Rules{"--cable", "95..140.5"}}) {
    const Verdict v = check({5000}, bad);
    EXPECT_EQ(v.Code, 2) << bad[0] << " " << bad[1];
    EXPECT_NE(v.Messages.find(bad[0]), std::string::npos) << v.Messages;
  }
  auto third = [](TCanNodes& Net) { station(Net, {100, 100}, 1500, {100, 0}, 300); };
  EXPECT_EQ(check({5000, 5000}, {"--max-stations", "3"}, third).Code, 0);
  EXPECT_EQ(check({5000, 5000}, {"--max-stations", "2"}, third).Rules, Rules{"station-count"});

  // A 98-ohm cable is CAN cable by default; 120-ohm terminations are 22 % off it.
  auto cable98 = [](TCanNodes& Net) {
    for (int i = 0; i < Net.Count(); ++i)
      if (TTrmLine* w = Net.WireAtIndex(i)) w->FImpedance = 98;
  };
  EXPECT_EQ(check({5000}, {}, cable98).Rules, Rules{});
  EXPECT_EQ(check({5000}, {"--cable", "100..140"}, cable98).Rules, Rules{"impedance"});
  EXPECT_EQ(check({5000}, {"--tolerance", "22"}, cable98).Rules, (Rules{"termination-match", "termination-match"}));
  EXPECT_EQ(check({5000}, {"--tolerance", "22.5"}, cable98).Rules, Rules{});
}

}  // namespace
}  // namespace busweave
