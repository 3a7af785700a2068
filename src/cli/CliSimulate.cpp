#include <unistd.h>

#include <exception>
#include <functional>
#include <iostream>

#include "circuit/CircuitFile.h"
#include "cli/Cli.h"
#include "cli/CliCommon.h"
#include "model/NetworkContainer.h"
#include "model/SafeFile.h"
#include "sim/SpiceEngine.h"
#include "sim/SpiceTranslation.h"
#include "sim/StepRule.h"
#include "sim/Waveforms.h"

namespace busweave::cli {
namespace {

constexpr const char* kSimulateHelp =
    "Usage: busweave-cli simulate FILE [--templates DIR] [--csv OUT]\n"
    "\n"
    "Builds the circuit for the network file FILE as the circuit command does (templates\n"
    "Busweave.HD and Busweave.TR from DIR, default the current folder, else the built-in\n"
    "texts), simulates it with the ngspice shared library and writes the transient analysis\n"
    "as CSV to OUT (default: standard output): a header row with \"time\" and the node names,\n"
    "then one row per time point in seconds and volts. The maximum time step follows the\n"
    "shortest line delay and source edge, not the print step of .TRAN. Progress goes to\n"
    "stderr when it is a terminal. A circuit ngspice rejects exits with 1 and its message;\n"
    "OUT is then not written. No file is written besides OUT.\n";

}  // namespace

int RunSimulate(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  int exit = ExitDone;
  const auto args =
      ParseArguments("simulate", kSimulateHelp, {{"--csv", true}, {"--templates", true}}, Args, Out, Err, exit);
  if (!args) return exit;
  if (args->Files.size() != 1) return Usage(Err, "simulate needs exactly one FILE", "simulate");
  const std::string& file = args->Files[0];
  const std::string folder = args->ValueOr("--templates", ".");
  if (args->Has("--csv")) {
    std::vector<std::string> inputs = TemplateFiles(folder);
    inputs.push_back(file);
    if (OutputIsAnInput(args->Options.at("--csv"), inputs, Err, "simulate")) return ExitUsage;
  }

  TCanNodes net = DocumentNetwork();
  if (!LoadForCommand(net, file, Err)) return ExitFailure;
  if (!net.FNetworkExists()) {
    Err << kProgram << ": " << file << ": the network is empty; there is nothing to simulate\n";
    return ExitFailure;
  }
  std::vector<std::string> warnings;
  TNgspiceCircuit circuit;
  try {
    circuit = TranslateForNgspice(CircuitFromTemplates(net, folder, &warnings));
  } catch (const std::exception& error) {
    Err << kProgram << ": " << error.what() << "\n";
    return ExitFailure;
  }
  PrintWarnings(file, warnings, Err);
  if (!circuit.Transient) {
    Err << kProgram << ": " << file << ": the circuit has no transient analysis (.TRAN) to write\n";
    return ExitFailure;
  }

  // Progress only where a person watches; a pipe or a log gets the result alone.
  const bool showProgress = &Err == &std::cerr && isatty(STDERR_FILENO) == 1;
  const auto progress = [&](const std::string& Status) {
    Err << "\rsimulating: " << Status << "        " << std::flush;
  };
  const TSimulationResult result =
      TSpiceEngine::Instance().Run(circuit, showProgress ? std::function<void(const std::string&)>(progress) : nullptr);
  if (showProgress) Err << "\r" << std::string(40, ' ') << "\r" << std::flush;
  if (!result.Ok) {
    Err << kProgram << ": " << file << ": the simulation failed:\n" << result.Error << "\n";
    return ExitFailure;
  }
  const std::string csv = WaveformsCsv(result.Transient);
  if (!args->Has("--csv")) {
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
  Out << out << ": " << result.Transient.Scale.size() << " time points of " << result.Transient.Traces.size()
      << " node(s), maximum step " << TimeText(result.Step.MaxStep) << "\n";
  return ExitDone;
}

}  // namespace busweave::cli
