#include "cli/AnalysisOptions.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <thread>

#include "analysis/AnalysisPart.h"
#include "cli/CliCommon.h"

namespace busweave::cli {

// "125k", "1M", "500000": a bit rate from 1 kbit/s to 100 Mbit/s.
std::optional<std::int64_t> RateOf(const std::string& Text) {
  if (Text.empty()) return std::nullopt;
  std::string digits = Text;
  double scale = 1;
  if (digits.back() == 'k' || digits.back() == 'K') scale = 1e3;
  if (digits.back() == 'M') scale = 1e6;
  if (scale != 1) digits.pop_back();
  // Decimal digits with at most one point: no sign, blank, exponent or hexadecimal, which the
  // number reader would take ("0x3e8", "1e3k").
  if (digits.find_first_not_of("0123456789.") != std::string::npos ||
      std::count(digits.begin(), digits.end(), '.') > 1 || digits.find_first_of("0123456789") == std::string::npos)
    return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(digits.c_str(), &end);
  if (digits.empty() || *end != '\0' || !std::isfinite(value)) return std::nullopt;
  const double rate = value * scale;
  if (rate != std::floor(rate) || rate < static_cast<double>(kLeastBitRate) || rate > static_cast<double>(kMostBitRate))
    return std::nullopt;
  return static_cast<std::int64_t>(rate);
}

namespace {

bool rateList(const TArguments& Args, const std::string& Name, std::vector<std::int64_t>& Rates) {
  if (!Args.Has(Name)) return true;
  std::vector<std::int64_t> rates;
  std::stringstream text(Args.Options.at(Name));
  std::string item;
  while (std::getline(text, item, ',')) {
    const auto rate = RateOf(item);
    if (!rate) return false;
    rates.push_back(*rate);
  }
  if (rates.empty()) return false;
  std::sort(rates.begin(), rates.end());
  rates.erase(std::unique(rates.begin(), rates.end()), rates.end());
  Rates = rates;
  return true;
}

}  // namespace

std::optional<std::string> ReadAnalysisSettings(const TArguments& Args, TAnalysisSettings& S) {
  double loopNs = S.LoopDelay * 1e9;
  double sp = S.SamplePoint * 100;
  double spd = S.DataSamplePoint * 100;
  double sjw = S.Sjw * 100;
  double dataSjw = S.DataSjw * 100;
  double margin = S.Margin * 100;
  if (!NumberOption(Args, "--dominant", -kMostThresholdVolts, kMostThresholdVolts, S.Thresholds.Dominant))
    return "--dominant needs a voltage from -100 to 100";
  if (!NumberOption(Args, "--recessive", -kMostThresholdVolts, kMostThresholdVolts, S.Thresholds.Recessive))
    return "--recessive needs a voltage from -100 to 100";
  if (!(S.Thresholds.Recessive < S.Thresholds.Dominant))
    return "the recessive threshold must lie below the dominant one";
  if (!NumberOption(Args, "--loop-delay", 0, kMostLoopDelayNs, loopNs))
    return "--loop-delay needs nanoseconds from 0 to 1000000";
  if (!NumberOption(Args, "--sample-point", kLeastSamplePointPercent, 100, sp))
    return "--sample-point needs a percentage from 1 to 100";
  if (!NumberOption(Args, "--data-sample-point", kLeastSamplePointPercent, 100, spd))
    return "--data-sample-point needs a percentage from 1 to 100";
  if (!NumberOption(Args, "--sjw", 0, kMostSjwPercent, sjw)) return "--sjw needs a percentage from 0 to 100";
  if (!NumberOption(Args, "--data-sjw", 0, kMostSjwPercent, dataSjw))
    return "--data-sjw needs a percentage from 0 to 100";
  if (!NumberOption(Args, "--margin", 0, kMostMarginPercent, margin)) return "--margin needs a percentage from 0 to 50";
  if (!NumberOption(Args, "--margin-v", 0, kMostMarginVolts, S.MarginVolts))
    return "--margin-v needs a voltage from 0 to 10";
  if (!rateList(Args, "--arbitration-rates", S.ArbitrationRates))
    return "--arbitration-rates needs bit rates from 1k to 100M, comma-separated";
  if (!rateList(Args, "--data-rates", S.DataRates))
    return "--data-rates needs bit rates from 1k to 100M, comma-separated";
  if (Args.Has("--require-bitrate")) {
    const auto rate = RateOf(Args.Options.at("--require-bitrate"));
    if (!rate) return "--require-bitrate needs a bit rate from 1k to 100M";
    S.RequiredRate = *rate;
  }
  S.LoopDelay = loopNs * 1e-9;
  S.SamplePoint = sp / 100;
  S.DataSamplePoint = spd / 100;
  S.Sjw = sjw / 100;
  S.DataSjw = dataSjw / 100;
  S.Margin = margin / 100;
  S.CompensateDriver = !Args.Has("--no-compensation");
  return std::nullopt;
}

bool ShardOption(const TArguments& Args, int& Shard, int& Shards) {
  if (!Args.Has("--shard")) return true;
  const std::string& text = Args.Options.at("--shard");
  char* end = nullptr;
  const long i = std::strtol(text.c_str(), &end, 10);
  const long n = *end == '/' ? std::strtol(end + 1, &end, 10) : 0;
  if (text.empty() || *end != '\0' || n < 1 || n > kMostShards || i < 1 || i > n) return false;
  Shard = static_cast<int>(i);
  Shards = static_cast<int>(n);
  return true;
}

std::optional<int> JobsOption(const TArguments& Args) {
  std::uint32_t jobs = std::max(1u, std::thread::hardware_concurrency());
  if (!WholeOption(Args, "--jobs", 1, 1024, jobs)) return std::nullopt;
  return static_cast<int>(jobs);
}

std::optional<std::string> WorkerProgram() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::nullopt;
  if (self.filename().string().rfind(kProgram, 0) == 0) return self.string();
  const std::filesystem::path beside = self.parent_path() / kProgram;
  if (std::filesystem::is_regular_file(beside, error)) return beside.string();
  return std::nullopt;
}

}  // namespace busweave::cli
