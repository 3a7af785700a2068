// busweave-cli analyze and analyze-merge as built, with their worker processes: faults a CAN
// engineer expects to fail the data phase at the right pair, shards that merge into the
// unsharded result, the report, and the exit codes.

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>

#include "CliProgram.h"
#include "TempFolder.h"
#include "model/NetworkContainer.h"

namespace busweave {
namespace {

using test::RunCliProgram;
using Json = nlohmann::json;

struct TStationSpec {
  TPoint At;
  const char* Name;
  std::uint16_t Resistance;  // 120: terminated; 65535: a station's input only
  bool Driver = true;
};

// Stations and junctions joined by wires of the given lengths (mm).
void saveBus(const std::string& Path, const std::vector<TStationSpec>& Nodes,
             const std::vector<std::tuple<TPoint, TPoint, std::uint16_t>>& Wires) {
  TCanNodes net(120, 65535, 120);
  for (const auto& n : Nodes) net.AddNode(n.At);
  for (const auto& [a, b, length] : Wires) net.AddWire(a, b, 120, true);
  for (int i = 0; i < net.Count(); ++i)
    if (TTrmLine* wire = net.WireAtIndex(i))
      for (const auto& [a, b, length] : Wires)
        if (wire->FStart == a && wire->FEnd == b) wire->FLength = length;
  for (const auto& n : Nodes) {
    net.NodeAt(n.At)->FName = n.Name;
    net.NodeAt(n.At)->FResistance = n.Resistance;
    net.NodeAt(n.At)->FSource = n.Driver ? 1 : 0;
  }
  ASSERT_TRUE(net.SaveNetwork(Path));
}

// The decoding alone, without the margins a working rate keeps to spare.
const std::vector<std::string> kNoMargins{"--margin", "0", "--margin-v", "0"};

Json analyzeJson(std::vector<std::string> Args, int ExpectedCode, const std::vector<std::string>& Extra = kNoMargins) {
  Args.insert(Args.end(), Extra.begin(), Extra.end());
  const auto outcome = RunCliProgram(Args, 300);
  EXPECT_EQ(outcome.Code, ExpectedCode) << outcome.Err;
  return outcome.Out.empty() ? Json() : Json::parse(outcome.Out);
}

const Json& rateOf(const Json& Result, const std::string& Phase, std::int64_t Rate) {
  for (const Json& r : Result["rates"])
    if (r["phase"] == Phase && r["bitrate"] == Rate) return r;
  throw std::runtime_error("no rate");
}

TEST(CliAnalyze, LongStubsFailAtTheRightPair) {
  test::TempFolder folder;
  // A matched 10 m trunk A - J - B: 2 x (50 + 255) ns fits 1 Mbit/s, and nothing rings, so the
  // data phase goes as far as the driver itself does into 60 ohms: 5 Mbit/s (at 8 Mbit/s its
  // base has not recovered from one edge when the next comes, which only the full run shows).
  const std::string trunk = folder.File("trunk.bwn");
  saveBus(trunk, {{{0, 0}, "A", 120}, {{200, 0}, "J", 65535, false}, {{400, 0}, "B", 120}},
          {{{0, 0}, {200, 0}, 5000}, {{200, 0}, {400, 0}, 5000}});
  Json result = analyzeJson({"analyze", trunk, "--json", "--jobs", "2"}, 0);
  EXPECT_EQ(result["max_arbitration_bitrate"], 1000000);
  EXPECT_EQ(result["max_data_bitrate"], 5000000);
  EXPECT_EQ(result["driver"]["max_data_bitrate"], 5000000);
  EXPECT_EQ(result["pairs"].size(), 4u);
  EXPECT_EQ(result["pairs"][0].size(), 8u);

  // C on a 30 m unterminated stub from J: the stub takes half of each recessive step, which
  // comes back from its open end 300 ns later, so A and B see the recessive edge only then:
  // 2 x (about 335 + 255) ns no longer fits 1000 ns at 800 kbit/s.
  const std::string stub = folder.File("stub.bwn");
  saveBus(stub, {{{0, 0}, "A", 120}, {{200, 0}, "J", 65535, false}, {{400, 0}, "B", 120}, {{200, 200}, "C", 65535}},
          {{{0, 0}, {200, 0}, 5000}, {{200, 0}, {400, 0}, 5000}, {{200, 0}, {200, 200}, 30000}});
  result = analyzeJson({"analyze", stub, "--json"}, 0);
  EXPECT_EQ(result["max_arbitration_bitrate"], 500000);
  const Json& worst = rateOf(result, "arbitration", 800000)["worst"];
  EXPECT_EQ(worst["edge"], "recessive");
  EXPECT_EQ(worst["figure"], "round_trip");
  // A and B mirror each other; either way round, the pair is the trunk's two ends.
  const std::set<std::string> ends{worst["transmitter"].get<std::string>(), worst["receiver"].get<std::string>()};
  EXPECT_EQ(ends, (std::set<std::string>{"[1] A", "[4] B"}));
  EXPECT_NEAR(worst["value_ns"].get<double>(), 2 * (335 + 255), 20);

  // The same trunk without its terminations: nothing but the stations' inputs takes the
  // driver's energy, so the bus never returns to recessive and no rate works, at a pair of it.
  const std::string open = folder.File("open.bwn");
  saveBus(open, {{{0, 0}, "A", 65535}, {{200, 0}, "J", 65535, false}, {{400, 0}, "B", 65535}},
          {{{0, 0}, {200, 0}, 5000}, {{200, 0}, {400, 0}, 5000}});
  result = analyzeJson({"analyze", open, "--json"}, 1);
  EXPECT_EQ(result["max_arbitration_bitrate"], 0);
  EXPECT_EQ(result["max_data_bitrate"], 0);
  const Json& unterminated = rateOf(result, "data", 1000000)["worst"];
  EXPECT_EQ((std::set<std::string>{unterminated["transmitter"].get<std::string>(),
                                   unterminated["receiver"].get<std::string>()}),
            (std::set<std::string>{"[1] A", "[3] B"}))
      << unterminated.dump();

  // The example star with long stubs rings: its 6 m stubs send each recessive edge back late,
  // so a single recessive bit after five dominant ones is read wrong from 4 Mbit/s on, while
  // the 1 us bits of the arbitration phase have long settled by their sample point.
  result = analyzeJson({"analyze", std::string(BUSWEAVE_EXAMPLES) + "/star-with-long-stubs.bwn", "--json"}, 0);
  EXPECT_EQ(result["max_arbitration_bitrate"], 1000000);
  EXPECT_EQ(result["max_data_bitrate"], 2000000);
  const Json& ringing = rateOf(result, "data", 4000000)["worst"];
  EXPECT_EQ(ringing["figure"], "decode");
  EXPECT_NE(ringing["text"].get<std::string>().find("single recessive after five dominant"), std::string::npos)
      << ringing.dump();
  EXPECT_FALSE(result["bus_check"].empty());
}

// Two stations joined by one line, ends terminated as given: what a controller decodes follows
// from how fast each edge is done with at the far end, timed from the TXD edge.
TEST(CliAnalyze, TheTerminationsDecideWhatIsDecodedRight) {
  test::TempFolder folder;
  struct TCase {
    const char* Name;
    std::uint16_t Left, Right, Length;  // ohms, ohms, mm
    std::int64_t Arbitration, Data;
  };
  const TCase cases[] = {
      // Nothing but the stations' 1500-ohm inputs (750 ohms together) discharges the line after a
      // dominant bit, and its ends send most of each step back: the far end falls below 0.5 V
      // some 280 ns after the TXD edge, not the 25 ns of the line. A single recessive bit after
      // five dominant ones is read wrong from 4 Mbit/s on (sampled 175 ns in), and the round
      // trip 2 x (280 + 255) ns passes 1000 ns at 800 kbit/s.
      {"open", 1500, 1500, 5000, 500000, 2000000},
      // 1 kohm at each end discharges it sooner (bus delay about 175 ns): 1 Mbit/s arbitration
      // still misses 800 ns; the data phase still fails at 4 Mbit/s.
      {"kilo", 1000, 1000, 5000, 800000, 2000000},
      // 60 ohms at each end: a lower dominant level, echoes of a third back, each 50 ns: the
      // bus settles within the driver's own edges, and the driver's limit decides.
      {"sixty", 60, 60, 5000, 1000000, 5000000},
      // 40 m with one end open: every edge comes back from the open end 400 ns later at full
      // size and rings down through the one termination: 1 Mbit/s data, and the 200 ns of
      // line each way pass the 1 Mbit/s round trip.
      {"one", 120, 1500, 40000, 800000, 1000000},
  };
  for (const TCase& c : cases) {
    const std::string bus = folder.File(std::string(c.Name) + ".bwn");
    saveBus(bus, {{{0, 0}, "A", c.Left}, {{200, 0}, "B", c.Right}}, {{{0, 0}, {200, 0}, c.Length}});
    const Json result = analyzeJson({"analyze", bus, "--json"}, c.Arbitration >= 500000 ? 0 : 1);
    EXPECT_EQ(result["max_arbitration_bitrate"], c.Arbitration) << c.Name;
    EXPECT_EQ(result["max_data_bitrate"], c.Data) << c.Name;
    // The lowest failing data rate fails on a bit read wrong, and says which and why.
    for (const Json& rate : result["rates"])
      if (rate["phase"] == "data" && rate["bitrate"] > c.Data && rate["bitrate"] <= 2 * c.Data) {
        EXPECT_EQ(rate["worst"]["figure"], "decode") << c.Name << rate.dump();
        EXPECT_NE(rate["worst"]["text"].get<std::string>().find("read "), std::string::npos) << c.Name;
      }
    // Each breaks a rule of the bus check (an end without termination, a wrong value): its
    // error stands above the verdict.
    ASSERT_FALSE(result["bus_check"].empty()) << c.Name;
    EXPECT_EQ(result["bus_check"][0]["severity"], "error") << c.Name;
  }
}

// A rate read right only on the knife edge does not work: it must keep its margins to spare,
// and says by how much it misses them.
TEST(CliAnalyze, AWorkingRateKeepsItsMargins) {
  test::TempFolder folder;
  const std::string bus = folder.File("kilo.bwn");
  saveBus(bus, {{{0, 0}, "A", 1000}, {{200, 0}, "B", 1000}}, {{{0, 0}, {200, 0}, 5000}});
  const Json bare = analyzeJson({"analyze", bus, "--json", "--data-rates", "2M"}, 0);
  ASSERT_TRUE(rateOf(bare, "data", 2000000)["works"].get<bool>());
  const double least = rateOf(bare, "data", 2000000)["worst"]["value_ns"];
  // The default asks 10 % of the bit time either way and 0.1 V from the thresholds.
  const Json signed_ = analyzeJson({"analyze", bus, "--json", "--data-rates", "2M"}, 0, {});
  const Json& rate = rateOf(signed_, "data", 2000000);
  EXPECT_EQ(least < 50.0, !rate["works"].get<bool>()) << least;
  EXPECT_DOUBLE_EQ(signed_["parameters"]["margin"].get<double>(), 0.1);
  const auto outcome = RunCliProgram(
      {"analyze", bus, "--json", "--data-rates", "2M", "--margin", std::to_string(least / 500.0 * 100.0 + 1.0)}, 300);
  const Json tight = Json::parse(outcome.Out);
  const Json& missed = rateOf(tight, "data", 2000000);
  EXPECT_FALSE(missed["works"].get<bool>());
  EXPECT_EQ(missed["worst"]["figure"], "margin");
  EXPECT_NE(missed["worst"]["text"].get<std::string>().find("with too little margin: the sample point may move only"),
            std::string::npos)
      << missed.dump();
  EXPECT_EQ(RunCliProgram({"analyze", bus, "--margin", "60"}).Code, 2);
}

TEST(CliAnalyze, ARunTooLargeForThisComputerIsRefusedBeforeAnyRun) {
  // 50 lines of 65 m hold each edge 12 x 16 us; a 3 cm stub asks for a step of 15 ps, so the
  // run takes its most steps, a million: with 52 voltages kept, more than 2 GiB.
  test::TempFolder folder;
  std::vector<TStationSpec> nodes{{{0, 200}, "Stub", 65535}};
  std::vector<std::tuple<TPoint, TPoint, std::uint16_t>> wires{{{0, 0}, {0, 200}, 30}};
  for (int i = 0; i <= 50; ++i) nodes.push_back({{i * 200, 0}, "S", static_cast<std::uint16_t>(i % 50 ? 65535 : 120)});
  for (int i = 0; i < 50; ++i) wires.push_back({{i * 200, 0}, {(i + 1) * 200, 0}, 65000});
  const std::string bus = folder.File("long.bwn");
  saveBus(bus, nodes, wires);
  const auto outcome = RunCliProgram({"analyze", bus});
  EXPECT_EQ(outcome.Code, 1);
  EXPECT_NE(outcome.Err.find("too large to analyse on this computer"), std::string::npos) << outcome.Err;
  EXPECT_EQ(std::count(outcome.Err.begin(), outcome.Err.end(), '\n'), 1) << outcome.Err;
}

TEST(CliAnalyze, ShardsMergeIntoTheUnshardedResult) {
  test::TempFolder folder;
  const std::string bus = folder.File("bus.bwn");
  saveBus(bus, {{{0, 0}, "A", 120}, {{200, 0}, "B", 65535}, {{400, 0}, "C", 120}},
          {{{0, 0}, {200, 0}, 30000}, {{200, 0}, {400, 0}, 30000}});
  // 60 m: 2 x (300 + 255) ns fits 1600 ns, not 1000 ns; required 800k fails with exit 1.
  const std::vector<std::string> options{"--loop-delay", "255", "--require-bitrate", "800k"};
  std::vector<std::string> whole{"analyze", bus, "--json"};
  whole.insert(whole.end(), options.begin(), options.end());
  const auto unsharded = RunCliProgram(whole);
  ASSERT_EQ(unsharded.Code, 1) << unsharded.Err;
  EXPECT_EQ(Json::parse(unsharded.Out)["max_arbitration_bitrate"], 500000);

  std::vector<std::string> parts;
  for (const char* shard : {"1/2", "2/2"}) {
    std::vector<std::string> args{"analyze", bus, "--shard", shard, "--jobs", "1"};
    args.insert(args.end(), options.begin(), options.end());
    const auto part = RunCliProgram(args);
    ASSERT_EQ(part.Code, 0) << part.Err;
    parts.push_back(folder.File(std::string("part") + shard[0] + ".json"));
    test::WriteBytes(parts.back(), part.Out);
  }
  // In either order, as JSON and as the table, with the same exit code.
  const auto merged = RunCliProgram({"analyze-merge", parts[1], parts[0], "--json"});
  EXPECT_EQ(merged.Code, 1);
  EXPECT_EQ(merged.Out, unsharded.Out);
  std::vector<std::string> table{"analyze", bus};
  table.insert(table.end(), options.begin(), options.end());
  EXPECT_EQ(RunCliProgram({"analyze-merge", parts[0], parts[1]}).Out, RunCliProgram(table).Out);

  // A part missing, a part twice, or not a part at all: refused.
  auto refused = RunCliProgram({"analyze-merge", parts[0]});
  EXPECT_EQ(refused.Code, 1);
  EXPECT_NE(refused.Err.find("2/2"), std::string::npos) << refused.Err;
  EXPECT_EQ(RunCliProgram({"analyze-merge", parts[0], parts[0]}).Code, 1);
  EXPECT_EQ(RunCliProgram({"analyze-merge", bus}).Code, 1);

  // The report of the merge: self-contained, with the drawing and the worst pair's plot.
  const std::string report = folder.File("report.html");
  ASSERT_EQ(RunCliProgram({"analyze-merge", parts[0], parts[1], "--report", report}).Code, 1);
  const std::string html = test::ReadBytes(report);
  EXPECT_NE(html.find("[3] C"), std::string::npos);
  EXPECT_GE(std::count(html.begin(), html.end(), '<'), 100);
  std::size_t svgs = 0;
  for (auto at = html.find("<svg"); at != std::string::npos; at = html.find("<svg", at + 1)) ++svgs;
  EXPECT_GE(svgs, 2u);
  for (const char* external : {"src=", "href=\"http", "url(", "<script", "<link"})
    EXPECT_EQ(html.find(external), std::string::npos) << external;

  // Each waveform plot marks the sample points of the bits its two TXD edges start at the
  // highest working and the lowest failing data rate, which the merge takes from the runs'
  // circuit planned again.
  std::int64_t working = 0;
  std::int64_t failing = 0;
  const Json result = Json::parse(unsharded.Out);
  for (const Json& rate : result["rates"])
    if (rate["phase"] == "data") {
      if (rate["works"]) working = rate["bitrate"];
      if (!rate["works"] && failing == 0) failing = rate["bitrate"];
    }
  const auto count = [&](const std::string& Text) {
    std::size_t found = 0;
    for (auto at = html.find(Text); at != std::string::npos; at = html.find(Text, at + 1)) ++found;
    return found;
  };
  const std::size_t plots = count(" (transmitter)</text>");
  ASSERT_GE(plots, 1u);
  ASSERT_TRUE(working || failing);
  for (const std::int64_t rate : {working, failing}) {
    const std::string label = ">sample point " + std::to_string(rate / 1000000) + " Mbit/s<";
    EXPECT_EQ(count(label), rate ? 2 * plots : 0) << rate;
  }
  EXPECT_EQ(count(">sample point "), 2 * plots * ((working ? 1 : 0) + (failing ? 1 : 0)));
}

TEST(CliAnalyze, UsageAndInputErrors) {
  test::TempFolder folder;
  const std::string bus = folder.File("bus.bwn");
  saveBus(bus, {{{0, 0}, "A", 120}, {{200, 0}, "B", 120}}, {{{0, 0}, {200, 0}, 1000}});
  for (const std::vector<std::string>& args : {std::vector<std::string>{"analyze"},
                                               {"analyze", bus, "--jobs", "1.5"},
                                               {"analyze", bus, "--shard", "3/2"},
                                               {"analyze", bus, "--shard", "1/2", "--json"},
                                               {"analyze", bus, "--recessive", "1", "--dominant", "0.9"},
                                               {"analyze", bus, "--data-rates", "2M,fast"},
                                               {"analyze-merge"}})
    EXPECT_EQ(RunCliProgram(args).Code, 2) << args.back();
  // One station is no bus to analyse; a missing file is bad input.
  const std::string lonely = folder.File("lonely.bwn");
  saveBus(lonely, {{{0, 0}, "A", 120}, {{200, 0}, "B", 120, false}}, {{{0, 0}, {200, 0}, 1000}});
  const auto one = RunCliProgram({"analyze", lonely});
  EXPECT_EQ(one.Code, 1);
  EXPECT_NE(one.Err.find("two or more"), std::string::npos) << one.Err;
  EXPECT_EQ(RunCliProgram({"analyze", folder.File("none.bwn")}).Code, 1);
}

}  // namespace
}  // namespace busweave
