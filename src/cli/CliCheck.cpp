#include <cstdint>
#include <cstdlib>
#include <ostream>

#include "cli/Cli.h"
#include "cli/CliCommon.h"
#include "model/BusCheck.h"
#include "model/NameText.h"
#include "model/NetworkContainer.h"

namespace busweave::cli {
namespace {

constexpr const char* kCheckHelp =
    "Usage: busweave-cli check FILE [--bitrate N] [--max-stations N] [--tolerance PERCENT] [--json]\n"
    "\n"
    "Checks the network file FILE against the rules of a high-speed CAN bus: one connected\n"
    "line; exactly two terminations of 100 to 130 ohms at its two ends; every wire with a\n"
    "length; the bus length and the stubs within the limits of the bit rate (default 500000\n"
    "bit/s: 100 m, stubs 0.6 m); line impedances within the tolerance (default 10 %) of the\n"
    "terminations; 2 to N stations with a driver (default 32), each on a wire.\n"
    "Prints one finding a line (or a JSON object with --json). Exit code 0 when there is no\n"
    "error (warnings allowed), 1 when there are errors or the file cannot be read, 2 on usage\n"
    "errors.\n";

// A number option within a range; false when it is not one.
bool numberOption(const TArguments& Args, const std::string& Name, double Low, double High, double& Value) {
  if (!Args.Has(Name)) return true;
  const std::string& text = Args.Options.at(Name);
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(value >= Low && value <= High)) return false;
  Value = value;
  return true;
}

void printJson(const std::string& File, const TCheckSettings& Settings, int Errors,
               const std::vector<TFinding>& Findings, std::ostream& Out) {
  TJson findings = TJson::array();
  for (const TFinding& f : Findings) {
    TJson nodes = TJson::array();
    for (const TPoint& node : f.Nodes) nodes.push_back(JsonPoint(node));
    TJson wires = TJson::array();
    for (const std::string& wire : f.Wires) wires.push_back(JsonName(wire));
    findings.push_back({{"severity", SeverityName(f.Severity)},
                        {"rule", JsonName(f.Rule)},
                        {"message", JsonName(f.Message)},
                        {"nodes", nodes},
                        {"wires", wires}});
  }
  WriteJson(Out, {{"file", File}, {"bitrate", Settings.BitRate}, {"errors", Errors}, {"findings", findings}});
}

}  // namespace

int RunCheck(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  int exit = ExitDone;
  const auto args = ParseArguments(
      "check", kCheckHelp, {{"--bitrate", true}, {"--max-stations", true}, {"--tolerance", true}, {"--json", false}},
      Args, Out, Err, exit);
  if (!args) return exit;
  if (args->Files.size() != 1) return Usage(Err, "check needs exactly one FILE", "check");
  TCheckSettings settings;
  double bitRate = settings.BitRate;
  double stations = settings.MaxStations;
  double tolerance = settings.ImpedanceTolerance * 100;
  if (!numberOption(*args, "--bitrate", 1000, 10000000, bitRate))
    return Usage(Err, "--bitrate needs a bit rate from 1000 to 10000000 bit/s", "check");
  if (!numberOption(*args, "--max-stations", 2, 1000, stations))
    return Usage(Err, "--max-stations needs a number from 2 to 1000", "check");
  if (!numberOption(*args, "--tolerance", 0, 100, tolerance))
    return Usage(Err, "--tolerance needs a percentage from 0 to 100", "check");
  settings.BitRate = static_cast<std::uint32_t>(bitRate);
  settings.MaxStations = static_cast<int>(stations);
  settings.ImpedanceTolerance = tolerance / 100;

  const std::string& file = args->Files[0];
  // As the editor opens a document: 1500 ohms marks a node without termination.
  TCanNodes net = DocumentNetwork();
  if (!LoadForCommand(net, file, Err)) return ExitFailure;
  net.NumberNodeNames();  // findings name nodes as the editor shows them
  const std::vector<TFinding> findings = CheckBus(net, settings);
  int errors = 0;
  for (const auto& finding : findings) errors += finding.Severity == TSeverity::Error ? 1 : 0;

  if (args->Has("--json")) {
    printJson(file, settings, errors, findings, Out);
  } else {
    // Messages quote names: UTF-8 with their control characters shown, never sent raw.
    for (const auto& f : findings) Out << SeverityName(f.Severity) << ": " << NameToPrintable(f.Message) << "\n";
    if (findings.empty()) Out << file << ": no findings\n";
  }
  return errors > 0 ? ExitFailure : ExitDone;
}

}  // namespace busweave::cli
