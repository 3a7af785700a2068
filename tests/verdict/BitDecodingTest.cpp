#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "verdict/BitDecoding.h"

namespace busweave {
namespace {

constexpr double ns = 1e-9;

// An edge from From to To volts over 5 ns starting at Delay, flat before and after.
TWave step(double Delay, double From, double To) {
  return {{-10 * ns, Delay, Delay + 5 * ns, 3000 * ns}, {From, From, To, To}};
}

// The stream as a bus would show it: dominant 2 V, recessive 0 V, each edge Delay late (the
// recessive ones Extra later still), bits BitTime long.
TWave busOf(double BitTime, double Delay, double Extra = 0.0) {
  const TEdgeResponses responses{step(Delay, 0.0, 2.0), step(Delay + Extra, 2.0, 0.0)};
  const std::size_t bits = WorstCaseStream().size();
  return ComposeStream(responses, StreamEdges(WorstCaseStream(), 0.0, BitTime), -BitTime,
                       static_cast<double>(bits + 1) * BitTime, 0.5 * ns);
}

TEST(BitDecoding, TheStreamHoldsWhatStuffingAllowsAndComposesEdgeByEdge) {
  const TBitStream& stream = WorstCaseStream();
  std::size_t run = 1;
  for (std::size_t k = 1; k < stream.size(); ++k) {
    run = stream[k] == stream[k - 1] ? run + 1 : 1;
    EXPECT_LE(run, 5u) << k;
  }
  EXPECT_TRUE(stream.front());
  EXPECT_EQ(BitRole(stream, 5), "single recessive after five dominant");
  EXPECT_EQ(BitRole(stream, 2), "bit 3 of five dominant");
  // Every run of 1 to 5 bits of one level follows every run of 1 to 5 of the other.
  std::vector<std::pair<bool, std::size_t>> runs;
  for (std::size_t k = 0; k < stream.size(); ++k)
    if (k == 0 || stream[k] != stream[k - 1])
      runs.emplace_back(stream[k], 1);
    else
      ++runs.back().second;
  std::set<std::tuple<bool, std::size_t, std::size_t>> pairs;
  for (std::size_t r = 1; r < runs.size(); ++r) pairs.emplace(runs[r - 1].first, runs[r - 1].second, runs[r].second);
  for (const bool dominantFirst : {true, false})
    for (std::size_t a = 1; a <= 5; ++a)
      for (std::size_t b = 1; b <= 5; ++b) EXPECT_TRUE(pairs.count({dominantFirst, a, b})) << dominantFirst << a << b;
  EXPECT_EQ(BitRole(stream, stream.size() - 1), "bit 5 of five recessive");

  // Ideal edges add up to the square wave itself, flat stretches kept short.
  const TWave bus = busOf(1000 * ns, 100 * ns);
  for (std::size_t k = 0; k < stream.size(); ++k)
    EXPECT_NEAR(WaveValue(bus, (static_cast<double>(k) + 0.7) * 1000 * ns + 100 * ns), stream[k] ? 2.0 : 0.0, 1e-9)
        << k;
  EXPECT_LT(bus.Time.size(), 40000u);  // of 320,000 at one point every 0.5 ns
}

TEST(BitDecoding, AReceiverSyncsOnItsFirstEdgeAndReadsAtTheSamplePoint) {
  TDecodeSettings s;
  s.BitTime = 200 * ns;
  s.SamplePoint = 0.7;
  // However late the bus, a receiver syncs on what it sees: every bit right, 30 % of the bit
  // left after the sample point, less the 2.25 ns its sync edge took to the dominant threshold,
  // plus the 1.25 ns the next edge takes to leave the recessive one; 0.5 V from that threshold.
  const TDecodeResult late = DecodeReceiver(busOf(200 * ns, 330 * ns), WorstCaseStream(), 0.0, s);
  ASSERT_FALSE(late.Error);
  EXPECT_NEAR(late.BitStarts.front(), 330 * ns + 2.25 * ns, 0.01 * ns);
  EXPECT_NEAR(late.LateMargin, 59 * ns, 0.01 * ns);
  EXPECT_NEAR(late.VoltageMargin, 0.5, 1e-9);

  // Recessive edges 150 ns later than dominant ones lengthen dominant bits: the single recessive
  // bit after five dominant ones is still dominant at its sample point, 140 ns into the bit as
  // the receiver counts from the dominant edges. Where that bit is read, and why.
  const TDecodeResult skewed = DecodeReceiver(busOf(200 * ns, 100 * ns, 150 * ns), WorstCaseStream(), 0.0, s);
  ASSERT_TRUE(skewed.Error);
  EXPECT_EQ(skewed.Error->Bit, 5u);
  EXPECT_EQ(skewed.Error->Read, TBitRead::Dominant);
  ASSERT_TRUE(skewed.Error->ValidFrom);
  EXPECT_NEAR(*skewed.Error->ValidFrom - skewed.Error->EdgeTime, 100 * ns + 150 * ns + 3.75 * ns, 0.01 * ns);
  EXPECT_GT(*skewed.Error->ValidFrom, skewed.Error->Sample);
  // Anything between the thresholds is an error too, and a bus that never goes dominant has
  // no start of frame.
  const TWave half{{0.0, 1e-3}, {0.7, 0.7}};
  const TDecodeResult none = DecodeReceiver(half, WorstCaseStream(), 0.0, s);
  EXPECT_FALSE(none.Synced);
  ASSERT_TRUE(none.Error);
  EXPECT_EQ(none.Error->Read, TBitRead::Undefined);
}

TEST(BitDecoding, ResynchronisationFollowsASlowerClockWithinTheSjw) {
  // The bus's bits are 2 % longer than the receiver's: over the 160 bits the drift (640 ns)
  // passes the 60 ns after the sample point, so a receiver with no SJW reads a bit wrong; one
  // with 20 % follows at every recessive-to-dominant edge.
  const TWave bus = busOf(204 * ns, 50 * ns);
  TDecodeSettings s;
  s.BitTime = 200 * ns;
  s.SamplePoint = 0.7;
  s.Sjw = 0.0;
  EXPECT_TRUE(DecodeReceiver(bus, WorstCaseStream(), 0.0, s).Error);
  s.Sjw = 0.2;
  const TDecodeResult followed = DecodeReceiver(bus, WorstCaseStream(), 0.0, s);
  EXPECT_FALSE(followed.Error) << followed.Error->Bit;
  // Each resynchronisation moves the bit by its phase error: the last bit starts where the
  // bus's did, within the drift of the ten bits since the last correction (without any, 636 ns).
  const auto last = static_cast<double>(WorstCaseStream().size() - 1);
  EXPECT_NEAR(followed.BitStarts.back(), 50 * ns + 2.25 * ns + last * 204 * ns, 10 * 4 * ns);
}

TEST(BitDecoding, TheTransmitterChecksItsBitsAtTheSecondarySamplePoint) {
  // Its own node 150 ns behind TXD at 5 Mbit/s: the loop delay is measured on the first edge and
  // every bit read 150 ns + 70 % after its TXD start, which lands in the next bit without it.
  TDecodeSettings s;
  s.BitTime = 200 * ns;
  s.SamplePoint = 0.7;
  const TDecodeResult own = DecodeTransmitter(busOf(200 * ns, 150 * ns), WorstCaseStream(), 0.0, s);
  ASSERT_FALSE(own.Error);
  ASSERT_TRUE(own.LoopDelay);
  EXPECT_NEAR(*own.LoopDelay, 152.25 * ns, 0.01 * ns);
  EXPECT_NEAR(own.Samples[3] - 3 * 200 * ns, *own.LoopDelay + 140 * ns, 1e-15);
  // A recessive edge 150 ns later than the dominant one: the single recessive bit is still
  // dominant there.
  EXPECT_TRUE(DecodeTransmitter(busOf(200 * ns, 150 * ns, 150 * ns), WorstCaseStream(), 0.0, s).Error);

  // The eye folds every bit from its start: the sample point of each lies 140 ns in.
  const auto eye = FoldEye(busOf(200 * ns, 150 * ns), own, WorstCaseStream().size(), 200 * ns, 41);
  ASSERT_EQ(eye.size(), WorstCaseStream().size());
  for (std::size_t k = 0; k < eye.size(); ++k)
    EXPECT_NEAR(WaveValue(eye[k], 140 * ns), WorstCaseStream()[k] ? 2.0 : 0.0, 1e-9) << k;
}

}  // namespace
}  // namespace busweave
