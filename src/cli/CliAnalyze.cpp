// busweave-cli analyze, analyze-merge and the hidden analyze-worker: the bus analysis on the
// command line and its shards. The HTML report is AnalysisReport's.

#include <unistd.h>

#include <QGuiApplication>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string_view>

#include "analysis/AnalysisPart.h"
#include "analysis/AnalysisRun.h"
#include "analysis/AnalyzeBus.h"
#include "base/SafeFile.h"
#include "circuit/CircuitFile.h"
#include "cli/AnalysisOptions.h"
#include "cli/AnalysisReport.h"
#include "cli/Cli.h"
#include "cli/CliCommon.h"
#include "cli/PartInputs.h"
#include "model/BusCheck.h"
#include "model/NameText.h"
#include "model/NetworkContainer.h"
#include "verdict/BusAnalysis.h"

namespace busweave::cli {
namespace {

constexpr const char* kAnalyzeHelp =
    "Usage: busweave-cli analyze FILE [--templates DIR] [--json] [--jobs N] [--report OUT.html]\n"
    "                            [--require-bitrate N] [--shard I/N] [OPTIONS]\n"
    "\n"
    "Tells at which bit rates the bus of the network file FILE works. For each station with a\n"
    "driver in turn, the circuit (templates as the circuit command takes them) is simulated\n"
    "with that driver sending one dominant and one recessive TXD edge and every other one held\n"
    "at its recessive level. From every station's responses a worst-case bit stream is built at\n"
    "each rate and decoded as a CAN controller decodes it (hard sync, resynchronisation, sample\n"
    "point; the transmitter itself at its secondary sample point). A rate works when every\n"
    "station reads every bit right with the margins below to spare and, in the arbitration\n"
    "phase, every 2 x (bus delay + loop delay) <= SP x T, the bus delay timed from the TXD edge\n"
    "less the driver's own delay into 60 ohms. The rates that decide are proved by full runs of\n"
    "the stream; a full run that does not finish fails its rate, named, and the exit code is 1.\n"
    "\n"
    "Options:\n"
    "  --dominant V              dominant threshold (default 0.9 V)\n"
    "  --recessive V             recessive threshold (default 0.5 V)\n"
    "  --loop-delay NS           transceiver loop delay (default 255 ns)\n"
    "  --sample-point PERCENT    arbitration sample point (default 80)\n"
    "  --data-sample-point PERCENT  data phase sample point (default 70)\n"
    "  --sjw PERCENT             arbitration synchronisation jump width (default 20)\n"
    "  --data-sjw PERCENT        data phase synchronisation jump width (default 30)\n"
    "  --margin PERCENT          how far every sample point may move either way, in percent of\n"
    "                            the bit time, with every bit still read right (default 10)\n"
    "  --margin-v V              how far every sample lies from the thresholds (default 0.1 V)\n"
    "  --no-compensation         judge the bus with the driver's own asymmetry left in\n"
    "  --no-confirm              skip the full runs of the stream that check the verdict\n"
    "  --arbitration-rates LIST  bit/s, comma-separated, k and M allowed\n"
    "                            (default 125k,250k,500k,800k,1M)\n"
    "  --data-rates LIST         (default 1M,2M,4M,5M,8M)\n"
    "  --require-bitrate N       the arbitration rate that decides the exit code (default 500k)\n"
    "  --jobs N                  worker processes at a time (default: the number of cores)\n"
    "  --shard I/N               run the I-th of N parts (1 <= I <= N) of the transmitters and\n"
    "                            print them as a part for analyze-merge\n"
    "  --report OUT.html         write a self-contained report: drawing, verdicts, pairs,\n"
    "                            bus-check findings and the worst pairs' waveforms ('-':\n"
    "                            on standard output, in place of the table)\n"
    "Prints the verdict table (or JSON with --json). Exit code 0 when the bus works at the\n"
    "required rate, 1 when it does not or the input is bad, 2 on usage errors.\n";

constexpr const char* kMergeHelp =
    "Usage: busweave-cli analyze-merge PART... [--json] [--report OUT.html] [--no-confirm]\n"
    "\n"
    "Joins the parts that 'analyze --shard I/N' printed into the result an analysis of all\n"
    "transmitters at once gives: the same table, JSON, report and exit code. The parts must\n"
    "come from the same network file (its bytes), templates and options, which each part\n"
    "records as digests, and cover every transmitter once. The report reads the network file\n"
    "the parts name; it replaces neither that file, nor a template, nor a part. The deciding\n"
    "rates are checked by full runs of the stream on this machine, from the network file and\n"
    "templates the parts name, as analyze checks them (--no-confirm skips them). A PART of '-'\n"
    "is standard input; a report of '-' goes to standard output in place of the table.\n";

// A part nests about a dozen levels deep. One that nests far deeper is refused before it is
// parsed: the parser would build all of it first, gigabytes for a file of brackets.
constexpr int kMostPartDepth = 32;

bool nestsDeeperThan(std::string_view Text, int Most) {
  int depth = 0;
  bool inString = false;
  bool escaped = false;
  for (const char c : Text) {
    if (escaped) {
      escaped = false;
    } else if (inString) {
      escaped = c == '\\';
      inString = c != '"';
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > Most) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

TJson nanoseconds(const std::optional<double>& Seconds) {
  return Seconds ? JsonFloat(static_cast<float>(*Seconds * 1e9)) : TJson(nullptr);
}

TJson resultJson(const TAnalysis& A, const TStreamVerdict& Stream, const std::vector<TFinding>& Findings) {
  const TAnalysisSettings& s = A.Settings;
  const TBusVerdict& Verdict = Stream.Bus;
  TJson rates = TJson::array();
  for (const TRateVerdict& r : Verdict.Rates) {
    TJson worst = nullptr;
    if (r.Worst)
      worst = {{"transmitter", r.Worst->Transmitter},
               {"receiver", r.Worst->Receiver},
               {"edge", EdgeName(r.Worst->Edge)},
               {"figure", r.Worst->Figure},
               {"value_ns", nanoseconds(r.Worst->Value)},
               {"limit_ns", nanoseconds(r.Worst->Limit)},
               {"text", r.Worst->Text}};
    rates.push_back({{"phase", PhaseName(r.Phase)}, {"bitrate", r.BitRate}, {"works", r.Works}, {"worst", worst}});
  }
  TJson margins = TJson::array();
  for (const TReceiverMargin& m : Stream.Margins)
    margins.push_back({{"phase", PhaseName(m.Phase)},
                       {"bitrate", m.BitRate},
                       {"transmitter", m.Transmitter},
                       {"receiver", m.Receiver},
                       {"own", m.Own},
                       {"works", m.Works},
                       {"early_margin_ns", nanoseconds(m.EarlyMargin)},
                       {"late_margin_ns", nanoseconds(m.LateMargin)},
                       {"voltage_margin_v", JsonFloat(static_cast<float>(m.VoltageMargin))},
                       {"least_margin_bit", m.Bit + 1},
                       {"least_margin_sample_ns", nanoseconds(m.Sample)},
                       {"text", m.Text}});
  TJson check = TJson::array();
  for (const TFinding& f : Findings)
    check.push_back({{"severity", SeverityName(f.Severity)}, {"message", NameToUtf8(f.Message)}});
  const TJson driver = {{"dominant_delay_ns", nanoseconds(Stream.DriverDominantDelay)},
                        {"recessive_delay_ns", nanoseconds(Stream.DriverRecessiveDelay)},
                        {"compensated", Stream.Compensated},
                        {"max_data_bitrate", Stream.DriverMaxDataRate}};
  TJson pairs = TJson::array();
  for (const TPairMeasure& p : PairsOf(A.Runs))
    pairs.push_back({{"transmitter", p.TransmitterName},
                     {"receiver", p.ReceiverName},
                     {"edge", EdgeName(p.Edge)},
                     {"delay_ns", nanoseconds(p.Delay)},
                     {"settle_ns", nanoseconds(p.Settle)},
                     {"overshoot_v", JsonFloat(static_cast<float>(p.Overshoot))},
                     {"undershoot_v", JsonFloat(static_cast<float>(p.Undershoot))},
                     {"false_edge", p.FalseEdge.has_value()}});
  TJson parameters = {{"dominant_threshold_v", JsonFloat(static_cast<float>(s.Thresholds.Dominant))},
                      {"recessive_threshold_v", JsonFloat(static_cast<float>(s.Thresholds.Recessive))},
                      {"loop_delay_ns", JsonFloat(static_cast<float>(s.LoopDelay * 1e9))},
                      {"sample_point", JsonFloat(static_cast<float>(s.SamplePoint))},
                      {"data_sample_point", JsonFloat(static_cast<float>(s.DataSamplePoint))},
                      {"sjw", JsonFloat(static_cast<float>(s.Sjw))},
                      {"data_sjw", JsonFloat(static_cast<float>(s.DataSjw))},
                      {"margin", JsonFloat(static_cast<float>(s.Margin))},
                      {"margin_v", JsonFloat(static_cast<float>(s.MarginVolts))},
                      {"compensate_driver", s.CompensateDriver},
                      {"arbitration_rates", s.ArbitrationRates},
                      {"data_rates", s.DataRates},
                      {"required_bitrate", s.RequiredRate}};
  return {{"file", A.File},
          {"parameters", parameters},
          {"max_arbitration_bitrate", Verdict.MaxArbitrationRate},
          {"max_data_bitrate", Verdict.MaxDataRate},
          {"bus_check", check},
          {"driver", driver},
          {"confirmations", Stream.Confirmations},
          {"rates", rates},
          {"margins", margins},
          {"pairs", pairs}};
}

void printTable(const TAnalysis& A, const TStreamVerdict& Stream, const std::vector<TFinding>& Findings,
                std::ostream& Out) {
  const TBusVerdict& Verdict = Stream.Bus;
  Out << A.File << ": " << A.Stations.size() << " stations\n";
  for (const TFinding& f : Findings)
    if (f.Severity == TSeverity::Error) Out << "bus check error: " << NameToPrintable(f.Message) << "\n";
  for (const TRateVerdict& r : Verdict.Rates) {
    char head[64];
    std::snprintf(head, sizeof head, "%-12s %-12s %-6s ", PhaseName(r.Phase), RateText(r.BitRate).c_str(),
                  r.Works ? "works" : "FAILS");
    Out << head << PrintableText(WorstText(r)) << "\n";
  }
  Out << "highest arbitration rate: "
      << (Verdict.MaxArbitrationRate ? RateText(Verdict.MaxArbitrationRate) : std::string("none"))
      << "; highest data rate: " << (Verdict.MaxDataRate ? RateText(Verdict.MaxDataRate) : std::string("none")) << "\n";
  Out << PrintableText(DriverText(Stream)) << "\n";
  for (const std::string& c : Stream.Confirmations) Out << PrintableText(c) << "\n";
}

// The runs' plan; the merge plans again from the network file and templates the parts name.
// Nothing, with Problem saying why, when that fails.
std::optional<TAnalysisPlan> planOf(const TAnalysis& A, std::string& Problem) {
  if (A.Plan) return A.Plan;
  try {
    TCanNodes net = DocumentNetwork();
    std::ostringstream quiet;
    if (!LoadForCommand(net, A.File, quiet)) throw EAnalysisError("the network file cannot be read again");
    NumberNamesKeepingText(net);  // the stations named as the parts name them
    TCircuitSources sources;
    const TextLines lines = CircuitFromTemplates(net, A.Templates, nullptr, &sources);
    return PlanAnalysis(lines, sources);
  } catch (const std::exception& error) {
    Problem = error.what();
    return std::nullopt;
  }
}

// The merge's verdict: the parts' runs judged and proved on this machine, with the plan made
// again from the network file and templates the parts name.
TStreamVerdict provedVerdict(const TAnalysis& A, const std::optional<TAnalysisPlan>& Plan, std::string Problem,
                             bool Confirm) {
  TStreamVerdict verdict = JudgeRuns(A.Runs, A.Settings);
  TAnalyzeOptions proving;
  proving.Confirm = Confirm;
  if (const auto program = WorkerProgram())
    proving.Run.Program = *program;
  else
    Problem = "the program's own file cannot be found to start its workers";
  ProveRuns(Plan && !proving.Run.Program.empty() ? &*Plan : nullptr, Problem, A.Runs, A.Settings, proving, verdict);
  return verdict;
}

// Prints the result and writes the report; the exit code. Verdict: the analysis's own, proved
// already; without it the runs' (a merge) are judged and proved here.
int finish(const TAnalysis& A, const TArguments& Args, std::ostream& Out, std::ostream& Err,
           std::optional<TStreamVerdict> Verdict = std::nullopt) {
  const bool confirming = !Args.Has("--no-confirm");
  std::string planProblem;
  const std::optional<TAnalysisPlan> plan =
      (confirming && !Verdict) || Args.Has("--report") ? planOf(A, planProblem) : std::nullopt;
  TStreamVerdict verdict = Verdict ? std::move(*Verdict) : provedVerdict(A, plan, planProblem, confirming);
  // The bus check's findings go above the verdict; a network that cannot be read has none.
  TCanNodes read = DocumentNetwork();
  std::vector<TFinding> findings;
  std::ostringstream quiet;
  bool loaded = A.Net != nullptr;
  if (!loaded && (loaded = LoadForCommand(read, A.File, Args.Has("--report") ? Err : quiet)))
    NumberNamesKeepingText(read);
  TCanNodes& net = A.Net ? *A.Net : read;
  if (loaded) {
    TCheckSettings check;
    if (A.Settings.RequiredRate <= 10000000) check.BitRate = static_cast<std::uint32_t>(A.Settings.RequiredRate);
    findings = CheckBus(net, check);
  }
  if (Args.Has("--report")) {
    if (!loaded) return ExitFailure;
    // The sample points sit where the runs' plan put the TXD edges.
    std::optional<TEdgeTimes> edges;
    if (plan)
      edges = TEdgeTimes{plan->EdgeAt, plan->Hold};
    else
      Err << kProgram << ": " << A.File << ": the report draws no sample points: " << planProblem << "\n";
    try {
      WriteOutput(Args.Options.at("--report"), AnalysisReportHtml(A, verdict, findings, net, edges), Out);
    } catch (const std::exception& error) {
      Err << kProgram << ": " << error.what() << "\n";
      return ExitFailure;
    }
  }
  if (Args.Has("--json"))
    WriteJson(Out, resultJson(A, verdict, findings));
  else if (Args.ValueOr("--report", "") != kStandardStream)
    printTable(A, verdict, findings, Out);
  // A rate whose proof did not finish is a failure of the analysis, whatever the others say.
  for (const std::string& why : verdict.Unproved)
    Err << kProgram << ": " << A.File << ": not proved: " << PrintableText(why) << "\n";
  if (!verdict.Unproved.empty()) return ExitFailure;
  for (const TRateVerdict& r : verdict.Bus.Rates)
    if (r.Phase == TBusPhase::Arbitration && r.BitRate == A.Settings.RequiredRate)
      return r.Works ? ExitDone : ExitFailure;
  TAnalysisSettings required = A.Settings;
  required.ArbitrationRates = {A.Settings.RequiredRate};
  required.DataRates.clear();
  return JudgeRuns(A.Runs, required).Bus.MaxArbitrationRate ? ExitDone : ExitFailure;
}

}  // namespace

int RunAnalyze(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  int exit = ExitDone;
  const auto args = ParseArguments("analyze", kAnalyzeHelp,
                                   {{"--templates", true},
                                    {"--json", false},
                                    {"--jobs", true},
                                    {"--report", true},
                                    {"--require-bitrate", true},
                                    {"--shard", true},
                                    {"--dominant", true},
                                    {"--recessive", true},
                                    {"--loop-delay", true},
                                    {"--sample-point", true},
                                    {"--data-sample-point", true},
                                    {"--sjw", true},
                                    {"--data-sjw", true},
                                    {"--margin", true},
                                    {"--margin-v", true},
                                    {"--no-compensation", false},
                                    {"--no-confirm", false},
                                    {"--arbitration-rates", true},
                                    {"--data-rates", true}},
                                   Args, Out, Err, exit);
  if (!args) return exit;
  if (args->Files.size() != 1) return Usage(Err, "analyze needs exactly one FILE", "analyze");
  TAnalysis analysis;
  analysis.File = args->Files[0];
  if (const auto problem = ReadAnalysisSettings(*args, analysis.Settings)) return Usage(Err, *problem, "analyze");
  const auto jobs = JobsOption(*args);
  if (!jobs) return Usage(Err, "--jobs needs a number from 1 to 1024", "analyze");
  int shard = 1;
  int shards = 1;
  if (!ShardOption(*args, shard, shards)) return Usage(Err, "--shard needs I/N with 1 <= I <= N", "analyze");
  if (args->Has("--shard") && (args->Has("--report") || args->Has("--json")))
    return Usage(Err, "--shard prints a part for analyze-merge; --report and --json belong to the merge", "analyze");
  if (ReportClashesWithJson(*args, Err, "analyze")) return ExitUsage;
  const std::string folder = args->ValueOr("--templates", ".");
  analysis.Templates = folder;
  if (args->Has("--report")) {
    std::vector<std::string> inputs = TemplateFiles(folder);
    inputs.push_back(analysis.File);
    if (OutputIsAnInput(args->Options.at("--report"), inputs, Err, "analyze")) return ExitUsage;
  }

  TCanNodes net = DocumentNetwork();
  if (!LoadForCommand(net, analysis.File, Err)) return ExitFailure;
  if (!net.FNetworkExists()) {
    Err << kProgram << ": " << analysis.File << ": the network is empty; there is no bus to analyse\n";
    return ExitFailure;
  }
  // The stations take their names from the circuit's, numbered as the editor shows them.
  NumberNamesKeepingText(net);
  analysis.Net = net.Snapshot();
  std::vector<std::string> warnings;
  TAnalysisPlan plan;
  // Read once: the runs are planned from this text, and a part records its digests.
  TCircuitTemplates templates;
  try {
    templates = ReadCircuitTemplates(folder);
    TCircuitSources sources;
    const TextLines lines = CircuitFromTemplates(net, templates, &warnings, &sources);
    plan = PlanAnalysis(lines, sources);
  } catch (const std::exception& error) {
    Err << kProgram << ": " << analysis.File << ": " << error.what() << "\n";
    return ExitFailure;
  }
  PrintWarnings(analysis.File, warnings, Err);
  for (const TStation& station : plan.Stations) analysis.Stations.push_back(station.Name);
  analysis.Plan = plan;
  // A part records what it was made from, read now, so that a file changed during the runs
  // does not pass for the one they ran.
  TPartSource source;
  if (args->Has("--shard")) {
    try {
      source = PartSourceOf(analysis.File, templates, analysis.Settings);
    } catch (const std::exception& error) {
      Err << kProgram << ": " << error.what() << "\n";
      return ExitFailure;
    }
  }

  const auto program = WorkerProgram();
  if (!program) {
    Err << kProgram << ": the program's own file cannot be found to start its workers\n";
    return ExitFailure;
  }
  TRunOptions options;
  options.Program = *program;
  options.Jobs = *jobs;
  options.KeepTraces = args->Has("--report") || args->Has("--shard");
  options.Thresholds = analysis.Settings.Thresholds;
  const bool showProgress = &Err == &std::cerr && isatty(STDERR_FILENO) == 1;
  if (showProgress)
    options.Progress = [&](const TRunProgress& P) {
      Err << "\ranalysing: " << P.Done << " of " << P.Total << " transmitters        " << std::flush;
    };
  const auto clearProgress = [&] {
    if (showProgress) Err << "\r" << std::string(64, ' ') << "\r" << std::flush;
  };
  if (args->Has("--shard")) {
    try {
      RefuseOversizedRuns(plan);
      analysis.Runs = RunTransmitters(plan, ShardTransmitters(plan.Stations.size(), shard, shards), options).Runs;
    } catch (const EAnalysisError& error) {
      clearProgress();
      Err << kProgram << ": " << analysis.File << ": " << error.what() << "\n";
      return ExitFailure;
    }
    clearProgress();
    TAnalysisPart part;
    part.File = analysis.File;
    part.Templates = folder;
    // The merge may run elsewhere: the paths as typed are relative to this folder.
    std::error_code noFolder;
    part.Folder = std::filesystem::current_path(noFolder).string();
    part.Shard = shard;
    part.Shards = shards;
    part.Settings = analysis.Settings;
    part.Stations = analysis.Stations;
    part.Runs = std::move(analysis.Runs);
    part.Source = source;
    Out << AnalysisPartJson(part);
    return ExitDone;
  }
  TAnalyzeOptions analyzing;
  analyzing.Run = options;
  analyzing.Confirm = !args->Has("--no-confirm");
  analyzing.Checking = [&] {
    clearProgress();
    if (showProgress) Err << "checking the deciding rates by full runs of the stream..." << std::flush;
  };
  TBusAnalysis result;
  try {
    result = AnalyzeBus(plan, analysis.Settings, analyzing);
  } catch (const EAnalysisError& error) {
    clearProgress();
    Err << kProgram << ": " << analysis.File << ": " << error.what() << "\n";
    return ExitFailure;
  }
  clearProgress();
  analysis.Runs = std::move(result.Runs);
  return finish(analysis, *args, Out, Err, std::move(result.Verdict));
}

int RunAnalyzeMerge(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  int exit = ExitDone;
  const auto args =
      ParseArguments("analyze-merge", kMergeHelp, {{"--json", false}, {"--report", true}, {"--no-confirm", false}},
                     Args, Out, Err, exit);
  if (!args) return exit;
  if (args->Files.empty()) return Usage(Err, "analyze-merge needs one or more PART files", "analyze-merge");
  if (StandardInputTwice(args->Files, Err, "analyze-merge") || ReportClashesWithJson(*args, Err, "analyze-merge"))
    return ExitUsage;
  TAnalysis analysis;
  std::optional<TAnalysisPart> first;
  std::set<int> shardsSeen;
  std::map<int, TTransmitterRun> runs;
  // The report must replace none of what the parts were made from.
  std::vector<std::string> inputs = args->Files;
  for (const std::string& file : args->Files) {
    const auto fail = [&](const std::string& Problem) {
      Err << kProgram << ": " << InputName(file) << ": " << Problem << "\n";
      return ExitFailure;
    };
    TAnalysisPart part;
    try {
      const std::string text = ReadInputArgument(file, kMostPartBytes);
      if (nestsDeeperThan(text, kMostPartDepth))
        return fail("not a part of a bus analysis (made by analyze --shard): it nests deeper than " +
                    std::to_string(kMostPartDepth) + " levels");
      part = ReadAnalysisPart(text);
    } catch (const EAnalysisError& error) {
      return fail(error.what());
    } catch (const std::exception& error) {
      Err << kProgram << ": " << error.what() << "\n";
      return ExitFailure;
    }
    inputs.push_back(part.File);
    for (const std::string& input : TemplateFiles(part.Templates)) inputs.push_back(input);
    if (first) {
      const std::string other = " than " + InputName(args->Files[0]);
      if (part.Source.Network != first->Source.Network) return fail("was made from another network file" + other);
      if (part.Source.Header != first->Source.Header || part.Source.Trailer != first->Source.Trailer)
        return fail("was made from other templates" + other);
      if (part.Source.Options != first->Source.Options) return fail("was made with other options" + other);
      if (part.File != first->File || part.Stations != first->Stations || part.Shards != first->Shards)
        return fail("comes from another network file name or another split" + other);
    } else {
      analysis.File = part.File;
      analysis.Templates = part.Templates;
      analysis.Settings = part.Settings;
      analysis.Stations = part.Stations;
    }
    if (!shardsSeen.insert(part.Shard).second)
      return fail("part " + std::to_string(part.Shard) + " of " + std::to_string(part.Shards) + " is given twice");
    for (TTransmitterRun& run : part.Runs) runs.emplace(run.Transmitter, std::move(run));
    part.Runs.clear();
    if (!first) first = std::move(part);
  }
  if (runs.size() != analysis.Stations.size()) {
    // A split may claim many parts; name the first few missing, count the rest.
    constexpr int kMostNamed = 10;
    Err << kProgram << ": the parts hold " << runs.size() << " of " << analysis.Stations.size()
        << " transmitters; parts missing:";
    int missing = 0;
    for (int i = 1; i <= first->Shards; ++i)
      if (!shardsSeen.count(i) && static_cast<std::size_t>(i) <= analysis.Stations.size() && ++missing <= kMostNamed)
        Err << " " << i << "/" << first->Shards;
    if (missing > kMostNamed) Err << " and " << missing - kMostNamed << " more";
    Err << "\n";
    return ExitFailure;
  }
  // The files the parts name, found from here (or left as recorded when the network is nowhere:
  // the verdict then stands unproved, by name).
  TPartInputs located{analysis.File, analysis.Templates, first->Folder, first->Source, first->Settings};
  if (!LocatePartInputs(located, args->Files.front(), "analyze", false, Err)) return ExitFailure;
  analysis.File = located.File;
  analysis.Templates = located.Templates;
  inputs.push_back(analysis.File);
  for (const std::string& input : TemplateFiles(analysis.Templates)) inputs.push_back(input);
  if (args->Has("--report") && OutputIsAnInput(args->Options.at("--report"), inputs, Err, "analyze-merge"))
    return ExitUsage;
  // The table's bus check and the report's drawing read the network file as it is now.
  std::string now;
  try {
    now = FileDigest(analysis.File);
  } catch (const std::exception&) {
    // Not here (parts made elsewhere): the verdict stands without it.
  }
  if (!now.empty() && now != first->Source.Network) {
    if (args->Has("--report")) {
      Err << kProgram << ": " << analysis.File
          << ": has changed since the parts were made; the report would show another network\n";
      return ExitFailure;
    }
    Err << kProgram << ": warning: " << analysis.File
        << ": has changed since the parts were made; the bus check is of the file as it is now\n";
  }
  for (auto& [index, run] : runs) analysis.Runs.push_back(std::move(run));
  return finish(analysis, *args, Out, Err);
}

int RunAnalyzeWorker(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  return RunAnalysisWorker(Args, std::cin, Out, Err);
}

}  // namespace busweave::cli
