// The analysis runs on the real ngspice library, in this process: the decks, the driver's
// levels found from the circuit, and verdicts that follow from the line delays by hand.

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "analysis/AnalysisRun.h"
#include "circuit/CircuitFile.h"
#include "model/NetworkContainer.h"

namespace busweave {
namespace {

// A straight bus of wires of Lengths mm; its two end nodes are stations with a driver and a
// 120-ohm termination, the nodes between are bare junctions (a station's input resistance).
TextLines straightBus(const std::vector<std::uint16_t>& Lengths, const TextLines& Trailer = BuiltInTrailer()) {
  TCanNodes net(120, 65535, 120);
  for (std::size_t i = 0; i <= Lengths.size(); ++i) net.AddNode({static_cast<int>(i) * 200, 0});
  for (std::size_t i = 0; i < Lengths.size(); ++i) {
    const TPoint a{static_cast<int>(i) * 200, 0};
    const TPoint b{static_cast<int>(i + 1) * 200, 0};
    net.AddWire(a, b, 120, true);
  }
  for (int i = 0; i < net.Count(); ++i)
    if (TTrmLine* wire = net.WireAtIndex(i)) wire->FLength = Lengths[static_cast<std::size_t>(wire->FStart.X / 200)];
  for (const TPoint end : {TPoint{0, 0}, TPoint{static_cast<int>(Lengths.size()) * 200, 0}}) {
    net.NodeAt(end)->FSource = 1;
    net.NodeAt(end)->FResistance = 120;
    net.NodeAt(end)->FName = end.X == 0 ? "Near" : "Far";
  }
  TextLines header = BuiltInHeader();
  header.front() = "Busweave analysis test";
  return CircuitLines(header, net, Trailer);
}

TBusVerdict analyse(const TextLines& Circuit, std::vector<TPairMeasure>* Pairs = nullptr) {
  const TAnalysisPlan plan = PlanAnalysis(Circuit);
  std::vector<TTransmitterRun> runs;
  for (std::size_t t = 0; t < plan.Stations.size(); ++t) runs.push_back(RunTransmitter(plan, t, {}, false));
  const auto pairs = PairsOf(runs);
  if (Pairs) *Pairs = pairs;
  return JudgeRuns(runs, TAnalysisSettings{}).Bus;
}

TEST(AnalysisPlan, StationsDriverAndDecks) {
  const TextLines circuit = straightBus({10000});
  const TAnalysisPlan plan = PlanAnalysis(circuit);
  ASSERT_EQ(plan.Stations.size(), 2u);
  EXPECT_NE(plan.Stations[0].Name.find("Near"), std::string::npos);
  EXPECT_NE(plan.Stations[1].Name.find("Far"), std::string::npos);
  EXPECT_EQ(plan.Driver, "CANDRV");
  // The built-in pulse: 10 ns delay, rise and fall, 0.5 us wide, every 2 x (0.5 us + 10 ns).
  EXPECT_NEAR(plan.Delay, 10e-9, 1e-18);
  EXPECT_NEAR(plan.Width, 500e-9, 1e-18);
  EXPECT_NEAR(plan.Period, 1020e-9, 1e-18);
  // 10 m at 2e8 m/s: 50 ns of line; each edge is held 1 us (twelve passes would be less), the
  // dominant one 20 ns after the source's 10 ns ramp.
  EXPECT_NEAR(plan.LineDelays, 50e-9, 1e-15);
  EXPECT_NEAR(plan.Hold, 1e-6, 1e-15);
  EXPECT_NEAR(plan.EdgeAt, 30e-9, 1e-15);
  EXPECT_NEAR(plan.Stop, 2030e-9, 1e-15);

  // Transmitter 0: the other station's driver is the held copy at the second level.
  const TextLines deck = TransmitterDeck(plan, 0, true);
  const auto has = [&](const std::string& Text) {
    return std::any_of(deck.begin(), deck.end(),
                       [&](const std::string& L) { return L.find(Text) != std::string::npos; });
  };
  EXPECT_TRUE(has("X" + plan.Stations[0].Spice + " " + plan.Stations[0].Spice + " CANDRV_SENDING"));
  EXPECT_TRUE(has("X" + plan.Stations[1].Spice + " " + plan.Stations[1].Spice + " CANDRV_HELD"));
  EXPECT_TRUE(has(".SUBCKT CANDRV_HELD 7999"));
  EXPECT_TRUE(has("VQuelle 7903 0 DC {xUBat+xVPk}"));
  EXPECT_FALSE(has(".AC"));
  EXPECT_TRUE(has(".TRAN .001ns 2.03e-06"));
  // First level dominant: the sender starts at the second level, its ramp to the first is
  // centred on the dominant edge, and it goes back 1 us later.
  EXPECT_TRUE(has("VQuelle 7903 0 PULSE({xUBat+xVPk} {xUBat} 2.5e-08 1e-08 1e-08 9.9e-07"));

  // One station is no bus; a driver without a pulse cannot be switched.
  TextLines single = circuit;
  for (auto& line : single)
    if (line.find("CANDRV") != std::string::npos && line.find("X") == 2 && line.find(plan.Stations[1].Spice) == 3)
      line = "* removed";
  EXPECT_THROW(PlanAnalysis(single), EAnalysisError);
  TextLines steady = circuit;
  for (auto& line : steady)
    if (line.find("PULSE") != std::string::npos) line = "  VQuelle 7903 0 DC 0";
  EXPECT_THROW(PlanAnalysis(steady), EAnalysisError);
}

TEST(AnalysisRun, BusLengthAloneSetsTheArbitrationLimit) {
  // 2 x (L / 2e8 m/s + 255 ns) <= 80 % of 2 us holds up to L = 109 m: 105 m works at
  // 500 kbit/s, 115 m does not (250 kbit/s then; 800 kbit/s would need L <= 49 m).
  std::vector<TPairMeasure> pairs;
  TBusVerdict verdict = analyse(straightBus({35000, 35000, 35000}), &pairs);
  ASSERT_EQ(pairs.size(), 4u);
  for (const auto& pair : pairs) EXPECT_NEAR(*pair.Delay, 525e-9, 3e-9) << EdgeName(pair.Edge);
  EXPECT_EQ(verdict.MaxArbitrationRate, 500000);
  verdict = analyse(straightBus({23000, 23000, 23000, 23000, 23000}), &pairs);
  for (const auto& pair : pairs) EXPECT_NEAR(*pair.Delay, 575e-9, 3e-9);
  EXPECT_EQ(verdict.MaxArbitrationRate, 250000);
  EXPECT_EQ(verdict.Rates[2].Worst->Figure, "round_trip");
}

TEST(AnalysisRun, MatchedBusWorksAtEveryRateWhicheverLevelOfTheSourceDrives) {
  std::vector<TPairMeasure> pairs;
  // 10 m: 2 x (50 + 255) ns = 610 ns fits 800 ns at 1 Mbit/s; nothing rings.
  TBusVerdict verdict = analyse(straightBus({10000}), &pairs);
  EXPECT_EQ(verdict.MaxArbitrationRate, 1000000);
  EXPECT_EQ(verdict.MaxDataRate, 8000000);
  for (const auto& pair : pairs) {
    EXPECT_NEAR(*pair.Delay, 50e-9, 2e-9);
    EXPECT_FALSE(pair.FalseEdge);
  }
  // A driver whose source starts at the other level: the level that drives is found by
  // simulation, the edges swap places in time, and the verdict stays.
  TextLines trailer = BuiltInTrailer();
  for (auto& line : trailer)
    if (line.find("PULSE") != std::string::npos)
      line = "  VQuelle 7903 0 AC 1.0 PULSE({xUBat+xVPk} {xUBat} {xTDR} {xTR} {xTF} {xTP} {xTPer} )";
  std::vector<TPairMeasure> swapped;
  verdict = analyse(straightBus({10000}, trailer), &swapped);
  EXPECT_EQ(verdict.MaxArbitrationRate, 1000000);
  EXPECT_EQ(verdict.MaxDataRate, 8000000);
  ASSERT_EQ(swapped.size(), pairs.size());
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    EXPECT_EQ(swapped[i].Edge, pairs[i].Edge);
    EXPECT_NEAR(*swapped[i].Delay, *pairs[i].Delay, 1e-9);
  }
}

TEST(AnalysisPlan, TravelsToAWorkerWithItsDriverRunAndGivesTheSameRun) {
  const TAnalysisPlan plan = PlanAnalysis(straightBus({10000, 3000}));
  TAnalysisPlan sent = plan;
  sent.DriverRun = RunDriver(plan);
  const TAnalysisPlan got = AnalysisPlanFromJson(AnalysisPlanJson(sent));
  EXPECT_EQ(got.Circuit, plan.Circuit);
  EXPECT_EQ(got.Stations.back().Name, plan.Stations.back().Name);
  EXPECT_EQ(got.SendingDriver, plan.SendingDriver);
  // Every time exact, not rounded on the way.
  EXPECT_EQ(std::tie(got.Rise, got.Fall, got.Hold, got.EdgeAt, got.Stop, got.LineDelays),
            std::tie(plan.Rise, plan.Fall, plan.Hold, plan.EdgeAt, plan.Stop, plan.LineDelays));
  ASSERT_EQ(got.Lines.size(), plan.Lines.size());
  EXPECT_EQ(got.Lines[1].Delay, plan.Lines[1].Delay);
  ASSERT_TRUE(got.DriverRun);
  EXPECT_EQ(got.DriverRun->Reference.Recessive.Volts, sent.DriverRun->Reference.Recessive.Volts);

  // A worker given the driver's run makes the same run as one that finds it itself.
  const TTransmitterRun alone = RunTransmitter(plan, 1, TThresholds{}, false);
  const TTransmitterRun given = RunTransmitter(got, 1, TThresholds{}, false);
  EXPECT_EQ(given.Reference.Dominant.Volts, alone.Reference.Dominant.Volts);
  ASSERT_EQ(given.Pairs.size(), alone.Pairs.size());
  for (std::size_t i = 0; i < given.Pairs.size(); ++i) EXPECT_EQ(given.Pairs[i].Delay, alone.Pairs[i].Delay);

  EXPECT_THROW(AnalysisPlanFromJson("{}"), EAnalysisError);
  EXPECT_THROW(AnalysisPlanFromJson("[1, 2"), EAnalysisError);
}

}  // namespace
}  // namespace busweave
