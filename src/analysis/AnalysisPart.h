#pragma once

// A part of a sharded bus analysis: what `analyze --shard I/N` prints and `analyze-merge` joins.
// A part records what it was made from (digests of the network file, of the templates and of the
// options), so that parts of different inputs are never joined into one verdict, and reading
// one checks every number against what the analysis itself accepts: parts come from other
// machines and are outside input.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/AnalysisRun.h"
#include "verdict/BusAnalysis.h"

namespace busweave {

// The ranges analyze accepts for its options, in the units of the options.
inline constexpr double kMostThresholdVolts = 100.0;  // either threshold within +- this
inline constexpr double kMostLoopDelayNs = 1e6;
inline constexpr double kLeastSamplePointPercent = 1.0;  // up to 100
inline constexpr double kMostSjwPercent = 100.0;         // from 0
inline constexpr double kMostMarginPercent = 50.0;       // from 0: the sample point within the bit
inline constexpr double kMostMarginVolts = 10.0;         // from 0
inline constexpr std::int64_t kLeastBitRate = 1000;
inline constexpr std::int64_t kMostBitRate = 100000000;
inline constexpr int kMostShards = 100000;

// A part larger than this is not one (a part of a bus of hundreds of stations stays far below).
inline constexpr std::size_t kMostPartBytes = std::size_t{64} << 20;

// Why the settings lie outside what analyze accepts, or nothing when they do not.
std::optional<std::string> SettingsProblem(const TAnalysisSettings& Settings);

// SHA-256 digests, in lower-case hex, of what a part was made from.
struct TPartSource {
  std::string Network;  // the network file's bytes
  std::string Header;   // the header template's text as used (the built-in text without one)
  std::string Trailer;  // the trailer template's text as used
  std::string Options;  // the analysis settings, as the part's parameters hold them

  bool operator==(const TPartSource&) const = default;
};

struct TAnalysisPart {
  std::string File;       // the network file, as analyze was given it
  std::string Templates;  // the templates' folder, as analyze was given it
  std::string Folder;     // the absolute folder analyze ran in; empty in parts of older versions
  int Shard = 1;          // 1 <= Shard <= Shards
  int Shards = 1;
  TAnalysisSettings Settings;
  TPartSource Source;
  std::vector<std::string> Stations;  // every station of the bus, by index
  std::vector<TTransmitterRun> Runs;  // the transmitters of this shard, in station order
};

// The stations (indices) that the shard-th of Shards parts runs as transmitters.
std::vector<std::size_t> ShardTransmitters(std::size_t Stations, int Shard, int Shards);

// The digests of the network file, of the templates' text as read for the runs (the built-in
// texts without them) and of the settings. Throws EFOpenError when the file cannot be read.
TPartSource PartSourceOf(const std::string& NetworkFile, const TCircuitTemplates& Templates,
                         const TAnalysisSettings& Settings);
// The digest of a file's bytes. Throws EFOpenError when it cannot be read.
std::string FileDigest(const std::string& Path);
// The digest of the settings alone.
std::string SettingsDigest(const TAnalysisSettings& Settings);

// The part as one line of JSON.
std::string AnalysisPartJson(const TAnalysisPart& Part);

// Reads a part's JSON. Throws EAnalysisError naming the field and what is wrong with it: not
// JSON, another version, a number out of range, runs that do not belong to the shard or do not
// match the stations, options that do not match their digest.
TAnalysisPart ReadAnalysisPart(std::string_view Text);

}  // namespace busweave
