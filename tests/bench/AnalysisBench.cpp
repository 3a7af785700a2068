// The bus analysis as busweave-cli runs it, worker processes included: the six-station example
// and straight buses of N stations (every station with a driver, the two ends terminated, 2 m
// between neighbours), so that the time per transmitter shows whether it grows linearly.
//
// build/tests/bench/bench_analysis; --benchmark_filter=Bus/32 for one size. The last argument
// of each is 1 for the full runs that check the deciding rates, 0 without them (--no-confirm);
// Shard/32/4 times the first of four parts of the 32-station bus; StationsOnStubs/32/1 the
// 32 stations on 0.3 m stubs of a 31 m trunk.
// Advise/B/J times the advice search on bus B (below) with J worker processes; AdviseShard/B/I
// its I-th of four parts with one worker each, AdviseMerge/B the merge of the four.

#include <benchmark/benchmark.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "BenchNetworks.h"

namespace busweave {
namespace {

void runCli(benchmark::State& State, const std::string& File, const std::string& Options = "",
            const std::string& Command = "analyze", const std::string& Output = "/dev/null") {
  const std::string command = std::string(BUSWEAVE_CLI_PROGRAM) + " " + Command + " '" + File + "' " + Options +
                              " > '" + Output + "' 2>/dev/null";
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

// A bus as engineers lay one out: trunk junctions 1 m apart, terminated at the two ends, each
// station on a 0.3 m stub, every other node at the value that means no termination.
std::string stationsOnStubs(int stations) {
  const std::string file = bench::benchFile("stubs-" + std::to_string(stations) + ".bwn");
  TCanNodes net(120, 65535, 120);
  for (int i = 0; i < stations; ++i) {
    net.AddNode({i * 200, 0});
    net.AddNode({i * 200, 100});
    net.AddWire({i * 200, 0}, {i * 200, 100}, 120, true);
    net.NearestWire({i * 200, 50})->FLength = 300;
    if (i > 0) {
      net.AddWire({(i - 1) * 200, 0}, {i * 200, 0}, 120, true);
      net.NearestWire({i * 200 - 100, 0})->FLength = 1000;
    }
    TNode* station = net.NodeAt({i * 200, 100});
    station->FSource = 1;
    station->FName = 'S' + std::to_string(i + 1);
    station->FResistance = 65535;
    net.NodeAt({i * 200, 0})->FResistance = i == 0 || i + 1 == stations ? 120 : 65535;
  }
  net.SaveNetwork(file);
  return file;
}

void BM_StationsOnStubs(benchmark::State& State) {
  runCli(State, stationsOnStubs(static_cast<int>(State.range(0))), State.range(1) ? "" : "--no-confirm");
}
BENCHMARK(BM_StationsOnStubs)->Args({32, 1})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_Shard(benchmark::State& State) {
  runCli(State, straightBus(static_cast<int>(State.range(0))), "--shard 1/" + std::to_string(State.range(1)));
}
BENCHMARK(BM_Shard)->Args({32, 4})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// Six stations on a 15 m trunk, four of them on stubs of 4.5 to 7 m: the data phase fails at
// 5 Mbit/s, and the search has stubs to cut.
std::string sixOnLongStubs() {
  const std::string file = bench::benchFile("advise-six.bwn");
  TCanNodes net(120, 1500, 120);
  const std::uint16_t stubs[] = {0, 6500, 5000, 7000, 4500, 0};
  for (int i = 0; i < 6; ++i) net.AddNode({i * 200, 0});
  for (int i = 0; i < 5; ++i) {
    net.AddWire({i * 200, 0}, {(i + 1) * 200, 0}, 120, true);
    net.NearestWire({i * 200 + 100, 0})->FLength = 3000;
  }
  for (int i = 0; i < 6; ++i) {
    TPoint at{i * 200, 0};
    if (stubs[i] > 0) {
      net.AddNode({i * 200, 100});
      net.AddWire(at, {i * 200, 100}, 120, true);
      net.NearestWire({i * 200, 50})->FLength = stubs[i];
      at = {i * 200, 100};
    }
    net.NodeAt(at)->FSource = 1;
    net.NodeAt(at)->FName = 'E' + std::to_string(i + 1);
  }
  net.NodeAt({0, 0})->FResistance = 120;
  net.NodeAt({1000, 0})->FResistance = 120;
  net.SaveNetwork(file);
  return file;
}

// The searches timed: 0 the six stations on long stubs at 5 Mbit/s data, 1 the star example at
// 4 Mbit/s data and 500 kbit/s arbitration.
std::string adviseBus(std::int64_t Bus) {
  return Bus == 0 ? sixOnLongStubs() : std::string(BUSWEAVE_EXAMPLES) + "/star-with-long-stubs.bwn";
}
std::string adviseRates(std::int64_t Bus) {
  return Bus == 0 ? "--data-rate 5M" : "--data-rate 4M --arbitration-rate 500k";
}

// Args: the bus, and the worker processes.
void BM_Advise(benchmark::State& State) {
  runCli(State, adviseBus(State.range(0)), adviseRates(State.range(0)) + " --jobs " + std::to_string(State.range(1)),
         "advise");
}
BENCHMARK(BM_Advise)->ArgsProduct({{0, 1}, {2, 1}})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

std::string partFile(std::int64_t Bus, std::int64_t Shard) {
  return bench::benchFile("advise-part-" + std::to_string(Bus) + "-" + std::to_string(Shard));
}

// Args: the bus, and which of four parts, with one worker process.
void BM_AdviseShard(benchmark::State& State) {
  runCli(State, adviseBus(State.range(0)),
         adviseRates(State.range(0)) + " --jobs 1 --shard " + std::to_string(State.range(1)) + "/4", "advise",
         partFile(State.range(0), State.range(1)));
}
BENCHMARK(BM_AdviseShard)
    ->ArgsProduct({{0, 1}, {1, 2, 3, 4}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

void BM_AdviseMerge(benchmark::State& State) {
  std::string parts;
  for (int i = 2; i <= 4; ++i) parts += " '" + partFile(State.range(0), i) + "'";
  runCli(State, partFile(State.range(0), 1), parts, "advise-merge");
}
BENCHMARK(BM_AdviseMerge)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace busweave

BENCHMARK_MAIN();
