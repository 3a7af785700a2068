#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <ostream>
#include <string_view>

#include "base/FileErrors.h"
#include "base/NearestWord.h"
#include "base/SafeFile.h"
#include "circuit/CircuitFile.h"
#include "cli/Cli.h"
#include "cli/CliCommon.h"
#include "model/NameText.h"
#include "model/NetworkContainer.h"

namespace busweave::cli {
namespace {

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
    "  simulate FILE [--templates DIR] [--csv OUT] [--short-line RATIO]\n"
    "                        simulate the circuit with ngspice; node voltages as CSV\n"
    "  picture FILE -o OUT [--format FORMAT]\n"
    "                        draw the network as a true-size EMF, WMF, SVG, PDF or PNG picture\n"
    "  analyze FILE [--templates DIR] [--json] [--jobs N] [--report OUT.html] [--shard I/N]\n"
    "                        the bit rates at which the bus works, from simulations\n"
    "  analyze-merge PART... [--json] [--report OUT.html]\n"
    "                        join the parts of an analysis made with --shard\n"
    "  advise FILE [--data-rate N] [--arbitration-rate N] [--json] [--report OUT.html]\n"
    "                        the smallest changes that make the bus work at those rates\n"
    "  advise-merge PART... [--json] [--report OUT.html]\n"
    "                        join the parts of a search made with advise --shard\n"
    "  apply FILE ADVICE.json [--rank N] -o OUT\n"
    "                        write FILE with the edits of a change advise --json listed\n"
    "  transceivers [NAME]   list the transceiver classes, or print one with its sources\n"
    "\n"
    "Run 'busweave-cli COMMAND --help' for the details of one command, 'busweave-cli --version'\n"
    "for the version. After -- every argument is a file, also one whose name begins with '-'.\n"
    "A FILE, PART or ADVICE.json of '-' is standard input (once), an OUT of '-' standard output;\n"
    "a report there takes the table's place, a picture there needs --format. An output is\n"
    "never one of the inputs; a symbolic link as output has its target replaced, a device or\n"
    "FIFO is written directly.\n"
    "Exit codes: 0 done, 1 bad input or I/O failure, 2 usage error.\n";

// Arguments travel through Qt as Latin-1, which keeps every byte of a file name as it is,
// whatever the locale's encoding makes of it.
QString latin1(const std::string& Text) {
  return QString::fromLatin1(Text.data(), static_cast<qsizetype>(Text.size()));
}
std::string bytes(const QString& Text) { return Text.toLatin1().toStdString(); }

// The name QCommandLineParser gives an option as written: without its dashes and any "=value".
std::string optionName(const std::string& Written) {
  const std::size_t dashes = Written.rfind("--", 0) == 0 ? 2 : 1;
  return Written.substr(dashes, Written.find('=') - dashes);
}

// Our words for what the parser refused: the first option (before "--") it does not know or
// that is a switch given a value, as written; else the option at the end that has no value.
std::string refusal(const QCommandLineParser& Parser, const std::vector<TOption>& Known,
                    const std::vector<std::string>& Args) {
  const QStringList unknown = Parser.unknownOptionNames();
  for (const std::string& arg : Args) {
    if (arg == "--") break;
    if (arg.size() < 2 || arg[0] != '-') continue;
    const std::string name = optionName(arg);
    bool switchWithValue = false;
    for (const TOption& option : Known)
      switchWithValue |=
          !option.TakesValue && optionName(option.Spelling) == name && arg.find('=') != std::string::npos;
    if (switchWithValue || unknown.contains(latin1(name))) {
      std::vector<std::string> spellings{"--help"};
      for (const TOption& option : Known) spellings.push_back(option.Spelling);
      const auto meant = switchWithValue ? std::nullopt : NearestWord(arg.substr(0, arg.find('=')), spellings);
      return "unknown option " + arg + (meant ? ". Did you mean " + *meant + "?" : "");
    }
  }
  return "option " + Args.back() + " needs a value";
}

using TCommand = int (*)(const std::vector<std::string>&, std::ostream&, std::ostream&);

// Runs the command Args names.
int dispatch(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  if (Args.empty()) return Usage(Err, "no command given");
  const std::string& command = Args[0];
  if (command == "--help" || command == "-h" || command == "help") {
    Out << kToolHelp;
    return ExitDone;
  }
  if (command == "--version") {
    Out << kProgram << " " << BUSWEAVE_VERSION << "\n";
    return ExitDone;
  }
  static const std::map<std::string, TCommand> commands = {{"info", RunInfo},
                                                           {"normalize", RunNormalize},
                                                           {"netlist", RunNetlist},
                                                           {"check", RunCheck},
                                                           {"circuit", RunCircuit},
                                                           {"picture", RunPicture},
                                                           {"simulate", RunSimulate},
                                                           {"analyze", RunAnalyze},
                                                           {"analyze-merge", RunAnalyzeMerge},
                                                           {"advise", RunAdvise},
                                                           {"advise-merge", RunAdviseMerge},
                                                           {"apply", RunApply},
                                                           {"transceivers", RunTransceivers},
                                                           {"analyze-worker", RunAnalyzeWorker}};
  const auto found = commands.find(command);
  if (found == commands.end()) {
    // The worker is the program's own; no one means it.
    std::vector<std::string> names =
        command.starts_with('-') ? std::vector<std::string>{"--help", "--version"} : std::vector<std::string>{"help"};
    for (const auto& [name, run] : commands)
      if (name != "analyze-worker") names.push_back(name);
    const auto meant = NearestWord(command, names);
    return Usage(Err, "unknown command '" + command + "'" + (meant ? ". Did you mean '" + *meant + "'?" : ""));
  }
  return found->second(std::vector<std::string>(Args.begin() + 1, Args.end()), Out, Err);
}

// The fewest significant digits, six at least as printf's %g writes them, that read back as the
// same float. Locale-free: a decimal comma would break the JSON.
std::string floatText(float Value) {
  char buffer[32];
  std::to_chars_result written{};
  for (int digits = 6; digits <= 9; ++digits) {
    written = std::to_chars(buffer, buffer + sizeof buffer, Value, std::chars_format::general, digits);
    float back = 0;
    std::from_chars(buffer, written.ptr, back);
    if (back == Value) break;
  }
  return std::string(buffer, written.ptr);
}

// A JSON string literal. The library writes backspace and form feed as \b and \f; our output
// has always written \u0008 and \u000c, so readers that compare the text see the same bytes.
// A file name that is not UTF-8 shows U+FFFD for its stray bytes.
std::string stringText(const std::string& Text) {
  const std::string escaped = TJson(Text).dump(-1, ' ', false, nlohmann::detail::error_handler_t::replace);
  std::string out;
  out.reserve(escaped.size());
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] != '\\') {
      out += escaped[i];
      continue;
    }
    const char escape = escaped[++i];
    out += escape == 'b' ? "\\u0008" : escape == 'f' ? "\\u000c" : std::string{'\\', escape};
  }
  return out;
}

