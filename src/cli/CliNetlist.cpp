#include <ostream>

#include "circuit/CircuitFile.h"
#include "cli/Cli.h"
#include "cli/CliCommon.h"
#include "model/NetworkContainer.h"

namespace busweave::cli {
namespace {

constexpr const char* kNetlistHelp =
    "Usage: busweave-cli netlist FILE\n"
    "\n"
    "Prints the network section of the circuit for the network file FILE, exactly as the\n"
    "circuit file holds it: one transmission line per wire, one resistor per node, one driver\n"
    "per node with a source, CR LF after every line. A wire with an end where no node is gets\n"
    "a comment line instead of its element line, and a warning on stderr.\n";

}  // namespace

int RunNetlist(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  int exit = ExitDone;
  const auto args = ParseArguments("netlist", kNetlistHelp, {}, Args, Out, Err, exit);
  if (!args) return exit;
  if (args->Files.size() != 1) return Usage(Err, "netlist needs exactly one FILE", "netlist");
  const std::string& file = args->Files[0];

  TCanNodes net = DocumentNetwork();
  if (!LoadForCommand(net, file, Err)) return ExitFailure;
  TextLines lines;
  std::vector<std::string> warnings;
  net.WriteNetlist(lines, &warnings);
  Out << JoinLines(lines);
  PrintWarnings(file, warnings, Err);
  return ExitDone;
}

}  // namespace busweave::cli
