// busweave-cli analyze-merge as built, on parts that are damaged, mixed, hostile or huge, and
// analyze with a worker that stops answering: each is refused or ended with a message that
// names the file or field, and nothing the parts were made from is replaced.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <thread>

#include "CliProgram.h"
#include "Networks.h"
#include "TempFolder.h"
#include "circuit/CircuitFile.h"

namespace busweave {
namespace {

using test::ReadBytes;
using test::RunCliProgram;
using test::WriteBytes;
using Json = nlohmann::json;

class CliMergeCases : public testing::Test {
 protected:
  // The part Shard of 2 of Bus, made with Options, saved as Name.
  std::string part(const std::string& Name, const char* Shard, std::vector<std::string> Options = {}) {
    std::vector<std::string> args{"analyze", Bus, "--shard", Shard, "--jobs", "1"};
    args.insert(args.end(), Options.begin(), Options.end());
    const auto made = RunCliProgram(args);
    EXPECT_EQ(made.Code, 0) << made.Err;
    WriteBytes(Folder.File(Name), made.Out);
    return Folder.File(Name);
  }

  test::TempFolder Folder;
  std::string Bus = Folder.File("bus.bwn");
};

TEST_F(CliMergeCases, TheReportReplacesNothingThePartsWereMadeFrom) {
  test::SaveTwoDriverBus(Bus);
  const std::string templates = Folder.File("templates");
  std::filesystem::create_directory(templates);
  const std::string trailer = templates + "/Busweave.TR";
  WriteBytes(trailer, JoinLines(BuiltInTrailer()));
  const std::string first = part("p1.json", "1/2", {"--templates", templates});
  const std::string second = part("p2.json", "2/2", {"--templates", templates});
  std::filesystem::create_symlink(Bus, Folder.File("link.bwn"));
  const std::string bus = ReadBytes(Bus);
  for (const std::string& report : {Bus, Folder.File("link.bwn"), trailer, second}) {
    const auto refused = RunCliProgram({"analyze-merge", first, second, "--report", report});
    EXPECT_EQ(refused.Code, 2) << report;
    EXPECT_NE(refused.Err.find("is the input file"), std::string::npos) << refused.Err;
  }
  EXPECT_EQ(ReadBytes(Bus), bus);
  EXPECT_EQ(ReadBytes(trailer), JoinLines(BuiltInTrailer()));
}

TEST_F(CliMergeCases, PartsOfDifferentInputsAreRefusedByName) {
  test::SaveTwoDriverBus(Bus, 1500);
  const std::string first = part("p1.json", "1/2");
  const std::string second = part("p2.json", "2/2");
  const std::string otherOptions = part("options.json", "2/2", {"--loop-delay", "100"});
  WriteBytes(Folder.File("Busweave.TR"), JoinLines(BuiltInTrailer()) + "* our own trailer\r\n");
  const std::string otherTemplates = part("templates.json", "2/2", {"--templates", Folder.Path().string()});
  // The same file name, another version of the network.
  test::SaveTwoDriverBus(Bus, 30000);
  const std::string otherNetwork = part("network.json", "2/2");
  Json edited = Json::parse(ReadBytes(second));
  edited["parameters"]["sample_point"] = 0.75;
  WriteBytes(Folder.File("edited.json"), edited.dump());

  for (const auto& [file, why] : {std::pair{otherNetwork, "was made from another network file than " + first},
                                  {otherTemplates, "was made from other templates than " + first},
                                  {otherOptions, "was made with other options than " + first},
                                  {Folder.File("edited.json"), "parameters: do not match the digest"}}) {
    const auto refused = RunCliProgram({"analyze-merge", first, file, "--json"});
    EXPECT_EQ(refused.Code, 1) << why;
    EXPECT_TRUE(refused.Out.empty());
    EXPECT_NE(refused.Err.find(file + ": " + why), std::string::npos) << refused.Err;
  }
  // The network changed after the parts were made: the verdict stands with a warning, but a
  // report of the file as it is now would show another bus than was judged.
  const auto warned = RunCliProgram({"analyze-merge", first, second});
  EXPECT_EQ(warned.Code, 0) << warned.Err;
  EXPECT_NE(warned.Err.find("has changed since the parts were made"), std::string::npos) << warned.Err;
  const auto report = RunCliProgram({"analyze-merge", first, second, "--report", Folder.File("r.html")});
  EXPECT_EQ(report.Code, 1);
  EXPECT_FALSE(std::filesystem::exists(Folder.File("r.html")));
}

TEST_F(CliMergeCases, EveryNumberOfAPartIsChecked) {
  test::SaveTwoDriverBus(Bus);
  const std::string first = part("p1.json", "1/2");
  const std::string second = part("p2.json", "2/2");
  const Json good = Json::parse(ReadBytes(first));
  const auto shardIs = [](Json Shard) { return [Shard](Json& P) { P["shard"] = Shard; }; };
  const std::vector<std::pair<std::function<void(Json&)>, std::string>> damages{
      {[](Json& P) { P["parameters"]["sample_point"] = 5.0; }, "parameters: a sample point"},
      {[](Json& P) { P["parameters"]["loop_delay_ns"] = -1e9; }, "parameters: the loop delay"},
      {[](Json& P) { P["parameters"]["required_bitrate"] = -1; }, "parameters.required_bitrate"},
      {[](Json& P) { P["parameters"]["data_rates"] = Json::array(); }, "parameters.data_rates"},
      {shardIs({0, 2}), "shard"},
      {shardIs({-5, 2}), "shard"},
      {shardIs({1.5, 2}), "shard"},
      {shardIs({1, 2147483647}), "shard"},
      {[](Json& P) { P["runs"] = Json::array(); }, "runs: holds 0 transmitters"},
      {[](Json& P) { P.erase("runs"); }, "runs: is missing"},
      {[](Json& P) { P["runs"][0]["pairs"] = Json::array(); }, "runs[0].pairs"},
      {[](Json& P) { P["runs"][0]["pairs"][0]["delay"] = -1e300; }, "runs[0]: a time lies outside the run"},
      {[](Json& P) { P["runs"][0]["transmitter"] = 1e300; }, "runs[0]: a station's number"},
      {[](Json& P) { P["runs"][0]["stations"][1]["station"] = 7; }, "runs[0].stations"},
      {[](Json& P) { P["runs"][0]["traces"][0]["volts"][0] = nullptr; }, "runs[0]: a value is not a number"},
      {[](Json& P) { P["runs"][0]["traces"][0]["station"] = 9; }, "runs[0].traces"},
      {[](Json& P) { P["source"]["network_sha256"] = "x"; }, "source.network_sha256"},
      {[](Json& P) { P["busweave_analysis_part"] = 2; }, "a part of another format (2"}};
  for (const auto& [damage, field] : damages) {
    Json damaged = good;
    damage(damaged);
    WriteBytes(Folder.File("damaged.json"), damaged.dump());
    const auto refused = RunCliProgram({"analyze-merge", Folder.File("damaged.json"), second});
    EXPECT_EQ(refused.Code, 1) << field;
    EXPECT_TRUE(refused.Out.empty()) << field;
    EXPECT_NE(refused.Err.find(Folder.File("damaged.json") + ": " + field), std::string::npos) << refused.Err;
  }
}

TEST_F(CliMergeCases, PartsAreRegularFilesOfBoundedSize) {
  test::SaveTwoDriverBus(Bus);
  const std::string first = part("p1.json", "1/2");
  const std::string fifo = Folder.File("fifo.json");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string huge = Folder.File("huge.json");
  WriteBytes(huge, "{");
  std::filesystem::resize_file(huge, (std::uintmax_t{64} << 20) + 1);
  // Refused before it is parsed, which would take gigabytes at 64 MiB.
  const std::string deep = Folder.File("deep.json");
  WriteBytes(deep, std::string(1 << 20, '['));
  for (const auto& [file, why] :
       {std::pair{fifo, "not a regular file"}, {huge, "larger than"}, {deep, "nests deeper than 32 levels"}}) {
    const auto refused = RunCliProgram({"analyze-merge", first, file}, 20);
    EXPECT_EQ(refused.Code, 1);
    EXPECT_NE(refused.Err.find(file), std::string::npos) << refused.Err;
    EXPECT_NE(refused.Err.find(why), std::string::npos) << refused.Err;
  }
}

TEST_F(CliMergeCases, AMergeElsewhereFindsTheFilesThePartsNameAndRefusesChangedTemplates) {
  test::SaveTwoDriverBus(Bus);
  std::filesystem::create_directory(Folder.File("tpl"));
  WriteBytes(Folder.File("tpl/Busweave.TR"), JoinLines(BuiltInTrailer()));
  std::string made;
  {
    test::CurrentFolderGuard inFolder(Folder.Path());
    const auto shard = RunCliProgram({"analyze", "bus.bwn", "--templates", "tpl", "--shard", "1/1", "--jobs", "1"});
    ASSERT_EQ(shard.Code, 0) << shard.Err;
    made = shard.Out;
  }
  // Merged from the test's own folder: the relative paths are found where analyze ran, and the
  // proof runs (nothing stands unproved).
  WriteBytes(Folder.File("part.json"), made);
  const auto merged = RunCliProgram({"analyze-merge", Folder.File("part.json")});
  EXPECT_EQ(merged.Code, 0) << merged.Err;
  EXPECT_EQ(merged.Err.find("not proved"), std::string::npos) << merged.Err;
  WriteBytes(Folder.File("tpl/Busweave.TR"), JoinLines(BuiltInTrailer()) + "* edited\r\n");
  const auto changed = RunCliProgram({"analyze-merge", Folder.File("part.json")});
  EXPECT_EQ(changed.Code, 1);
  EXPECT_NE(changed.Err.find("are not found unchanged"), std::string::npos) << changed.Err;
}

TEST_F(CliMergeCases, AWorkerThatSendsNothingIsEndedAndNamed) {
  const std::string example = std::string(BUSWEAVE_EXAMPLES) + "/six-stations.bwn";
  // Runs longer than the timeout go on: a working worker says so.
  const auto busy = test::StartedProgram(BUSWEAVE_CLI_PROGRAM, {"analyze", example, "--jobs", "2"}, 120, "/dev/null",
                                         "", {"BUSWEAVE_WORKER_TIMEOUT=1.5"})
                        .Wait();
  EXPECT_EQ(busy.Code, 0) << busy.Err;

  test::StartedProgram analyze(BUSWEAVE_CLI_PROGRAM, {"analyze", example, "--jobs", "1"}, 60, "/dev/null", "",
                               {"BUSWEAVE_WORKER_TIMEOUT=2"});
  // A transmitter's worker, not the short run of the driver alone that comes first.
  std::vector<pid_t> workers;
  for (int tries = 0; tries < 200 && workers.empty(); ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    workers = test::ChildProcesses(analyze.Pid());
    std::erase_if(workers, [](pid_t Pid) {
      return ReadBytes("/proc/" + std::to_string(Pid) + "/cmdline").find("--transmitter") == std::string::npos;
    });
  }
  ASSERT_EQ(workers.size(), 1u);
  ::kill(workers[0], SIGSTOP);
  const auto stopped = analyze.Wait();
  EXPECT_EQ(stopped.Code, 1);
  EXPECT_NE(stopped.Err.find("the run with [1] ECU1 transmitting: its worker sent nothing for 2 s"), std::string::npos)
      << stopped.Err;
}

// Gone, or dead and waiting for init to reap it.
bool ended(pid_t Pid) {
  const std::string stat = ReadBytes("/proc/" + std::to_string(Pid) + "/stat");
  const auto close = stat.rfind(')');
  return close == std::string::npos || stat.substr(close + 2, 1) == "Z";
}

TEST_F(CliMergeCases, WorkersEndWithTheirParentWhenOnlyItIsSignalled) {
  const std::string example = std::string(BUSWEAVE_EXAMPLES) + "/six-stations.bwn";
  for (const int signal : {SIGTERM, SIGINT}) {
    test::StartedProgram analyze(BUSWEAVE_CLI_PROGRAM, {"analyze", example, "--jobs", "2"}, 60);
    std::vector<pid_t> workers;
    for (int tries = 0; tries < 500 && workers.empty(); ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      workers = test::ChildProcesses(analyze.Pid());
    }
    ASSERT_FALSE(workers.empty());
    ::kill(analyze.Pid(), signal);
    EXPECT_EQ(analyze.Wait().Code, 128 + signal);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(test::LoadScaledSeconds(10));
    while (!std::all_of(workers.begin(), workers.end(), ended) && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(std::all_of(workers.begin(), workers.end(), ended)) << "signal " << signal;
  }
}

}  // namespace
}  // namespace busweave
