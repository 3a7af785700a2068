#include <ostream>

#include "circuit/CircuitFile.h"
#include "cli/Cli.h"
#include "cli/CliCommon.h"
#include "model/NameText.h"
#include "model/NetworkContainer.h"

namespace busweave::cli {
namespace {

constexpr const char* kNetlistHelp =
    "Usage: busweave-cli netlist FILE\n"
    "\n"
    "Prints the network section of the circuit for the network file FILE as the circuit file\n"
    "holds it: one transmission line per wire, one resistor per node, one driver per node with\n"
    "a source, CR LF after every line. Node names in the comments are printed in UTF-8 (the\n"
    "file holds Windows-1252), control characters in them as \\n, \\r, \\t or \\xNN. A wire\n"
    "with an end where no node is gets a comment line instead of its element line, and a\n"
    "warning on stderr.\n";

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
  // For the terminal: names in UTF-8 (the section already shows their control characters).
  for (const auto& line : lines) Out << NameToPrintable(line) << "\r\n";
  PrintWarnings(file, warnings, Err);
  return ExitDone;
}

}  // namespace busweave::cli
