#include <ostream>

#include "base/FileErrors.h"
#include "cli/Cli.h"
#include "cli/CliCommon.h"
#include "transceiver/TransceiverCatalogue.h"

namespace busweave::cli {
namespace {

constexpr const char* kTransceiversHelp =
    "Usage: busweave-cli transceivers [NAME]\n"
    "\n"
    "Lists the transceiver classes: those shipped with Busweave (the bounds ISO 11898-2:2016 sets,\n"
    "iso11898-2-min, -typ and -max, and a signal-improvement class) and your own, from\n"
    "$BUSWEAVE_TRANSCEIVERS, else $XDG_DATA_HOME/busweave/transceivers or\n"
    "~/.local/share/busweave/transceivers, where a file NAME.transceiver replaces a shipped class\n"
    "of that name. With NAME, prints that class's figures and the source of each. A file that\n"
    "cannot be used is named with its line and key, and the exit code is 1. The bus analysis does\n"
    "not use the classes yet: it still drives the bus with the circuit's own driver.\n";

// Why a class cannot be loaded, as the reader says it; empty when it loads.
std::string loadProblem(const TTransceiverCatalogue& Catalogue, const std::string& Name, TTransceiver& Class) {
  try {
    Class = Catalogue.Load(Name);
    return {};
  } catch (const ETransceiverError& error) {
    return error.what();
  } catch (const EFOpenError& error) {
    return error.what();
  }
}

}  // namespace

int RunTransceivers(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  int exit = ExitDone;
  const auto args = ParseArguments("transceivers", kTransceiversHelp, {}, Args, Out, Err, exit);
  if (!args) return exit;
  if (args->Files.size() > 1) return Usage(Err, "transceivers takes at most one NAME", "transceivers");
  const TTransceiverCatalogue catalogue(DefaultTransceiverFolders());
  if (args->Files.size() == 1) {
    TTransceiver shown;
    if (const std::string why = loadProblem(catalogue, args->Files.front(), shown); !why.empty()) {
      Err << kProgram << ": " << PrintableText(why) << "\n";
      return ExitFailure;
    }
    Out << shown.Name << ": " << PrintableText(shown.Description) << "\nfile: " << PrintableText(shown.Path) << "\n";
    if (const std::string notice = ReplacementNotice(shown); !notice.empty()) Out << PrintableText(notice) << "\n";
    for (const TTransceiverFigure& figure : TransceiverFigures(shown)) {
      Out << figure.Key << " = " << figure.Value;
      if (const auto source = shown.Sources.find(figure.Key); source != shown.Sources.end() && !source->second.empty())
        Out << "  # " << PrintableText(source->second);
      Out << "\n";
    }
    return ExitDone;
  }
  for (const std::string& name : catalogue.Names()) {
    TTransceiver listed;
    if (const std::string why = loadProblem(catalogue, name, listed); !why.empty()) {
      Err << kProgram << ": " << PrintableText(why) << "\n";
      exit = ExitFailure;
      continue;
    }
    Out << name << (name == kDefaultTransceiver ? " (default)" : "") << ": " << PrintableText(listed.Description)
        << (listed.Replaces.empty() ? "" : " (your file, in place of the shipped one)") << "\n";
  }
  return exit;
}

}  // namespace busweave::cli
