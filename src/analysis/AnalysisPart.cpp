#include "analysis/AnalysisPart.h"

#include <fcntl.h>
#include <unistd.h>

#include <QByteArray>
#include <QByteArrayView>
#include <QCryptographicHash>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "base/SafeFile.h"
#include "circuit/CircuitFile.h"
#include "model/ModelErrors.h"

namespace busweave {
namespace {

using Json = nlohmann::json;

// Parts made before this format lack the digests of what they were made from.
constexpr int kPartVersion = 3;
// A network holds at most this many elements, so no bus has more stations.
constexpr std::size_t kMostStations = 65535;
// Settings go through a unit change and back (ns in the part, s in memory): a bound may be
// passed by that rounding, never by more.
constexpr double kRounding = 1e-9;

std::string hex(const QByteArray& Digest) { return Digest.toHex().toStdString(); }

std::string sha256(std::string_view Bytes) {
  return hex(QCryptographicHash::hash(QByteArrayView(Bytes.data(), static_cast<qsizetype>(Bytes.size())),
                                      QCryptographicHash::Sha256));
}

}  // namespace

std::string FileDigest(const std::string& Path) {
  const int fd = openRegularFile(Path);
  QCryptographicHash hash(QCryptographicHash::Sha256);
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      throw EFOpenError(Path, std::strerror(error), error);
    }
    if (n == 0) break;
    hash.addData(QByteArrayView(buffer, static_cast<qsizetype>(n)));
  }
  ::close(fd);
  return hex(hash.result());
}

namespace {

bool within(double Value, double Low, double High) {
  const double slack = kRounding * std::max({std::fabs(Low), std::fabs(High), 1.0});
  return std::isfinite(Value) && Value >= Low - slack && Value <= High + slack;
}

bool rateWithin(std::int64_t Rate) { return Rate >= kLeastBitRate && Rate <= kMostBitRate; }

[[noreturn]] void refuse(const std::string& Field, const std::string& Problem) {
  throw EAnalysisError(Field + ": " + Problem);
}

const Json& member(const Json& Object, const char* Name, const std::string& Where) {
  const std::string field = Where.empty() ? Name : Where + "." + Name;
  if (!Object.is_object()) refuse(Where, "is not an object");
  const auto found = Object.find(Name);
  if (found == Object.end()) refuse(field, "is missing");
  return *found;
}

double numberOf(const Json& Value, const std::string& Field) {
  if (!Value.is_number()) refuse(Field, "is not a number");
  const double number = Value.get<double>();
  if (!std::isfinite(number)) refuse(Field, "is not a finite number");
  return number;
}

// A whole number within [Low, High]; fractions, booleans and numbers beyond are refused.
std::int64_t wholeOf(const Json& Value, const std::string& Field, std::int64_t Low, std::int64_t High) {
  const std::string range = "from " + std::to_string(Low) + " to " + std::to_string(High);
  if (!Value.is_number_integer()) refuse(Field, "is not a whole number " + range);
  if (Value.is_number_unsigned() && Value.get<std::uint64_t>() > static_cast<std::uint64_t>(High))
    refuse(Field, "is not a whole number " + range);
  const std::int64_t number = Value.get<std::int64_t>();
  if (number < Low || number > High) refuse(Field, "is not a whole number " + range);
  return number;
}

std::string textOf(const Json& Value, const std::string& Field) {
  if (!Value.is_string()) refuse(Field, "is not a text");
  return Value.get<std::string>();
}

std::vector<std::int64_t> ratesOf(const Json& Value, const std::string& Field) {
  if (!Value.is_array() || Value.empty()) refuse(Field, "is not a list of bit rates");
  std::vector<std::int64_t> rates;
  for (const Json& rate : Value) {
    rates.push_back(wholeOf(rate, Field, kLeastBitRate, kMostBitRate));
    // analyze sorts its rates and keeps each once.
    if (rates.size() > 1 && rates.back() <= rates[rates.size() - 2]) refuse(Field, "does not ascend");
  }
  return rates;
}

Json settingsJson(const TAnalysisSettings& S) {
  return {{"dominant_threshold_v", S.Thresholds.Dominant},
          {"recessive_threshold_v", S.Thresholds.Recessive},
          {"loop_delay_ns", S.LoopDelay * 1e9},
          {"sample_point", S.SamplePoint},
          {"data_sample_point", S.DataSamplePoint},
          {"sjw", S.Sjw},
          {"data_sjw", S.DataSjw},
          {"margin", S.Margin},
          {"margin_v", S.MarginVolts},
          {"compensate_driver", S.CompensateDriver},
          {"arbitration_rates", S.ArbitrationRates},
          {"data_rates", S.DataRates},
          {"required_bitrate", S.RequiredRate}};
}

TAnalysisSettings settingsOf(const Json& J) {
  const std::string where = "parameters";
  const auto number = [&](const char* Name) { return numberOf(member(J, Name, where), where + "." + Name); };
  TAnalysisSettings s;
  s.Thresholds.Dominant = number("dominant_threshold_v");
  s.Thresholds.Recessive = number("recessive_threshold_v");
  s.LoopDelay = number("loop_delay_ns") * 1e-9;
  s.SamplePoint = number("sample_point");
  s.DataSamplePoint = number("data_sample_point");
  s.Sjw = number("sjw");
  s.DataSjw = number("data_sjw");
  s.Margin = number("margin");
  s.MarginVolts = number("margin_v");
  const Json& compensate = member(J, "compensate_driver", where);
  if (!compensate.is_boolean()) refuse(where + ".compensate_driver", "is not true or false");
  s.CompensateDriver = compensate.get<bool>();
  s.ArbitrationRates = ratesOf(member(J, "arbitration_rates", where), where + ".arbitration_rates");
  s.DataRates = ratesOf(member(J, "data_rates", where), where + ".data_rates");
  s.RequiredRate =
      wholeOf(member(J, "required_bitrate", where), where + ".required_bitrate", kLeastBitRate, kMostBitRate);
  if (const auto problem = SettingsProblem(s)) refuse(where, *problem);
  return s;
}

std::string digestOf(const Json& Value, const std::string& Field) {
  const std::string digest = textOf(Value, Field);
  if (digest.size() != 64 || digest.find_first_not_of("0123456789abcdef") != std::string::npos)
    refuse(Field, "is not a SHA-256 digest");
  return digest;
}

// A run belongs to the bus: every station's responses in station order, a pair for every other
// station and edge, traces of its stations only.
void checkRun(const TTransmitterRun& Run, const std::vector<std::string>& Stations, const std::string& Where) {
  const std::size_t count = Stations.size();
  const auto sender = static_cast<std::size_t>(Run.Transmitter);
  if (Run.Stations.size() != count) refuse(Where + ".stations", "does not hold every station of the bus");
  for (std::size_t s = 0; s < count; ++s)
    if (Run.Stations[s].Station != static_cast<int>(s) || Run.Stations[s].Name != Stations[s])
      refuse(Where + ".stations", "does not match the part's stations");
  if (Run.Pairs.size() != 2 * (count - 1))
    refuse(Where + ".pairs", "does not hold a pair for every other station and edge");
  std::set<std::pair<int, TBusEdge>> seen;
  for (const TPairMeasure& p : Run.Pairs) {
    const auto receiver = static_cast<std::size_t>(p.Receiver);
    if (p.Transmitter != Run.Transmitter || p.Receiver < 0 || receiver >= count || receiver == sender ||
        p.TransmitterName != Stations[sender] || p.ReceiverName != Stations[receiver] ||
        !seen.insert({p.Receiver, p.Edge}).second)
      refuse(Where + ".pairs", "does not match the part's stations");
  }
  for (const TPlotTrace& t : Run.Traces)
    if (t.Station < 0 || static_cast<std::size_t>(t.Station) >= count)
      refuse(Where + ".traces", "names a station that is not in the bus");
}

}  // namespace

