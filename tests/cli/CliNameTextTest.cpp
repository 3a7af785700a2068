// A name with Windows-1252 characters reads the same in every output of busweave-cli.

#include <gtest/gtest.h>

#include <string>

#include "CliProgram.h"
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

TEST(CliNameText, CheckAnalyzeAndAdviseNameNodesAlike) {
  // The termination misplaced on an unnamed node; names with a control sequence and a ']'.
  test::TempFolder folder;
  const std::string network = folder.File("bus.bwn");
  test::SaveMisplacedTerminationBus(network);
  TCanNodes net(120, 1500, 120);
  net.LoadNetwork(network);
  for (const auto& [at, name] : {std::pair{TPoint{0, 0}, "\x1B[2J" + kStored},
                                 {TPoint{200, 0}, std::string()},
                                 {TPoint{400, 0}, std::string("X]Y")}})
    net.NodeAt(at)->FName = name;
  net.SaveNetwork(network);
  const std::string named = "[1] \\x1B[2J" + kUtf8;
  const auto check = run({"check", network});
  EXPECT_NE(check.Out.find("node [2] at (200, 0) is not at an end of the bus"), std::string::npos) << check.Out;
  const auto analysis = test::RunCliProgram({"analyze", network, "--no-confirm", "--data-rates", "4M"}, 300);
  const auto advice = test::RunCliProgram({"advise", network, "--no-confirm", "--data-rate", "4M", "--jobs", "2"}, 300);
  EXPECT_NE(advice.Out.find("1. Move the termination from [2] to [3] X]Y:"), std::string::npos) << advice.Out;
  for (const std::string& text : {check.Out, analysis.Out, advice.Out}) {
    EXPECT_NE(text.find("node [3] X]Y, which has none"), std::string::npos) << text;
    EXPECT_EQ(text.find('\x1B'), std::string::npos) << text;
  }
  for (const std::string& text : {analysis.Out, advice.Out}) EXPECT_NE(text.find(named), std::string::npos) << text;
}

}  // namespace
}  // namespace busweave
