// busweave-cli picture: the fitted document in every format, and its refusals.

#include <gtest/gtest.h>

#include <QXmlStreamReader>
#include <filesystem>
#include <sstream>

#include "CliProgram.h"
#include "CliRun.h"
#include "MetafileReader.h"
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

// The fill colour of every rectangle of an enhanced metafile: the brush created last before it.
std::vector<std::uint32_t> RectangleFills(const std::vector<test::EmfRecord>& Records) {
  std::vector<std::uint32_t> fills;
  std::uint32_t brush = 0;
  for (const auto& r : Records) {
    if (r.Type == test::emrCreateBrushIndirect) brush = Long(r.Data, 16) & 0xFFFFFF;
    if (r.Type == test::emrRectangle) fills.push_back(brush);
  }
  return fills;
}

TEST_F(CliPicture, DrawsWhatTheEditorDrawsWithTheDocumentsImpedances) {
  // 1500 ohms marks a node without termination, as in the editor: a plain node has no symbol,
  // a driver-only node a white box, a terminated one a yellow box.
  TCanNodes net(120, 1500, 120);
  for (const TPoint p : {TPoint{100, 100}, TPoint{300, 100}, TPoint{500, 100}}) net.AddNode(p);
  net.NodeAt({300, 100})->FSource = 1;
  net.NodeAt({500, 100})->FResistance = 120;
  const std::string file = Folder.File("kinds.bwn");
  ASSERT_TRUE(net.SaveNetwork(file));
  const std::string emf = Folder.File("kinds.emf");
  ASSERT_EQ(run({"picture", file, "-o", emf}).Code, 0);
  EXPECT_EQ(RectangleFills(test::ReadEmf(ReadBytes(emf))), (std::vector<std::uint32_t>{0xFFFFFF, 0x00FFFF}));

  // SVG and PDF carry the document's title, as the editor's pictures do.
  const std::string svg = Folder.File("bus.svg");
  ASSERT_EQ(run({"picture", Network, "-o", svg}).Code, 0);
  EXPECT_NE(ReadBytes(svg).find("<title>bus</title>"), std::string::npos);
  const std::string pdf = Folder.File("bus.pdf");
  ASSERT_EQ(run({"picture", Network, "-o", pdf}).Code, 0);
  EXPECT_NE(ReadBytes(pdf).find("/Title"), std::string::npos);
}

TEST_F(CliPicture, PicturesThatCannotBeDrawnAreRefusedWithTheFileAndTheLimit) {
  auto save = [&](const std::string& Name, TPoint A, TPoint B) {
    TCanNodes net(120, 1500, 120);
    net.AddNode(A);
    net.AddNode(B);
    net.AddWire(A, B, 120, true);
    const std::string file = Folder.File(Name);
    EXPECT_TRUE(net.SaveNetwork(file));
    return file;
  };
  // Nodes at both ends of the coordinate range: a fitting move would fold the picture.
  const std::string wide = save("wide.bwn", {INT32_MIN, 0}, {INT32_MAX, 0});
  const Outcome folded = run({"picture", wide, "-o", Folder.File("wide.emf")});
  EXPECT_EQ(folded.Code, 1);
  EXPECT_EQ(folded.Err, "busweave-cli: " + wide +
                            ": the network needs a document of 4294967495 x 200 units; a document holds at most "
                            "16000000 units (3.2 km) a side; there is no picture to draw\n");

  // 9 m: an enhanced metafile holds it, a Windows metafile does not.
  const std::string long9m = save("long.bwn", {0, 0}, {45000, 0});
  EXPECT_EQ(run({"picture", long9m, "-o", Folder.File("long.emf")}).Code, 0);
  const std::string wmf = Folder.File("long.wmf");
  const Outcome tooLong = run({"picture", long9m, "-o", wmf});
  EXPECT_EQ(tooLong.Code, 1);
  EXPECT_EQ(tooLong.Err, "busweave-cli: " + wmf +
                             ": the picture is 9040.0 x 40.0 mm, too large for a Windows metafile: it holds at most "
                             "32,767 units of 1/96 inch (8.67 m) a side\n");

  // 3 m square is 132 million pixels at 96 pixels per inch: refused before the image is made.
  const std::string square = save("square.bwn", {0, 0}, {15000, 15000});
  const std::string png = Folder.File("square.png");
  const Outcome tooMany = run({"picture", square, "-o", png});
  EXPECT_EQ(tooMany.Code, 1);
  EXPECT_EQ(
      tooMany.Err.rfind("busweave-cli: " + png + ": the picture is 3040.0 x 3040.0 mm, too large for an image", 0), 0u)
      << tooMany.Err;
  EXPECT_NE(tooMany.Err.find("11490 x 11490 pixels"), std::string::npos) << tooMany.Err;
  for (const char* out : {"wide.emf", "long.wmf", "square.png"})
    EXPECT_FALSE(std::filesystem::exists(Folder.File(out))) << out;
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

// Every SVG element of Text (an SVG, or the report's page) parses as XML; the first error else.
std::string svgProblems(const std::string& Text) {
  for (auto start = Text.find("<svg"); start != std::string::npos; start = Text.find("<svg", start + 1)) {
    const auto end = Text.find("</svg>", start);
    QXmlStreamReader xml(QByteArray::fromStdString(Text.substr(start, end + 6 - start)));
    while (!xml.atEnd()) xml.readNext();
    if (xml.hasError()) return xml.errorString().toStdString() + " at " + std::to_string(xml.characterOffset());
  }
  return "";
}

TEST(CliPictureMarkup, NamesAndFileNamesNeverBreakTheMarkup) {
  TempFolder folder;
  // Two stations with drivers, named with markup, control characters and Windows-1252 bytes.
  const auto save = [](const std::string& Path) {
    TCanNodes net(120, 1500, 120);
    net.AddNode({0, 0});
    net.AddNode({400, 0});
    net.AddWire({0, 0}, {400, 0}, 120, true);
    net.NodeAt({0, 0})->FName = "A\x01<b>&amp;\x0C";
    net.NodeAt({400, 0})->FName = "\x1B]0;\x80\xFF\"'";
    for (const TPoint at : {TPoint{0, 0}, TPoint{400, 0}}) {
      net.NodeAt(at)->FSource = 1;
      net.NodeAt(at)->FResistance = 120;
    }
    net.WireAtIndex(2)->FLength = 1500;
    ASSERT_TRUE(net.SaveNetwork(Path));
  };
  const std::string rd = folder.File("R&D.bwn");
  save(rd);
  const std::string svg = folder.File("x.svg");
  ASSERT_EQ(test::RunCliProgram({"picture", rd, "-o", svg}).Code, 0);
  const std::string picture = ReadBytes(svg);
  EXPECT_EQ(svgProblems(picture), "");
  EXPECT_NE(picture.find("<title>R&amp;D</title>"), std::string::npos);

  const std::string hostile = folder.File("<img src=x onerror=document.title='PWNED'>.bwn");
  save(hostile);
  const std::string report = folder.File("report.html");
  const auto analysed = test::RunCliProgram({"analyze", hostile, "--report", report, "--jobs", "2"}, 300);
  ASSERT_LE(analysed.Code, 1) << analysed.Err;
  const std::string page = ReadBytes(report);
  EXPECT_EQ(svgProblems(page), "");
  EXPECT_EQ(page.find("<img"), std::string::npos);
  EXPECT_NE(page.find("&lt;img src=x"), std::string::npos);
}

}  // namespace
}  // namespace busweave
