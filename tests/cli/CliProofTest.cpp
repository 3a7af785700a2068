// A verdict or a proposal that a full run of the stream was to prove, when that run does not
// finish: its worker killed, hung, or ngspice stopping short. Each is a named failure with a
// non-zero exit, never a success; the worker's test hook makes one full run fail.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "CliProgram.h"
#include "Networks.h"
#include "TempFolder.h"

namespace busweave {
namespace {

using Json = nlohmann::json;

TEST(CliProof, AFullRunThatDoesNotFinishFailsItsRateByName) {
  test::TempFolder folder;
  const std::string two = folder.File("two.bwn");
  test::SaveTwoDriverBus(two);
  for (const std::string fault : {"kill", "hang", "short"}) {
    SCOPED_TRACE(fault);
    const auto outcome =
        test::StartedProgram(BUSWEAVE_CLI_PROGRAM, {"analyze", two, "--json", "--jobs", "2"}, 600, "/dev/null", "",
                             {"BUSWEAVE_WORKER_FAULT=" + fault + ":5000000", "BUSWEAVE_WORKER_TIMEOUT=2"})
            .Wait();
    EXPECT_EQ(outcome.Code, 1) << outcome.Err;
    EXPECT_NE(outcome.Err.find("not proved: the full run of the stream at data 5 Mbit/s from [1] A did not finish"),
              std::string::npos)
        << outcome.Err;
    // The rate below is proved by its own full run and stands.
    const Json result = Json::parse(outcome.Out);
    EXPECT_EQ(result["max_data_bitrate"], 4000000);
    EXPECT_EQ(result["max_arbitration_bitrate"], 1000000);
  }

  // advise: the move that reaches 4 Mbit/s cannot be proved, so it is not proposed as reaching.
  const std::string bus = folder.File("misplaced.bwn");
  test::SaveMisplacedTerminationBus(bus);
  for (const std::string fault : {"kill", "hang", "short"}) {
    SCOPED_TRACE(fault);
    const auto advised =
        test::StartedProgram(BUSWEAVE_CLI_PROGRAM, {"advise", bus, "--json", "--jobs", "2", "--data-rate", "4M"}, 600,
                             "/dev/null", "",
                             {"BUSWEAVE_WORKER_FAULT=" + fault + ":4000000", "BUSWEAVE_WORKER_TIMEOUT=2"})
            .Wait();
    EXPECT_EQ(advised.Code, 1) << advised.Err;
    EXPECT_NE(advised.Err.find("not proved: "), std::string::npos) << advised.Err;
    const Json advice = Json::parse(advised.Out);
    EXPECT_FALSE(advice["reached"].get<bool>());
    EXPECT_FALSE(advice["unproved"].empty());
    for (const Json& p : advice["proposals"]) EXPECT_FALSE(p["reaches"].get<bool>()) << p["text"];
  }
}

}  // namespace
}  // namespace busweave
