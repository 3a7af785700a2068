// busweave-cli simulate: the CSV, the errors, and that it writes nothing else.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "CliProgram.h"
#include "CliRun.h"
#include "Networks.h"
#include "TempFolder.h"
#include "circuit/CircuitFile.h"
#include "cli/Cli.h"
#include "model/NetworkContainer.h"

namespace busweave {
namespace {

using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

using test::Outcome;
using test::run;

// Templates with a quick circuit: an ideal pulse behind 120 ohms, 200 ns.
const char* const kQuickTrailer =
    "  .SUBCKT CANDRV 7999\r\n  V1 7903 0 PULSE(0 1 10n 1n 1n 50n 1u)\r\n  Rs 7903 7999 120\r\n  .ENDS\r\n"
    ".TRAN 1ps 200ns\r\n.PROBE\r\n.END\r\n";

class CliSimulate : public testing::Test {
 protected:
  CliSimulate() {
    test::SaveTwoStationBus(Network, "ECU, left", "ECU2");
    WriteBytes(Folder.File("Busweave.TR"), kQuickTrailer);
  }

  std::vector<std::string> folderContents() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Folder.Path()))
      names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempFolder Folder;
  std::string Network = Folder.File("bus.bwn");
};

TEST_F(CliSimulate, WritesTimeAndEveryNodeAsCsv) {
  const std::string csv = Folder.File("bus.csv");
  const Outcome result = run({"simulate", Network, "--templates", Folder.Path().string(), "--csv", csv});
  ASSERT_EQ(result.Code, 0) << result.Err;
  EXPECT_EQ(result.Err, "");
  EXPECT_NE(result.Out.find("bus.csv: "), std::string::npos) << result.Out;

  std::istringstream rows(ReadBytes(csv));
  std::string header;
  std::getline(rows, header);
  EXPECT_EQ(header, "time,\"[1] ECU, left\",[2] ECU2");
  std::string row;
  std::string last;
  int count = 0;
  while (std::getline(rows, row)) {
    last = row;
    ++count;
  }
  // The ideal pulse on a matched line is straight between its corners: the rows are thinned to
  // those (the summary names the points computed).
  EXPECT_GT(count, 10);
  EXPECT_NE(result.Out.find(" time points (of "), std::string::npos) << result.Out;
  EXPECT_GT(std::stoi(result.Out.substr(result.Out.find("(of ") + 4)), 1000) << result.Out;
  EXPECT_NEAR(std::stod(last.substr(0, last.find(','))), 200e-9, 1e-15) << last;
  // The templates are read, never written; nothing else is left behind.
  EXPECT_EQ(folderContents(), (std::vector<std::string>{"Busweave.TR", "bus.bwn", "bus.csv"}));
  EXPECT_EQ(ReadBytes(Folder.File("Busweave.TR")), kQuickTrailer);
}

TEST_F(CliSimulate, WithoutCsvFileTheCsvGoesToStandardOutput) {
  const Outcome result = run({"simulate", Network, "--templates", Folder.Path().string()});
  ASSERT_EQ(result.Code, 0) << result.Err;
  EXPECT_EQ(result.Out.rfind("time,\"[1] ECU, left\",[2] ECU2\n0,", 0), 0u);
  EXPECT_EQ(result.Err, "");  // no progress: stderr is no terminal here
}

TEST_F(CliSimulate, ACircuitErrorExitsWithNgspicesMessageAndWritesNothing) {
  WriteBytes(Folder.File("Busweave.TR"),
             "  .SUBCKT CANDRV 7999\r\n  Rs 7903 7999\r\n  .ENDS\r\n.TRAN 1ps 200ns\r\n.END\r\n");
  const std::string csv = Folder.File("bus.csv");
  const Outcome result = run({"simulate", Network, "--templates", Folder.Path().string(), "--csv", csv});
  EXPECT_EQ(result.Code, 1);
  EXPECT_NE(result.Err.find("the simulation failed"), std::string::npos) << result.Err;
  EXPECT_NE(result.Err.find("rs 7903 7999"), std::string::npos) << result.Err;
  EXPECT_FALSE(std::filesystem::exists(csv));
}

