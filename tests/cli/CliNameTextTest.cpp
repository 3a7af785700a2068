// A name with Windows-1252 characters reads the same in every output of busweave-cli.

#include <gtest/gtest.h>

#include <string>

#include "CliRun.h"
#include "Networks.h"
#include "TempFolder.h"

namespace busweave {
namespace {

using test::ReadBytes;
using test::run;

// "€ „x“ ™ µ ä" as stored, as UTF-8, and as the UTF-16LE of an EMF text record.
const std::string kStored = "5\x80 \x84x\x93 \x99 \xB5 \xE4";
const std::string kUtf8 = "5\u20AC \u201Ex\u201C \u2122 \u00B5 \u00E4";
const std::string kUtf16 = std::string("5\0\xAC\x20 \0\x1E\x20x\0\x1C\x20 \0\x22\x21 \0\xB5\0 \0\xE4\0", 22);

TEST(CliNameText, EveryOutputShowsTheSameCharacters) {
  test::TempFolder folder;
  const std::string network = folder.File("bus.bwn");
  test::SaveTwoStationBus(network, kStored, "B");

  const auto json = run({"info", network, "--json"});
  EXPECT_NE(json.Out.find(kUtf8), std::string::npos) << json.Out;
  // Circuit text is Windows-1252, byte for byte as stored.
  const auto netlist = run({"circuit", network, "-o", folder.File("bus.cir")});
  ASSERT_EQ(netlist.Code, 0) << netlist.Err;
  EXPECT_NE(ReadBytes(folder.File("bus.cir")).find(kStored), std::string::npos);

  ASSERT_EQ(run({"picture", network, "-o", folder.File("bus.svg")}).Code, 0);
  EXPECT_NE(ReadBytes(folder.File("bus.svg")).find(kUtf8), std::string::npos);
  ASSERT_EQ(run({"picture", network, "-o", folder.File("bus.emf")}).Code, 0);
  EXPECT_NE(ReadBytes(folder.File("bus.emf")).find(kUtf16), std::string::npos);

  const auto simulated =
      run({"simulate", network, "--templates", folder.Path().string(), "--csv", folder.File("bus.csv")});
  ASSERT_EQ(simulated.Code, 0) << simulated.Err;
  const std::string csv = ReadBytes(folder.File("bus.csv"));
  EXPECT_NE(csv.substr(0, csv.find('\n')).find(kUtf8), std::string::npos) << csv.substr(0, 200);
}

}  // namespace
}  // namespace busweave
