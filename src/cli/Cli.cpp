#include "cli/Cli.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <iostream>

#include <QGuiApplication>
#include <algorithm>
#include <cctype>

#include "picture/PictureRendering.h"
#include "drawing/FitNetwork.h"
#include "drawing/NetworkDrawing.h"
#include "circuit/CircuitFile.h"
#include "model/NetworkContainer.h"
#include "model/BusCheck.h"
#include "model/NameText.h"
#include "model/SafeFile.h"
#include "sim/Waveforms.h"

namespace busweave::cli {
namespace {

constexpr const char* kProgram = "busweave-cli";

constexpr const char* kToolHelp =
    "Usage: busweave-cli COMMAND [ARGUMENTS]\n"
    "\n"
    "Works on Busweave network files (.bwn) without opening a window.\n"
    "\n"
    "Commands:\n"
    "  info FILE [--json]    print the counters, bounding box and elements of a network\n"
    "  normalize IN OUT      load IN and save it as OUT in canonical form\n"
    "  netlist FILE          print the circuit's network section (CR LF line ends)\n"
    "  check FILE [--bitrate N] [--json]\n"
    "                        check the bus against the rules of a CAN physical layer\n"
    "  circuit FILE [-o OUT] [--templates DIR]\n"
    "                        write the complete circuit file (header, network, trailer)\n"
    "  simulate FILE [--templates DIR] [--csv OUT]\n"
    "                        simulate the circuit with ngspice; node voltages as CSV\n"
    "  picture FILE -o OUT   draw the network as a true-size EMF, WMF, SVG, PDF or PNG picture\n"
    "\n"
    "Run 'busweave-cli COMMAND --help' for the details of one command. After -- every argument\n"
    "is a file, also one whose name begins with '-'. An output is never one of the inputs; a\n"
    "symbolic link as output has its target replaced, a device or FIFO is written directly.\n"
    "Exit codes: 0 done, 1 bad input or I/O failure, 2 usage error.\n";

constexpr const char* kInfoHelp =
    "Usage: busweave-cli info FILE [--json]\n"
    "\n"
    "Loads the network file FILE and prints its node, wire and source counters, the bounding\n"
    "box of its nodes, and every element in the order the network keeps them (nodes, then\n"
    "wires, each by key). With --json the same is printed as one JSON object.\n"
    "A damaged file prints what could be read and exits with 1, naming the problem and the\n"
    "byte offset where it was found.\n";

constexpr const char* kNormalizeHelp =
    "Usage: busweave-cli normalize IN OUT\n"
    "\n"
    "Loads the network file IN and saves it as OUT: elements in key order, wires that join\n"
    "the same two points as another wire (or a point with itself) dropped, unused bytes of\n"
    "node names cleared. A damaged IN is refused and OUT is not written.\n";

constexpr const char* kNetlistHelp =
    "Usage: busweave-cli netlist FILE\n"
    "\n"
    "Prints the network section of the circuit for the network file FILE as the circuit file\n"
    "holds it: one transmission line per wire, one resistor per node, one driver per node with\n"
    "a source, CR LF after every line. Node names in the comments are printed in UTF-8 (the\n"
    "file holds Windows-1252), control characters in them as \\n, \\r, \\t or \\xNN. A wire\n"
    "with an end where no node is gets a comment line instead of its element line, and a\n"
    "warning on stderr.\n";

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

constexpr const char* kCircuitHelp =
    "Usage: busweave-cli circuit FILE [-o OUT] [--templates DIR]\n"
    "\n"
    "Writes the complete circuit file for the network file FILE: the title line, the header,\n"
    "the network section and the trailer, CR LF after every line. OUT defaults to FILE with\n"
    "the extension cir. Header and trailer come from Busweave.HD and Busweave.TR in DIR\n"
    "(default: the current folder) when they exist, else the built-in texts; the first\n"
    "header line is always replaced by the title line. Template files are never written.\n";

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

constexpr const char* kPictureHelp =
    "Usage: busweave-cli picture FILE -o OUT\n"
    "\n"
    "Draws the network file FILE as a picture of its true size: one document unit is 0.2 mm.\n"
    "The document is fitted as the editor fits it on opening: the network moves so that its\n"
    "leftmost and lowest nodes lie 100 units from the left and bottom edges, and the picture\n"
    "keeps 100 units of margin on every side. An empty network gives an empty picture of\n"
    "200 x 200 units (40 x 40 mm). OUT's extension chooses the format: .emf (enhanced\n"
    "metafile, with the creator Busweave-V2 and FILE as its description), .wmf (placeable\n"
    "Windows metafile, at most 8.67 m on a side), .svg, .pdf, or .png (96 pixels per inch).\n"
    "Names and labels use the picture font, Arial 8 points in fuchsia.\n";

// A JSON string literal of an 8-bit name (Windows-1252), in UTF-8.
std::string jsonString(const std::string& Text) {
  std::string out = "\"";
  for (unsigned char c : Text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
          out += buffer;
        } else {
          AppendUtf8(out, CodePointOfNameByte(c));
        }
    }
  }
  return out + "\"";
}

