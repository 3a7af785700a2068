#include <exception>
#include <ostream>

#include "cli/Cli.h"
#include "cli/CliCommon.h"
#include "model/NetworkContainer.h"

namespace busweave::cli {
namespace {

constexpr const char* kNormalizeHelp =
    "Usage: busweave-cli normalize IN OUT\n"
    "\n"
    "Loads the network file IN and saves it as OUT: elements in key order, wires that join\n"
    "the same two points as another wire (or a point with itself) dropped, unused bytes of\n"
    "node names cleared. A damaged IN is refused and OUT is not written.\n";

}  // namespace

int RunNormalize(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  int exit = ExitDone;
  const auto args = ParseArguments("normalize", kNormalizeHelp, {}, Args, Out, Err, exit);
  if (!args) return exit;
  if (args->Files.size() != 2) return Usage(Err, "normalize needs IN and OUT", "normalize");
  const auto& files = args->Files;
  if (OutputIsAnInput(files[1], {files[0]}, Err, "normalize")) return ExitUsage;

  TCanNodes net = DocumentNetwork();
  LoadNetworkArgument(net, files[0]);
  if (net.LastLoadError().Failed()) {
    Err << kProgram << ": " << LoadProblem(InputName(files[0]), net.LastLoadError()) << "; " << files[1]
        << " was not written\n";
    return ExitFailure;
  }
  try {
    // An empty network still has a canonical file: the two list brackets.
    WriteOutput(files[1], net.NetworkFileBytes(), Out);
  } catch (const std::exception& error) {
    Err << kProgram << ": " << error.what() << "\n";
    return ExitFailure;
  }
  if (files[1] == kStandardStream) return ExitDone;
  Out << files[1] << ": " << net.FNumNodes() << " node(s), " << net.FNumLines() << " wire(s)\n";
  return ExitDone;
}

}  // namespace busweave::cli