void appendText(std::string& Out, const TJson& Value) {
  switch (Value.type()) {
    case TJson::value_t::array:
      Out += '[';
      for (std::size_t i = 0; i < Value.size(); ++i) {
        if (i > 0) Out += ", ";
        appendText(Out, Value[i]);
      }
      Out += ']';
      break;
    case TJson::value_t::object: {
      Out += '{';
      bool first = true;
      for (const auto& member : Value.items()) {
        Out += first ? "" : ", ";
        first = false;
        Out += stringText(member.key()) + ": ";
        appendText(Out, member.value());
      }
      Out += '}';
      break;
    }
    case TJson::value_t::string:
      Out += stringText(Value.get_ref<const std::string&>());
      break;
    case TJson::value_t::number_float:
      Out += floatText(Value.get<float>());
      break;
    default:  // null, booleans and integers as the library writes them
      Out += Value.dump();
  }
}

}  // namespace

std::optional<TArguments> ParseArguments(const std::string& Command, const char* Help,
                                         const std::vector<TOption>& Known, const std::vector<std::string>& Args,
                                         std::ostream& Out, std::ostream& Err, int& Exit) {
  QCommandLineParser parser;
  // "-o" and "--json" alike are whole names, never bundled single letters.
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help(QStringList{"h", "help"});
  parser.addOption(help);
  for (const TOption& option : Known)
    parser.addOption(QCommandLineOption(latin1(optionName(option.Spelling)), QString(),
                                        option.TakesValue ? QStringLiteral("value") : QString()));
  QStringList arguments{QString::fromLatin1(kProgram)};
  for (const std::string& arg : Args) arguments << latin1(arg);
  const bool parsed = parser.parse(arguments);
  if (parser.isSet(help)) {
    Out << Help;
    Exit = ExitDone;
    return std::nullopt;
  }
  if (!parsed) {
    Exit = Usage(Err, refusal(parser, Known, Args), Command);
    return std::nullopt;
  }
  TArguments result;
  for (const QString& file : parser.positionalArguments()) result.Files.push_back(bytes(file));
  for (const TOption& option : Known) {
    const QString name = latin1(optionName(option.Spelling));
    if (parser.isSet(name)) result.Options[option.Spelling] = option.TakesValue ? bytes(parser.value(name)) : "";
  }
  return result;
}