// The shortest text that reads back as the same single-precision value; null when not finite.
std::string jsonFloat(float Value) {
  if (!std::isfinite(Value)) return "null";
  char buffer[32];
  for (int digits = 6; digits <= 9; ++digits) {
    std::snprintf(buffer, sizeof buffer, "%.*g", digits, static_cast<double>(Value));
    if (std::strtof(buffer, nullptr) == Value) break;
  }
  return buffer;
}

std::string jsonPoint(TPoint P) {
  std::string text = "[";  // appended: see PointText
  text += std::to_string(P.X);
  text += ", ";
  text += std::to_string(P.Y);
  text += ']';
  return text;
}

std::string loadProblem(const std::string& File, const TLoadError& Error) {
  if (Error.NotOpened()) return File + ": " + Error.Message;
  return File + ": " + Error.Message + " (at byte " + std::to_string(Error.Offset) + ")";
}

void printText(const TCanNodes& Net, const std::string& File, std::ostream& Out) {
  Out << "file: " << File << "\n";
  Out << "nodes: " << Net.FNumNodes() << ", wires: " << Net.FNumLines() << ", sources: " << Net.FNumSources()
      << "\n";
  if (Net.FMinX() <= Net.FMaxX())
    Out << "bounding box: " << PointText({Net.FMinX(), Net.FMinY()}) << " to "
        << PointText({Net.FMaxX(), Net.FMaxY()}) << "\n";
  else
    Out << "bounding box: none\n";
  for (int i = 0; i < Net.Count(); ++i) {
    Out << Net.Strings(i) << "  ";
    if (const TNode* node = Net.NodeAtIndex(i)) {
      Out << "node at " << PointText(node->FPos) << ", resistance " << node->FResistance << ", name "
          << jsonString(node->FName) << (node->FShowName ? ", name shown" : ", name hidden") << ", source "
          << static_cast<int>(node->FSource) << "\n";
    } else if (const TTrmLine* wire = Net.WireAtIndex(i)) {
      Out << "wire " << PointText(wire->FStart) << " to " << PointText(wire->FEnd) << ", impedance "
          << wire->FImpedance << ", length " << wire->FLength << " mm, angle " << jsonFloat(wire->FAngle)
          << (wire->FShowLength ? ", length shown" : ", length hidden") << "\n";
    }
  }
}

