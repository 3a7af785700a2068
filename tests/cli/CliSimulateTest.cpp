// busweave-cli simulate: the CSV, the errors, and that it writes nothing else.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

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
  EXPECT_GT(count, 100);
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

}  // namespace
}  // namespace busweave
