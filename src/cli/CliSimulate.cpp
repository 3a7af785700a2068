#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <csignal>
#include <exception>
#include <functional>
#include <iostream>
#include <thread>

#include "base/SafeFile.h"
#include "circuit/CircuitFile.h"
#include "cli/Cli.h"
#include "cli/CliCommon.h"
#include "model/NetworkContainer.h"
#include "spice/SpiceEngine.h"
#include "spice/SpiceTranslation.h"
#include "spice/StepRule.h"
#include "spice/Waveforms.h"

namespace busweave::cli {
namespace {

constexpr const char* kSimulateHelp =
    "Usage: busweave-cli simulate FILE [--templates DIR] [--csv OUT] [--short-line RATIO]\n"
    "\n"
    "Builds the circuit for the network file FILE as the circuit command does (templates\n"
    "Busweave.HD and Busweave.TR from DIR, default the current folder, else the built-in\n"
    "texts), simulates it with the ngspice shared library and writes the transient analysis\n"
    "as CSV to OUT (default: standard output): a header row with \"time\" and the node names,\n"
    "then one row per time point in seconds and volts. The maximum time step follows the\n"
    "shortest line delay and source edge, not the print step of .TRAN. Wires of 0 mm, and\n"
    "lines whose delay is below the fastest source edge divided by RATIO (default 100; 0 keeps\n"
    "them), are simulated as direct connections, with a note on stderr. The rows are thinned:\n"
    "each node's highest and lowest point and the points around its mid-level crossings stay,\n"
    "and no dropped point lies further than 0.01 % of the largest swing from the line between\n"
    "the rows kept. A run that would need more memory than it may take is refused. Progress\n"
    "goes to stderr when it is a terminal; Ctrl+C stops the run (exit 130). A circuit ngspice\n"
    "rejects exits with 1 and its message; OUT is then not written. No file is written\n"
    "besides OUT.\n";

constexpr int ExitInterrupted = 128 + SIGINT;

// Set by Ctrl+C while the command runs; the simulation stops at its next look.
std::atomic<bool> interrupted{false};

// Ctrl+C cancels the simulation instead of ending the program, while this lives. SIGINT is
// blocked and taken by a thread of its own: ngspice installs its own handler while it reads a
// circuit, and that reading looks at no flag and may take minutes. Nothing has been written
// then (the CSV comes after the run, written atomically), so Ctrl+C ends the process at once.
class TInterruptGuard {
 public:
  explicit TInterruptGuard(const std::string& File)
      : FMessage(std::string(kProgram) + ": " + File + ": the simulation was cancelled; nothing was written\n") {
    interrupted = false;
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, &FPrevious);
    FWatcher = std::jthread([this, signals](std::stop_token Stop) {
      const timespec look{0, 100'000'000};
      while (!Stop.stop_requested()) {
        if (sigtimedwait(&signals, nullptr, &look) != SIGINT) continue;
        interrupted = true;
        if (TSpiceEngine::ReadingCircuit()) {
          (void)!::write(STDERR_FILENO, FMessage.data(), FMessage.size());
          ::_exit(ExitInterrupted);
        }
      }
    });
  }
  ~TInterruptGuard() {
    FWatcher.request_stop();
    FWatcher.join();
    pthread_sigmask(SIG_SETMASK, &FPrevious, nullptr);
  }
  TInterruptGuard(const TInterruptGuard&) = delete;
  TInterruptGuard& operator=(const TInterruptGuard&) = delete;

  const std::string& Message() const { return FMessage; }

 private:
  const std::string FMessage;
  sigset_t FPrevious{};
  std::jthread FWatcher;
};

}  // namespace