void printJson(const TCanNodes& Net, const std::string& File, std::ostream& Out) {
  Out << "{\n  \"file\": " << jsonString(File) << ",\n";
  Out << "  \"nodes\": " << Net.FNumNodes() << ",\n  \"wires\": " << Net.FNumLines()
      << ",\n  \"sources\": " << Net.FNumSources() << ",\n";
  if (Net.FMinX() <= Net.FMaxX())
    Out << "  \"bbox\": [" << Net.FMinX() << ", " << Net.FMinY() << ", " << Net.FMaxX() << ", " << Net.FMaxY()
        << "],\n";
  else
    Out << "  \"bbox\": null,\n";
  Out << "  \"elements\": [";
  for (int i = 0; i < Net.Count(); ++i) {
    Out << (i == 0 ? "\n" : ",\n") << "    {\"key\": " << jsonString(Net.Strings(i)) << ", ";
    if (const TNode* node = Net.NodeAtIndex(i)) {
      Out << "\"kind\": \"node\", \"x\": " << node->FPos.X << ", \"y\": " << node->FPos.Y
          << ", \"resistance\": " << node->FResistance << ", \"name\": " << jsonString(node->FName)
          << ", \"show_name\": " << (node->FShowName ? "true" : "false")
          << ", \"source\": " << static_cast<int>(node->FSource) << "}";
    } else if (const TTrmLine* wire = Net.WireAtIndex(i)) {
      Out << "\"kind\": \"wire\", \"start\": " << jsonPoint(wire->FStart) << ", \"end\": " << jsonPoint(wire->FEnd)
          << ", \"impedance\": " << wire->FImpedance << ", \"length\": " << wire->FLength
          << ", \"angle\": " << jsonFloat(wire->FAngle)
          << ", \"show_length\": " << (wire->FShowLength ? "true" : "false") << "}";
    }
  }
  Out << (Net.Count() > 0 ? "\n  ]\n}\n" : "]\n}\n");
}

int usage(std::ostream& Err, const std::string& Problem, const std::string& Command = "") {
  Err << kProgram << ": " << Problem << "\n";
  Err << "Run '" << kProgram << (Command.empty() ? "" : " " + Command) << " --help' for usage.\n";
  return ExitUsage;
}

bool wantsHelp(const std::vector<std::string>& Args) {
  for (const auto& arg : Args) {
    if (arg == "--") return false;
    if (arg == "--help" || arg == "-h") return true;
  }
  return false;
}

// A command's arguments: the positional ones and the options it knows, with their values.
struct Arguments {
  std::vector<std::string> Positional;
  std::map<std::string, std::string> Options;

  bool Has(const std::string& Name) const { return Options.count(Name) != 0; }
};

// Parses Args against the options a command knows (true = takes a value); on a problem,
// returns nothing and sets Problem.
std::optional<Arguments> parseArguments(const std::vector<std::string>& Args,
                                        const std::map<std::string, bool>& Known, std::string& Problem) {
  Arguments parsed;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < Args.size(); ++i) {
    const std::string& arg = Args[i];
    // After "--" everything is a file, also a name that begins with '-'.
    if (arg == "--" && !optionsEnded) {
      optionsEnded = true;
      continue;
    }
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      parsed.Positional.push_back(arg);
      continue;
    }
    const auto option = Known.find(arg);
    if (option == Known.end()) {
      Problem = "unknown option " + arg;
      return std::nullopt;
    }
    if (option->second && i + 1 >= Args.size()) {
      Problem = "option " + arg + " needs a value";
      return std::nullopt;
    }
    parsed.Options[arg] = option->second ? Args[++i] : "";
  }
  return parsed;
}

// Refuses an output that is one of the command's input files (also under another name or through
// a link): the input would be lost before it was read in full, or replaced by something else.
bool outputIsAnInput(const std::string& Output, const std::vector<std::string>& Inputs, std::ostream& Err,
                     const std::string& Command) {
  struct stat out {};
  if (::stat(Output.c_str(), &out) != 0 || !S_ISREG(out.st_mode)) return false;
  for (const auto& input : Inputs) {
    struct stat in {};
    if (::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
      usage(Err, "the output " + Output + " is the input file " + input + "; it is not overwritten", Command);
      return true;
    }
  }
  return false;
}

// The template files a circuit is built from, which its output must never replace.
std::vector<std::string> templateFiles(const std::string& Folder) {
  return {(std::filesystem::path(Folder) / HeaderTemplateName).string(),
          (std::filesystem::path(Folder) / TrailerTemplateName).string()};
}

// Loads FILE for a command; on failure prints the reason and returns false.
bool loadForCommand(TCanNodes& Net, const std::string& File, std::ostream& Err) {
  Net.LoadNetwork(File);
  if (!Net.LastLoadError().Failed()) return true;
  Err << kProgram << ": " << loadProblem(File, Net.LastLoadError()) << "\n";
  return false;
}

