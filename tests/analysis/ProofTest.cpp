// The analysis's one entry point and its proof by full runs of the stream, on a fake runner:
// what happens to a rate whose full run does not finish, and to a verdict nothing can prove.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "FakeRunner.h"
#include "analysis/AnalyzeBus.h"

namespace busweave {
namespace {

const TRateVerdict& rateOf(const TStreamVerdict& Verdict, TBusPhase Phase, std::int64_t Rate) {
  for (const TRateVerdict& r : Verdict.Bus.Rates)
    if (r.Phase == Phase && r.BitRate == Rate) return r;
  throw std::runtime_error("no such rate");
}

bool said(const std::vector<std::string>& Sentences, const std::string& Part) {
  for (const std::string& s : Sentences)
    if (s.find(Part) != std::string::npos) return true;
  return false;
}

TEST(Proof, AFullRunThatDoesNotFinishFailsItsRateByNameAndTheOthersStand) {
  auto fake = std::make_shared<test::TFakeRunner>();
  TAnalyzeOptions options;
  options.Run.Runner = fake;
  TBusAnalysis sound = AnalyzeBus(fake->Plan(), fake->Settings, options);
  ASSERT_FALSE(sound.Cancelled);
  EXPECT_EQ(fake->EdgeRuns, 2);
  EXPECT_EQ(sound.Verdict.Bus.MaxDataRate, 8000000);
  EXPECT_TRUE(sound.Verdict.Unproved.empty());
  EXPECT_TRUE(said(sound.Verdict.Confirmations, "data 8 Mbit/s from [1] S1 agrees")) << sound.Verdict.Confirmations[0];

  // The worker of the full run at 8 Mbit/s dies: that rate fails, named; 5 Mbit/s is proved in
  // its place and every other confirmation is kept.
  fake->FailingRates = {8000000};
  const TBusAnalysis broken = AnalyzeBus(fake->Plan(), fake->Settings, options);
  const TRateVerdict& eight = rateOf(broken.Verdict, TBusPhase::Data, 8000000);
  EXPECT_FALSE(eight.Works);
  EXPECT_EQ(eight.Worst->Figure, "unproved");
  ASSERT_EQ(broken.Verdict.Unproved.size(), 1u);
  EXPECT_NE(broken.Verdict.Unproved[0].find("data 8 Mbit/s from [1] S1 did not finish: "), std::string::npos);
  EXPECT_NE(broken.Verdict.Unproved[0].find("the worker stopped"), std::string::npos);
  EXPECT_EQ(broken.Verdict.Bus.MaxDataRate, 5000000);
  EXPECT_TRUE(said(broken.Verdict.Confirmations, "data 5 Mbit/s from [1] S1 agrees"));
  EXPECT_EQ(broken.Verdict.Bus.MaxArbitrationRate, sound.Verdict.Bus.MaxArbitrationRate);

  // Stopped before the runs: no verdict at all.
  std::stop_source stop;
  stop.request_stop();
  options.Run.Stop = stop.get_token();
  EXPECT_TRUE(AnalyzeBus(fake->Plan(), fake->Settings, options).Cancelled);
}

TEST(Proof, RunsThatNothingCanProveStateNoWorkingRateThatNeededAFullRun) {
  // A merge on a machine without the network file: the data rates above 1 Mbit/s need full runs
  // and fail, named with the reason; bits of a microsecond and more over a bus that settled long
  // before are the sum of the responses exactly, and stand.
  test::TFakeRunner fake;
  const std::vector<TTransmitterRun> runs{fake.edgeRun(0), fake.edgeRun(1)};
  TStreamVerdict verdict = JudgeRuns(runs, fake.Settings);
  ASSERT_EQ(verdict.Bus.MaxDataRate, 8000000);
  ASSERT_TRUE(ProveRuns(nullptr, "the network file is not here", runs, fake.Settings, {}, verdict));
  EXPECT_EQ(verdict.Bus.MaxDataRate, 1000000);
  EXPECT_EQ(verdict.Bus.MaxArbitrationRate, 1000000);
  EXPECT_EQ(verdict.Unproved.size(), 4u);
  EXPECT_TRUE(said(verdict.Unproved, "data 2 Mbit/s from [1] S1 did not finish: the network file is not here"));
}

TEST(Proof, AResponseCutOffWhileRingingHasNotSettled) {
  // A trapped mode still swinging 0.4 V in the last quarter of the run: its last sample is no
  // final level, so no rate may be taken as the sum of such responses unchecked.
  TWave ringing;
  for (int i = 0; i <= 400; ++i) {
    const double t = i * 5e-9;
    ringing.Time.push_back(t);
    ringing.Volts.push_back(2.0 + 0.4 * std::sin(2 * M_PI * 20e6 * t) * std::exp(-t / 6.5e-6));
  }
  const test::TFakeRunner fake;
  EXPECT_TRUE(std::isinf(SettlingTime({ringing, fake.ramp(0.0, 2.0, 0.0)})));
  const double settled = SettlingTime({fake.ramp(0.0, 0.0, 2.0), fake.ramp(0.0, 2.0, 0.0)});
  EXPECT_GT(settled, 0.0);
  EXPECT_LT(settled, 50e-9);
}

}  // namespace
}  // namespace busweave
