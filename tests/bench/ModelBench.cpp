// Loading and saving large network files, and adding nodes to a large network.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchNetworks.h"
#include "model/BusCheck.h"
#include "model/NetworkContainer.h"

namespace {

using busweave::TCanNodes;
using busweave::TNode;
using busweave::TPoint;
using busweave::TTrmLine;
using namespace busweave::bench;

std::string readFile(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The 65,535-element file in key order (as the program saves it) and in exactly reversed order.
const std::string& keyOrderFile() {
  static const std::string path = [] {
    const std::string raw = benchFile("raw.bwn");
    writeFile(raw, chainFile(32768, 256));
    TCanNodes net;
    net.LoadNetwork(raw);
    const std::string saved = benchFile("key-order.bwn");
    net.SaveNetwork(saved);
    return saved;
  }();
  return path;
}

const std::string& reversedFile() {
  static const std::string path = [] {
    const std::string bytes = readFile(keyOrderFile());
    std::vector<std::string> entries;
    std::size_t at = 1;
    while (at + 1 < bytes.size()) {
      const std::size_t size = bytes[at + 1] == 5 ? kNodeEntry : kWireEntry;
      entries.push_back(bytes.substr(at, size));
      at += size;
    }
    std::string reversed = "\x01";
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) reversed += *it;
    reversed.push_back('\0');
    const std::string out = benchFile("reversed.bwn");
    writeFile(out, reversed);
    return out;
  }();
  return path;
}

void BM_LoadKeyOrder(benchmark::State& State) {
  const std::string& path = keyOrderFile();
  for (auto _ : State) {
    TCanNodes net;
    benchmark::DoNotOptimize(net.LoadNetwork(path));
  }
  State.SetLabel("65535 elements");
}
BENCHMARK(BM_LoadKeyOrder)->Unit(benchmark::kMillisecond);

void BM_LoadReversedOrder(benchmark::State& State) {
  const std::string& path = reversedFile();
  for (auto _ : State) {
    TCanNodes net;
    benchmark::DoNotOptimize(net.LoadNetwork(path));
  }
  State.SetLabel("65535 elements");
}
BENCHMARK(BM_LoadReversedOrder)->Unit(benchmark::kMillisecond);

void BM_Save(benchmark::State& State) {
  TCanNodes net;
  net.LoadNetwork(keyOrderFile());
  const std::string path = benchFile("saved.bwn");
  for (auto _ : State) benchmark::DoNotOptimize(net.SaveNetwork(path));
  State.SetLabel("65535 elements");
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond);

// AddNode on a network of 30,000 wires: off the wires, and on the middle of one (a split).
void addNodeBench(benchmark::State& State, TPoint P) {
  const std::string path = benchFile("30000-wires.bwn");
  writeFile(path, chainFile(30001, 200));
  TCanNodes net;
  net.LoadNetwork(path);
  for (auto _ : State) {
    net.FTickCount++;
    benchmark::DoNotOptimize(net.AddNode(P));
    State.PauseTiming();
    net.UndoLast();
    State.ResumeTiming();
  }
}

void BM_AddNodeOffWires(benchmark::State& State) { addNodeBench(State, {55, 50}); }
BENCHMARK(BM_AddNodeOffWires)->Unit(benchmark::kMicrosecond);

void BM_AddNodeSplittingLastWire(benchmark::State& State) {
  // The wire with the largest key, so the scan for a wire to split goes through all of them.
  addNodeBench(State, {19950, 14900});
}
BENCHMARK(BM_AddNodeSplittingLastWire)->Unit(benchmark::kMicrosecond);

// The bus check runs after every edit: on the 65,535-element chain it must stay well below a
// frame's time.
void BM_CheckBus(benchmark::State& State) {
  TCanNodes net(120, 1500, 120);
  net.LoadNetwork(keyOrderFile());
  for (auto _ : State) benchmark::DoNotOptimize(busweave::CheckBus(net));
  State.SetLabel("65535 elements");
}
BENCHMARK(BM_CheckBus)->Unit(benchmark::kMillisecond);

// The copy of the network the editor hands to its background bus check and overview, made on the
// window's thread once a burst of edits has ended.
void BM_Snapshot(benchmark::State& State) {
  TCanNodes net(120, 1500, 120);
  net.LoadNetwork(keyOrderFile());
  for (auto _ : State) benchmark::DoNotOptimize(net.Snapshot());
  State.SetLabel("65535 elements");
}
BENCHMARK(BM_Snapshot)->Unit(benchmark::kMillisecond);

}  // namespace