int RunSimulate(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  int exit = ExitDone;
  const auto args =
      ParseArguments("simulate", kSimulateHelp, {{"--csv", true}, {"--templates", true}, {"--short-line", true}}, Args,
                     Out, Err, exit);
  if (!args) return exit;
  if (args->Files.size() != 1) return Usage(Err, "simulate needs exactly one FILE", "simulate");
  TTranslationOptions options;
  if (args->Has("--short-line")) {
    const std::string& text = args->Options.at("--short-line");
    const auto read = std::from_chars(text.data(), text.data() + text.size(), options.ShortLineRatio);
    if (text.empty() || read.ec != std::errc() || read.ptr != text.data() + text.size() ||
        !(options.ShortLineRatio >= 0.0 && options.ShortLineRatio <= 1e6))
      return Usage(Err, "--short-line needs a ratio from 0 to 1000000 (0 keeps every line)", "simulate");
  }
  const std::string& file = args->Files[0];
  TInterruptGuard interruptGuard(file);
  const std::string folder = args->ValueOr("--templates", ".");
  if (args->Has("--csv")) {
    std::vector<std::string> inputs = TemplateFiles(folder);
    inputs.push_back(file);
    if (OutputIsAnInput(args->Options.at("--csv"), inputs, Err, "simulate")) return ExitUsage;
  }

  TCanNodes net = DocumentNetwork();
  if (!LoadForCommand(net, file, Err)) return ExitFailure;
  if (!net.FNetworkExists()) {
    Err << kProgram << ": " << InputName(file) << ": the network is empty; there is nothing to simulate\n";
    return ExitFailure;
  }
  // The columns take the node names, numbered as the editor shows them.
  NumberNamesKeepingText(net);
  std::vector<std::string> warnings;
  TNgspiceCircuit circuit;
  try {
    TCircuitSources sources;
    const TextLines lines = CircuitFromTemplates(net, folder, &warnings, &sources);
    options.Sources = sources;
    circuit = TranslateForNgspice(lines, {}, options);
  } catch (const std::exception& error) {
    Err << kProgram << ": " << error.what() << "\n";
    return ExitFailure;
  }
  PrintWarnings(file, warnings, Err);
  for (const auto& note : circuit.Notes) Err << kProgram << ": " << file << ": note: " << note << "\n";
  if (!circuit.Transient) {
    Err << kProgram << ": " << file << ": the circuit has no transient analysis (.TRAN) to write\n";
    return ExitFailure;
  }

  // Progress only where a person watches; a pipe or a log gets the result alone.
  const bool showProgress = &Err == &std::cerr && isatty(STDERR_FILENO) == 1;
  const auto progress = [&](const std::string& Status) {
    Err << "\rsimulating: " << Status << "        " << std::flush;
  };
  const auto cancelled = [] { return interrupted.load(); };
  TSimulationResult result;
  if (!cancelled())
    result = TSpiceEngine::Instance().Run(
        circuit, showProgress ? std::function<void(const std::string&)>(progress) : nullptr, cancelled);
  if (showProgress) Err << "\r" << std::string(40, ' ') << "\r" << std::flush;
  if (result.Cancelled || cancelled()) {
    Err << interruptGuard.Message();
    return ExitInterrupted;
  }
  if (!result.Ok) {
    Err << kProgram << ": " << file << ": the simulation failed:\n" << result.Error << "\n";
    return ExitFailure;
  }
  const std::string csv = WaveformsCsv(result.Transient);
  if (args->ValueOr("--csv", kStandardStream) == kStandardStream) {
    Out << csv;
    return ExitDone;
  }
  const std::string& out = args->Options.at("--csv");
  try {
    writeFileAtomically(out, csv);
  } catch (const std::exception& error) {
    Err << kProgram << ": " << error.what() << "\n";
    return ExitFailure;
  }
  Out << out << ": " << result.Transient.Scale.size() << " time points (of " << result.ComputedPoints
      << " computed) of " << result.Transient.Traces.size() << " node(s), maximum step "
      << TimeText(result.Step.MaxStep) << "\n";
  return ExitDone;
}

}  // namespace busweave::cli