std::optional<std::string> SettingsProblem(const TAnalysisSettings& S) {
  const TThresholds& t = S.Thresholds;
  if (!within(t.Dominant, -kMostThresholdVolts, kMostThresholdVolts) ||
      !within(t.Recessive, -kMostThresholdVolts, kMostThresholdVolts))
    return "a threshold lies outside -100 to 100 V";
  if (!(t.Recessive < t.Dominant)) return "the recessive threshold does not lie below the dominant one";
  if (!within(S.LoopDelay, 0.0, kMostLoopDelayNs * 1e-9)) return "the loop delay lies outside 0 to 1000000 ns";
  if (!within(S.SamplePoint, kLeastSamplePointPercent / 100, 1.0) ||
      !within(S.DataSamplePoint, kLeastSamplePointPercent / 100, 1.0))
    return "a sample point lies outside 1 to 100 %";
  if (!within(S.Sjw, 0.0, kMostSjwPercent / 100) || !within(S.DataSjw, 0.0, kMostSjwPercent / 100))
    return "a synchronisation jump width lies outside 0 to 100 %";
  if (!within(S.Margin, 0.0, kMostMarginPercent / 100)) return "the timing margin lies outside 0 to 50 %";
  if (!within(S.MarginVolts, 0.0, kMostMarginVolts)) return "the voltage margin lies outside 0 to 10 V";
  const auto ratesWithin = [](const std::vector<std::int64_t>& Rates) {
    return !Rates.empty() && std::all_of(Rates.begin(), Rates.end(), rateWithin);
  };
  if (!ratesWithin(S.ArbitrationRates) || !ratesWithin(S.DataRates) || !rateWithin(S.RequiredRate))
    return "a bit rate lies outside 1 kbit/s to 100 Mbit/s";
  return std::nullopt;
}

std::vector<std::size_t> ShardTransmitters(std::size_t Stations, int Shard, int Shards) {
  std::vector<std::size_t> transmitters;
  if (Shard < 1 || Shards < 1) return transmitters;
  for (auto t = static_cast<std::size_t>(Shard - 1); t < Stations; t += static_cast<std::size_t>(Shards))
    transmitters.push_back(t);
  return transmitters;
}

