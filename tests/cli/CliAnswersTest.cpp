// The answers of analyze and advise on the examples and on buses made for the tests, against the
// answers kept in answers/: work on how the analysis runs must leave every rate, deciding pair,
// margin and proposal as it was. A deliberate change of the answers is made by running the test
// with BUSWEAVE_UPDATE_ANSWERS=1 and committing the changed files with the reason.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "CliProgram.h"
#include "Networks.h"
#include "TempFolder.h"

namespace busweave {
namespace {

using Json = nlohmann::json;

// An answer without what belongs to the machine or to the work done to reach it (the file's
// path, counts of runs, waveforms, eyes, every pair's measures): times to 0.1 ns, volts to 1 mV.
Json answerOf(const Json& J) {
  if (J.is_array()) {
    Json out = Json::array();
    for (const Json& element : J) out.push_back(answerOf(element));
    return out;
  }
  if (!J.is_object()) return J;
  Json out = Json::object();
  for (const auto& [key, value] : J.items()) {
    if (key == "file" || key == "runs" || key == "eyes" || key == "curve" || key == "pairs" || key == "margins" ||
        key == "time" || key == "volts")
      continue;
    if (value.is_number_float()) {
      const double scale = key.ends_with("_ns") ? 10.0 : key.ends_with("_v") ? 1000.0 : 1e6;
      out[key] = std::round(value.get<double>() * scale) / scale;
    } else {
      out[key] = answerOf(value);
    }
  }
  return out;
}

TEST(CliAnswers, AnalyzeAndAdviseAnswerAsBefore) {
#ifdef BUSWEAVE_SANITIZED
  GTEST_SKIP() << "whole analyses and searches take minutes under the sanitizers";
#endif
  test::TempFolder folder;
  const std::string misplaced = (folder.Path() / "misplaced.bwn").string();
  test::SaveMisplacedTerminationBus(misplaced);
  const std::string examples = BUSWEAVE_EXAMPLES;
  const std::string six = examples + "/six-stations.bwn";
  const std::string star = examples + "/star-with-long-stubs.bwn";
  const struct {
    const char* Name;
    std::vector<std::string> Args;
  } cases[] = {
      {"six-stations-analyze", {"analyze", six}},
      {"star-analyze", {"analyze", star}},
      {"misplaced-analyze", {"analyze", misplaced}},
      {"six-stations-advise", {"advise", six}},
      {"star-advise", {"advise", star, "--data-rate", "4M", "--arbitration-rate", "500k"}},
      {"misplaced-advise", {"advise", misplaced, "--data-rate", "4M"}},
  };
  const bool update = std::getenv("BUSWEAVE_UPDATE_ANSWERS") != nullptr;
  for (const auto& c : cases) {
    std::vector<std::string> args = c.Args;
    args.insert(args.end(), {"--json", "--jobs", "2"});
    const auto outcome = test::RunCliProgram(args, 600);
    ASSERT_LE(outcome.Code, 1) << c.Name << ": " << outcome.Err;
    Json answer = answerOf(Json::parse(outcome.Out));
    answer["exit"] = outcome.Code;
    const std::string kept = std::string(BUSWEAVE_ANSWERS) + "/" + c.Name + ".json";
    if (update) test::WriteBytes(kept, answer.dump(1) + "\n");
    EXPECT_EQ(answer.dump(1) + "\n", test::ReadBytes(kept)) << c.Name << " answers otherwise than " << kept;
  }
}

}  // namespace
}  // namespace busweave