TEST_F(CliSimulate, RefusesWhatCannotBeSimulated) {
  EXPECT_EQ(run({"simulate"}).Code, 2);
  EXPECT_EQ(run({"simulate", Network, "--bogus"}).Code, 2);
  EXPECT_EQ(run({"simulate", Folder.File("missing.bwn")}).Code, 1);

  TCanNodes empty;
  empty.SaveNetwork(Folder.File("empty.bwn"));
  const Outcome nothing = run({"simulate", Folder.File("empty.bwn")});
  EXPECT_EQ(nothing.Code, 1);

  WriteBytes(Folder.File("Busweave.TR"),
             "  .SUBCKT CANDRV 7999\r\n  Rs 7999 0 1\r\n  .ENDS\r\n.AC DEC 5 1 1E6\r\n.END\r\n");
  const Outcome noTran = run({"simulate", Network, "--templates", Folder.Path().string()});
  EXPECT_EQ(noTran.Code, 1);
  EXPECT_NE(noTran.Err.find("no transient analysis"), std::string::npos) << noTran.Err;

  const Outcome help = run({"simulate", "--help"});
  EXPECT_EQ(help.Code, 0);
  EXPECT_NE(help.Out.find("--csv OUT"), std::string::npos);
  EXPECT_NE(run({"--help"}).Out.find("simulate FILE"), std::string::npos);
}

// The CSV's rows as numbers.
std::vector<std::vector<double>> csvRows(const std::string& Csv) {
  std::istringstream lines(Csv);
  std::string line;
  std::getline(lines, line);  // the header
  std::vector<std::vector<double>> rows;
  while (std::getline(lines, line)) {
    std::vector<double> row;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, ',');) row.push_back(std::stod(field));
    rows.push_back(std::move(row));
  }
  return rows;
}

// The built-in trailer with another .TRAN.
std::string trailerWith(const std::string& Tran) {
  std::string text;
  for (const auto& line : BuiltInTrailer()) text += (line.rfind(".TRAN", 0) == 0 ? Tran : line) + "\r\n";
  return text;
}

class CliSimulateCases : public testing::Test {
 protected:
  TempFolder Folder;
  std::string Network = Folder.File("bus.bwn");
};

TEST_F(CliSimulateCases, WiresOfNoLengthAndVeryShortLinesAreConnections) {
  // A ring of three 0 mm wires with the driver, and a 2 m line from it to a terminated node.
  {
    TCanNodes net(120, 65535, 120);
    for (TPoint p : {TPoint{0, 0}, TPoint{200, 0}, TPoint{100, 200}, TPoint{400, 0}}) net.AddNode(p);
    net.AddWire({0, 0}, {200, 0}, 120, true);
    net.AddWire({200, 0}, {100, 200}, 120, true);
    net.AddWire({100, 200}, {0, 0}, 120, true);
    net.AddWire({200, 0}, {400, 0}, 120, true);
    net.NodeAt({0, 0})->FSource = 1;
    net.NodeAt({400, 0})->FResistance = 120;
    for (int i = 0; i < net.Count(); ++i)
      if (TTrmLine* wire = net.WireAtIndex(i); wire && wire->FEnd.X + wire->FStart.X == 600) wire->FLength = 2000;
    net.SaveNetwork(Network);
  }
  const Outcome ring = run({"simulate", Network, "--templates", Folder.Path().string()});
  ASSERT_EQ(ring.Code, 0) << ring.Err;
  EXPECT_NE(ring.Err.find("has no length; it is simulated as a direct connection"), std::string::npos) << ring.Err;
  const auto rows = csvRows(ring.Out);
  ASSERT_GT(rows.size(), 10u);
  ASSERT_EQ(rows.front().size(), 5u);  // time and every drawn node
  double swing = 0;
  for (const auto& row : rows) {
    EXPECT_EQ(row[1], row[2]);
    EXPECT_EQ(row[1], row[3]);
    swing = std::max(swing, std::fabs(row[4] - rows.front()[4]));
  }
  EXPECT_GT(swing, 0.5);  // the driver reaches the far node

  // A 1 mm wire (5 ps) between the driver and a 2 m line: in a 2 us run it once cost a million
  // steps, in a 20 us run ngspice gave up ("Timestep too small").
  {
    TCanNodes net(120, 65535, 120);
    for (TPoint p : {TPoint{0, 0}, TPoint{200, 0}, TPoint{400, 0}}) net.AddNode(p);
    net.AddWire({0, 0}, {200, 0}, 120, true);
    net.AddWire({200, 0}, {400, 0}, 120, true);
    net.NodeAt({0, 0})->FSource = 1;
    net.NodeAt({0, 0})->FResistance = 120;
    net.NodeAt({400, 0})->FResistance = 120;
    for (int i = 0; i < net.Count(); ++i)
      if (TTrmLine* wire = net.WireAtIndex(i)) wire->FLength = wire->FStart.X + wire->FEnd.X == 200 ? 1 : 2000;
    net.SaveNetwork(Network);
  }
  for (const char* stop : {"2us", "20us"}) {
    WriteBytes(Folder.File("Busweave.TR"), trailerWith(std::string(".TRAN .001ns ") + stop));
    const std::string csv = Folder.File("short.csv");
    const Outcome result = run({"simulate", Network, "--templates", Folder.Path().string(), "--csv", csv});
    ASSERT_EQ(result.Code, 0) << stop << result.Err;
    EXPECT_NE(result.Err.find("line T12 (delay 5 ps) is shorter than 100 ps (the fastest source edge 10 ns / 100)"),
              std::string::npos)
        << result.Err;
    EXPECT_NE(result.Out.find("maximum step 1 ns"), std::string::npos) << result.Out;
    const auto points = csvRows(ReadBytes(csv));
    EXPECT_NEAR(points.back()[0], std::string(stop) == "2us" ? 2e-6 : 20e-6, 1e-12);
    EXPECT_LT(points.size(), 10000u);
  }

  EXPECT_EQ(run({"simulate", Network, "--short-line", "-1"}).Code, 2);
  EXPECT_EQ(run({"simulate", Network, "--short-line", "10x"}).Code, 2);
}

