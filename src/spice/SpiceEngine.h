#pragma once

// TSpiceEngine: the ngspice shared library, loaded with dlopen so that it can be loaded afresh
// after an error it cannot recover from (ngspice then asks to be detached and refuses to run
// again). ngspice keeps its state in globals, so there is one engine per process; it runs one
// circuit at a time on ngspice's own background thread.
//
// ngspice's callbacks arrive on its thread. The engine only records what they say and calls
// the run's notify function, which must do no more than queue work for the thread that started
// the run. That thread reads Progress() and, once Finished(), calls Collect().

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "spice/SpiceTranslation.h"

namespace busweave {

struct TTrace {
  std::string Name;  // the network node's name, "[3] ECU2"
  std::vector<double> Values;
};

// One analysis: a scale (time in s, or frequency in Hz) and a trace per network node (volts;
// the magnitude for the AC analysis).
struct TWaveforms {
  std::string ScaleName;  // "time" or "frequency"
  std::vector<double> Scale;
  std::vector<TTrace> Traces;

  bool Empty() const { return Scale.empty(); }
};

struct TSimulationResult {
  bool Ok = false;
  bool Cancelled = false;
  std::string Error;     // why the run failed: ngspice's own messages
  TWaveforms Transient;  // also after a failure, as far as ngspice got
  TWaveforms Ac;
  std::vector<std::string> Log;    // ngspice's warnings and errors during the run
  TStepChoice Step;                // the maximum step the run used
  std::size_t ComputedPoints = 0;  // the transient's time points before thinning
};

// What a run will keep in memory, roughly, before it starts.
struct TRunSize {
  double Points = 0.0;      // time points of the transient analysis
  std::size_t Vectors = 0;  // vectors ngspice keeps: the time and each saved voltage
  double Bytes = 0.0;       // ngspice's vectors and the engine's thinned copy, at worst
};

// Points: four times the run over the maximum step, for the points ngspice adds at breakpoints.
// Vectors: the time and the saved node voltages (without .SAVE, a guess from the elements).
TRunSize EstimateRunSize(const TNgspiceCircuit& Circuit);

// The most a run may keep: a quarter of the computer's memory, and never more than 2 GiB.
std::uint64_t RunMemoryLimit();

// Why a run of this size does not fit under Limit, or nothing when it does.
std::string RunSizeProblem(const TRunSize& Size, std::uint64_t Limit, const TStepChoice& Step);

class TSpiceEngine {
 public:
  using Notify = std::function<void()>;

  static TSpiceEngine& Instance();
  ~TSpiceEngine();
  TSpiceEngine(const TSpiceEngine&) = delete;
  TSpiceEngine& operator=(const TSpiceEngine&) = delete;

  // Loads the library when needed (afresh after a fatal error), gives ngspice the circuit and
  // starts it in the background. False when a run is still open, the run would not fit in
  // memory (RunMemoryLimit), the library cannot be loaded or ngspice refuses the circuit; Error
  // then holds the reason, ngspice's in its words.
  bool Start(const TNgspiceCircuit& Circuit, Notify OnChange, std::string& Error);

  // Started and neither collected nor cancelled yet.
  bool Busy() const;
  // The run has ended; Collect may be called.
  bool Finished() const;
  // ngspice's latest status: "tran: 45.3%", "--ready--".
  std::string Progress() const;
  // For callers without an event loop: waits until the run ends or Timeout passes.
  bool WaitUntilFinished(std::chrono::milliseconds Timeout) const;

  // Once Finished: the network's node voltages, the transient thinned (ThinnedIndices), or why
  // the run failed. Frees ngspice's copy and leaves the engine ready for the next run.
  TSimulationResult Collect();

  // Stops the open run and throws it away (ngspice's bg_halt only pauses a run). Returns when
  // ngspice's thread has stopped; does nothing without an open run.
  void Cancel();

  // Start, wait and Collect in one call; Progress is called on the calling thread. Cancelled is
  // asked about every 0.1 s; once it says yes the run is cancelled and the result says so.
  TSimulationResult Run(const TNgspiceCircuit& Circuit, const std::function<void(const std::string&)>& OnProgress = {},
                        const std::function<bool()>& Cancelled = {});

  // True while ngspice reads a circuit (in Start), which nothing can interrupt and which may take
  // minutes on a hostile circuit. Safe to call from a signal handler.
  static bool ReadingCircuit() noexcept;

  // Where the library comes from: $BUSWEAVE_NGSPICE_LIBRARY, else libngspice.so.0 or .so.
  static std::vector<std::string> LibraryCandidates();

 private:
  struct Library;
  TSpiceEngine();

  bool load(std::string& Error);
  void unload();
  void command(const char* Text);
  void joinBackgroundThread();
  void discardResults();
  TWaveforms readAnalysis(const std::string& Prefix, const std::string& ScaleName, bool Thin,
                          std::size_t* Computed = nullptr);
  std::vector<std::string> takeMessages();

  static int onOutput(char* Text, int Id, void* Self);
  static int onStatus(char* Text, int Id, void* Self);
  static int onExit(int Status, bool Immediate, bool Quit, int Id, void* Self);
  static int onThread(bool Finished, int Id, void* Self);

  std::unique_ptr<Library> FLibrary;
  bool FNeedsReload = false;    // ngspice asked to be detached
  bool FThreadStarted = false;  // a bg_run left a thread that is not joined yet
  std::string FOldLibraryPath;  // the file of a library left mapped (sanitizer builds)

  // Shared with ngspice's thread.
  mutable std::mutex FMutex;
  mutable std::condition_variable FChanged;
  bool FOpen = false;  // a run was started and is not collected or cancelled
  bool FFinished = false;
  bool FExitRequested = false;
  std::string FProgress;
  std::vector<std::string> FMessages;  // stderr lines since the last take
  Notify FNotify;

  TNgspiceCircuit FCircuit;  // the circuit of the open run
};

}  // namespace busweave