void printWarnings(const std::string& File, const std::vector<std::string>& Warnings, std::ostream& Err) {
  for (const auto& warning : Warnings) Err << kProgram << ": warning: " << File << ": " << warning << "\n";
}

int runInfo(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  if (wantsHelp(Args)) {
    Out << kInfoHelp;
    return ExitDone;
  }
  std::string problem;
  const auto args = parseArguments(Args, {{"--json", false}}, problem);
  if (!args) return usage(Err, problem, "info");
  if (args->Positional.size() != 1) return usage(Err, "info needs exactly one FILE", "info");
  const std::string& file = args->Positional[0];

  TCanNodes net = DocumentNetwork();
  net.LoadNetwork(file);
  const TLoadError& error = net.LastLoadError();
  if (error.NotOpened()) {
    Err << kProgram << ": " << loadProblem(file, error) << "\n";
    return ExitFailure;
  }
  // A damaged file still shows what could be read before the problem.
  if (args->Has("--json"))
    printJson(net, file, Out);
  else
    printText(net, file, Out);
  if (error.Failed()) {
    Err << kProgram << ": " << loadProblem(file, error) << "\n";
    return ExitFailure;
  }
  return ExitDone;
}

int runNormalize(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  if (wantsHelp(Args)) {
    Out << kNormalizeHelp;
    return ExitDone;
  }
  std::string problem;
  const auto args = parseArguments(Args, {}, problem);
  if (!args) return usage(Err, problem, "normalize");
  if (args->Positional.size() != 2) return usage(Err, "normalize needs IN and OUT", "normalize");
  const auto& files = args->Positional;
  if (outputIsAnInput(files[1], {files[0]}, Err, "normalize")) return ExitUsage;

  TCanNodes net = DocumentNetwork();
  net.LoadNetwork(files[0]);
  if (net.LastLoadError().Failed()) {
    Err << kProgram << ": " << loadProblem(files[0], net.LastLoadError()) << "; " << files[1] << " was not written\n";
    return ExitFailure;
  }
  try {
    // An empty network still has a canonical file: the two list brackets.
    if (!net.SaveNetwork(files[1])) writeFileAtomically(files[1], std::string("\x01\x00", 2));
  } catch (const std::exception& error) {
    Err << kProgram << ": " << error.what() << "\n";
    return ExitFailure;
  }
  Out << files[1] << ": " << net.FNumNodes() << " node(s), " << net.FNumLines() << " wire(s)\n";
  return ExitDone;
}

int runNetlist(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  if (wantsHelp(Args)) {
    Out << kNetlistHelp;
    return ExitDone;
  }
  std::string problem;
  const auto args = parseArguments(Args, {}, problem);
  if (!args) return usage(Err, problem, "netlist");
  if (args->Positional.size() != 1) return usage(Err, "netlist needs exactly one FILE", "netlist");
  const std::string& file = args->Positional[0];

  TCanNodes net = DocumentNetwork();
  if (!loadForCommand(net, file, Err)) return ExitFailure;
  TextLines lines;
  std::vector<std::string> warnings;
  net.WriteNetlist(lines, &warnings);
  // For the terminal: names in UTF-8 (the section already shows their control characters).
  for (const auto& line : lines) Out << NameToPrintable(line) << "\r\n";
  printWarnings(file, warnings, Err);
  return ExitDone;
}

// A number option within a range; false when it is not one.
bool numberOption(const Arguments& Args, const std::string& Name, double Low, double High, double& Value) {
  if (!Args.Has(Name)) return true;
  const std::string& text = Args.Options.at(Name);
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(value >= Low && value <= High)) return false;
  Value = value;
  return true;
}