bool NumberOption(const TArguments& Args, const std::string& Name, double Low, double High, double& Value) {
  if (!Args.Has(Name)) return true;
  const std::string& text = Args.Options.at(Name);
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(value >= Low && value <= High)) return false;
  Value = value;
  return true;
}

std::optional<std::uint32_t> WholeNumber(std::string_view Text, std::uint32_t Low, std::uint32_t High) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(Text.data(), Text.data() + Text.size(), value);
  if (Text.empty() || error != std::errc() || end != Text.data() + Text.size() || value < Low || value > High)
    return std::nullopt;
  return value;
}

bool WholeOption(const TArguments& Args, const std::string& Name, std::uint32_t Low, std::uint32_t High,
                 std::uint32_t& Value) {
  if (!Args.Has(Name)) return true;
  const auto value = WholeNumber(Args.Options.at(Name), Low, High);
  if (value) Value = *value;
  return value.has_value();
}

int Usage(std::ostream& Err, const std::string& Problem, const std::string& Command) {
  Err << kProgram << ": " << Problem << "\n";
  Err << "Run '" << kProgram << (Command.empty() ? "" : " " + Command) << " --help' for usage.\n";
  return ExitUsage;
}

bool OutputIsAnInput(const std::string& Output, const std::vector<std::string>& Inputs, std::ostream& Err,
                     const std::string& Command) {
  struct stat out {};
  if (Output == kStandardStream || ::stat(Output.c_str(), &out) != 0 || !S_ISREG(out.st_mode)) return false;
  for (const auto& input : Inputs) {
    struct stat in {};
    if (input == kStandardStream) continue;
    if (::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
      Usage(Err, "the output " + Output + " is the input file " + input + "; it is not overwritten", Command);
      return true;
    }
  }
  return false;
}

std::vector<std::string> TemplateFiles(const std::string& Folder) {
  return {TemplatePath(Folder, HeaderTemplateName), TemplatePath(Folder, TrailerTemplateName)};
}

std::string LoadProblem(const std::string& File, const TLoadError& Error) {
  if (Error.NotOpened()) return File + ": " + Error.Message;
  return File + ": " + Error.Message + " (at byte " + std::to_string(Error.Offset) + ")";
}

std::string InputName(const std::string& File) { return File == kStandardStream ? "standard input" : File; }