std::string SettingsDigest(const TAnalysisSettings& Settings) { return sha256(settingsJson(Settings).dump()); }

TPartSource PartSourceOf(const std::string& NetworkFile, const TCircuitTemplates& Templates,
                         const TAnalysisSettings& Settings) {
  return {FileDigest(NetworkFile), sha256(PageText(Templates.Header)), sha256(PageText(Templates.Trailer)),
          SettingsDigest(Settings)};
}

std::string AnalysisPartJson(const TAnalysisPart& Part) {
  Json runs = Json::array();
  for (const TTransmitterRun& run : Part.Runs) runs.push_back(Json::parse(TransmitterRunJson(run)));
  const Json source = {{"network_sha256", Part.Source.Network},
                       {"header_sha256", Part.Source.Header},
                       {"trailer_sha256", Part.Source.Trailer},
                       {"options_sha256", Part.Source.Options}};
  Json part = {{"busweave_analysis_part", kPartVersion},
               {"file", Part.File},
               {"templates", Part.Templates},
               {"shard", {Part.Shard, Part.Shards}},
               {"source", source},
               {"parameters", settingsJson(Part.Settings)},
               {"stations", Part.Stations},
               {"runs", runs}};
  if (!Part.Folder.empty()) part["folder"] = Part.Folder;
  return part.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

TAnalysisPart ReadAnalysisPart(std::string_view Text) {
  Json json;
  try {
    json = Json::parse(Text);
  } catch (const nlohmann::json::exception&) {
    throw EAnalysisError("not a part of a bus analysis (made by analyze --shard): not JSON");
  }
  if (!json.is_object() || !json.contains("busweave_analysis_part"))
    throw EAnalysisError("not a part of a bus analysis (made by analyze --shard)");
  const Json& version = json["busweave_analysis_part"];
  if (version != kPartVersion)
    throw EAnalysisError("a part of another format (" + (version.is_number() ? version.dump() : std::string("?")) +
                         ", this program reads " + std::to_string(kPartVersion) +
                         "); make the parts again with this busweave-cli");

  TAnalysisPart part;
  part.File = textOf(member(json, "file", ""), "file");
  if (part.File.empty()) refuse("file", "is empty");
  part.Templates = textOf(member(json, "templates", ""), "templates");
  // Parts of older versions do not say where analyze ran.
  if (const auto folder = json.find("folder"); folder != json.end()) part.Folder = textOf(*folder, "folder");
  const Json& shard = member(json, "shard", "");
  if (!shard.is_array() || shard.size() != 2) refuse("shard", "is not a pair I, N");
  part.Shards = static_cast<int>(wholeOf(shard[1], "shard", 1, kMostShards));
  part.Shard = static_cast<int>(wholeOf(shard[0], "shard", 1, part.Shards));

  const Json& source = member(json, "source", "");
  part.Source.Network = digestOf(member(source, "network_sha256", "source"), "source.network_sha256");
  part.Source.Header = digestOf(member(source, "header_sha256", "source"), "source.header_sha256");
  part.Source.Trailer = digestOf(member(source, "trailer_sha256", "source"), "source.trailer_sha256");
  part.Source.Options = digestOf(member(source, "options_sha256", "source"), "source.options_sha256");
  const Json& parameters = member(json, "parameters", "");
  part.Settings = settingsOf(parameters);
  if (sha256(parameters.dump()) != part.Source.Options)
    refuse("parameters", "do not match the digest of the options they were made with");

  const Json& stations = member(json, "stations", "");
  if (!stations.is_array() || stations.size() < 2 || stations.size() > kMostStations)
    refuse("stations", "is not a list of 2 to 65535 station names");
  for (const Json& name : stations) part.Stations.push_back(textOf(name, "stations"));

  const Json& runs = member(json, "runs", "");
  if (!runs.is_array()) refuse("runs", "is not a list");
  const std::vector<std::size_t> expected = ShardTransmitters(part.Stations.size(), part.Shard, part.Shards);
  if (runs.size() != expected.size())
    refuse("runs", "holds " + std::to_string(runs.size()) + " transmitters where part " + std::to_string(part.Shard) +
                       " of " + std::to_string(part.Shards) + " of a bus of " + std::to_string(part.Stations.size()) +
                       " stations has " + std::to_string(expected.size()));
  for (std::size_t r = 0; r < runs.size(); ++r) {
    const std::string where = "runs[" + std::to_string(r) + "]";
    TTransmitterRun run;
    try {
      run = TransmitterRunFromJson(runs[r].dump());
    } catch (const EAnalysisError& error) {
      refuse(where, error.what());
    }
    if (static_cast<std::size_t>(run.Transmitter) != expected[r])
      refuse(where + ".transmitter", "is not the part's transmitter " + std::to_string(expected[r]));
    checkRun(run, part.Stations, where);
    part.Runs.push_back(std::move(run));
  }
  return part;
}

}  // namespace busweave
