// busweave-cli picture: the fitted document in every format, and its refusals.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "MetafileReader.h"
#include "CliRun.h"
#include "TempFolder.h"
#include "cli/Cli.h"
#include "model/NetworkContainer.h"

namespace busweave {
namespace {

using test::Int;
using test::Long;
using test::ReadBytes;
using test::Short;
using test::TempFolder;

using test::Outcome;
using test::run;

// Nodes spanning x 500..1700 and y 700..1500, so the fitted document is 1400 x 1000.
class CliPicture : public testing::Test {
 protected:
  CliPicture() {
    TCanNodes net(120, 1500, 120);
    net.AddNode({500, 700});
    net.AddNode({1700, 1500});
    net.AddWire({500, 700}, {1700, 1500}, 120, true);
    net.NodeAt({500, 700})->FResistance = 120;
    net.SaveNetwork(Network);
  }

  TempFolder Folder;
  std::string Network = Folder.File("bus.bwn");
};

TEST_F(CliPicture, MetafilesShowTheDocumentFittedAsTheEditorFitsIt) {
  const std::string emfPath = Folder.File("bus.emf");
  const Outcome emf = run({"picture", Network, "-o", emfPath});
  EXPECT_EQ(emf.Code, 0) << emf.Err;
  EXPECT_EQ(emf.Out, emfPath + ": picture written, 280.0 x 200.0 mm\n");
  const std::string bytes = ReadBytes(emfPath);
  const auto records = test::ReadEmf(bytes);
  EXPECT_EQ(Int(bytes, 32), 28000);
  EXPECT_EQ(Int(bytes, 36), 20000);
  const std::string description = test::Utf16("Busweave-V2") + std::string(2, '\0') + test::Utf16(Network);
  EXPECT_EQ(bytes.substr(Long(bytes, 64), description.size()), description);
  // The lowest-left node moved to (100, 100): its circle is centred at (2000, 2000).
  const auto circle = std::find_if(records.begin(), records.end(), [](const test::EmfRecord& r) {
    return r.Type == test::emrEllipse && Int(r.Data, 8) == 1900;
  });
  ASSERT_NE(circle, records.end());
  EXPECT_EQ(Int(circle->Data, 12), 1900);

  const std::string wmfPath = Folder.File("bus.WMF");
  EXPECT_EQ(run({"picture", Network, "-o", wmfPath}).Code, 0);
  const std::string wmf = ReadBytes(wmfPath);
  EXPECT_EQ(Long(wmf, 0), 0x9AC6CDD7u);
  EXPECT_EQ(Short(wmf, 10), 1058);  // 28000 x 96 / 2540
  EXPECT_EQ(Short(wmf, 12), 756);
  EXPECT_NO_THROW(test::ReadWmf(wmf));
}

TEST_F(CliPicture, PainterFormatsKeepTheTrueSize) {
  const std::string svg = Folder.File("bus.svg");
  ASSERT_EQ(run({"picture", Network, "-o", svg}).Code, 0);
  EXPECT_NE(ReadBytes(svg).find("width=\"280mm\" height=\"200mm\""), std::string::npos);

  const std::string png = Folder.File("bus.png");
  ASSERT_EQ(run({"picture", Network, "-o", png}).Code, 0);
  const std::string image = ReadBytes(png);
  ASSERT_EQ(image.substr(1, 3), "PNG");
  EXPECT_EQ(static_cast<unsigned char>(image[18]) << 8 | static_cast<unsigned char>(image[19]), 1058);  // width
  EXPECT_EQ(static_cast<unsigned char>(image[22]) << 8 | static_cast<unsigned char>(image[23]), 756);   // height
  EXPECT_NE(image.find("pHYs"), std::string::npos);  // the physical size goes with it

  const std::string pdf = Folder.File("bus.pdf");
  ASSERT_EQ(run({"picture", Network, "-o", pdf}).Code, 0);
  EXPECT_EQ(ReadBytes(pdf).substr(0, 5), "%PDF-");
}

TEST_F(CliPicture, EmptyNetworkGivesTheNewDocumentSize) {
  const std::string empty = Folder.File("empty.bwn");
  test::WriteBytes(empty, std::string("\x01\x00", 2));
  const std::string out = Folder.File("empty.emf");
  const Outcome result = run({"picture", empty, "-o", out});
  ASSERT_EQ(result.Code, 0) << result.Err;
  const std::string bytes = ReadBytes(out);
  EXPECT_EQ(Int(bytes, 32), 4000);
  EXPECT_EQ(Int(bytes, 36), 4000);
  EXPECT_EQ(test::ReadEmf(bytes).size(), 6u);
}

TEST_F(CliPicture, RefusalsWriteNothing) {
  EXPECT_EQ(run({"picture", Network}).Code, 2);
  const Outcome format = run({"picture", Network, "-o", Folder.File("bus.gif")});
  EXPECT_EQ(format.Code, 2);
  EXPECT_NE(format.Err.find(".emf, .wmf, .svg, .pdf or .png"), std::string::npos);

  const Outcome missing = run({"picture", Folder.File("none.bwn"), "-o", Folder.File("none.emf")});
  EXPECT_EQ(missing.Code, 1);
  EXPECT_NE(missing.Err.find("file not found"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(Folder.File("none.emf")));

  const std::string unwritable = Folder.File("no-folder/bus.wmf");
  const Outcome failed = run({"picture", Network, "-o", unwritable});
  EXPECT_EQ(failed.Code, 1);
  EXPECT_NE(failed.Err.find("Cannot create file " + unwritable), std::string::npos);

  const Outcome help = run({"picture", "--help"});
  EXPECT_EQ(help.Code, 0);
  EXPECT_NE(help.Out.find("Usage: busweave-cli picture FILE -o OUT"), std::string::npos);
  EXPECT_NE(run({"--help"}).Out.find("picture FILE -o OUT"), std::string::npos);
}

}  // namespace
}  // namespace busweave