void LoadNetworkArgument(TCanNodes& Net, const std::string& File) {
  if (File == kStandardStream) {
    Net.LoadNetworkFrom(STDIN_FILENO, InputName(File));
    return;
  }
  // A pipe is read as it comes. Opened without waiting for a writer, a pipe that has none reads
  // as empty at once instead of blocking. Devices stay refused by LoadNetwork.
  struct stat info {};
  if (::stat(File.c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) {
    const int fd = ::open(File.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
      const int flags = ::fcntl(fd, F_GETFL);
      if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
      Net.LoadNetworkFrom(fd, File);
      ::close(fd);
      return;
    }
  }
  Net.LoadNetwork(File);
}

void WriteOutput(const std::string& Path, std::string_view Bytes, std::ostream& Out) {
  if (Path == kStandardStream)
    Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
  else
    writeFileAtomically(Path, Bytes);
}

std::string ReadInputArgument(const std::string& File, std::size_t MaxBytes) {
  if (File != kStandardStream) return readRegularFile(File, MaxBytes);
  const std::string name = InputName(File);
  std::string bytes;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EFOpenError(name, std::strerror(errno), errno);
    if (n == 0) return bytes;
    // Checked while reading: a pipe may never end.
    if (bytes.size() + static_cast<std::size_t>(n) > MaxBytes)
      throw EFOpenError(name, "larger than " + std::to_string(MaxBytes) + " bytes");
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
}

bool StandardInputTwice(const std::vector<std::string>& Inputs, std::ostream& Err, const std::string& Command) {
  if (std::count(Inputs.begin(), Inputs.end(), kStandardStream) < 2) return false;
  Usage(Err, "standard input ('-') can be read only once", Command);
  return true;
}

bool ReportClashesWithJson(const TArguments& Args, std::ostream& Err, const std::string& Command) {
  if (Args.ValueOr("--report", "") != kStandardStream || !Args.Has("--json")) return false;
  Usage(Err, "--report - and --json would both write to standard output; name a file for the report", Command);
  return true;
}

bool LoadForCommand(TCanNodes& Net, const std::string& File, std::ostream& Err) {
  LoadNetworkArgument(Net, File);
  if (!Net.LastLoadError().Failed()) return true;
  Err << kProgram << ": " << LoadProblem(InputName(File), Net.LastLoadError()) << "\n";
  return false;
}

void PrintWarnings(const std::string& File, const std::vector<std::string>& Warnings, std::ostream& Err) {
  for (const auto& warning : Warnings) Err << kProgram << ": warning: " << File << ": " << warning << "\n";
}

void NumberNamesKeepingText(TCanNodes& Net) {
  for (int i = 0; i < Net.Count(); ++i) {
    TNode* node = Net.NodeAtIndex(i);
    if (!node) continue;
    const std::string& name = node->FName;
    const std::size_t close = name.find(']');
    // "[12] " or "[12]" alone: a number prefix, which numbering replaces.
    const bool numbered = name.starts_with('[') && close != std::string::npos && close > 1 &&
                          name.find_first_not_of("0123456789", 1) == close &&
                          (close + 1 == name.size() || name[close + 1] == ' ');
    if (close == std::string::npos || numbered) continue;
    // Appended: GCC 12 at -O3 warns falsely (-Wrestrict) on "literal" + string here.
    std::string kept = "[";
    kept += std::to_string(i + 1);
    kept += "] ";
    kept += name;
    node->FName = CutShortString(std::move(kept));
  }
  Net.NumberNodeNames();
}

TJson JsonName(const std::string& Bytes) { return NameToUtf8(Bytes); }

TJson JsonPoint(TPoint P) { return TJson::array({P.X, P.Y}); }

TJson JsonFloat(float Value) { return std::isfinite(Value) ? TJson(Value) : TJson(nullptr); }

std::string JsonText(const TJson& Value) {
  std::string text;
  appendText(text, Value);
  return text;
}

void WriteJson(std::ostream& Out, const TJson& Document) {
  std::string text = "{";
  bool first = true;
  for (const auto& member : Document.items()) {
    text += first ? "\n  " : ",\n  ";
    first = false;
    text += stringText(member.key()) + ": ";
    const TJson& value = member.value();
    // Elements and findings: one a line, so a diff shows which one changed.
    if (value.is_array() && !value.empty() && value.front().is_object()) {
      text += '[';
      for (std::size_t i = 0; i < value.size(); ++i) {
        text += i == 0 ? "\n    " : ",\n    ";
        appendText(text, value[i]);
      }
      text += "\n  ]";
    } else {
      appendText(text, value);
    }
  }
  Out << text << "\n}\n";
}

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
