// The measurements on hand-made waveforms and the verdict on hand-made pairs, with figures
// worked out by hand.

#include <gtest/gtest.h>

#include "sim/BusAnalysis.h"

namespace busweave {
namespace {

constexpr double ns = 1e-9;

TEST(BusMeasurement, CrossingsAreInterpolatedAndSearchedOnlyInTheirWindow) {
  const std::vector<double> time{0, 10 * ns, 20 * ns, 30 * ns, 40 * ns};
  const std::vector<double> rising{0.1, 0.1, 1.9, 1.9, 1.9};
  const TThresholds th;
  // 0.1 V to 1.9 V between 10 and 20 ns: 0.9 V at 10 + 0.8/1.8 x 10 ns.
  EXPECT_NEAR(*FirstCrossing(time, rising, TBusEdge::Dominant, 0, 1, th), 14.444 * ns, 0.001 * ns);
  EXPECT_FALSE(FirstCrossing(time, rising, TBusEdge::Dominant, 0, 12 * ns, th));  // not before Until
  // Already dominant where the search starts: the previous edge has not arrived, and the
  // crossing is the one after the trace has left the level.
  EXPECT_FALSE(FirstCrossing(time, rising, TBusEdge::Dominant, 25 * ns, 1, th));
  const std::vector<double> late{1.9, 0.1, 0.1, 1.9, 1.9};
  EXPECT_NEAR(*FirstCrossing(time, late, TBusEdge::Dominant, 0, 1, th), 24.444 * ns, 0.001 * ns);
  const std::vector<double> falling{1.9, 1.9, 0.1, 0.1, 0.1};
  // 0.5 V at 10 + 1.4/1.8 x 10 ns.
  EXPECT_NEAR(*FirstCrossing(time, falling, TBusEdge::Recessive, 0, 1, th), 17.778 * ns, 0.001 * ns);
  EXPECT_FALSE(FirstCrossing(time, rising, TBusEdge::Recessive, 15 * ns, 1, th));
}

TEST(BusMeasurement, RingingGivesSettlingOvershootUndershootAndFalseEdges) {
  const TThresholds th;
  const std::vector<double> time{0, 5 * ns, 10 * ns, 15 * ns, 20 * ns, 30 * ns};
  // Dominant edge crossing at 0: peak 2.4 V, a dip to 0.8 V (invalid, not recessive), final 2.0 V.
  const std::vector<double> ring{0.9, 2.4, 1.6, 0.8, 2.1, 2.0};
  TEdgeResponse r = MeasureResponse(time, ring, TBusEdge::Dominant, 0, 30 * ns, th);
  EXPECT_NEAR(r.Overshoot, 0.4, 1e-12);
  EXPECT_NEAR(r.Undershoot, 1.2, 1e-12);
  // Back above 0.9 V between 15 ns (0.8 V) and 20 ns (2.1 V): 15 + 0.1/1.3 x 5 ns.
  ASSERT_TRUE(r.Settle);
  EXPECT_NEAR(*r.Settle, 15.3846 * ns, 0.0001 * ns);
  EXPECT_FALSE(r.FalseEdge);

  // The dip reaches 0.4 V: a receiver sees recessive at 10 + 1.1/1.2 x 5 ns.
  const std::vector<double> deep{0.9, 2.4, 1.6, 0.4, 2.1, 2.0};
  r = MeasureResponse(time, deep, TBusEdge::Dominant, 0, 30 * ns, th);
  ASSERT_TRUE(r.FalseEdge);
  EXPECT_NEAR(*r.FalseEdge, 14.5833 * ns, 0.0001 * ns);

  // Measured from a later crossing, and the bit ends before the dip: settled at once.
  r = MeasureResponse(time, ring, TBusEdge::Dominant, 2 * ns, 10 * ns, th);
  EXPECT_DOUBLE_EQ(*r.Settle, 0.0);

  // Still invalid where the bit ends: it never settles.
  r = MeasureResponse(time, ring, TBusEdge::Dominant, 0, 15 * ns, th);
  EXPECT_FALSE(r.Settle);

  // Recessive edge mirrored: down past -0.3 V, back up to 0.7 V (invalid), final 0.0 V.
  const std::vector<double> fall{0.5, -0.3, 0.2, 0.7, 0.1, 0.0};
  r = MeasureResponse(time, fall, TBusEdge::Recessive, 0, 30 * ns, th);
  EXPECT_NEAR(r.Overshoot, 0.3, 1e-12);
  EXPECT_NEAR(r.Undershoot, 0.7, 1e-12);
  EXPECT_NEAR(*r.Settle, (15 + 0.2 / 0.6 * 5) * ns, 1e-6 * ns);
  EXPECT_FALSE(r.FalseEdge);
}

TEST(BusMeasurement, PairsUseTheReceiversShiftedBit) {
  // The receiver is the transmitter's trace 100 ns later (its line delay); its bit ends 100 ns
  // after the window.
  std::vector<double> time;
  std::vector<double> sent;
  std::vector<double> seen;
  const auto level = [](double T) { return T < 50 * ns ? 0.0 : T < 300 * ns ? 2.0 : 0.0; };
  for (int i = 0; i <= 600; ++i) {
    time.push_back(i * ns);
    sent.push_back(level(i * ns));
    seen.push_back(level(i * ns - 100 * ns));
  }
  // The source's edges begin 10 ns before the transmitter's node follows.
  const std::vector<TEdgeWindow> windows{{TBusEdge::Dominant, 40 * ns, 290 * ns, 590 * ns},
                                         {TBusEdge::Recessive, 290 * ns, 590 * ns, 890 * ns}};
  const auto pairs = MeasurePairs(time, {0, "[1] A", &sent}, {{1, "[2] B", &seen, 100 * ns}}, windows, TThresholds{});
  ASSERT_EQ(pairs.size(), 2u);
  for (const auto& pair : pairs) {
    EXPECT_EQ(pair.TransmitterName, "[1] A");
    EXPECT_EQ(pair.ReceiverName, "[2] B");
    EXPECT_NEAR(*pair.Delay, 100 * ns, 1 * ns);  // within a point
    EXPECT_DOUBLE_EQ(*pair.Settle, 0.0);         // the next edge, at 400 ns at B, is not part of this bit
    EXPECT_FALSE(pair.FalseEdge);
  }
  EXPECT_EQ(pairs[1].Edge, TBusEdge::Recessive);
}

TPairMeasure pair(const std::string& Tx, const std::string& Rx, double DelayNs, double SettleNs,
                  std::optional<double> FalseNs = std::nullopt) {
  TPairMeasure p;
  p.TransmitterName = Tx;
  p.ReceiverName = Rx;
  p.Delay = DelayNs * ns;
  p.Settle = SettleNs * ns;
  if (FalseNs) p.FalseEdge = *FalseNs * ns;
  return p;
}

TEST(BusVerdict, ArbitrationAtTheRoundTripLimitAndTheWorstPairNamed) {
  const TAnalysisSettings settings;
  // 2 x (545 + 255) ns = 1600 ns = 80 % of 2 us: 500 kbit/s just works.
  std::vector<TPairMeasure> pairs{pair("A", "B", 300, 0), pair("A", "C", 545, 0)};
  TBusVerdict v = JudgeBus(pairs, settings);
  EXPECT_EQ(v.MaxArbitrationRate, 500000);
  ASSERT_EQ(v.Rates.size(), 10u);
  EXPECT_TRUE(v.Rates[2].Works);
  EXPECT_EQ(v.Rates[2].Worst->Receiver, "C");
  EXPECT_EQ(v.Rates[2].Worst->Figure, "round_trip");
  EXPECT_NEAR(*v.Rates[2].Worst->Value, 1600 * ns, 1e-15);
  EXPECT_NEAR(v.Rates[2].Worst->Limit, 1600 * ns, 1e-15);
  EXPECT_FALSE(v.Rates[3].Works);  // 800 kbit/s: limit 1000 ns
  EXPECT_EQ(v.Rates[3].Worst->Receiver, "C");

  pairs[1].Delay = 546 * ns;
  v = JudgeBus(pairs, settings);
  EXPECT_EQ(v.MaxArbitrationRate, 250000);

  // A false edge anywhere fails arbitration; an unseen edge fails everything.
  pairs[0].FalseEdge = 400 * ns;
  EXPECT_EQ(JudgeBus(pairs, settings).MaxArbitrationRate, 0);
  EXPECT_EQ(JudgeRate(pairs, settings, TBusPhase::Arbitration, 125000).Worst->Figure, "false_edge");
  pairs[0] = pair("A", "B", 0, 0);
  pairs[0].Delay.reset();
  v = JudgeBus(pairs, settings);
  EXPECT_EQ(v.MaxArbitrationRate + v.MaxDataRate, 0);
  EXPECT_EQ(v.Rates.back().Worst->Figure, "no_edge");

  // Nothing to judge: nothing works.
  EXPECT_EQ(JudgeBus({}, settings).MaxArbitrationRate, 0);
}

TEST(BusVerdict, DataPhaseBySettlingAndEarlyFalseEdges) {
  TAnalysisSettings settings;
  // 70 % of 125 ns is 87.5 ns: 8 Mbit/s works at exactly that settling time.
  std::vector<TPairMeasure> pairs{pair("A", "B", 50, 87.5), pair("B", "A", 50, 20)};
  EXPECT_EQ(JudgeBus(pairs, settings).MaxDataRate, 8000000);
  pairs[1].Settle = 150 * ns;  // within 175 ns (4 Mbit/s), not 140 ns (5 Mbit/s)
  TBusVerdict v = JudgeBus(pairs, settings);
  EXPECT_EQ(v.MaxDataRate, 4000000);
  const TRateVerdict& at5M = v.Rates[8];
  EXPECT_EQ(at5M.BitRate, 5000000);
  EXPECT_FALSE(at5M.Works);
  EXPECT_EQ(at5M.Worst->Transmitter, "B");
  EXPECT_EQ(at5M.Worst->Figure, "settle");
  // A false edge before the sample point fails the rate by itself; after it, the settling
  // time (which a false edge makes longer) decides.
  pairs[1] = pair("B", "A", 50, 120, 100);
  v = JudgeBus(pairs, settings);
  EXPECT_EQ(v.MaxDataRate, 0);
  EXPECT_EQ(v.Rates[5].Worst->Figure, "false_edge");  // 1 Mbit/s: 100 ns before 700 ns
  EXPECT_EQ(v.Rates[9].Worst->Figure, "settle");      // 8 Mbit/s: 120 ns after 87.5 ns
  // Never settling fails every data rate; a missing settle has no figure to give.
  pairs[1].FalseEdge.reset();
  pairs[1].Settle.reset();
  v = JudgeBus(pairs, settings);
  EXPECT_EQ(v.MaxDataRate, 0);
  EXPECT_FALSE(v.Rates[5].Worst->Value);
  // The sample point is an option: at 50 %, 87.5 ns no longer fits 8 Mbit/s (62.5 ns).
  settings.DataSamplePoint = 0.5;
  EXPECT_EQ(JudgeBus({pair("A", "B", 50, 87.5)}, settings).MaxDataRate, 5000000);
}

}  // namespace
}  // namespace busweave