int runCheck(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  if (wantsHelp(Args)) {
    Out << kCheckHelp;
    return ExitDone;
  }
  std::string problem;
  const auto args = parseArguments(
      Args, {{"--bitrate", true}, {"--max-stations", true}, {"--tolerance", true}, {"--json", false}}, problem);
  if (!args) return usage(Err, problem, "check");
  if (args->Positional.size() != 1) return usage(Err, "check needs exactly one FILE", "check");
  TCheckSettings settings;
  double bitRate = settings.BitRate;
  double stations = settings.MaxStations;
  double tolerance = settings.ImpedanceTolerance * 100;
  if (!numberOption(*args, "--bitrate", 1000, 10000000, bitRate))
    return usage(Err, "--bitrate needs a bit rate from 1000 to 10000000 bit/s", "check");
  if (!numberOption(*args, "--max-stations", 2, 1000, stations))
    return usage(Err, "--max-stations needs a number from 2 to 1000", "check");
  if (!numberOption(*args, "--tolerance", 0, 100, tolerance))
    return usage(Err, "--tolerance needs a percentage from 0 to 100", "check");
  settings.BitRate = static_cast<std::uint32_t>(bitRate);
  settings.MaxStations = static_cast<int>(stations);
  settings.ImpedanceTolerance = tolerance / 100;

  const std::string& file = args->Positional[0];
  // As the editor opens a document: 1500 ohms marks a node without termination.
  TCanNodes net = DocumentNetwork();
  if (!loadForCommand(net, file, Err)) return ExitFailure;
  net.NumberNodeNames();  // findings name nodes as the editor shows them
  const std::vector<TFinding> findings = CheckBus(net, settings);
  int errors = 0;
  for (const auto& finding : findings) errors += finding.Severity == TSeverity::Error ? 1 : 0;

  if (args->Has("--json")) {
    Out << "{\n  \"file\": " << jsonString(file) << ",\n  \"bitrate\": " << settings.BitRate
        << ",\n  \"errors\": " << errors << ",\n  \"findings\": [";
    for (std::size_t i = 0; i < findings.size(); ++i) {
      const TFinding& f = findings[i];
      Out << (i == 0 ? "\n" : ",\n") << "    {\"severity\": \"" << SeverityName(f.Severity) << "\", \"rule\": "
          << jsonString(f.Rule) << ", \"message\": " << jsonString(f.Message) << ", \"nodes\": [";
      for (std::size_t n = 0; n < f.Nodes.size(); ++n) Out << (n ? ", " : "") << jsonPoint(f.Nodes[n]);
      Out << "], \"wires\": [";
      for (std::size_t w = 0; w < f.Wires.size(); ++w) Out << (w ? ", " : "") << jsonString(f.Wires[w]);
      Out << "]}";
    }
    Out << (findings.empty() ? "]\n}\n" : "\n  ]\n}\n");
  } else {
    // Messages quote names: UTF-8 with their control characters shown, never sent raw.
    for (const auto& f : findings) Out << SeverityName(f.Severity) << ": " << NameToPrintable(f.Message) << "\n";
    if (findings.empty()) Out << file << ": no findings\n";
  }
  return errors > 0 ? ExitFailure : ExitDone;
}

// A template from DIR when it exists, else the built-in text.
TextLines templateLines(const std::string& Folder, const char* Name, const TextLines& BuiltIn) {
  const std::string path = (std::filesystem::path(Folder) / Name).string();
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return BuiltIn;
  return SplitLines(ReadTemplate(path));
}

int runCircuit(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  if (wantsHelp(Args)) {
    Out << kCircuitHelp;
    return ExitDone;
  }
  std::string problem;
  const auto args = parseArguments(Args, {{"-o", true}, {"--templates", true}}, problem);
  if (!args) return usage(Err, problem, "circuit");
  if (args->Positional.size() != 1) return usage(Err, "circuit needs exactly one FILE", "circuit");
  const std::string& file = args->Positional[0];
  const std::string out = args->Has("-o") ? args->Options.at("-o") : ProposedCircuitName(file);
  const std::string folder = args->Has("--templates") ? args->Options.at("--templates") : ".";
  std::vector<std::string> inputs = templateFiles(folder);
  inputs.push_back(file);
  if (outputIsAnInput(out, inputs, Err, "circuit")) return ExitUsage;

  TCanNodes net = DocumentNetwork();
  if (!loadForCommand(net, file, Err)) return ExitFailure;
  if (!net.FNetworkExists()) {
    Err << kProgram << ": " << file << ": the network is empty; there is no circuit to write\n";
    return ExitFailure;
  }
  std::vector<std::string> warnings;
  try {
    TextLines header = templateLines(folder, HeaderTemplateName, BuiltInHeader());
    if (header.empty())
      header.push_back(TitleLine());
    else
      header.front() = TitleLine();
    const TextLines trailer = templateLines(folder, TrailerTemplateName, BuiltInTrailer());
    WriteTextFile(out, CircuitLines(header, net, trailer, &warnings));
  } catch (const std::exception& error) {
    Err << kProgram << ": " << error.what() << "\n";
    return ExitFailure;
  }
  printWarnings(file, warnings, Err);
  Out << out << ": circuit written\n";
  return ExitDone;
}

