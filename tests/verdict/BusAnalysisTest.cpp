// The measurements on hand-made waveforms and the verdict on hand-made pairs, with figures
// worked out by hand.

#include <gtest/gtest.h>

#include "verdict/BusAnalysis.h"

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

}  // namespace
}  // namespace busweave
