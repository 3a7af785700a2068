#pragma once

// What the commands of busweave-cli share (private to src/cli): their entry points, the reading
// of a command's arguments, the checks and messages around its files, and the JSON of --json.

#include <cstdint>
#include <iosfwd>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/Elements.h"
#include "model/NameText.h"

namespace busweave {
class TCanNodes;
struct TLoadError;
struct TPictureSource;
}  // namespace busweave

namespace busweave::cli {

inline constexpr const char* kProgram = "busweave-cli";

// Each command gets the arguments after its name and returns its exit code.
int RunInfo(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);
int RunTransceivers(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);
int RunNormalize(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);
int RunNetlist(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);
int RunCheck(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);
int RunCircuit(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);
int RunSimulate(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);
int RunPicture(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);
int RunAnalyze(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);
int RunAnalyzeMerge(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);
int RunAdvise(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);
int RunAdviseMerge(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);
int RunApply(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);
// Hidden: one transmitter's runs for analyze, the circuit on standard input.
int RunAnalyzeWorker(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);

// QPainter needs a graphical application object for its fonts; one is made on the offscreen
// platform when there is none. False when another kind of application object exists.
bool EnsureGuiApplication();

// The network moved next to the origin and drawn as the editor draws it, for a picture of the
// file File, with a graphical application object ready. Nothing, with Problem saying why, when
// its coordinates cannot be fitted or there can be no such object; Net is then unchanged.
std::optional<TPictureSource> NetworkPicture(TCanNodes& Net, const std::string& File, std::string& Problem);

// An option a command knows, as it is written ("-o", "--json"), and whether a value follows it.
struct TOption {
  const char* Spelling;
  bool TakesValue;
};

// A command's arguments: its files, in order, and the options given with their values (the last
// one when an option is given twice), by spelling.
struct TArguments {
  std::vector<std::string> Files;
  std::map<std::string, std::string> Options;

  bool Has(const std::string& Spelling) const { return Options.count(Spelling) != 0; }
  std::string ValueOr(const std::string& Spelling, const std::string& Default) const {
    return Has(Spelling) ? Options.at(Spelling) : Default;
  }
};

// Reads a command's arguments. With -h or --help before "--" it prints Help on Out instead; on a
// usage error it prints the problem on Err. Both give nothing and set Exit.
std::optional<TArguments> ParseArguments(const std::string& Command, const char* Help,
                                         const std::vector<TOption>& Known, const std::vector<std::string>& Args,
                                         std::ostream& Out, std::ostream& Err, int& Exit);

// A number option within [Low, High]; false when it is not one. Without the option, true and
// Value unchanged.
bool NumberOption(const TArguments& Args, const std::string& Name, double Low, double High, double& Value);
// A whole number in decimal digits within [Low, High] (no sign, fraction or exponent), or nothing.
std::optional<std::uint32_t> WholeNumber(std::string_view Text, std::uint32_t Low, std::uint32_t High);
// A whole-number option within [Low, High]; false when it is not one.
bool WholeOption(const TArguments& Args, const std::string& Name, std::uint32_t Low, std::uint32_t High,
                 std::uint32_t& Value);

// Prints a usage error and where to find help; returns ExitUsage.
int Usage(std::ostream& Err, const std::string& Problem, const std::string& Command = "");

// Refuses (with a usage error) an output that is one of the command's input files, also under
// another name or through a link: the input would be lost before it was read in full.
bool OutputIsAnInput(const std::string& Output, const std::vector<std::string>& Inputs, std::ostream& Err,
                     const std::string& Command);

// The template files a circuit is built from, which its output must never replace.
std::vector<std::string> TemplateFiles(const std::string& Folder);

// "-" as a file: standard input where an input is named, standard output for an output.
inline constexpr const char* kStandardStream = "-";
// An input's name in messages: "standard input" for "-".
std::string InputName(const std::string& File);
// Loads the network FILE names into Net: standard input for "-", a pipe named on the command
// line (/dev/stdin, a shell's <(...)) as it comes; either with the limit of any network file.
// The outcome is Net's LastLoadError.
void LoadNetworkArgument(TCanNodes& Net, const std::string& File);
// Writes Bytes to the output Path safely, or to Out for "-". Throws as writeFileAtomically does.
void WriteOutput(const std::string& Path, std::string_view Bytes, std::ostream& Out);
// The bytes of an input of at most MaxBytes (a part, an advice file): standard input for "-",
// else a regular file. Throws EFOpenError naming the input and the reason.
std::string ReadInputArgument(const std::string& File, std::size_t MaxBytes);
// Refuses (with a usage error) standard input named more than once among Inputs: it is read once.
bool StandardInputTwice(const std::vector<std::string>& Inputs, std::ostream& Err, const std::string& Command);
// "--report -" puts the report on standard output in place of the table; --json, which would
// go there too, is refused with it (a usage error).
bool ReportClashesWithJson(const TArguments& Args, std::ostream& Err, const std::string& Command);

// "FILE: reason (at byte N)", without the offset when the file could not be opened.
std::string LoadProblem(const std::string& File, const TLoadError& Error);
// Loads FILE for a command; on failure prints the reason and returns false.
bool LoadForCommand(TCanNodes& Net, const std::string& File, std::ostream& Err);
void PrintWarnings(const std::string& File, const std::vector<std::string>& Warnings, std::ostream& Err);

// Numbers the node names as the editor shows them ("[3] ECU1"; "[4]" alone for an unnamed node)
// without losing text: a name that holds a ']' but no number prefix keeps all of it behind its
// number, where the editor's numbering would take everything up to the ']' for a prefix.
void NumberNamesKeepingText(TCanNodes& Net);

// A JSON value of --json. Its fractional numbers are single-precision (a wire's angle), so they
// are kept as float and written as the fewest digits that read back as the same float.
using TJson =
    nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool, std::int64_t, std::uint64_t, float>;

// A node name's or message's Windows-1252 bytes as a JSON string.
TJson JsonName(const std::string& Bytes);
// [x, y]
TJson JsonPoint(TPoint P);
// The value, or null when it is not finite.
TJson JsonFloat(float Value);

// One value on one line, ", " and ": " between the parts (also for the plain-text output).
std::string JsonText(const TJson& Value);
// An object as --json prints it: one member a line, an array of objects one object a line.
void WriteJson(std::ostream& Out, const TJson& Document);

}  // namespace busweave::cli
