// The parts of a sharded advice search as JSON: what advise --shard prints and advise-merge
// reads. Parts come from other machines, so every field is checked as it is read.

#include <limits>
#include <nlohmann/json.hpp>
#include <set>

#include "advice/AdviceFile.h"
#include "advice/AdviceSearch.h"

namespace busweave {
namespace {

// A part nests a dozen levels deep (the runs' responses); far more is no part. Its size is
// bounded by whoever reads the file.
constexpr int kMostPartDepth = 32;
constexpr std::size_t kMostPathBytes = 4096;
constexpr std::size_t kMostIdBytes = 64;  // "t12+s3"
constexpr std::size_t kMostFailureBytes = 1000;
constexpr std::size_t kMostCurvePoints = 1000;  // a bisection over 65 m in 10 mm steps takes 13

[[noreturn]] void refuse(const std::string& Field, const std::string& Problem) {
  throw EAnalysisError(Field + ": " + Problem);
}

const nlohmann::json& member(const nlohmann::json& Object, const char* Name, const std::string& Where) {
  const std::string field = Where.empty() ? Name : Where + "." + Name;
  if (!Object.is_object()) refuse(Where, "is not an object");
  const auto found = Object.find(Name);
  if (found == Object.end()) refuse(field, "is missing");
  return *found;
}

// A whole number within [Low, High], checked before it is converted: a conversion out of range
// would be undefined.
std::int64_t wholeOf(const nlohmann::json& Value, const std::string& Field, std::int64_t Low, std::int64_t High) {
  const std::string range = "from " + std::to_string(Low) + " to " + std::to_string(High);
  if (!Value.is_number_integer()) refuse(Field, "is not a whole number " + range);
  if (Value.is_number_unsigned() && Value.get<std::uint64_t>() > static_cast<std::uint64_t>(High))
    refuse(Field, "is not a whole number " + range);
  const auto number = Value.get<std::int64_t>();
  if (number < Low || number > High) refuse(Field, "is not a whole number " + range);
  return number;
}

// A bit rate, or 0 for none.
std::int64_t rateOrNone(const nlohmann::json& Value, const std::string& Field) {
  const std::int64_t rate = wholeOf(Value, Field, 0, kMostBitRate);
  if (rate != 0 && rate < kLeastBitRate) refuse(Field, "is neither 0 nor a bit rate from 1000 to 100000000");
  return rate;
}

// A station's least margin as a unit records it: names of the bus's stations, times within a
// bit, volts within the thresholds' range.
TReceiverMargin leastOf(const nlohmann::json& J, const std::string& Where) {
  const auto text = [&](const char* Name) {
    const nlohmann::json& v = member(J, Name, Where);
    if (!v.is_string()) refuse(Where + "." + Name, "is not a text");
    return QuotedForMessage(v.get_ref<const std::string&>(), kMostIdBytes * 4);
  };
  const auto number = [&](const char* Name, double Low, double High) {
    const nlohmann::json& v = member(J, Name, Where);
    if (!v.is_number() || !(v.get<double>() >= Low && v.get<double>() <= High))
      refuse(Where + "." + Name, "is not a number from " + std::to_string(Low) + " to " + std::to_string(High));
    return v.get<double>();
  };
  TReceiverMargin m;
  m.Transmitter = text("transmitter");
  m.Receiver = text("receiver");
  const nlohmann::json& own = member(J, "own", Where);
  if (!own.is_boolean()) refuse(Where + ".own", "is not true or false");
  m.Own = own.get<bool>();
  m.EarlyMargin = number("early", 0.0, 1.0);
  m.LateMargin = number("late", 0.0, 1.0);
  m.VoltageMargin = number("volts", 0.0, 2.0 * kMostThresholdVolts);
  m.Bit = static_cast<std::size_t>(wholeOf(member(J, "bit", Where), Where + ".bit", 0, 100000));
  m.Works = true;
  return m;
}

}  // namespace

std::string AdvicePartJson(const TAdvicePart& Part) {
  nlohmann::json units = nlohmann::json::array();
  for (const TUnitResult& u : Part.Units) {
    nlohmann::json runs = nlohmann::json::array();
    for (const TTransmitterRun& run : u.Final) runs.push_back(nlohmann::json::parse(TransmitterRunJson(run)));
    units.push_back({{"candidate", u.Candidate},
                     {"works", u.Works},
                     {"step", u.Step},
                     {"runs", u.Runs},
                     {"judged", u.Judged},
                     {"max_arbitration_rate", u.MaxArbitrationRate},
                     {"max_data_rate", u.MaxDataRate},
                     {"failure", u.Failure},
                     {"least", u.Least ? nlohmann::json{{"transmitter", u.Least->Transmitter},
                                                        {"receiver", u.Least->Receiver},
                                                        {"own", u.Least->Own},
                                                        {"early", u.Least->EarlyMargin},
                                                        {"late", u.Least->LateMargin},
                                                        {"volts", u.Least->VoltageMargin},
                                                        {"bit", u.Least->Bit}}
                                       : nlohmann::json(nullptr)},
                     {"curve", u.Curve},
                     {"final", runs}});
  }
  // Today's network travels as the whole analysis it is: settings, digests and every
  // transmitter's run, read back with an analysis part's checks.
  TAnalysisPart today;
  today.File = Part.File;
  today.Templates = Part.Templates;
  today.Settings = Part.Settings;
  today.Source = Part.Source;
  today.Stations = Part.Stations;
  today.Runs = Part.Today;
  nlohmann::json part = {{"format", "busweave-advice-part"},
                         {"version", 1},
                         {"shard", Part.Shard},
                         {"shards", Part.Shards},
                         {"analysis", nlohmann::json::parse(AnalysisPartJson(today))},
                         {"data_rate", Part.Targets.DataRate},
                         {"arbitration_rate", Part.Targets.ArbitrationRate},
                         {"candidates", Part.Candidates},
                         {"singles", Part.Singles},
                         {"units", units}};
  // Added after version 1 was out: a merge elsewhere finds the files the part names through it,
  // and readers of parts without it look for them where the merge runs.
  if (!Part.Folder.empty()) part["folder"] = Part.Folder;
  // A folder name need not be UTF-8, as the file names in the analysis need not.
  return part.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

TAdvicePart ReadAdvicePart(std::string_view Text) {
  const nlohmann::json j = ParseBoundedJson(Text, kMostPartDepth, std::numeric_limits<std::size_t>::max());
  if (!j.is_object() || !j.contains("format") || j["format"] != "busweave-advice-part")
    throw EAnalysisError("it is not a part of a search");
  if (member(j, "version", "") != 1) throw EAnalysisError("it is of another version of the program");
  TAdvicePart part;
  const nlohmann::json& analysisJson = member(j, "analysis", "");
  if (!analysisJson.is_object()) refuse("analysis", "is not an object");
  // The analysis of today's network without its runs: each judged unit's runs are read as an
  // analysis of the whole bus (every transmitter) with it, and so checked as analyze-merge
  // checks a part's runs.
  nlohmann::json bare = analysisJson;
  bare.erase("runs");
  bare["shard"] = {1, 1};
  const auto analysisOf = [&](const nlohmann::json& Runs, const std::string& Where) {
    nlohmann::json whole = bare;
    whole["runs"] = Runs;
    try {
      return ReadAnalysisPart(whole.dump());
    } catch (const EAnalysisError& error) {
      // Its fields by their place in the part: "units[2].final[0].pairs", "analysis.parameters".
      const std::string problem = error.what();
      throw EAnalysisError(problem.rfind("runs", 0) == 0 ? Where + problem.substr(4) : "analysis: " + problem);
    }
  };
  const TAnalysisPart analysis = analysisOf(member(analysisJson, "runs", "analysis"), "analysis.runs");
  // Today's runs as any part's: the part's own shard does not split them.
  const nlohmann::json& shard = member(analysisJson, "shard", "analysis");
  if (shard != nlohmann::json{1, 1}) refuse("analysis.shard", "is not 1 of 1: today's network runs whole");
  part.File = analysis.File;
  if (part.File.size() > kMostPathBytes) refuse("analysis.file", "is longer than a path");
  part.Templates = analysis.Templates;
  if (part.Templates.size() > kMostPathBytes) refuse("analysis.templates", "is longer than a path");
  if (const auto folder = j.find("folder"); folder != j.end()) {
    if (!folder->is_string() || folder->get_ref<const std::string&>().size() > kMostPathBytes)
      refuse("folder", "is not a path");
    part.Folder = folder->get<std::string>();
  }
  part.Settings = analysis.Settings;
  part.Source = analysis.Source;
  part.Stations = analysis.Stations;
  part.Today = analysis.Runs;
  part.Shards = static_cast<int>(wholeOf(member(j, "shards", ""), "shards", 1, kMostShards));
  part.Shard = static_cast<int>(wholeOf(member(j, "shard", ""), "shard", 1, part.Shards));
  part.Targets.DataRate = wholeOf(member(j, "data_rate", ""), "data_rate", kLeastBitRate, kMostBitRate);
  part.Targets.ArbitrationRate =
      wholeOf(member(j, "arbitration_rate", ""), "arbitration_rate", kLeastBitRate, kMostBitRate);
  const nlohmann::json& candidates = member(j, "candidates", "");
  if (!candidates.is_array()) refuse("candidates", "is not a list");
  for (const nlohmann::json& id : candidates) {
    if (!id.is_string() || id.get_ref<const std::string&>().size() > kMostIdBytes)
      refuse("candidates", "holds what is not the name of a change");
    part.Candidates.push_back(id.get<std::string>());
  }
  const std::set<std::string> ids(part.Candidates.begin(), part.Candidates.end());
  if (ids.size() != part.Candidates.size()) refuse("candidates", "names a change twice");
  part.Singles = static_cast<std::size_t>(
      wholeOf(member(j, "singles", ""), "singles", 0, static_cast<std::int64_t>(part.Candidates.size())));
  const nlohmann::json& units = member(j, "units", "");
  if (!units.is_array()) refuse("units", "is not a list");
  for (std::size_t i = 0; i < units.size(); ++i) {
    const nlohmann::json& u = units[i];
    const std::string where = "units[" + std::to_string(i) + "]";
    const auto field = [&](const char* Name) -> const nlohmann::json& { return member(u, Name, where); };
    const auto flag = [&](const char* Name) {
      if (!field(Name).is_boolean()) refuse(where + "." + Name, "is not true or false");
      return field(Name).get<bool>();
    };
    TUnitResult r;
    if (!field("candidate").is_string()) refuse(where + ".candidate", "is not a text");
    r.Candidate = field("candidate").get<std::string>();
    if (!ids.count(r.Candidate))
      refuse(where + ".candidate",
             "names the change " + QuotedForMessage(r.Candidate) + ", which the part does not list");
    r.Works = flag("works");
    r.Judged = flag("judged");
    r.Step = wholeOf(field("step"), where + ".step", 0, std::numeric_limits<std::int64_t>::max());
    r.Runs = static_cast<int>(wholeOf(field("runs"), where + ".runs", 0, std::numeric_limits<int>::max()));
    r.MaxArbitrationRate = rateOrNone(field("max_arbitration_rate"), where + ".max_arbitration_rate");
    r.MaxDataRate = rateOrNone(field("max_data_rate"), where + ".max_data_rate");
    if (!field("failure").is_string()) refuse(where + ".failure", "is not a text");
    // The simulator's reason, shown as it is, but no longer than a line.
    r.Failure = QuotedForMessage(field("failure").get_ref<const std::string&>(), kMostFailureBytes);
    if (const nlohmann::json& least = field("least"); !least.is_null()) r.Least = leastOf(least, where + ".least");
    const nlohmann::json& curve = field("curve");
    if (!curve.is_array() || curve.size() > kMostCurvePoints) refuse(where + ".curve", "is not a list of steps");
    for (std::size_t k = 0; k < curve.size(); ++k) {
      const std::string at = where + ".curve[" + std::to_string(k) + "]";
      if (!curve[k].is_array() || curve[k].size() != 2 || !curve[k][1].is_number() ||
          !(curve[k][1].get<double>() >= 0.0 && curve[k][1].get<double>() <= 1.0))
        refuse(at, "is not a step and a margin from 0 to 1 s");
      r.Curve.emplace_back(wholeOf(curve[k][0], at, 0, std::numeric_limits<std::int64_t>::max()),
                           curve[k][1].get<double>());
    }
    const nlohmann::json& final = field("final");
    if (!final.is_array()) refuse(where + ".final", "is not a list");
    if (r.Judged) {
      r.Final = analysisOf(final, where + ".final").Runs;
    } else {
      // A change the search could not judge has no runs, and cannot have reached anything.
      if (!final.empty()) refuse(where + ".final", "holds runs of a change that was not judged");
      if (r.Works) refuse(where + ".works", "claims a change that was not judged works");
    }
    part.Units.push_back(std::move(r));
  }
  return part;
}

}  // namespace busweave
