// Templates as busweave-cli reads them for circuit, simulate and analyze: blanks of every kind,
// a templates folder that is missing, ngspice's commands and files from elsewhere; and the
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

using test::ProgramOutcome;
using test::RunCliProgram;
using test::TempFolder;
using test::WriteBytes;

const std::string kSixStations = BUSWEAVE_EXAMPLES "/six-stations.bwn";

// The built-in trailer with Extra before its .TRAN.
std::string trailerWith(const std::string& Extra) {
  std::string text;
  for (const auto& line : BuiltInTrailer()) text += (line.rfind(".TRAN", 0) == 0 ? Extra : "") + line + "\r\n";
  return text;
}

bool mentions(const ProgramOutcome& Outcome, const std::string& Text) {
  return Outcome.Err.find(Text) != std::string::npos;
}

TEST(CliTemplates, EveryBlankOfCIsBlankToTheSimulationAndTheAnalysis) {
  TempFolder folder;
  // Lines of only blanks, form feeds and vertical tabs among them, and a driver source whose
  // times nest braces.
  std::string trailer = trailerWith("\f\r\n \v \r\n\t\f\v\r\n");
  const std::string pulse = "{xTP}";
  trailer.replace(trailer.find(pulse), pulse.size(), "{{xTP}}");
  WriteBytes(folder.File("Busweave.TR"), trailer);
  const auto analysed = RunCliProgram({"analyze", kSixStations, "--templates", folder.Path(), "--jobs", "2"}, 300);
  EXPECT_EQ(analysed.Code, 0) << analysed.Err;
  EXPECT_NE(analysed.Out.find("6 stations"), std::string::npos) << analysed.Out;
  EXPECT_EQ(RunCliProgram({"simulate", kSixStations, "--templates", folder.Path()}, 300).Code, 0);
}

TEST(CliTemplates, ANamedFolderThatIsMissingIsAnError) {
  TempFolder folder;
  const std::string missing = folder.File("nodir");
  WriteBytes(folder.File("file"), "");
  const std::string circuit = folder.File("out.cir");
  for (const char* command : {"circuit", "simulate", "analyze"})
    for (const std::string& templates : {missing, folder.File("file")}) {
      std::vector<std::string> args{command, kSixStations, "--templates", templates};
      if (args[0] == "circuit") args.insert(args.end(), {"-o", circuit});
      const auto outcome = RunCliProgram(args);
      EXPECT_EQ(outcome.Code, 1) << command;
      EXPECT_TRUE(mentions(outcome, "templates folder " + templates)) << outcome.Err;
    }
  EXPECT_FALSE(std::filesystem::exists(circuit));
}

TEST(CliTemplates, NgspiceCommandsAndFilesFromElsewhereAreNotSimulated) {
  TempFolder folder;
  const std::string marker = folder.File("ran");
  const std::string models = folder.File("models.inc");
  WriteBytes(models, "* models of the folder\r\n.MODEL SPARE D\r\n");
  const std::vector<std::pair<std::string, std::string>> refused{
      {".control\r\nshell touch " + marker + "\r\n.endc\r\n", ".control"},
      {"  .CONTROL\r\n", ".CONTROL"},
      {"*# shell touch " + marker + "\r\n", "*#"},
      {".include /etc/hostname\r\n", "/etc/hostname"},
      {".lib \"" + folder.File("../elsewhere.lib") + "\" fast\r\n", "elsewhere.lib"},
      {".inc " + models + "\r\n.inc ~/x\r\n", "~/x"}};
  for (const auto& [extra, named] : refused) {
    const std::string trailer = trailerWith(extra);
    WriteBytes(folder.File("Busweave.TR"), trailer);
    const std::string where = folder.File("Busweave.TR") + " line ";
    for (const char* command : {"simulate", "analyze"}) {
      const auto outcome = RunCliProgram({command, kSixStations, "--templates", folder.Path()}, 300);
      EXPECT_EQ(outcome.Code, 1) << command << " " << extra;
      EXPECT_TRUE(mentions(outcome, where) && mentions(outcome, named)) << outcome.Err;
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
  EXPECT_TRUE(mentions(nested, models + " line 2")) << nested.Err;
}

TEST(CliTemplates, TheWorkerReadsABoundedCircuitAndNeverCrashes) {
  TempFolder folder;
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

  // Random megabytes, a line of a form feed alone, a parameter nested too deeply: refused with a
  // message, never a crash.
  std::mt19937 random(23);
  std::vector<std::string> inputs{"title\n\f\nX1 1 CANDRV\n",
                                  "title\n.PARAM a = " + std::string(5000, '(') + "1" + std::string(5000, ')') + "\n"};
  for (int i = 0; i < 6; ++i) {
    std::string bytes(1 << 20, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    inputs.push_back(std::move(bytes));
  }
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const std::string input = folder.File("input");
    WriteBytes(input, inputs[i]);
    const auto outcome = worker(input);
    EXPECT_EQ(outcome.Code, 1) << "input " << i << ": " << outcome.Err;
    EXPECT_FALSE(outcome.Err.empty()) << "input " << i;
  }
}

}  // namespace
}  // namespace busweave