int runSimulate(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  if (wantsHelp(Args)) {
    Out << kSimulateHelp;
    return ExitDone;
  }
  std::string problem;
  const auto args = parseArguments(Args, {{"--csv", true}, {"--templates", true}}, problem);
  if (!args) return usage(Err, problem, "simulate");
  if (args->Positional.size() != 1) return usage(Err, "simulate needs exactly one FILE", "simulate");
  const std::string& file = args->Positional[0];
  const std::string folder = args->Has("--templates") ? args->Options.at("--templates") : ".";
  if (args->Has("--csv")) {
    std::vector<std::string> inputs = templateFiles(folder);
    inputs.push_back(file);
    if (outputIsAnInput(args->Options.at("--csv"), inputs, Err, "simulate")) return ExitUsage;
  }

  TCanNodes net = DocumentNetwork();
  if (!loadForCommand(net, file, Err)) return ExitFailure;
  if (!net.FNetworkExists()) {
    Err << kProgram << ": " << file << ": the network is empty; there is nothing to simulate\n";
    return ExitFailure;
  }
  std::vector<std::string> warnings;
  TNgspiceCircuit circuit;
  try {
    circuit = TranslateForNgspice(SimulationCircuit(net, folder, &warnings));
  } catch (const std::exception& error) {
    Err << kProgram << ": " << error.what() << "\n";
    return ExitFailure;
  }
  printWarnings(file, warnings, Err);
  if (!circuit.Transient) {
    Err << kProgram << ": " << file << ": the circuit has no transient analysis (.TRAN) to write\n";
    return ExitFailure;
  }

  // Progress only where a person watches; a pipe or a log gets the result alone.
  const bool showProgress = &Err == &std::cerr && isatty(STDERR_FILENO) == 1;
  const auto progress = [&](const std::string& Status) { Err << "\rsimulating: " << Status << "        " << std::flush; };
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

// QPainter needs a graphical application object for its fonts; a command-line run has none,
// so one is made on the offscreen platform and kept for the rest of the process.
bool ensureGuiApplication() {
  if (QCoreApplication::instance()) return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
  static int argc = 3;
  static char name[] = "busweave-cli";
  static char platformOption[] = "-platform";
  static char platform[] = "offscreen";
  static char* argv[] = {name, platformOption, platform, nullptr};
  new QGuiApplication(argc, argv);
  return true;
}

int runPicture(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  if (wantsHelp(Args)) {
    Out << kPictureHelp;
    return ExitDone;
  }
  std::string problem;
  const auto args = parseArguments(Args, {{"-o", true}}, problem);
  if (!args) return usage(Err, problem, "picture");
  if (args->Positional.size() != 1) return usage(Err, "picture needs exactly one FILE", "picture");
  if (!args->Has("-o")) return usage(Err, "picture needs -o OUT", "picture");
  const std::string& file = args->Positional[0];
  const std::string& out = args->Options.at("-o");
  const auto format = PictureFormatOf(out);
  if (!format) return usage(Err, "OUT must end in .emf, .wmf, .svg, .pdf or .png", "picture");
  if (outputIsAnInput(out, {file}, Err, "picture")) return ExitUsage;

  TCanNodes net = DocumentNetwork();
  if (!loadForCommand(net, file, Err)) return ExitFailure;
  // Refused before anything moves: coordinates that cannot be fitted would fold the picture.
  const TPoint grid{100, 100};
  const std::string unfit = FitProblem(PlanFit(net, grid, {200, 200}));
  if (!unfit.empty()) {
    Err << kProgram << ": " << file << ": " << unfit << "; there is no picture to draw\n";
    return ExitFailure;
  }
  TPictureSource source;
  source.DocSize = FitNetwork(net, grid, {200, 200});
  source.DocPath = file;
  TPlotSettings settings;
  settings.ExportFont = {"Arial", 8, clFuchsia};
  source.Font = settings.ExportFont;
  source.PlotIt = [&net, settings](Canvas& C, TPlotTarget Target, bool MakeFont, TPoint Scale) {
    PlotNetwork(C, net, settings, Target, MakeFont, Scale);
  };
  // Text is measured with the installed fonts, as in the editor's pictures.
  if (!ensureGuiApplication()) {
    Err << kProgram << ": " << out << ": pictures need a graphical application object\n";
    return ExitFailure;
  }
  std::string bytes;
  try {
    bytes = RenderPicture(source, *format, *format == TPictureFormat::Wmf ? ptFileWMF : ptFileEMF);
  } catch (const std::exception& error) {
    Err << kProgram << ": " << out << ": " << error.what() << "\n";
    return ExitFailure;
  }
  try {
    writeFileAtomically(out, bytes);
  } catch (const std::exception& error) {
    Err << kProgram << ": " << error.what() << "\n";
    return ExitFailure;
  }
  const TPoint size = PictureSize(source);
  char text[64];
  std::snprintf(text, sizeof text, "%.1f x %.1f mm", size.X / 100.0, size.Y / 100.0);
  Out << out << ": picture written, " << text << "\n";
  return ExitDone;
}

// Runs the command Args names.
int dispatch(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  if (Args.empty()) return usage(Err, "no command given");
  const std::string& command = Args[0];
  if (command == "--help" || command == "-h" || command == "help") {
    Out << kToolHelp;
    return ExitDone;
  }
  const std::map<std::string, std::function<int(const std::vector<std::string>&, std::ostream&, std::ostream&)>>
      commands = {{"info", runInfo},   {"normalize", runNormalize}, {"netlist", runNetlist},
                  {"check", runCheck}, {"circuit", runCircuit},     {"picture", runPicture},
                  {"simulate", runSimulate}};
  const auto found = commands.find(command);
  if (found == commands.end()) return usage(Err, "unknown command '" + command + "'");
  return found->second(std::vector<std::string>(Args.begin() + 1, Args.end()), Out, Err);
}

}  // namespace

