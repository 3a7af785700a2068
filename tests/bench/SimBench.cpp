// The engine's time step against ngspice in batch mode with the literal 1 ps step of the
// built-in trailer, on the example networks with the built-in templates: run time, and how far
// the node voltage peaks of the engine lie from those of the 1 ps run.
//
// build/tests/bench/bench_sim runs both and prints a table at the end. The 1 ps runs take
// minutes; --benchmark_filter=Engine runs the engine alone.
//
// StationBus/N: generated buses of N stations, each on a stub of its own, one of them driving,
// with the time (wall clock and the process's CPU time, ngspice's thread included) and the peak
// memory of a run (the process's high-water mark, reset before the run), and how far the node
// voltage peaks lie from a reference run at a tenth of the step (--benchmark_filter=StationBus).

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "circuit/CircuitFile.h"
#include "model/NetworkContainer.h"
#include "spice/SpiceEngine.h"
#include "spice/SpiceTranslation.h"

namespace busweave {
namespace {

struct Extremes {
  std::vector<double> Highest;  // per network node
  std::vector<double> Lowest;
  double Seconds = 0.0;
  double Reached = 0.0;  // the last time point
  double Step = 0.0;
  std::size_t Points = 0;
};

std::map<std::string, Extremes> gEngine;
std::map<std::string, Extremes> gLiteral;  // ngspice -b, the circuit's .TRAN as written
std::map<std::string, Extremes> gMerged;   // the same with MINBREAK=1fs, where the literal run gives up

TNgspiceCircuit exampleCircuit(const std::string& Name) {
  TCanNodes net;
  net.LoadNetwork(std::string(BUSWEAVE_EXAMPLES) + "/" + Name + ".bwn");
  TextLines header = BuiltInHeader();
  header.front() = "Busweave benchmark " + Name;
  return TranslateForNgspice(CircuitLines(header, net, BuiltInTrailer()));
}

void BM_Engine(benchmark::State& State, const std::string& Name) {
  const TNgspiceCircuit circuit = exampleCircuit(Name);
  TSimulationResult result;
  for (auto _ : State) {
    result = TSpiceEngine::Instance().Run(circuit);
    if (!result.Ok) {
      State.SkipWithError(result.Error.c_str());
      return;
    }
  }
  Extremes& extremes = gEngine[Name];
  for (const auto& trace : result.Transient.Traces) {
    const auto [low, high] = std::minmax_element(trace.Values.begin(), trace.Values.end());
    extremes.Highest.push_back(*high);
    extremes.Lowest.push_back(*low);
  }
  extremes.Points = result.Transient.Scale.size();
  extremes.Reached = result.Transient.Scale.back();
  extremes.Step = result.Step.MaxStep;
  State.counters["points"] = static_cast<double>(extremes.Points);
  State.counters["max_step_ps"] = extremes.Step * 1e12;
}

// The circuit for ngspice -b: the engine's deck with the .TRAN of the circuit as written (no
// step ceiling) and without the engine's MINBREAK, and a control section that measures each
// node's extremes.
std::string batchDeck(const TNgspiceCircuit& Circuit, const std::string& ExtraOptions) {
  std::ostringstream deck;
  for (const auto& line : Circuit.Lines) {
    if (line.rfind(".OPTIONS MINBREAK=", 0) == 0) continue;
    if (line.rfind(".TRAN", 0) == 0) {
      const auto& spec = *Circuit.Transient;
      deck << ".TRAN " << SpiceNumberText(spec.PrintStep) << " " << SpiceNumberText(spec.Stop) << "\n";
      continue;
    }
    if (line == ".END") {
      if (!ExtraOptions.empty()) deck << ".OPTIONS " << ExtraOptions << "\n";
      deck << ".control\nrun\n";
      for (const auto& node : Circuit.Nodes)
        deck << "meas tran high" << node.Spice << " max v(" << node.Spice << ")\n"
             << "meas tran low" << node.Spice << " min v(" << node.Spice << ")\n";
      deck << "print tran.time[length(tran.time)-1]\n.endc\n";
    }
    deck << line << "\n";
  }
  return deck.str();
}

Extremes runBatch(const TNgspiceCircuit& Circuit, const std::string& ExtraOptions) {
  Extremes extremes;
  std::random_device seed;
  const auto folder = std::filesystem::temp_directory_path() / ("busweave-bench-" + std::to_string(seed()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "circuit.cir") << batchDeck(Circuit, ExtraOptions);
  std::ofstream(folder / ".spiceinit") << "set ngbehavior=psa\n";

  const std::string command = "cd '" + folder.string() + "' && ngspice -b circuit.cir 2>&1";
  const auto start = std::chrono::steady_clock::now();
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    while (std::size_t count = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, count);
    pclose(pipe);
  }
  extremes.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::filesystem::remove_all(folder);

  std::map<std::string, double> values;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string name, equals;
    double value = 0.0;
    if (words >> name >> equals >> value && equals == "=") values[name] = value;
  }
  for (const auto& node : Circuit.Nodes) {
    extremes.Highest.push_back(values.count("high" + node.Spice) ? values["high" + node.Spice] : NAN);
    extremes.Lowest.push_back(values.count("low" + node.Spice) ? values["low" + node.Spice] : NAN);
  }
  extremes.Reached = values.count("tran.time[length(tran.time)-1]") ? values["tran.time[length(tran.time)-1]"] : 0.0;
  extremes.Step = Circuit.Transient->PrintStep;
  return extremes;
}

void BM_NgspiceBatch1ps(benchmark::State& State, const std::string& Name) {
  const TNgspiceCircuit circuit = exampleCircuit(Name);
  for (auto _ : State) {
    gLiteral[Name] = runBatch(circuit, "");
    State.SetIterationTime(gLiteral[Name].Seconds);
  }
  State.counters["reached_ns"] = gLiteral[Name].Reached * 1e9;
  // ngspice 39 gives up ("Timestep too small") on some circuits at 1 ps, where rounding puts
  // two breakpoints a hair apart; merging breakpoints closer than 1 fs lets it finish.
  if (gLiteral[Name].Reached < circuit.Transient->Stop * (1 - 1e-9)) {
    gMerged[Name] = runBatch(circuit, "MINBREAK=1e-15");
    State.counters["merged_s"] = gMerged[Name].Seconds;
  }
}

// The worst deviations of the engine's extremes from a reference's, in percent: of a node's
// highest voltage relative to it, and of its lowest (the undershoot) relative to its swing.
std::pair<double, double> deviations(const Extremes& Engine, const Extremes& Reference) {
  double peak = 0.0;
  double low = 0.0;
  for (std::size_t i = 0; i < Engine.Highest.size() && i < Reference.Highest.size(); ++i) {
    const double swing = Reference.Highest[i] - Reference.Lowest[i];
    peak = std::max(peak, std::fabs(Engine.Highest[i] - Reference.Highest[i]) / std::fabs(Reference.Highest[i]));
    low = std::max(low, std::fabs(Engine.Lowest[i] - Reference.Lowest[i]) / swing);
  }
  return {100 * peak, 100 * low};
}

// A trunk of Stations junctions 1 m apart, terminated with 120 ohms at both ends, and a station
// (a 65,535-ohm input) on a stub at each junction: stubs of 0.1 to 0.6 m, the second station on
// a wire of 0 mm and the third on one of 10 mm, so that joins and short lines are part of the run.
// The first station drives.
void stationBusCircuit(int Stations, const TTranslationOptions& Options, const std::string& Tran,
                       TNgspiceCircuit& Circuit) {
  TCanNodes net(120, 65535, 120);
  for (int i = 0; i < Stations; ++i) {
    net.AddNode({i * 100, 0});
    net.AddNode({i * 100, 100});
    net.AddWire({i * 100, 0}, {i * 100, 100}, 120, true);
    if (i > 0) net.AddWire({(i - 1) * 100, 0}, {i * 100, 0}, 120, true);
  }
  net.NodeAt({0, 0})->FResistance = 120;
  net.NodeAt({(Stations - 1) * 100, 0})->FResistance = 120;
  net.NodeAt({0, 100})->FSource = 1;
  for (int i = 0; i < net.Count(); ++i) {
    TTrmLine* wire = net.WireAtIndex(i);
    if (!wire) continue;
    const int station = wire->FStart.X / 100;
    if (wire->FStart.Y == wire->FEnd.Y)
      wire->FLength = 1000;
    else
      wire->FLength = static_cast<std::uint16_t>(station == 1 ? 0 : station == 2 ? 10 : 100 + station * 37 % 500);
  }
  TextLines header = BuiltInHeader();
  header.front() = "Busweave benchmark station bus";
  TextLines trailer = BuiltInTrailer();
  for (auto& line : trailer)
    if (line.rfind(".TRAN", 0) == 0) line = Tran;
  Circuit = TranslateForNgspice(CircuitLines(header, net, trailer), {}, Options);
}

// The process's peak resident memory since the last reset, in bytes.
double peakMemory() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) * 1024;
  return NAN;
}

void resetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& T) {
    return static_cast<double>(T.tv_sec) + 1e-6 * static_cast<double>(T.tv_usec);
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct StationRun {
  double Seconds = 0.0;
  double CpuSeconds = 0.0;
  double PeakBytes = 0.0;
  std::size_t Computed = 0;
  std::size_t Kept = 0;
  double Step = 0.0;
  Extremes Engine;
  Extremes Reference;
  double ReferenceSeconds = 0.0;
  int ReferenceDivisor = 0;  // the reference's step is the engine's divided by this
};
std::map<int, StationRun> gStations;

Extremes extremesOf(const TSimulationResult& Result) {
  Extremes extremes;
  for (const auto& trace : Result.Transient.Traces) {
    const auto [low, high] = std::minmax_element(trace.Values.begin(), trace.Values.end());
    extremes.Highest.push_back(*high);
    extremes.Lowest.push_back(*low);
  }
  extremes.Reached = Result.Transient.Scale.empty() ? 0.0 : Result.Transient.Scale.back();
  return extremes;
}

void BM_StationBus(benchmark::State& State, int Stations) {
  TNgspiceCircuit circuit;
  stationBusCircuit(Stations, {}, ".TRAN .001ns 2us", circuit);
  StationRun& run = gStations[Stations];
  for (auto _ : State) {
    resetPeakMemory();
    const double cpuStart = cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const TSimulationResult result = TSpiceEngine::Instance().Run(circuit);
    run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.CpuSeconds = cpuSeconds() - cpuStart;
    run.PeakBytes = peakMemory();
    State.SetIterationTime(run.Seconds);
    if (!result.Ok) {
      State.SkipWithError(result.Error.c_str());
      return;
    }
    run.Computed = result.ComputedPoints;
    run.Kept = result.Transient.Scale.size();
    run.Step = result.Step.MaxStep;
    run.Engine = extremesOf(result);
  }
  State.counters["peak_MB"] = run.PeakBytes / 1e6;
  State.counters["cpu_s"] = run.CpuSeconds;
  State.counters["points"] = static_cast<double>(run.Computed);
  State.counters["kept"] = static_cast<double>(run.Kept);
  State.counters["max_step_ps"] = run.Step * 1e12;
}

// The same bus at a tenth of the engine's step, or a fifth or a half where a tenth would not
// fit in the memory a run may take.
void BM_StationBusReference(benchmark::State& State, int Stations) {
  StationRun& run = gStations[Stations];
  TNgspiceCircuit engine;
  stationBusCircuit(Stations, {}, ".TRAN .001ns 2us", engine);
  TNgspiceCircuit circuit;
  for (const int divisor : {10, 5, 2}) {
    stationBusCircuit(Stations, {}, ".TRAN .001ns 2us 0 " + SpiceNumberText(engine.Step.MaxStep / divisor), circuit);
    run.ReferenceDivisor = divisor;
    if (RunSizeProblem(EstimateRunSize(circuit), RunMemoryLimit(), circuit.Step).empty()) break;
  }
  for (auto _ : State) {
    const auto start = std::chrono::steady_clock::now();
    const TSimulationResult result = TSpiceEngine::Instance().Run(circuit);
    run.ReferenceSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    State.SetIterationTime(run.ReferenceSeconds);
    if (!result.Ok) {
      State.SkipWithError(result.Error.c_str());
      return;
    }
    run.Reference = extremesOf(result);
    State.counters["points"] = static_cast<double>(result.ComputedPoints);
  }
}

void printSummary() {
  std::printf("\n%-13s %-30s %9s %10s %9s %9s %9s\n", "network", "run", "points", "time", "speedup", "peak dev",
              "low dev");
  for (const auto& [name, engine] : gEngine) {
    std::printf("%-13s %-30s %9zu %9.3fs\n", name.c_str(), ("engine, step " + TimeText(engine.Step)).c_str(),
                engine.Points, engine.Seconds);
    const auto print = [&, name = name](const char* Kind, const Extremes& Reference) {
      const bool complete = Reference.Reached >= engine.Reached * (1 - 1e-9);
      std::string run = std::string(Kind) + (complete ? "" : ", gave up at " + TimeText(Reference.Reached));
      std::printf("%-13s %-30s %9s %9.1fs %8.0fx", name.c_str(), run.c_str(), "", Reference.Seconds,
                  Reference.Seconds / engine.Seconds);
      if (complete) {
        const auto [peak, low] = deviations(engine, Reference);
        std::printf(" %8.4f%% %8.4f%%", peak, low);
      }
      std::printf("\n");
    };
    if (gLiteral.count(name)) print("ngspice -b, 1 ps", gLiteral[name]);
    if (gMerged.count(name)) print("ngspice -b, 1 ps, MINBREAK=1fs", gMerged[name]);
  }
  if (!gStations.empty())
    std::printf("\n%-9s %9s %9s %9s %9s %9s %10s %11s %9s %9s\n", "stations", "step", "points", "kept", "time", "cpu",
                "peak mem", "reference", "peak dev", "low dev");
  for (const auto& [stations, run] : gStations) {
    std::printf("%-9d %9s %9zu %9zu %8.3fs %8.3fs %7.1f MB", stations, TimeText(run.Step).c_str(), run.Computed,
                run.Kept, run.Seconds, run.CpuSeconds, run.PeakBytes / 1e6);
    if (!run.Reference.Highest.empty()) {
      const auto [peak, low] = deviations(run.Engine, run.Reference);
      std::printf(" %7.1fs /%-2d %8.4f%% %8.4f%%", run.ReferenceSeconds, run.ReferenceDivisor, peak, low);
    }
    std::printf("\n");
  }
  std::printf(
      "peak dev: largest difference of a node's highest voltage, relative to it;\n"
      "low dev: of a node's lowest voltage (the undershoot), relative to the node's swing.\n");
}

// Google Benchmark reports the mean time per iteration; the table wants it too.
class TimeRecorder : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& Runs) override {
    for (const auto& run : Runs) {
      const std::string name = run.run_name.function_name;
      if (name.rfind("Engine/", 0) == 0 && gEngine.count(name.substr(7)))
        gEngine[name.substr(7)].Seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
    ConsoleReporter::ReportRuns(Runs);
  }
};

}  // namespace
}  // namespace busweave

int main(int argc, char** argv) {
  using namespace busweave;
  for (const std::string name : {"two-nodes", "six-stations"}) {
    benchmark::RegisterBenchmark(("Engine/" + name).c_str(), BM_Engine, name)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("NgspiceBatch1ps/" + name).c_str(), BM_NgspiceBatch1ps, name)
        ->Unit(benchmark::kSecond)
        ->Iterations(1)
        ->UseManualTime();
  }
  for (const int stations : {50, 200}) {
    const std::string name = std::to_string(stations);
    benchmark::RegisterBenchmark(("StationBus/" + name).c_str(), BM_StationBus, stations)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->UseManualTime();
    benchmark::RegisterBenchmark(("StationBusReference/" + name).c_str(), BM_StationBusReference, stations)
        ->Unit(benchmark::kSecond)
        ->Iterations(1)
        ->UseManualTime();
  }
  benchmark::Initialize(&argc, argv);
  TimeRecorder reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  printSummary();
  benchmark::Shutdown();
  return 0;
}
