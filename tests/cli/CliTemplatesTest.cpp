// Templates as busweave-cli reads them for circuit, simulate and analyze: blanks of every kind,
// a missing templates folder, ngspice's commands and files from elsewhere; and the
// analyze-worker's standard input, which only the analysis should feed.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <thread>

#include "CliProgram.h"
#include "TempFolder.h"
#include "circuit/CircuitFile.h"

namespace busweave {
namespace {

using test::RunCliProgram;
using test::WriteBytes;

const std::string kSixStations = BUSWEAVE_EXAMPLES "/six-stations.bwn";

// The built-in trailer with Extra before its .TRAN.
std::string trailerWith(const std::string& Extra) {
  std::string text;
  for (const auto& line : BuiltInTrailer()) text += (line.rfind(".TRAN", 0) == 0 ? Extra : "") + line + "\r\n";
  return text;
}

TEST(CliTemplates, EveryBlankOfCIsBlankToTheSimulationAndTheAnalysis) {
  test::TempFolder folder;
  // Lines of only blanks, form feeds and vertical tabs among them, and nested braces.
  std::string trailer = trailerWith("\f\r\n \v \r\n\t\f\v\r\n");
  trailer.replace(trailer.find("{xTP}"), 5, "{{xTP}}");
  WriteBytes(folder.File("Busweave.TR"), trailer);
  const auto analysed = RunCliProgram({"analyze", kSixStations, "--templates", folder.Path(), "--jobs", "2"}, 300);
  EXPECT_EQ(analysed.Code, 0) << analysed.Err;
  EXPECT_NE(analysed.Out.find("6 stations"), std::string::npos) << analysed.Out;
  EXPECT_EQ(RunCliProgram({"simulate", kSixStations, "--templates", folder.Path()}, 300).Code, 0);
}

TEST(CliTemplates, ANamedFolderThatIsMissingIsAnError) {
  test::TempFolder folder;
  const std::string circuit = folder.File("out.cir");
  WriteBytes(folder.File("file"), "");
  for (const char* command : {"circuit", "simulate", "analyze"})
    for (const std::string& templates : {folder.File("nodir"), folder.File("file")}) {
      std::vector<std::string> args{command, kSixStations, "--templates", templates};
      if (args[0] == "circuit") args.insert(args.end(), {"-o", circuit});
      const auto outcome = RunCliProgram(args);
      EXPECT_EQ(outcome.Code, 1) << command;
      EXPECT_NE(outcome.Err.find("templates folder " + templates), std::string::npos) << outcome.Err;
    }
  EXPECT_FALSE(std::filesystem::exists(circuit));
}

TEST(CliTemplates, NgspiceCommandsAndFilesFromElsewhereAreNotSimulated) {
  test::TempFolder folder;
  const std::string marker = folder.File("ran");
  const std::string models = folder.File("models.inc");
  WriteBytes(models, "* models of the folder\r\n.MODEL SPARE D\r\n");
  for (const auto& [extra, named] : std::vector<std::pair<std::string, std::string>>{
           {".control\r\nshell touch " + marker + "\r\n.endc\r\n", ".control"},
           {"  .CONTROL\r\n", ".CONTROL"},
           {"*# shell touch " + marker + "\r\n", "*#"},
           {".include /etc/hostname\r\n", "/etc/hostname"},
           {".inc " + models + "\r\n.lib \"" + folder.File("../elsewhere.lib") + "\" fast\r\n", "elsewhere.lib"}}) {
    WriteBytes(folder.File("Busweave.TR"), trailerWith(extra));
    for (const char* command : {"simulate", "analyze"}) {
      const auto outcome = RunCliProgram({command, kSixStations, "--templates", folder.Path()}, 300);
      EXPECT_EQ(outcome.Code, 1) << command << " " << extra;
      EXPECT_NE(outcome.Err.find(folder.File("Busweave.TR") + " line "), std::string::npos) << outcome.Err;
      EXPECT_NE(outcome.Err.find(named), std::string::npos) << outcome.Err;
    }
    // The circuit file keeps the template as written.
    const std::string circuit = folder.File("out.cir");
    ASSERT_EQ(RunCliProgram({"circuit", kSixStations, "--templates", folder.Path(), "-o", circuit}).Code, 0);
    EXPECT_NE(test::ReadBytes(circuit).find(extra), std::string::npos);
  }
  EXPECT_FALSE(std::filesystem::exists(marker));
  // A file of the folder may be included, but not when it holds commands itself.
  WriteBytes(folder.File("Busweave.TR"), trailerWith(".include " + models + "\r\n"));
  EXPECT_EQ(RunCliProgram({"simulate", kSixStations, "--templates", folder.Path()}, 300).Code, 0);
  WriteBytes(models, "* models\r\n.control\r\n");
  const auto nested = RunCliProgram({"simulate", kSixStations, "--templates", folder.Path()}, 300);
  EXPECT_EQ(nested.Code, 1);
  EXPECT_NE(nested.Err.find(models + " line 2"), std::string::npos) << nested.Err;

  // Nor does ngspice's own start-up file in the folder one works in.
  WriteBytes(folder.File(".spiceinit"), "shell touch " + marker + "\n");
  WriteBytes(models, "* models\r\n");
  const auto here = test::RunProgram("/bin/sh",
                                     {"-c", "cd '" + folder.Path().string() + "' && exec '" + BUSWEAVE_CLI_PROGRAM +
                                                "' simulate '" + kSixStations + "' --csv out.csv"},
                                     300);
  EXPECT_EQ(here.Code, 0) << here.Err;
  EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST(CliTemplates, TheWorkerReadsABoundedCircuitAndNeverCrashes) {
  test::TempFolder folder;
  const auto worker = [&](const std::string& Input) {
    return test::RunProgram(BUSWEAVE_CLI_PROGRAM, {"analyze-worker", "--transmitter", "0"}, 120, Input);
  };
  // More newlines than any circuit holds, through a pipe as the analysis sends them.
  ::signal(SIGPIPE, SIG_IGN);
  const std::string pipe = folder.File("pipe");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  std::thread writer([&] {
    const int fd = ::open(pipe.c_str(), O_WRONLY);
    const std::string newlines(1 << 16, '\n');
    for (std::size_t sent = 0; fd >= 0 && sent <= MaxCircuitBytes; sent += newlines.size())
      if (::write(fd, newlines.data(), newlines.size()) < 0) break;
    if (fd >= 0) ::close(fd);
  });
  const auto endless = worker(pipe);
  writer.join();
  EXPECT_EQ(endless.Code, 1);
  EXPECT_NE(endless.Err.find("larger than"), std::string::npos) << endless.Err;

  // A line of a form feed alone, a parameter nested too deeply, random megabytes: refused with
  // a message, never a crash.
  std::mt19937 random(23);
  std::vector<std::string> inputs{"title\n\f\nX1 1 CANDRV\n",
                                  "title\n.PARAM a = " + std::string(5000, '(') + "1" + std::string(5000, ')') + "\n"};
  for (int i = 0; i < 6; ++i) {
    inputs.emplace_back(1 << 20, '\0');
    for (char& c : inputs.back()) c = static_cast<char>(random());
  }
  for (const std::string& input : inputs) {
    WriteBytes(folder.File("input"), input);
    const auto outcome = worker(folder.File("input"));
    EXPECT_EQ(outcome.Code, 1) << outcome.Err;
    EXPECT_FALSE(outcome.Err.empty());
  }
}

}  // namespace
}  // namespace busweave
