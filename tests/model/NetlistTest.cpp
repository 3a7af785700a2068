#include <gtest/gtest.h>

#include "model/Netlist.h"
#include "model/NetworkContainer.h"

namespace busweave {
namespace {

TNode* placeNode(TCanNodes& Net, TPoint P, const std::string& Name, std::uint16_t Resistance, std::uint8_t Source) {
  Net.AddNode(P);
  TNode* node = Net.NodeAt(P);
  node->FName = Name;
  node->FResistance = Resistance;
  node->FSource = Source;
  return node;
}

TEST(FormatReal, FourSignificantDigitsAndAShortExponent) {
  EXPECT_EQ(FormatReal(3, 0.25L), "2.500E-1");
  EXPECT_EQ(FormatReal(3, 1.5L), "1.500E0");
  EXPECT_EQ(FormatReal(3, 0.0L), "0.000E0");
  EXPECT_EQ(FormatReal(3, 0.015L), "1.500E-2");
  EXPECT_EQ(FormatReal(3, 12.0L), "1.200E1");
  EXPECT_EQ(FormatReal(3, 12346 * 0.001L), "1.235E1");  // rounded, not cut
  EXPECT_EQ(FormatReal(3, 9999.6L), "1.000E4");         // rounding carries into the exponent
  EXPECT_EQ(FormatReal(3, 1 * 0.001L), "1.000E-3");
  EXPECT_EQ(FormatReal(3, -0.5L), "-5.000E-1");
}

TEST(WriteNetlist, TwoStationsGiveTheElevenLines) {
  TCanNodes net(120, 1500, 120);
  placeNode(net, {0, 0}, "[1] A", 1500, 1);
  placeNode(net, {200, 0}, "[2] B", 120, 0);
  net.AddWire({0, 0}, {200, 0}, 120, true);
  net.WireAtIndex(2)->FLength = 1500;
  const TFileState state = net.FFileState();

  std::vector<std::string> lines;
  EXPECT_TRUE(net.WriteNetlist(lines));
  const std::vector<std::string> expected = {"",
                                             "* Line [1] A <=> [2] B",
                                             "  T12 1 0 2 0 Z0=120 TD={1.500E0/{xC0red}}",
                                             "",
                                             "* Node [1] A",
                                             "  RZL1 1 0 1500",
                                             "  X1 1 CANDRV",
                                             "",
                                             "* Node [2] B",
                                             "  RZL2 2 0 120",
                                             ""};
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(net.FFileState(), state);

  // Lines are appended after what the list already holds.
  std::vector<std::string> more = {"header"};
  net.WriteNetlist(more);
  EXPECT_EQ(more.size(), 12u);
  EXPECT_EQ(more[0], "header");
}

TEST(WriteNetlist, EmptyNetworkAndSingleNodes) {
  TCanNodes net;
  std::vector<std::string> lines;
  EXPECT_FALSE(net.WriteNetlist(lines));
  EXPECT_TRUE(lines.empty());

  placeNode(net, {0, 0}, "", 1500, 2);  // only the byte 1 means a source
  EXPECT_TRUE(net.WriteNetlist(lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"", "* Node ", "  RZL1 1 0 1500", ""}));
  EXPECT_EQ(net.NodeAt({0, 0})->FName, "[1] ");
}

TEST(WriteNetlist, DelaysFollowTheWireLength) {
  TCanNodes net;
  net.AddNode({0, 0});
  net.AddNode({100, 0});
  net.AddNode({100, 100});
  net.AddWire({0, 0}, {100, 0}, 100, true);
  net.AddWire({100, 0}, {100, 100}, 65535, true);
  net.WireAtIndex(4)->FLength = 250;
  std::vector<std::string> lines;
  net.WriteNetlist(lines);
  // Wire keys W0000:0000::0064:0000 and W0064:0000::0064:0064; nodes N0000:0000 (1),
  // N0064:0000 (2), N0064:0064 (3).
  EXPECT_EQ(lines[2], "  T12 1 0 2 0 Z0=100 TD={0.000E0/{xC0red}}");
  EXPECT_EQ(lines[5], "  T23 2 0 3 0 Z0=65535 TD={2.500E-1/{xC0red}}");
}

TEST(WriteNetlist, CommentsKeepTheOldNamesWhileTheNodesAreRenumbered) {
  TCanNodes net;
  placeNode(net, {0, 0}, "[7] first", 1500, 0);
  placeNode(net, {9, 0}, "x]ysecond", 1500, 0);
  placeNode(net, {5, 0}, std::string(300, 'n'), 1500, 0);
  std::vector<std::string> lines;
  net.WriteNetlist(lines);
  EXPECT_EQ(lines[1], "* Node [7] first");
  EXPECT_EQ(lines[4], "* Node " + std::string(248, 'n'));  // every line is cut at 255
  EXPECT_EQ(lines[7], "* Node x]ysecond");
  EXPECT_EQ(net.NodeAtIndex(0)->FName, "[1] first");
  EXPECT_EQ(net.NodeAtIndex(1)->FName, "[2] " + std::string(251, 'n'));
  EXPECT_EQ(net.NodeAtIndex(2)->FName, "[3] second");
}

TEST(WriteNetlist, ControlCharactersInNamesNeverEndTheirComment) {
  // Every byte from 0x20 to 0xFF but DEL is ordinary and written as it is.
  std::string ordinary;
  for (int c = 0x20; c <= 0xFF; ++c)
    if (c != 0x7F) ordinary += static_cast<char>(c);
  std::string controls;
  for (int c = 0; c < 0x20; ++c) controls += static_cast<char>(c);
  controls += '\x7F';

  TCanNodes net;
  placeNode(net, {0, 0}, "A\r\n.control\nshell id\n.endc\n", 1500, 1);
  placeNode(net, {200, 0}, controls, 120, 0);
  placeNode(net, {400, 0}, ordinary.substr(0, 120), 120, 0);
  placeNode(net, {600, 0}, ordinary.substr(120), 120, 0);
  net.AddWire({0, 0}, {200, 0}, 120, true);
  std::vector<std::string> lines;
  net.WriteNetlist(lines);

  for (const auto& line : lines) {
    for (const char c : line) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F) << line;
    EXPECT_TRUE(line.empty() || line[0] == '*' || line.rfind("  ", 0) == 0) << line;
  }
  EXPECT_EQ(lines[1], "* Line A\\r\\n.control\\nshell id\\n.endc\\n <=> " + lines[8].substr(7));
  EXPECT_EQ(lines[8],
            "* Node \\x00\\x01\\x02\\x03\\x04\\x05\\x06\\x07\\x08\\t\\n\\x0B\\x0C\\r\\x0E\\x0F"
            "\\x10\\x11\\x12\\x13\\x14\\x15\\x16\\x17\\x18\\x19\\x1A\\x1B\\x1C\\x1D\\x1E\\x1F\\x7F");
  EXPECT_EQ(lines[11], "* Node " + ordinary.substr(0, 120));
  EXPECT_EQ(lines[14], "* Node " + ordinary.substr(120));
  // The names themselves keep their bytes; only the number prefix is new.
  EXPECT_EQ(net.NodeAt({0, 0})->FName, "[1] A\r\n.control\nshell id\n.endc\n");
}

TEST(WriteNetlist, WireWithoutANodeAtAnEndIsCommentedOutAndReported) {
  TCanNodes net;
  net.AddNode({0, 0});
  auto wire = std::make_unique<TTrmLine>();
  wire->FStart = {0, 0};
  wire->FEnd = {200, 0};
  wire->FImpedance = 120;
  net.AddWireObject(std::move(wire));

  std::vector<std::string> lines;
  std::vector<std::string> warnings;
  EXPECT_TRUE(net.WriteNetlist(lines, &warnings));
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("W0000:0000::00C8:0000"), std::string::npos);
  EXPECT_NE(warnings[0].find("(200, 0)"), std::string::npos);
  EXPECT_EQ(lines[1], "* " + warnings[0]);
  for (const auto& line : lines) EXPECT_NE(line.rfind("  T", 0), 0u) << line;
}

}  // namespace
}  // namespace busweave
