// busweave-cli as a process, on the files around it: inputs that never end, outputs that are
// inputs, links, devices and a full standard output.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "CliProgram.h"
#include "Networks.h"
#include "TempFolder.h"
#include "model/NetworkContainer.h"

namespace busweave {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

struct Exit {
  int Code;  // -1 when it had to be killed
  std::string Err;
  bool complains(const std::string& Text) const { return Err.find(Text) != std::string::npos; }
};

// Runs the real busweave-cli with standard input and output from the files given, and kills
// it when it has not ended within ten seconds.
Exit runCli(const std::vector<std::string>& Args, const std::string& Stdout, const TempFolder&,
            const std::string& Stdin = "/dev/null") {
  const test::ProgramOutcome outcome = test::RunProgram(BUSWEAVE_CLI_PROGRAM, Args, 10, Stdin, Stdout);
  return {outcome.Code > 128 ? -1 : outcome.Code, outcome.Err};
}

class CliFiles : public testing::Test {
 protected:
  CliFiles() { test::SaveTwoStationBus(Network, "[1] A", "[2] B"); }

  Exit run(const std::vector<std::string>& Args, const std::string& Stdout = "") {
    return runCli(Args, Stdout.empty() ? Folder.File("stdout.txt") : Stdout, Folder);
  }

  TempFolder Folder;
  std::string Network = Folder.File("bus.bwn");
};

TEST_F(CliFiles, InputsThatNeverEndAreRefusedAtOnce) {
  const std::string fifo = Folder.File("pipe.bwn");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& input : {fifo, std::string("/dev/zero")}) {
    const Exit info = run({"info", input});
    EXPECT_EQ(info.Code, 1) << input;
    EXPECT_TRUE(info.complains(input + ": not a regular file")) << info.Err;
  }
  // A pipe on standard input that would deliver valid nodes for ever.
  std::string node = "\x06\x05TNode" + std::string(268, '\0');
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t writer = ::fork();
  if (writer == 0) {
    ::close(pipeFds[0]);
    (void)!::write(pipeFds[1], "\x01", 1);
    for (std::int32_t x = 0;; x += 100) {
      std::memcpy(node.data() + 7, &x, 4);
      if (::write(pipeFds[1], node.data(), node.size()) < 0) ::_exit(0);
    }
  }
  ::close(pipeFds[1]);
  const Exit endless = runCli({"info", "/dev/stdin"}, Folder.File("stdout.txt"), Folder,
                              "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(pipeFds[0]));
  ::close(pipeFds[0]);
  ::kill(writer, SIGKILL);
  ::waitpid(writer, nullptr, 0);
  EXPECT_EQ(endless.Code, 1);
  EXPECT_TRUE(endless.complains("/dev/stdin: not a regular file")) << endless.Err;

  // A loop of links is not a missing file.
  fs::create_symlink("loop.bwn", Folder.File("loop.bwn"));
  EXPECT_TRUE(run({"info", Folder.File("loop.bwn")}).complains("loop of symbolic links"));
}

TEST_F(CliFiles, MoreThan65535ElementsFailWithTheReason) {
  std::string entries;
  TNode node;
  for (int i = 0; i <= MaxElements; ++i) {
    node.FPos = {i % 256 * 100, i / 256 * 100};
    const auto record = node.PackRecord();
    entries += std::string("\x06\x05TNode") + std::string(reinterpret_cast<const char*>(record.data()), record.size());
  }
  WriteBytes(Folder.File("big.bwn"), "\x01" + entries + '\0');
  const Exit info = run({"info", Folder.File("big.bwn")});
  EXPECT_EQ(info.Code, 1);
  EXPECT_TRUE(info.complains("more than 65535 elements")) << info.Err;
  EXPECT_NE(ReadBytes(Folder.File("stdout.txt")).find("nodes: 65535,"), std::string::npos);
  EXPECT_EQ(run({"picture", Folder.File("big.bwn"), "-o", Folder.File("big.svg")}).Code, 1);
}

TEST_F(CliFiles, OutputsThatAreInputsAreRefused) {
  const std::string cir = Folder.File("net.cir");  // a network file with the circuit's extension
  fs::copy_file(Network, cir);
  const std::string svg = Folder.File("net.svg");
  fs::copy_file(Network, svg);
  fs::create_symlink(Network, Folder.File("link.bwn"));
  WriteBytes(Folder.File("Busweave.HD"), "* my header\r\n");
  const std::vector<std::vector<std::string>> commands = {
      {"circuit", cir},
      {"circuit", Network, "-o", Folder.File("Busweave.HD"), "--templates", Folder.Path().string()},
      {"normalize", Network, Network},
      {"normalize", Network, Folder.File("link.bwn")},
      {"picture", svg, "-o", svg},
      {"simulate", Network, "--csv", Folder.File("link.bwn")}};
  for (const auto& args : commands) {
    const Exit refused = run(args);
    EXPECT_EQ(refused.Code, 2) << testing::PrintToString(args);
    EXPECT_TRUE(refused.complains("is the input file")) << refused.Err;
  }
  EXPECT_EQ(ReadBytes(cir), ReadBytes(Network));
  EXPECT_EQ(ReadBytes(svg), ReadBytes(Network));
  EXPECT_EQ(ReadBytes(Folder.File("Busweave.HD")), "* my header\r\n");
  EXPECT_TRUE(fs::is_symlink(Folder.File("link.bwn")));
}

TEST_F(CliFiles, WriteErrorsNameTheFileAndTheReason) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"netlist", Network}, {"info", Network, "--json"}, {"check", Network}, {"--help"}}) {
    const Exit full = run(args, "/dev/full");
    EXPECT_EQ(full.Code, 1) << testing::PrintToString(args);
    EXPECT_TRUE(full.complains("Stream write error in standard output: No space left on device")) << full.Err;
  }
  // The device through a link of our own, so a save that replaced it would replace the link.
  const std::string full = Folder.File("full.cir");
  fs::create_symlink("/dev/full", full);
  const Exit device = run({"circuit", Network, "-o", full});
  EXPECT_EQ(device.Code, 1);
  EXPECT_TRUE(device.complains("Stream write error in file " + full + ": No space left on device")) << device.Err;
  EXPECT_TRUE(fs::is_symlink(full) && fs::is_character_file(full));
  const std::string nowhere = Folder.File("missing/out.bwn");
  EXPECT_TRUE(run({"normalize", Network, nowhere}).complains("Cannot create file " + nowhere + ": No such file"));
}

TEST_F(CliFiles, DoubleDashEndsTheOptions) {
  const std::string dashed = Folder.File("-o.bwn");
  fs::copy_file(Network, dashed);
  {
    test::CurrentFolderGuard inFolder(Folder.Path());
    EXPECT_EQ(run({"info", "--", "-o.bwn"}).Code, 0);
    EXPECT_EQ(run({"normalize", "--", "-o.bwn", "-copy.bwn"}).Code, 0);
    const Exit help = run({"info", "--", "--help"});
    EXPECT_EQ(help.Code, 1);
    EXPECT_TRUE(help.complains("--help: file not found")) << help.Err;
  }
  EXPECT_EQ(ReadBytes(Folder.File("-copy.bwn")), ReadBytes(Network));
}

}  // namespace
}  // namespace busweave
