// busweave-cli advise and advise-merge: the changes that make a failing bus work, each proved by
// the analysis of the changed network, and the parts of a search spread over machines.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "advice/AdviceFile.h"
#include "advice/AdviceSearch.h"
#include "analysis/AnalysisPart.h"
#include "base/SafeFile.h"
#include "circuit/CircuitFile.h"
#include "cli/AdviceReport.h"
#include "cli/AnalysisOptions.h"
#include "cli/AnalysisReport.h"
#include "cli/Cli.h"
#include "cli/CliCommon.h"
#include "cli/PartInputs.h"
#include "model/NameText.h"
#include "model/NetworkContainer.h"

namespace busweave::cli {
namespace {

// Parts beyond this are no search's: a search has far fewer changes to share out.
constexpr std::size_t kMostParts = 10000;

constexpr const char* kAdviseHelp =
    "Usage: busweave-cli advise FILE [--data-rate N] [--arbitration-rate N] [--templates DIR]\n"
    "                           [--json] [--report OUT.html] [--jobs N] [--shard I/N] [OPTIONS]\n"
    "\n"
    "Finds the smallest changes that make the bus of the network file FILE work at the rates\n"
    "asked, each judged by the bus analysis of the changed network and proved by full runs of\n"
    "the stream at the rates asked:\n"
    "  - terminations moved to the ends of the trunk, added where one is missing, or set to\n"
    "    the right value;\n"
    "  - for each stub that decides a failing rate, the longest length at which the rates\n"
    "    work (bisection on its length to the nearest 10 mm, every step a simulation);\n"
    "  - the longest trunk at which the arbitration rate works, where that is what fails;\n"
    "  - where no single change is enough, the five that come nearest, paired.\n"
    "The changes are ranked by how little they change (a node's resistance counts 1, a\n"
    "shortened wire 1 and the metres taken off), those that leave a bus check error last. A\n"
    "bus works as it is only with a clean bus check. A search that cannot reach the rates says\n"
    "so, with the best it found.\n"
    "\n"
    "Options:\n"
    "  --data-rate N          the data rate to reach (default: the next of --data-rates above\n"
    "                         the highest that works today)\n"
    "  --arbitration-rate N   the arbitration rate to reach (default: --require-bitrate, 500k)\n"
    "  --jobs N               worker processes at a time (default: the number of cores)\n"
    "  --shard I/N            run the I-th of N parts of the search and print it as a part for\n"
    "                         advise-merge (each part also runs today's network whole)\n"
    "  --report OUT.html      a self-contained report with the eye diagrams of the deciding\n"
    "                         station before and after each change ('-': on standard output,\n"
    "                         in place of the advice)\n"
    "  --no-confirm           prove the changes without the full runs of the stream\n"
    "  --json                 the proposals with their edits as element keys and values\n"
    "The analysis options of analyze (--dominant, --recessive, --loop-delay, --sample-point,\n"
    "--data-sample-point, --sjw, --data-sjw, --margin, --margin-v, --arbitration-rates,\n"
    "--data-rates, --require-bitrate) are taken as analyze takes them: today's rates are\n"
    "decided exactly as analyze decides them, and a change counts only with analyze's margins.\n"
    "A request beyond any wiring (an arbitration rate the loop delay forbids, a data rate above\n"
    "what the driver alone decodes) is said at once. Only the rates asked are stated for a\n"
    "change: they are what its full runs proved.\n"
    "Exit code 0 when the bus works at the rates or a change reaches them, 1 when none does,\n"
    "a full run that was to prove a rate did not finish, or the input is bad, 2 on usage errors.\n";

constexpr const char* kMergeHelp =
    "Usage: busweave-cli advise-merge PART... [--json] [--report OUT.html]\n"
    "\n"
    "Joins the parts that 'advise --shard I/N' printed into the advice of the whole search:\n"
    "each change is judged again from the runs its part carries, and a part whose claims its\n"
    "runs do not bear out is refused. Today's rates are proved on this machine by full runs of\n"
    "the stream, as analyze-merge proves a verdict (--jobs N workers; --no-confirm skips them).\n"
    "The parts must come from the same network file (its bytes), templates and options, hold\n"
    "the same runs of today's network, and cover every part once; at most 10000 parts. --json\n"
    "and --report give the advice as advise gives it. The network file and templates are those\n"
    "the parts name, found as named, in the folder the search ran in, or beside the first part.\n"
    "A PART of '-' is standard input.\n";

std::vector<TOption> adviseOptions(bool Merge) {
  std::vector<TOption> options{{"--json", false}, {"--report", true}, {"--jobs", true}, {"--no-confirm", false}};
  if (Merge) return options;
  for (const char* name : kSettingsOptions) options.push_back({name, true});
  for (TOption o : {TOption{"--templates", true}, TOption{"--shard", true}, TOption{"--data-rate", true},
                    TOption{"--arbitration-rate", true}, TOption{"--no-compensation", false}})
    options.push_back(o);
  return options;
}

// A rate in the output, "none" for no rate.
std::string rateText(std::int64_t Rate) { return Rate ? RateText(Rate) : std::string("none"); }

TJson editsJson(const std::vector<TEdit>& Edits) {
  TJson list = TJson::array();
  for (const TEdit& e : Edits) list.push_back({{"key", e.Key}, {"field", e.Field}, {"from", e.Was}, {"to", e.Value}});
  return list;
}

TJson adviceJson(const TAdvice& A, const std::string& Digest) {
  TJson proposals = TJson::array();
  for (std::size_t i = 0; i < A.Proposals.size(); ++i) {
    const TProposal& p = A.Proposals[i];
    proposals.push_back({{"rank", i + 1},
                         {"kind", ChangeKindName(p.Change.Kind)},
                         {"text", p.Text},
                         {"reaches", p.Reaches},
                         {"max_arbitration_rate", p.MaxArbitrationRate},
                         {"max_data_rate", p.MaxDataRate},
                         {"margin_ns", p.Reaches ? JsonFloat(static_cast<float>(p.Margin * 1e9)) : TJson(nullptr)},
                         {"size", JsonFloat(static_cast<float>(p.Size))},
                         {"check_errors", p.CheckErrors},
                         {"edits", editsJson(p.Edits)}});
  }
  // apply matches the advice to a file by this digest; none when the file was no regular one.
  return {{"file", A.File},
          {"network_sha256", Digest.empty() ? TJson(nullptr) : TJson(Digest)},
          {"stations", A.Stations},
          {"data_rate", A.Targets.DataRate},
          {"arbitration_rate", A.Targets.ArbitrationRate},
          {"today",
           {{"max_arbitration_rate", A.Before.Bus.MaxArbitrationRate}, {"max_data_rate", A.Before.Bus.MaxDataRate}}},
          {"check_errors", A.CheckErrors},
          {"works_already", A.AlreadyWorks},
          {"reached", A.Reached},
          {"deciding_station", A.Receiver},
          {"summary", A.Summary},
          {"unsimulated", A.Unsimulated},
          {"unproved", A.Unproved},
          {"runs", A.Runs},
          {"proposals", proposals}};
}

void printAdvice(const TAdvice& A, std::ostream& Out) {
  Out << A.File << ": " << A.Stations.size() << " stations; today arbitration up to "
      << rateText(A.Before.Bus.MaxArbitrationRate) << ", data up to " << rateText(A.Before.Bus.MaxDataRate) << "\n";
  Out << "asked: data " << rateText(A.Targets.DataRate) << " with arbitration " << rateText(A.Targets.ArbitrationRate)
      << "\n";
  // The advice's sentences are UTF-8 that quotes node names; check and analyze show them alike.
  for (const std::string& e : A.CheckErrors) Out << "bus check error: " << PrintableText(e) << "\n";
  for (std::size_t i = 0; i < A.Proposals.size(); ++i) {
    const TProposal& p = A.Proposals[i];
    Out << i + 1 << ". " << PrintableText(p.Text) << "\n";
    for (const std::string& e : p.CheckErrors) Out << "     still a bus check error: " << PrintableText(e) << "\n";
    for (const TEdit& e : p.Edits)
      Out << "     " << e.Key << " " << e.Field << " " << e.Was << " -> " << e.Value << "\n";
  }
  for (const std::string& u : A.Unsimulated) Out << "not simulated: " << PrintableText(u) << "\n";
  for (const std::string& u : A.Unproved) Out << "not proved: " << PrintableText(u) << "\n";
  Out << PrintableText(A.Summary) << " (" << A.Runs << " simulation runs)\n";
}

// Prints or writes the advice on the network file whose bytes have the digest Digest; the exit
// code.
int finishAdvice(const TAdvice& A, const std::string& Digest, const TArguments& Args, const TCanNodes& Net,
                 const TAnalysisSettings& Settings, std::ostream& Out, std::ostream& Err) {
  if (Args.Has("--report")) {
    try {
      WriteOutput(Args.Options.at("--report"), AdviceReportHtml(A, Net, Settings), Out);
    } catch (const std::exception& error) {
      Err << kProgram << ": " << error.what() << "\n";
      return ExitFailure;
    }
  }
  if (Args.Has("--json"))
    WriteJson(Out, adviceJson(A, Digest));
  else if (Args.ValueOr("--report", "") != kStandardStream)
    printAdvice(A, Out);
  // A full run that did not finish proved nothing: the search is no answer to sign.
  for (const std::string& why : A.Unproved)
    Err << kProgram << ": " << A.File << ": not proved: " << PrintableText(why) << "\n";
  return A.Reached && A.Unproved.empty() ? ExitDone : ExitFailure;
}

// The progress line on a terminal.
std::function<void(const TRunProgress&)> progressLine(std::ostream& Err) {
  if (&Err != &std::cerr || isatty(STDERR_FILENO) != 1) return nullptr;
  return [&Err](const TRunProgress& P) {
    Err << "\rsearching: " << P.Done << " of " << P.Total << " steps        " << std::flush;
  };
}

// Loads File and the digest of its bytes, read before and after the load so that a file changed
// meanwhile is refused rather than recorded under the other version's digest. Standard input and
// pipes are loaded without a digest (empty): advice on them cannot be matched to a file later.
bool loadDigested(TCanNodes& Net, const std::string& File, std::string& Digest, std::ostream& Err) {
  struct stat info {};
  const bool regular = File != kStandardStream && ::stat(File.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  try {
    if (regular) Digest = FileDigest(File);
    if (!LoadForCommand(Net, File, Err)) return false;
    if (regular && FileDigest(File) != Digest) {
      Err << kProgram << ": " << File << ": changed while it was read\n";
      return false;
    }
  } catch (const std::exception& error) {
    Err << kProgram << ": " << error.what() << "\n";
    return false;
  }
  return true;
}

// A message line of outside text, cut to a length a terminal and a log can hold.
std::string boundedLine(std::string_view Text) { return QuotedForMessage(Text, 400); }

constexpr const char* kApplyHelp =
    "Usage: busweave-cli apply FILE ADVICE.json [--rank N] -o OUT\n"
    "\n"
    "Writes the network file FILE with the edits of the N-th change (default 1) that\n"
    "'advise --json' listed in ADVICE.json, as OUT. The advice records the digest of the bytes\n"
    "of the network file it was made for, and FILE must have it: advice on another file, or on\n"
    "another version of this one, is not applied. Every edited value must still be what the\n"
    "advice found, each element is edited once, and a change must edit something. ADVICE.json\n"
    "of '-' is standard input, OUT of '-' standard output.\n";

}  // namespace

int RunApply(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  int exit = ExitDone;
  const auto args = ParseArguments("apply", kApplyHelp, {{"--rank", true}, {"-o", true}}, Args, Out, Err, exit);
  if (!args) return exit;
  if (args->Files.size() != 2) return Usage(Err, "apply needs FILE and ADVICE.json", "apply");
  if (!args->Has("-o")) return Usage(Err, "apply needs -o OUT", "apply");
  std::uint32_t rank = 1;
  if (!WholeOption(*args, "--rank", 1, 1000, rank)) return Usage(Err, "--rank needs a number from 1 to 1000", "apply");
  const std::string& file = args->Files[0];
  const std::string& adviceFile = args->Files[1];
  if (OutputIsAnInput(args->Options.at("-o"), {file, adviceFile}, Err, "apply")) return ExitUsage;
  if (file == kStandardStream)
    return Usage(Err, "apply matches the advice to FILE by its bytes; FILE must be a file, not standard input",
                 "apply");
  TCanNodes net = DocumentNetwork();
  std::string digest;
  if (!loadDigested(net, file, digest, Err)) return ExitFailure;
  if (digest.empty()) {
    Err << kProgram << ": " << file << ": not a regular file; advice is matched to a file by its bytes\n";
    return ExitFailure;
  }
  TAdviceChoice choice;
  try {
    choice = ReadAdviceChoice(ReadInputArgument(adviceFile, kMostPartBytes), rank);
  } catch (const EAnalysisError& error) {
    Err << kProgram << ": " << InputName(adviceFile)
        << ": not the advice of advise --json: " << boundedLine(error.what()) << "\n";
    return ExitFailure;
  } catch (const std::exception& error) {
    Err << kProgram << ": " << boundedLine(error.what()) << "\n";
    return ExitFailure;
  }
  try {
    for (const TEdit& e : choice.Edits) {
      const int index = net.IndexOf(e.Key);
      const TNode* node = index >= 0 ? net.NodeAtIndex(index) : nullptr;
      const TTrmLine* wire = index >= 0 ? net.WireAtIndex(index) : nullptr;
      const std::int64_t now = node ? node->FResistance : wire ? wire->FLength : -1;
      if (index >= 0 && now != e.Was)
        throw EAnalysisError("the " + e.Field + " of " + e.Key + " is " + std::to_string(now) + ", not the " +
                             std::to_string(e.Was) + " the advice was found for");
    }
    // The values can match by chance; the digest tells whether the advice was made for this file.
    if (choice.Network != digest)
      throw EAnalysisError("the advice in " + InputName(adviceFile) +
                           " was made for another network file or another version of this one; make it again with "
                           "advise --json");
    ApplyEdits(net, choice.Edits);
    WriteOutput(args->Options.at("-o"), net.NetworkFileBytes(), Out);
  } catch (const std::exception& error) {
    Err << kProgram << ": " << file << ": " << boundedLine(error.what()) << "\n";
    return ExitFailure;
  }
  return ExitDone;
}

int RunAdvise(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  int exit = ExitDone;
  const auto args = ParseArguments("advise", kAdviseHelp, adviseOptions(false), Args, Out, Err, exit);
  if (!args) return exit;
  if (args->Files.size() != 1) return Usage(Err, "advise needs exactly one FILE", "advise");
  const std::string file = args->Files[0];
  TAdviceOptions options;
  if (const auto problem = ReadAnalysisSettings(*args, options.Settings)) return Usage(Err, *problem, "advise");
  for (const char* name : {"--data-rate", "--arbitration-rate"})
    if (args->Has(name)) {
      const auto rate = RateOf(args->Options.at(name));
      if (!rate) return Usage(Err, std::string(name) + " needs a bit rate from 1k to 100M", "advise");
      (std::string(name) == "--data-rate" ? options.DataRate : options.ArbitrationRate) = *rate;
    }
  const auto jobs = JobsOption(*args);
  if (!jobs) return Usage(Err, "--jobs needs a number from 1 to 1024", "advise");
  int shard = 1;
  int shards = 1;
  if (!ShardOption(*args, shard, shards)) return Usage(Err, "--shard needs I/N with 1 <= I <= N", "advise");
  if (args->Has("--shard") && (args->Has("--report") || args->Has("--json")))
    return Usage(Err, "--shard prints a part for advise-merge; --report and --json belong to the merge", "advise");
  if (ReportClashesWithJson(*args, Err, "advise")) return ExitUsage;
  options.Templates = args->ValueOr("--templates", ".");
  if (args->Has("--report")) {
    std::vector<std::string> inputs = TemplateFiles(options.Templates);
    inputs.push_back(file);
    if (OutputIsAnInput(args->Options.at("--report"), inputs, Err, "advise")) return ExitUsage;
  }
  TCanNodes net = DocumentNetwork();
  std::string digest;
  if (!loadDigested(net, file, digest, Err)) return ExitFailure;
  if (!net.FNetworkExists()) {
    Err << kProgram << ": " << file << ": the network is empty; there is no bus to make work\n";
    return ExitFailure;
  }
  // The changes name the nodes as check and analyze do.
  NumberNamesKeepingText(net);
  const auto program = WorkerProgram();
  if (!program) {
    Err << kProgram << ": the program's own file cannot be found to start its workers\n";
    return ExitFailure;
  }
  options.Run.Program = *program;
  options.Run.Jobs = *jobs;
  options.Run.Progress = progressLine(Err);
  options.Confirm = !args->Has("--no-confirm");
  const bool showProgress = options.Run.Progress != nullptr;
  try {
    if (args->Has("--shard")) {
      TAdvicePart part = AdviseShard(net, file, options, shard, shards);
      std::error_code noFolder;
      part.Folder = std::filesystem::current_path(noFolder).string();
      if (showProgress) Err << "\r" << std::string(48, ' ') << "\r" << std::flush;
      Out << AdvicePartJson(part);
      return ExitDone;
    }
    const TAdvice advice = Advise(net, file, options);
    if (showProgress) Err << "\r" << std::string(48, ' ') << "\r" << std::flush;
    return finishAdvice(advice, digest, *args, net, options.Settings, Out, Err);
  } catch (const std::exception& error) {
    if (showProgress) Err << "\n";
    Err << kProgram << ": " << file << ": " << error.what() << "\n";
    return ExitFailure;
  }
}

int RunAdviseMerge(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  int exit = ExitDone;
  const auto args = ParseArguments("advise-merge", kMergeHelp, adviseOptions(true), Args, Out, Err, exit);
  if (!args) return exit;
  if (args->Files.empty()) return Usage(Err, "advise-merge needs one or more PART files", "advise-merge");
  if (StandardInputTwice(args->Files, Err, "advise-merge") || ReportClashesWithJson(*args, Err, "advise-merge"))
    return ExitUsage;
  if (args->Files.size() > kMostParts)
    return Usage(Err, "advise-merge joins at most " + std::to_string(kMostParts) + " parts", "advise-merge");
  const auto jobs = JobsOption(*args);
  if (!jobs) return Usage(Err, "--jobs needs a number from 1 to 1024", "advise-merge");
  std::vector<TAdvicePart> parts;
  for (const std::string& name : args->Files) {
    try {
      parts.push_back(ReadAdvicePart(ReadInputArgument(name, kMostPartBytes)));
    } catch (const EAnalysisError& error) {
      Err << kProgram << ": " << InputName(name) << ": not a part of advise --shard: " << boundedLine(error.what())
          << "\n";
      return ExitFailure;
    } catch (const std::exception& error) {
      Err << kProgram << ": " << boundedLine(error.what()) << "\n";
      return ExitFailure;
    }
    // Every part carries today's runs whole; only the first's are kept, the others checked
    // against them as they come, so that many parts take the memory of one.
    if (parts.size() > 1) {
      TAdvicePart& part = parts.back();
      const std::vector<TTransmitterRun>& today = parts.front().Today;
      bool same = part.Today.size() == today.size();
      for (std::size_t i = 0; same && i < today.size(); ++i)
        same = TransmitterRunJson(part.Today[i]) == TransmitterRunJson(today[i]);
      if (!same) {
        Err << kProgram << ": " << InputName(name) << ": holds other runs of today's network than "
            << InputName(args->Files.front()) << "\n";
        return ExitFailure;
      }
      part.Today = {};
    }
  }
  {
    TPartInputs inputs{parts.front().File, parts.front().Templates, parts.front().Folder, parts.front().Source,
                       parts.front().Settings};
    if (!LocatePartInputs(inputs, args->Files.front(), "advise", true, Err)) return ExitFailure;
    for (TAdvicePart& part : parts) {
      part.File = inputs.File;
      part.Templates = inputs.Templates;
    }
  }
  const TAdvicePart& first = parts.front();
  if (args->Has("--report")) {
    std::vector<std::string> inputs = TemplateFiles(first.Templates);
    inputs.push_back(first.File);
    inputs.insert(inputs.end(), args->Files.begin(), args->Files.end());
    if (OutputIsAnInput(args->Options.at("--report"), inputs, Err, "advise-merge")) return ExitUsage;
  }
  TCanNodes net = DocumentNetwork();
  std::string digest;
  if (!loadDigested(net, first.File, digest, Err)) return ExitFailure;
  NumberNamesKeepingText(net);
  // The changes are judged from the parts' runs; today's rates, which the advice states, are
  // proved here by their full runs as analyze-merge proves a verdict.
  const auto program = WorkerProgram();
  if (!program) {
    Err << kProgram << ": the program's own file cannot be found to start its workers\n";
    return ExitFailure;
  }
  TAdviceOptions options;
  options.Templates = first.Templates;
  options.Run.Program = *program;
  options.Run.Jobs = *jobs;
  options.Confirm = !args->Has("--no-confirm");
  try {
    const TAdvice advice = AdviseFromParts(net, parts, options);
    return finishAdvice(advice, first.Source.Network, *args, net, advice.Settings, Out, Err);
  } catch (const std::exception& error) {
    Err << kProgram << ": " << first.File << ": " << boundedLine(error.what()) << "\n";
    return ExitFailure;
  }
}

}  // namespace busweave::cli
