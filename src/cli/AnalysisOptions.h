#pragma once

// What analyze and advise read alike: bit rates as written ("125k", "1M"), the analysis
// settings from their options, and the program the workers run.

#include <cstdint>
#include <optional>
#include <string>

#include "verdict/BusAnalysis.h"

namespace busweave::cli {

struct TArguments;

// The options of the analysis settings, as analyze and advise take them.
inline constexpr const char* kSettingsOptions[] = {
    "--dominant", "--recessive", "--loop-delay",        "--sample-point", "--data-sample-point",
    "--sjw",      "--data-sjw",  "--arbitration-rates", "--data-rates",   "--require-bitrate",
    "--margin",   "--margin-v"};

// "125k", "1M", "500000": a bit rate from 1 kbit/s to 100 Mbit/s, or nothing.
std::optional<std::int64_t> RateOf(const std::string& Text);
// The settings from the options; a usage problem as text.
std::optional<std::string> ReadAnalysisSettings(const TArguments& Args, TAnalysisSettings& S);
// --shard I/N, when given, as Shard and Shards; false when it is not one.
bool ShardOption(const TArguments& Args, int& Shard, int& Shards);
// --jobs N (1 to 1024), by default the number of cores; none when it is not one.
std::optional<int> JobsOption(const TArguments& Args);
// busweave-cli as the worker: this program, unless it runs inside another one (a test), then
// the busweave-cli beside it.
std::optional<std::string> WorkerProgram();

}  // namespace busweave::cli
