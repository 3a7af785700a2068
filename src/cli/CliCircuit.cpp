#include <exception>
#include <ostream>

#include "base/FileErrors.h"
#include "base/PathText.h"
#include "circuit/CircuitFile.h"
#include "cli/Cli.h"
#include "cli/CliCommon.h"
#include "model/NetworkContainer.h"

namespace busweave::cli {
namespace {

constexpr const char* kCircuitHelp =
    "Usage: busweave-cli circuit FILE [-o OUT] [--templates DIR]\n"
    "\n"
    "Writes the complete circuit file for the network file FILE: the title line, the header,\n"
    "the network section and the trailer, CR LF after every line. OUT defaults to FILE with\n"
    "the extension cir (standard output when FILE is '-'). Header and trailer come from Busweave.HD and Busweave.TR in "
    "DIR\n"
    "(default: the current folder) when they exist, else the built-in texts; the first\n"
    "header line is always replaced by the title line. Template files are never written.\n";

}  // namespace

int RunCircuit(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  int exit = ExitDone;
  const auto args =
      ParseArguments("circuit", kCircuitHelp, {{"-o", true}, {"--templates", true}}, Args, Out, Err, exit);
  if (!args) return exit;
  if (args->Files.size() != 1) return Usage(Err, "circuit needs exactly one FILE", "circuit");
  const std::string& file = args->Files[0];
  // Read from standard input, the circuit goes to standard output unless -o names a file.
  const std::string out = args->ValueOr("-o", file == kStandardStream ? file : ProposedCircuitName(file));
  const std::string folder = args->ValueOr("--templates", ".");
  std::vector<std::string> inputs = TemplateFiles(folder);
  inputs.push_back(file);
  if (OutputIsAnInput(out, inputs, Err, "circuit")) return ExitUsage;

  TCanNodes net = DocumentNetwork();
  if (!LoadForCommand(net, file, Err)) return ExitFailure;
  if (!net.FNetworkExists()) {
    Err << kProgram << ": " << InputName(file) << ": the network is empty; there is no circuit to write\n";
    return ExitFailure;
  }
  std::vector<std::string> warnings;
  try {
    WriteOutput(out, JoinLines(CircuitFromTemplates(net, folder, &warnings)), Out);
  } catch (const EFCreateError& error) {
    // Beside an installed example, say, where nothing may be written: the user chooses the place.
    Err << kProgram << ": " << error.what()
        << (args->Has("-o") ? "" : "; write the circuit elsewhere with -o OUT, for example -o " + FileNameOf(out))
        << "\n";
    return ExitFailure;
  } catch (const std::exception& error) {
    Err << kProgram << ": " << error.what() << "\n";
    return ExitFailure;
  }
  PrintWarnings(InputName(file), warnings, Err);
  if (out != kStandardStream) Out << out << ": circuit written\n";
  return ExitDone;
}

}  // namespace busweave::cli