TEST_F(CliSimulateCases, ARunTooLargeIsRefusedAndCtrlCCancels) {
  test::SaveTwoStationBus(Network, "A", "B");
  const std::string csv = Folder.File("bus.csv");
  // A second at 1 ps: refused before ngspice starts.
  WriteBytes(Folder.File("Busweave.TR"), trailerWith(".TRAN 1ps 1s 0 1ps"));
  const Outcome huge = run({"simulate", Network, "--templates", Folder.Path().string(), "--csv", csv});
  EXPECT_EQ(huge.Code, 1);
  EXPECT_NE(huge.Err.find("would need about"), std::string::npos) << huge.Err;
  EXPECT_FALSE(std::filesystem::exists(csv));

  // Two million steps, interrupted after two seconds.
  WriteBytes(Folder.File("Busweave.TR"), trailerWith(".TRAN 1ps 2us 0 1ps"));
  std::vector<std::string> words{BUSWEAVE_CLI_PROGRAM,   "simulate", Network, "--templates",
                                 Folder.Path().string(), "--csv",    csv};
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const std::string err = Folder.File("stderr");
  const pid_t child = ::fork();
  if (child == 0) {
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (e < 0) ::_exit(126);
    ::dup2(e, 2);
    ::alarm(60);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ASSERT_GT(child, 0);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const auto interrupted = std::chrono::steady_clock::now();
  ::kill(child, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::seconds(5));
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_NE(ReadBytes(err).find("the simulation was cancelled; nothing was written"), std::string::npos)
      << ReadBytes(err);
  EXPECT_FALSE(std::filesystem::exists(csv));
}

TEST_F(CliSimulateCases, CtrlCEndsTheCommandWhileNgspiceReadsTheCircuit) {
  test::SaveTwoStationBus(Network, "A", "B");
  const std::string csv = Folder.File("bus.csv");
  // A model of 200,000 continuation lines: ngspice takes minutes to read it and looks at no flag.
  std::string model = ".MODEL SLOW D\r\n";
  for (int i = 0; i < 200000; ++i) model += "+ IS=1e-14\r\n";
  std::string trailer = trailerWith(".TRAN 1ns 2us");
  trailer.insert(trailer.rfind(".END"), model);
  WriteBytes(Folder.File("Busweave.TR"), trailer);
  test::StartedProgram simulate(BUSWEAVE_CLI_PROGRAM,
                                {"simulate", Network, "--templates", Folder.Path().string(), "--csv", csv});
  std::this_thread::sleep_for(std::chrono::seconds(5));
  const auto interrupted = std::chrono::steady_clock::now();
  ::kill(simulate.Pid(), SIGINT);
  const auto outcome = simulate.Wait();
  EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::seconds(5));
  EXPECT_EQ(outcome.Code, 130);
  EXPECT_NE(outcome.Err.find("the simulation was cancelled; nothing was written"), std::string::npos) << outcome.Err;
  EXPECT_FALSE(std::filesystem::exists(csv));
}

}  // namespace
}  // namespace busweave