TFdOutputBuffer::TFdOutputBuffer(int Fd, std::string Name) : FFd(Fd), FName(std::move(Name)), FBuffer(1 << 16) {
  setp(FBuffer.data(), FBuffer.data() + FBuffer.size());
}

TFdOutputBuffer::~TFdOutputBuffer() { (void)drain(); }

bool TFdOutputBuffer::drain() {
  const char* at = pbase();
  while (at < pptr()) {
    const ssize_t n = ::write(FFd, at, static_cast<std::size_t>(pptr() - at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (FError == 0) FError = n < 0 ? errno : EIO;
      break;
    }
    at += n;
  }
  // What could not be written is dropped; the error stays.
  setp(FBuffer.data(), FBuffer.data() + FBuffer.size());
  return FError == 0;
}

TFdOutputBuffer::int_type TFdOutputBuffer::overflow(int_type C) {
  if (!drain()) return traits_type::eof();
  if (!traits_type::eq_int_type(C, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(C);
    pbump(1);
  }
  return traits_type::not_eof(C);
}

int TFdOutputBuffer::sync() { return drain() ? 0 : -1; }

int RunCli(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  const int code = dispatch(Args, Out, Err);
  // Output that did not reach its file is a failure, whatever the command made of it.
  Out.flush();
  if (!Out.fail()) return code;
  const auto* buffer = dynamic_cast<const TFdOutputBuffer*>(Out.rdbuf());
  Err << kProgram << ": Stream write error in " << (buffer ? buffer->Name() : std::string("the output")) << ": "
      << (buffer && buffer->Error() != 0 ? std::strerror(buffer->Error()) : "the output stream failed") << "\n";
  return code == ExitDone ? ExitFailure : code;
}

}  // namespace busweave::cli
