// The parts of a sharded advice search as JSON: what advise --shard prints and advise-merge
// reads. Parts come from other machines, so every field is checked as it is read.

#include <nlohmann/json.hpp>
#include <set>

#include "sim/AdviceSearch.h"

namespace busweave {

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
  const nlohmann::json part = {{"format", "busweave-advice-part"},
                               {"version", 1},
                               {"shard", Part.Shard},
                               {"shards", Part.Shards},
                               {"analysis", nlohmann::json::parse(AnalysisPartJson(today))},
                               {"data_rate", Part.Targets.DataRate},
                               {"arbitration_rate", Part.Targets.ArbitrationRate},
                               {"candidates", Part.Candidates},
                               {"singles", Part.Singles},
                               {"units", units}};
  return part.dump() + "\n";
}

TAdvicePart ReadAdvicePart(std::string_view Text) {
  nlohmann::json j;
  try {
    j = nlohmann::json::parse(Text);
  } catch (const nlohmann::json::exception&) {
    throw EAnalysisError("it is not JSON");
  }
  try {
    if (!j.is_object() || j.value("format", "") != "busweave-advice-part")
      throw EAnalysisError("it is not a part of a search");
    if (j.at("version") != 1) throw EAnalysisError("it is of another version of the program");
    TAdvicePart part;
    const TAnalysisPart analysis = ReadAnalysisPart(j.at("analysis").dump());
    part.File = analysis.File;
    part.Templates = analysis.Templates;
    part.Settings = analysis.Settings;
    part.Source = analysis.Source;
    part.Stations = analysis.Stations;
    part.Today = analysis.Runs;
    part.Shard = j.at("shard").get<int>();
    part.Shards = j.at("shards").get<int>();
    if (part.Shards < 1 || part.Shards > kMostShards || part.Shard < 1 || part.Shard > part.Shards)
      throw EAnalysisError("its shard " + std::to_string(part.Shard) + " of " + std::to_string(part.Shards) +
                           " is not one");
    for (const char* name : {"data_rate", "arbitration_rate"}) {
      const auto rate = j.at(name).get<std::int64_t>();
      if (rate < kLeastBitRate || rate > kMostBitRate)
        throw EAnalysisError(std::string("its ") + name + " " + std::to_string(rate) + " is out of range");
    }
    part.Targets = {j.at("data_rate").get<std::int64_t>(), j.at("arbitration_rate").get<std::int64_t>()};
    part.Candidates = j.at("candidates").get<std::vector<std::string>>();
    part.Singles = j.at("singles").get<std::size_t>();
    if (part.Singles > part.Candidates.size()) throw EAnalysisError("it counts more single changes than it lists");
    const std::set<std::string> ids(part.Candidates.begin(), part.Candidates.end());
    for (const nlohmann::json& u : j.at("units")) {
      TUnitResult r;
      r.Candidate = u.at("candidate").get<std::string>();
      r.Works = u.at("works").get<bool>();
      r.Step = u.at("step").get<std::int64_t>();
      r.Runs = u.at("runs").get<int>();
      r.Judged = u.at("judged").get<bool>();
      r.MaxArbitrationRate = u.at("max_arbitration_rate").get<std::int64_t>();
      r.MaxDataRate = u.at("max_data_rate").get<std::int64_t>();
      r.Failure = u.at("failure").get<std::string>();
      if (!ids.count(r.Candidate))
        throw EAnalysisError("a result names the change " + r.Candidate + ", which it does not list");
      if (r.Step < 0 || r.Runs < 0 || r.MaxArbitrationRate < 0 || r.MaxDataRate < 0)
        throw EAnalysisError("the result of " + r.Candidate + " holds a step, a count or a rate out of range");
      for (const nlohmann::json& run : u.at("final")) {
        r.Final.push_back(TransmitterRunFromJson(run.dump()));
        const int t = r.Final.back().Transmitter;
        if (t < 0 || static_cast<std::size_t>(t) >= part.Stations.size() ||
            static_cast<std::size_t>(t) != r.Final.size() - 1)
          throw EAnalysisError("the result of " + r.Candidate + " holds a run of transmitter " + std::to_string(t) +
                               " out of order");
      }
      part.Units.push_back(std::move(r));
    }
    return part;
  } catch (const nlohmann::json::exception& error) {
    throw EAnalysisError(std::string("a field is missing or of the wrong kind (") + error.what() + ")");
  }
}

}  // namespace busweave
