#include "cli/Cli.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <ostream>

#include "model/Canlines.h"
#include "model/SafeFile.h"

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
    "\n"
    "Run 'busweave-cli COMMAND --help' for the details of one command.\n"
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

// Maps one Windows-1252 byte to its Unicode code point.
char32_t fromWindows1252(unsigned char Byte) {
  static constexpr char32_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  if (Byte >= 0x80 && Byte < 0xA0) return kHigh[Byte - 0x80];
  return Byte;
}

void appendUtf8(std::string& Out, char32_t C) {
  if (C < 0x80) {
    Out += static_cast<char>(C);
  } else if (C < 0x800) {
    Out += static_cast<char>(0xC0 | (C >> 6));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  } else {
    Out += static_cast<char>(0xE0 | (C >> 12));
    Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  }
}

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
          appendUtf8(out, fromWindows1252(c));
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

std::string pointText(TPoint P) { return "(" + std::to_string(P.X) + ", " + std::to_string(P.Y) + ")"; }

std::string jsonPoint(TPoint P) { return "[" + std::to_string(P.X) + ", " + std::to_string(P.Y) + "]"; }

std::string loadProblem(const std::string& File, const TLoadError& Error) {
  if (Error.Message == "file not found") return File + ": file not found";
  return File + ": " + Error.Message + " (at byte " + std::to_string(Error.Offset) + ")";
}

void printText(const TCanNodes& Net, const std::string& File, std::ostream& Out) {
  Out << "file: " << File << "\n";
  Out << "nodes: " << Net.FNumNodes() << ", wires: " << Net.FNumLines() << ", sources: " << Net.FNumSources()
      << "\n";
  if (Net.FMinX() <= Net.FMaxX())
    Out << "bounding box: " << pointText({Net.FMinX(), Net.FMinY()}) << " to "
        << pointText({Net.FMaxX(), Net.FMaxY()}) << "\n";
  else
    Out << "bounding box: none\n";
  for (int i = 0; i < Net.Count(); ++i) {
    Out << Net.Strings(i) << "  ";
    if (const TNode* node = Net.NodeAtIndex(i)) {
      Out << "node at " << pointText(node->FPos) << ", resistance " << node->FResistance << ", name "
          << jsonString(node->FName) << (node->FShowName ? ", name shown" : ", name hidden") << ", source "
          << static_cast<int>(node->FSource) << "\n";
    } else if (const TTrmLine* wire = Net.WireAtIndex(i)) {
      Out << "wire " << pointText(wire->FStart) << " to " << pointText(wire->FEnd) << ", impedance "
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
  for (const auto& arg : Args)
    if (arg == "--help" || arg == "-h") return true;
  return false;
}

// Splits a command's arguments into positional ones and the flags it knows; false on an unknown option.
bool splitArguments(const std::vector<std::string>& Args, const std::vector<std::string>& KnownFlags,
                    std::vector<std::string>& Positional, std::map<std::string, bool>& Flags, std::string& Unknown) {
  for (const auto& arg : Args) {
    if (arg.size() > 1 && arg[0] == '-') {
      bool known = false;
      for (const auto& flag : KnownFlags) known = known || arg == flag;
      if (!known) {
        Unknown = arg;
        return false;
      }
      Flags[arg] = true;
    } else {
      Positional.push_back(arg);
    }
  }
  return true;
}

int runInfo(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  if (wantsHelp(Args)) {
    Out << kInfoHelp;
    return ExitDone;
  }
  std::vector<std::string> files;
  std::map<std::string, bool> flags;
  std::string unknown;
  if (!splitArguments(Args, {"--json"}, files, flags, unknown)) return usage(Err, "unknown option " + unknown, "info");
  if (files.size() != 1) return usage(Err, "info needs exactly one FILE", "info");

  TCanNodes net;
  net.LoadNetwork(files[0]);
  const TLoadError& error = net.LastLoadError();
  if (error.Message == "file not found") {
    Err << kProgram << ": " << loadProblem(files[0], error) << "\n";
    return ExitFailure;
  }
  if (flags["--json"])
    printJson(net, files[0], Out);
  else
    printText(net, files[0], Out);
  if (error.Failed()) {
    Err << kProgram << ": " << loadProblem(files[0], error) << "\n";
    return ExitFailure;
  }
  return ExitDone;
}

int runNormalize(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  if (wantsHelp(Args)) {
    Out << kNormalizeHelp;
    return ExitDone;
  }
  std::vector<std::string> files;
  std::map<std::string, bool> flags;
  std::string unknown;
  if (!splitArguments(Args, {}, files, flags, unknown)) return usage(Err, "unknown option " + unknown, "normalize");
  if (files.size() != 2) return usage(Err, "normalize needs IN and OUT", "normalize");

  TCanNodes net;
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
  Out << files[1] << ": " << net.FNumNodes() << " nodes, " << net.FNumLines() << " wires\n";
  return ExitDone;
}

}  // namespace

int RunCli(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  if (Args.empty()) return usage(Err, "no command given");
  const std::string& command = Args[0];
  if (command == "--help" || command == "-h" || command == "help") {
    Out << kToolHelp;
    return ExitDone;
  }
  const std::map<std::string, std::function<int(const std::vector<std::string>&, std::ostream&, std::ostream&)>>
      commands = {{"info", runInfo}, {"normalize", runNormalize}};
  const auto found = commands.find(command);
  if (found == commands.end()) return usage(Err, "unknown command '" + command + "'");
  return found->second(std::vector<std::string>(Args.begin() + 1, Args.end()), Out, Err);
}

}  // namespace busweave::cli
