// The engine with the real ngspice library: the physics of a line, a run after an error ngspice
// cannot recover from, and a cancelled run.

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cmath>
#include <thread>

#include "circuit/CircuitFile.h"
#include "model/NetworkContainer.h"
#include "spice/SpiceEngine.h"
#include "spice/Waveforms.h"

namespace busweave {
namespace {

constexpr double kLength = 3.0;     // m
constexpr double kSpeed = 2.0e8;    // 2/3 of the speed of light
constexpr double kSourceR = 120.0;  // behind the ideal pulse source
constexpr double kLineZ = 120.0;
constexpr double kOpen = 65535.0;  // the highest resistance a node can have

// A driver that is an ideal 1 V pulse behind a resistor, so that the bus voltages follow from
// the line equations alone.
const TextLines kHeader = {"Busweave engine test", "  .PARAM   xC0  = 3.0E8", "  .PARAM   xC0red  = {2.0/3.0*xC0}"};
TextLines idealTrailer(const std::string& Tran = ".TRAN .001ns 100ns") {
  return {"  .SUBCKT CANDRV 7999",
          "  VQuelle 7903 0 PULSE(0 1 10n 1n 1n 200n 1u)",
          "  Rs 7903 7999 " + std::to_string(static_cast<int>(kSourceR)),
          "  .ENDS",
          Tran,
          ".END"};
}

// [1] A with the driver and no termination, [2] B with FarEnd ohms, 3 m of 120-ohm line.
TextLines busCircuit(std::uint16_t FarEnd, const TextLines& Trailer = idealTrailer()) {
  TCanNodes net(120, 65535, 120);
  net.AddNode({0, 0});
  net.AddNode({200, 0});
  net.AddWire({0, 0}, {200, 0}, 120, true);
  net.NodeAt({0, 0})->FName = "A";
  net.NodeAt({0, 0})->FSource = 1;
  net.NodeAt({0, 0})->FResistance = static_cast<std::uint16_t>(kOpen);
  net.NodeAt({200, 0})->FName = "B";
  net.NodeAt({200, 0})->FResistance = FarEnd;
  net.WireAtIndex(2)->FLength = static_cast<std::uint16_t>(kLength * 1000);
  return CircuitLines(kHeader, net, Trailer);
}

// The first time the trace rises through Level, between its points.
double crossing(const TWaveforms& Waves, const TTrace& Trace, double Level) {
  for (std::size_t i = 1; i < Waves.Scale.size(); ++i) {
    const double a = Trace.Values[i - 1];
    const double b = Trace.Values[i];
    if (a < Level && b >= Level)
      return Waves.Scale[i - 1] + (Level - a) / (b - a) * (Waves.Scale[i] - Waves.Scale[i - 1]);
  }
  return NAN;
}

// What the source sees at the line's start: Rs against the line in parallel with the open node.
double launchedAmplitude() {
  const double load = kLineZ * kOpen / (kLineZ + kOpen);
  return load / (kSourceR + load);
}

TSimulationResult simulate(const TextLines& Circuit) {
  return TSpiceEngine::Instance().Run(TranslateForNgspice(Circuit));
}

TEST(EnginePhysics, AMatchedLineDelaysThePulseAndKeepsTheDivider) {
  const TSimulationResult result = simulate(busCircuit(120));
  ASSERT_TRUE(result.Ok) << result.Error;
  ASSERT_EQ(result.Transient.Traces.size(), 2u);
  const TWaveforms& waves = result.Transient;
  EXPECT_EQ(waves.Traces[0].Name, "[1] A");
  EXPECT_EQ(waves.Traces[1].Name, "[2] B");
  EXPECT_NEAR(waves.Scale.back(), 100e-9, 1e-12);

  const double amplitude = launchedAmplitude();
  const double near = crossing(waves, waves.Traces[0], amplitude / 2);
  const double far = crossing(waves, waves.Traces[1], amplitude / 2);
  const double delay = kLength / kSpeed;  // 15 ns
  EXPECT_NEAR(far - near, delay, result.Step.MaxStep) << "step " << result.Step.MaxStep;
  EXPECT_LE(result.Step.MaxStep, 0.1e-9);  // the 1 ns edges decide

  // Nothing arrives early; once there, the far end holds the divider's voltage (no reflection).
  EXPECT_NEAR(*ValueAt(waves.Scale, waves.Traces[1].Values, near + 0.9 * delay), 0.0, 1e-3);
  for (double t : {40e-9, 60e-9, 90e-9}) {
    EXPECT_NEAR(*ValueAt(waves.Scale, waves.Traces[1].Values, t), amplitude, 0.002 * amplitude) << t;
    EXPECT_NEAR(*ValueAt(waves.Scale, waves.Traces[0].Values, t), amplitude, 0.002 * amplitude) << t;
  }
}

TEST(EnginePhysics, AnOpenLineEndDoublesThePulse) {
  const TSimulationResult result = simulate(busCircuit(static_cast<std::uint16_t>(kOpen)));
  ASSERT_TRUE(result.Ok) << result.Error;
  const TWaveforms& waves = result.Transient;
  const double amplitude = launchedAmplitude();
  const double reflection = (kOpen - kLineZ) / (kOpen + kLineZ);
  const double near = crossing(waves, waves.Traces[0], amplitude / 2);
  const double far = crossing(waves, waves.Traces[1], amplitude);  // half of the doubled step
  EXPECT_NEAR(far - near, kLength / kSpeed, result.Step.MaxStep);
  EXPECT_NEAR(*ValueAt(waves.Scale, waves.Traces[1].Values, 35e-9), amplitude * (1 + reflection), 0.005);
  // Until the reflection is back (two delays after launch) the near end keeps the first step.
  EXPECT_NEAR(*ValueAt(waves.Scale, waves.Traces[0].Values, near + 25e-9), amplitude, 0.002);
  EXPECT_GT(*ValueAt(waves.Scale, waves.Traces[0].Values, near + 35e-9), 1.9 * amplitude);
}

TEST(EnginePhysics, TheBuiltInDriverRunsOnTheExampleTemplates) {
  TCanNodes net(120, 1500, 120);
  net.AddNode({0, 0});
  net.AddNode({200, 0});
  net.AddWire({0, 0}, {200, 0}, 120, true);
  net.NodeAt({0, 0})->FSource = 1;
  net.NodeAt({0, 0})->FResistance = 120;
  net.NodeAt({200, 0})->FResistance = 120;
  net.WireAtIndex(2)->FLength = 1500;
  TextLines header = BuiltInHeader();
  header.front() = "title";
  const TSimulationResult result = simulate(CircuitLines(header, net, BuiltInTrailer()));
  ASSERT_TRUE(result.Ok) << result.Error;
  EXPECT_NEAR(result.Transient.Scale.back(), 2e-6, 1e-12);
  ASSERT_FALSE(result.Ac.Empty());
  EXPECT_NEAR(result.Ac.Scale.front(), 1.0, 1e-9);
  EXPECT_EQ(result.Ac.Traces.size(), 2u);
  // The driver pulls the bus between its recessive level and a dominant one.
  const auto& volts = result.Transient.Traces[1].Values;
  const auto [low, high] = std::minmax_element(volts.begin(), volts.end());
  EXPECT_GT(*high - *low, 0.5);
}

TEST(EnginePhysics, AWireWithoutLengthJoinsItsNodes) {
  TextLines circuit = busCircuit(120);
  for (auto& line : circuit)
    if (line.find("TD={3.000E0/{xC0red}}") != std::string::npos) line = "  T12 1 0 2 0 Z0=120 TD={0.000E0/{xC0red}}";
  const TSimulationResult result = simulate(circuit);
  ASSERT_TRUE(result.Ok) << result.Error;
  // The source sees both nodes' resistors at once, with no delay between them.
  const double load = 120.0 * kOpen / (120.0 + kOpen);
  for (double t : {5e-9, 10.5e-9, 30e-9}) {
    const double a = *ValueAt(result.Transient.Scale, result.Transient.Traces[0].Values, t);
    const double b = *ValueAt(result.Transient.Scale, result.Transient.Traces[1].Values, t);
    EXPECT_NEAR(a, b, 1e-9) << t;
  }
  EXPECT_NEAR(*ValueAt(result.Transient.Scale, result.Transient.Traces[1].Values, 30e-9), load / (kSourceR + load),
              1e-3);
}

TEST(EnginePhysics, BreakpointsAHairApartDoNotStopTheRun) {
  // At a step of 0.7 ns ngspice 39 alone gives up on this network at 250 ns ("Timestep too
  // small"), where two line echoes set breakpoints 1e-21 s apart.
  TCanNodes net;
  ASSERT_TRUE(net.LoadNetwork(std::string(BUSWEAVE_EXAMPLES) + "/six-stations.bwn"));
  TextLines header = BuiltInHeader();
  header.front() = "title";
  TextLines trailer = BuiltInTrailer();
  for (auto& line : trailer)
    if (line.rfind(".TRAN", 0) == 0) line = ".TRAN .001ns 2us 0 0.7ns";
  const TSimulationResult result = simulate(CircuitLines(header, net, trailer));
  ASSERT_TRUE(result.Ok) << result.Error;
  EXPECT_NEAR(result.Transient.Scale.back(), 2e-6, 1e-12);
  EXPECT_EQ(result.Transient.Traces.size(), 12u);
}

TEST(EnginePhysics, AGermanLocaleDoesNotChangeTheNumbers) {
  // ngspice reads numbers with the C library; the engine switches it to the decimal point.
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "no German locale on this machine";
  const TSimulationResult result = simulate(busCircuit(120));
  ASSERT_TRUE(result.Ok) << result.Error;
  EXPECT_NEAR(*ValueAt(result.Transient.Scale, result.Transient.Traces[1].Values, 60e-9), launchedAmplitude(), 0.002);
  EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
}

TEST(EngineErrors, ASyntaxErrorIsReportedAndTheNextCircuitRuns) {
  TSpiceEngine& engine = TSpiceEngine::Instance();
  // An expression ngspice cannot parse makes it ask to be detached.
  TextLines broken = busCircuit(120);
  broken.insert(broken.begin() + 1, "  .PARAM   xBroken = {1+}");
  std::string error;
  EXPECT_FALSE(engine.Start(TranslateForNgspice(broken), nullptr, error));
  EXPECT_NE(error.find("1+"), std::string::npos) << error;
  EXPECT_FALSE(engine.Busy());

  // A resistor without value: ngspice would go on with 1 mOhm; the engine refuses.
  TextLines missing = busCircuit(120);
  for (auto& line : missing)
    if (line == "  RZL2 2 0 120") line = "  RZL2 2 0";
  const TSimulationResult refused = engine.Run(TranslateForNgspice(missing));
  EXPECT_FALSE(refused.Ok);
  EXPECT_NE(refused.Error.find("rzl2 2 0"), std::string::npos) << refused.Error;

  const TSimulationResult good = simulate(busCircuit(120));
  ASSERT_TRUE(good.Ok) << good.Error;
  EXPECT_NEAR(*ValueAt(good.Transient.Scale, good.Transient.Traces[1].Values, 60e-9), launchedAmplitude(), 0.002);

  // And once more after a fatal error in a row of good runs.
  EXPECT_FALSE(engine.Start(TranslateForNgspice(broken), nullptr, error));
  EXPECT_TRUE(simulate(busCircuit(120)).Ok);
}

TEST(EngineErrors, ARunThatStopsEarlyIsAFailureWithNgspicesReason) {
  // Two ideal sources fight over one node: the solver gives up before the first time point.
  TextLines trailer = idealTrailer();
  trailer.insert(trailer.end() - 2, {"  VA 1 0 DC 1", "  VB 1 0 DC 2"});
  const TSimulationResult result = simulate(busCircuit(120, trailer));
  EXPECT_FALSE(result.Ok);
  EXPECT_NE(result.Error.find("stopped at 0 s of 100 ns"), std::string::npos) << result.Error;
  EXPECT_NE(result.Error.find("singular matrix"), std::string::npos) << result.Error;
  EXPECT_FALSE(result.Log.empty());
}

TEST(EngineCancel, ACancelledRunLeavesTheEngineReady) {
  TSpiceEngine& engine = TSpiceEngine::Instance();
  // Two million steps: far longer than the test waits.
  const TNgspiceCircuit slow = TranslateForNgspice(busCircuit(120, idealTrailer(".TRAN 1ps 2us 0 1ps")));
  std::string error;
  int notified = 0;
  std::mutex lock;
  ASSERT_TRUE(engine.Start(
      slow,
      [&] {
        std::lock_guard guard(lock);
        ++notified;
      },
      error))
      << error;
  EXPECT_TRUE(engine.Busy());
  EXPECT_FALSE(engine.Start(slow, nullptr, error));  // one run at a time
  // ngspice reports its progress about every 150 ms.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (engine.Progress().empty() && std::chrono::steady_clock::now() < deadline)
    engine.WaitUntilFinished(std::chrono::milliseconds(20));
  EXPECT_EQ(engine.Progress().rfind("tran: ", 0), 0u) << engine.Progress();
  EXPECT_GT(
      [&] {
        std::lock_guard guard(lock);
        return notified;
      }(),
      0);
  EXPECT_FALSE(engine.Finished());

  const auto before = std::chrono::steady_clock::now();
  engine.Cancel();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
  EXPECT_FALSE(engine.Busy());
  const int afterCancel = [&] {
    std::lock_guard guard(lock);
    return notified;
  }();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(
      [&] {
        std::lock_guard guard(lock);
        return notified;
      }(),
      afterCancel);  // no calls for a dead run

  const TSimulationResult good = simulate(busCircuit(120));
  ASSERT_TRUE(good.Ok) << good.Error;
  EXPECT_NEAR(good.Transient.Scale.back(), 100e-9, 1e-12);
}

TEST(EngineLimits, ARunTooLargeForMemoryIsRefusedAndACancelledRunSaysSo) {
  TSpiceEngine& engine = TSpiceEngine::Instance();
  // A second at a 1 ps step: a million million points.
  const TNgspiceCircuit huge = TranslateForNgspice(busCircuit(120, idealTrailer(".TRAN 1ps 1s 0 1ps")));
  const TRunSize size = EstimateRunSize(huge);
  EXPECT_EQ(size.Vectors, 3u);  // the time and the two nodes
  EXPECT_GT(size.Points, 1e12);
  std::string error;
  EXPECT_FALSE(engine.Start(huge, nullptr, error));
  EXPECT_NE(error.find("would need about"), std::string::npos) << error;
  EXPECT_NE(error.find("at a step of 1 ps"), std::string::npos) << error;
  EXPECT_FALSE(engine.Busy());
  EXPECT_EQ(RunSizeProblem(size, static_cast<std::uint64_t>(size.Bytes) + 1, huge.Step), "");

  // Run asks whether to go on; a cancelled run comes back at once and leaves the engine ready.
  const TNgspiceCircuit slow = TranslateForNgspice(busCircuit(120, idealTrailer(".TRAN 1ps 2us 0 1ps")));
  const auto start = std::chrono::steady_clock::now();
  const TSimulationResult cancelled =
      engine.Run(slow, {}, [&] { return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(300); });
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_TRUE(cancelled.Cancelled);
  EXPECT_FALSE(cancelled.Ok);
  EXPECT_FALSE(engine.Busy());
  const TSimulationResult good = simulate(busCircuit(120));
  ASSERT_TRUE(good.Ok) << good.Error;
  // The matched line's run is mostly flat: thinning keeps a small part of it.
  EXPECT_LT(good.Transient.Scale.size() * 4, good.ComputedPoints);
}

}  // namespace
}  // namespace busweave
