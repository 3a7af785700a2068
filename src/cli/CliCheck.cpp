#include <cstdint>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <string_view>

#include "cli/AnalysisOptions.h"
#include "cli/Cli.h"
#include "cli/CliCommon.h"
#include "model/BusCheck.h"
#include "model/NameText.h"
#include "model/NetworkContainer.h"

namespace busweave::cli {
namespace {

constexpr const char* kCheckHelp =
    "Usage: busweave-cli check FILE [--bitrate N] [--max-stations N] [--termination LOW..HIGH]\n"
    "                          [--cable LOW..HIGH] [--tolerance PERCENT] [--json]\n"
    "\n"
    "Checks the network file FILE against the rules of a high-speed CAN bus: one connected\n"
    "line without loops; a node of LOW..HIGH ohms (--termination, default 100..130) is a\n"
    "termination, below the range or up to 300 ohms one of the wrong value, 1500 ohms none, and\n"
    "above 300 ohms a station's input; exactly two terminations, and the trunk between them\n"
    "within the length for the bit rate (default 500000 bit/s: 100 m); whatever hangs off the\n"
    "trunk is a stub, each within the stub length (0.6 m at 500 kbit/s), also beyond a\n"
    "termination; every wire with a length and an impedance within LOW..HIGH ohms (--cable,\n"
    "default 95..140); each termination within PERCENT (--tolerance, default 30) of the line it\n"
    "ends; 2 to N stations with a driver (--max-stations, default 32), each on a wire.\n"
    "Prints one finding a line (or a JSON object with --json). Exit code 0 when there is no\n"
    "error (warnings allowed), 1 when there are errors or the file cannot be read, 2 on usage\n"
    "errors.\n";

// A range of ohms written LOW..HIGH; false when it is not one.
bool ohmsOption(const TArguments& Args, const std::string& Name, std::uint16_t& Low, std::uint16_t& High) {
  if (!Args.Has(Name)) return true;
  const std::string& text = Args.Options.at(Name);
  const auto dots = text.find("..");
  if (dots == std::string::npos) return false;
  const auto low = WholeNumber(std::string_view(text).substr(0, dots), 1, 65535);
  const auto high = WholeNumber(std::string_view(text).substr(dots + 2), 1, 65535);
  if (!low || !high || *low > *high) return false;
  Low = static_cast<std::uint16_t>(*low);
  High = static_cast<std::uint16_t>(*high);
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
  const auto args = ParseArguments("check", kCheckHelp,
                                   {{"--bitrate", true},
                                    {"--max-stations", true},
                                    {"--termination", true},
                                    {"--cable", true},
                                    {"--tolerance", true},
                                    {"--json", false}},
                                   Args, Out, Err, exit);
  if (!args) return exit;
  if (args->Files.size() != 1) return Usage(Err, "check needs exactly one FILE", "check");
  TCheckSettings settings;
  std::uint32_t stations = static_cast<std::uint32_t>(settings.MaxStations);
  if (args->Has("--bitrate")) {
    // Rates as analyze and advise take them: 250000, 250k, 1M.
    const auto rate = RateOf(args->Options.at("--bitrate"));
    if (!rate || *rate > 10000000)
      return Usage(Err, "--bitrate needs a whole number of bit/s from 1000 to 10000000 (250k and 1M too)", "check");
    settings.BitRate = static_cast<std::uint32_t>(*rate);
  }
  if (!WholeOption(*args, "--max-stations", 2, 1000, stations))
    return Usage(Err, "--max-stations needs a whole number from 2 to 1000", "check");
  if (!ohmsOption(*args, "--termination", settings.TerminationMin, settings.TerminationMax))
    return Usage(Err, "--termination needs a range of ohms LOW..HIGH, whole numbers from 1 to 65535", "check");
  if (!ohmsOption(*args, "--cable", settings.CableMin, settings.CableMax))
    return Usage(Err, "--cable needs a range of ohms LOW..HIGH, whole numbers from 1 to 65535", "check");
  if (!NumberOption(*args, "--tolerance", 0, 100, settings.TerminationTolerancePercent))
    return Usage(Err, "--tolerance needs a percentage from 0 to 100", "check");
  settings.MaxStations = static_cast<int>(stations);

  const std::string& file = args->Files[0];
  // As the editor opens a document: 1500 ohms marks a node without termination.
  TCanNodes net = DocumentNetwork();
  if (!LoadForCommand(net, file, Err)) return ExitFailure;
  NumberNamesKeepingText(net);  // findings name nodes as the editor shows them
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
