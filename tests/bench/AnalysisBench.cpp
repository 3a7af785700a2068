// The bus analysis as busweave-cli runs it, worker processes included: the six-station example
// and straight buses of N stations (every station with a driver, the two ends terminated, 2 m
// between neighbours), so that the time per transmitter shows whether it grows linearly.
//
// build/tests/bench/bench_analysis; --benchmark_filter=Bus/32 for one size. The last argument
// of each is 1 for the full runs that check the deciding rates, 0 without them (--no-confirm);
// Shard/32/4 times the first of four parts of the 32-station bus.

#include <benchmark/benchmark.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "BenchNetworks.h"

namespace busweave {
namespace {

void runCli(benchmark::State& State, const std::string& File, const std::string& Options = "") {
  const std::string command =
      std::string(BUSWEAVE_CLI_PROGRAM) + " analyze '" + File + "' " + Options + " > /dev/null 2>&1";
  for (auto _ : State) {
    const int status = std::system(command.c_str());
    // Exit 1 means the bus fails a rate: still a complete analysis.
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) {
      State.SkipWithError("busweave-cli analyze failed");
      return;
    }
  }
}

void BM_SixStations(benchmark::State& State) {
  runCli(State, std::string(BUSWEAVE_EXAMPLES) + "/six-stations.bwn", State.range(0) ? "" : "--no-confirm");
}
BENCHMARK(BM_SixStations)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

std::string straightBus(int stations) {
  const std::string file = bench::benchFile("analysis-" + std::to_string(stations) + ".bwn");
  TCanNodes net(120, 65535, 120);
  for (int i = 0; i < stations; ++i) net.AddNode({i * 200, 0});
  for (int i = 0; i + 1 < stations; ++i) net.AddWire({i * 200, 0}, {(i + 1) * 200, 0}, 120, true);
  for (int i = 0; i < net.Count(); ++i)
    if (TTrmLine* wire = net.WireAtIndex(i)) wire->FLength = 2000;
  for (int i = 0; i < stations; ++i) {
    TNode* node = net.NodeAt({i * 200, 0});
    node->FSource = 1;
    node->FName = 'S' + std::to_string(i + 1);
    node->FResistance = i == 0 || i + 1 == stations ? 120 : 65535;
  }
  net.SaveNetwork(file);
  return file;
}

void BM_Bus(benchmark::State& State) {
  const int stations = static_cast<int>(State.range(0));
  runCli(State, straightBus(stations), State.range(1) ? "" : "--no-confirm");
  State.counters["per_transmitter_ms"] = benchmark::Counter(static_cast<double>(State.iterations()) * 1000.0 / stations,
                                                            benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Bus)
    ->Args({8, 1})
    ->Args({16, 1})
    ->Args({32, 1})
    ->Args({32, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

void BM_Shard(benchmark::State& State) {
  runCli(State, straightBus(static_cast<int>(State.range(0))), "--shard 1/" + std::to_string(State.range(1)));
}
BENCHMARK(BM_Shard)->Args({32, 4})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace busweave

BENCHMARK_MAIN();
