// The metafile canvases, read back with our own record walker: headers, sizes and units, the
// records of a node circle, a termination symbol and a label, the turning of labels per format,
// object bookkeeping, empty and oversized pictures, and the files' bytes pinned by digest.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <algorithm>
#include <cmath>

#include "MetafileReader.h"
#include "drawing/FitNetwork.h"
#include "drawing/NetworkDrawing.h"
#include "picture/EmfCanvas.h"
#include "picture/WmfCanvas.h"

namespace busweave {
namespace {

using test::EmfRecord;
using test::Int;
using test::Long;
using test::Short;
using test::WmfRecord;
using test::Word;

// A network drawn as the picture export draws it: scale 20, picture font, thinnest pen.
class Pictures : public testing::Test {
 protected:
  Pictures() { Settings.ExportFont = {"Arial", 8, clFuchsia}; }

  void Node(TPoint P, std::uint16_t Resistance = 1500, std::uint8_t Source = 0) {
    Net.AddNode(P);
    Net.NodeAt(P)->FResistance = Resistance;
    Net.NodeAt(P)->FSource = Source;
  }

  template <typename TCanvasType>
  std::string Draw(TCanvasType& C, TPlotTarget Target) {
    C.SetPen({clBlack, TPenStyle::psSolid, 0});
    PlotNetwork(C, Net, Settings, Target, true, DrawingScale);
    return C.Finish();
  }

  std::vector<EmfRecord> Emf(TPoint DocSize, TPlotTarget Target = ptFileEMF) {
    TEmfCanvas canvas(DocSize.X * 20, DocSize.Y * 20);
    return test::ReadEmf(Draw(canvas, Target));
  }

  test::WmfFile Wmf(TPoint DocSize, TPlotTarget Target = ptFileWMF) {
    TWmfCanvas canvas(DocSize.X * 20, DocSize.Y * 20);
    return test::ReadWmf(Draw(canvas, Target));
  }

  TCanNodes Net{120, 1500, 120};
  TPlotSettings Settings;
};

template <typename TRecord, typename TKind>
std::vector<TRecord> OfKind(const std::vector<TRecord>& Records, TKind Kind) {
  std::vector<TRecord> out;
  for (const auto& r : Records)
    if constexpr (std::is_same_v<TRecord, EmfRecord>) {
      if (r.Type == Kind) out.push_back(r);
    } else {
      if (r.Function == Kind) out.push_back(r);
    }
  return out;
}

TEST_F(Pictures, PlaceableHeaderGivesTheTrueSizeInUnitsOf96PerInch) {
  const test::WmfFile file = Wmf({1500, 1000});
  const std::string& p = file.Placeable;
  EXPECT_EQ(Long(p, 0), 0x9AC6CDD7u);
  EXPECT_EQ(Word(p, 4), 0);
  EXPECT_EQ(Short(p, 6), 0);
  EXPECT_EQ(Short(p, 8), 0);
  EXPECT_EQ(Short(p, 10), 1134);  // 30000 x 96 / 2540 = 1133.86
  EXPECT_EQ(Short(p, 12), 756);   // 20000 x 96 / 2540 = 755.91
  EXPECT_EQ(Word(p, 14), 96);
  EXPECT_EQ(Long(p, 16), 0u);
  std::uint16_t checksum = 0;
  for (std::size_t offset = 0; offset < 20; offset += 2) checksum ^= Word(p, offset);
  EXPECT_EQ(Word(p, 20), checksum);

  // The metafile header counts the file from itself on, in words, and its largest record.
  std::size_t words = 9;
  std::uint32_t largest = 0;
  for (const WmfRecord& r : file.Records) {
    words += r.Data.size() / 2;
    largest = std::max<std::uint32_t>(largest, static_cast<std::uint32_t>(r.Data.size() / 2));
  }
  EXPECT_EQ(Word(file.Header, 0), 1);  // a metafile in memory
  EXPECT_EQ(Word(file.Header, 2), 9);
  EXPECT_EQ(Long(file.Header, 6), words);
  EXPECT_EQ(Long(file.Header, 12), largest);

  // Records in the header's units: anisotropic, spanning the header's box, y downwards.
  ASSERT_GE(file.Records.size(), 4u);
  EXPECT_EQ(file.Records[0].Function, test::wmfSetMapMode);
  EXPECT_EQ(Word(file.Records[0].Data, 6), 8);
  EXPECT_EQ(file.Records[1].Function, test::wmfSetWindowOrg);
  EXPECT_EQ(Short(file.Records[1].Data, 6), 0);
  EXPECT_EQ(Short(file.Records[1].Data, 8), 0);
  EXPECT_EQ(file.Records[2].Function, test::wmfSetWindowExt);
  EXPECT_EQ(Short(file.Records[2].Data, 6), 756);  // y first
  EXPECT_EQ(Short(file.Records[2].Data, 8), 1134);
  EXPECT_EQ(file.Records.back().Function, test::wmfEof);
}

TEST_F(Pictures, EnhancedHeaderHoldsTheFrameTheCountsAndTheHighMetricMapping) {
  Node({100, 100});
  const std::vector<EmfRecord> records = Emf({1500, 1000});
  const std::string& h = records.front().Data;
  ASSERT_EQ(records.front().Type, test::emrHeader);
  EXPECT_EQ(Int(h, 24), 0);
  EXPECT_EQ(Int(h, 28), 0);
  EXPECT_EQ(Int(h, 32), 30000);
  EXPECT_EQ(Int(h, 36), 20000);
  EXPECT_EQ(Long(h, 40), 0x464D4520u);  // " EMF"
  std::size_t bytes = 0;
  for (const EmfRecord& r : records) bytes += r.Data.size();
  EXPECT_EQ(Long(h, 48), bytes);
  EXPECT_EQ(Long(h, 52), records.size());
  std::uint32_t highestHandle = 0;
  for (const EmfRecord& r : OfKind(records, test::emrSelectObject))
    if (!(Long(r.Data, 8) & 0x80000000u)) highestHandle = std::max(highestHandle, Long(r.Data, 8));
  EXPECT_GT(Word(h, 56), highestHandle);

  ASSERT_GE(records.size(), 5u);
  EXPECT_EQ(records[1].Type, test::emrSetMapMode);
  EXPECT_EQ(Long(records[1].Data, 8), 3u);  // 0.01 mm, y up
  EXPECT_EQ(records[2].Type, test::emrSetWindowExtEx);
  EXPECT_EQ(Int(records[2].Data, 8), 30000);
  EXPECT_EQ(records[3].Type, test::emrSetViewportExtEx);
  EXPECT_EQ(Int(records[3].Data, 8), 1134);
  EXPECT_EQ(Int(records[3].Data, 12), 756);
  EXPECT_EQ(records[4].Type, test::emrSetWindowOrgEx);
  EXPECT_EQ(Int(records[4].Data, 8), 0);
  EXPECT_EQ(Int(records[4].Data, 12), 20000);  // logical y = 0 at the bottom edge
  EXPECT_EQ(records.back().Type, test::emrEof);
}

TEST_F(Pictures, DescriptionIsCreatorAndPathWithTheirTerminators) {
  TEmfCanvas described(2000, 2000, TEmfDescription{u"Busweave-V2", u"/nets/bus.bwn"});
  const std::string with = described.Finish();
  const std::string expected = test::Utf16(std::string("Busweave-V2\0/nets/bus.bwn\0\0", 27));
  EXPECT_EQ(Long(with, 60), 27u);
  EXPECT_EQ(with.substr(Long(with, 64), expected.size()), expected);

  TEmfCanvas plain(2000, 2000);
  const std::string without = plain.Finish();
  EXPECT_EQ(Long(without, 60), 0u);
  EXPECT_EQ(Long(without, 64), 0u);
  EXPECT_EQ(without.find(test::Utf16("Busweave")), std::string::npos);
}

TEST_F(Pictures, NodeCircleIsATealEllipseOfRadius100) {
  Node({300, 200});
  const std::vector<EmfRecord> emf = Emf({600, 400});
  const auto ellipse =
      std::find_if(emf.begin(), emf.end(), [](const EmfRecord& r) { return r.Type == test::emrEllipse; });
  ASSERT_NE(ellipse, emf.end());
  EXPECT_EQ(Int(ellipse->Data, 8), 6000 - 100);
  EXPECT_EQ(Int(ellipse->Data, 12), 4000 - 100);
  EXPECT_EQ(Int(ellipse->Data, 16), 6000 + 100);
  EXPECT_EQ(Int(ellipse->Data, 20), 4000 + 100);
  // Just before it: a teal brush created, selected, and the outline pen in black.
  const auto at = static_cast<std::size_t>(ellipse - emf.begin());
  ASSERT_GE(at, 2u);
  EXPECT_EQ(emf[at - 2].Type, test::emrCreateBrushIndirect);
  EXPECT_EQ(Long(emf[at - 2].Data, 12), 0u);           // solid
  EXPECT_EQ(Long(emf[at - 2].Data, 16), 0x00808000u);  // red 0, green 128, blue 128
  EXPECT_EQ(emf[at - 1].Type, test::emrSelectObject);
  EXPECT_EQ(Long(emf[at - 1].Data, 8), Long(emf[at - 2].Data, 8));
  const auto pens = OfKind(emf, test::emrCreatePen);
  ASSERT_EQ(pens.size(), 1u);
  EXPECT_EQ(Long(pens[0].Data, 24), 0u);  // black
  EXPECT_EQ(Int(pens[0].Data, 16), 26);   // one pixel of the reference screen

  // The same circle in the Windows metafile: 200 hundredths are 7.56 units of 1/96 inch.
  const test::WmfFile wmf = Wmf({600, 400});
  const auto circles = OfKind(wmf.Records, test::wmfEllipse);
  ASSERT_EQ(circles.size(), 1u);
  const std::string& c = circles[0].Data;
  EXPECT_EQ(Short(c, 12), 223);                                            // left: 5900 x 96 / 2540
  EXPECT_EQ(Short(c, 10), 147);                                            // top: (8000 - 4100) x 96 / 2540
  EXPECT_EQ(Short(c, 8), 231);                                             // right
  EXPECT_EQ(Short(c, 6), 155);                                             // bottom
  EXPECT_EQ(Word(OfKind(wmf.Records, test::wmfCreatePen)[0].Data, 8), 0);  // thinnest line
}

TEST_F(Pictures, TerminationSymbolHangs1500DeepBelowRightOfItsNode) {
  Node({300, 400}, 120);
  const std::vector<EmfRecord> emf = Emf({600, 600});
  const auto lines = OfKind(emf, test::emrPolyline);
  ASSERT_EQ(lines.size(), 2u);  // the hanger and the ground bar
  const std::string& hanger = lines[0].Data;
  ASSERT_EQ(Long(hanger, 24), 3u);
  EXPECT_EQ(Int(hanger, 28), 6000);
  EXPECT_EQ(Int(hanger, 32), 8000);
  EXPECT_EQ(Int(hanger, 36), 6000 + 16 * 20);
  EXPECT_EQ(Int(hanger, 40), 8000 - 25 * 20);
  EXPECT_EQ(Int(hanger, 44), 6000 + 16 * 20);
  EXPECT_EQ(Int(hanger, 48), 8000 - 1500);
  const auto boxes = OfKind(emf, test::emrRectangle);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(Int(boxes[0].Data, 8), 6000 + 10 * 20);
  EXPECT_EQ(Int(boxes[0].Data, 16), 6000 + 22 * 20);
  const auto brushes = OfKind(emf, test::emrCreateBrushIndirect);
  EXPECT_TRUE(std::any_of(brushes.begin(), brushes.end(),
                          [](const EmfRecord& r) { return Long(r.Data, 16) == 0x0000FFFFu; }));  // yellow

  // In the Windows metafile y runs down: the hanger ends 1500 hundredths (57 units) lower.
  const auto wmfLines = OfKind(Wmf({600, 600}).Records, test::wmfPolyline);
  ASSERT_EQ(wmfLines.size(), 2u);
  ASSERT_EQ(Short(wmfLines[0].Data, 6), 3);
  EXPECT_EQ(Short(wmfLines[0].Data, 18) - Short(wmfLines[0].Data, 10), 57);
}

TEST_F(Pictures, LabelsTurnUpAlongRisingWiresInBothFormats) {
  Node({100, 100});
  Node({300, 300});
  Net.AddWire({100, 100}, {300, 300}, 120, true);
  Net.WireAtIndex(2)->FLength = 2000;

  // Readers turn a positive escapement towards the top of the page in both formats.
  const auto emfFonts = OfKind(Emf({400, 400}), test::emrExtCreateFontIndirectW);
  const auto label =
      std::find_if(emfFonts.begin(), emfFonts.end(), [](const EmfRecord& r) { return Int(r.Data, 20) != 0; });
  ASSERT_NE(label, emfFonts.end());
  EXPECT_EQ(Int(label->Data, 12), -282);  // 8 points in 0.01 mm
  EXPECT_EQ(Int(label->Data, 20), 450);
  EXPECT_EQ(Int(label->Data, 24), 450);
  EXPECT_EQ(static_cast<unsigned char>(label->Data[37]), 0x11);  // by character, turned by the coordinates
  EXPECT_EQ(label->Data.substr(40, 10), test::Utf16("Arial"));

  const auto wmfFonts = OfKind(Wmf({400, 400}).Records, test::wmfCreateFont);
  const auto wmfLabel =
      std::find_if(wmfFonts.begin(), wmfFonts.end(), [](const WmfRecord& r) { return Short(r.Data, 10) != 0; });
  ASSERT_NE(wmfLabel, wmfFonts.end());
  EXPECT_EQ(Short(wmfLabel->Data, 6), -11);  // 2.82 mm in 1/96 inch
  EXPECT_EQ(Short(wmfLabel->Data, 10), 450);
  EXPECT_EQ(Short(wmfLabel->Data, 12), 450);
}

TEST_F(Pictures, TextCarriesItsStringSpacingAndAlignment) {
  Node({300, 300});
  Net.NodeAt({300, 300})->FName = "A";
  const std::vector<EmfRecord> emf = Emf({600, 600});
  const auto texts = OfKind(emf, test::emrExtTextOutW);
  ASSERT_EQ(texts.size(), 1u);
  const std::string& t = texts[0].Data;
  EXPECT_EQ(Int(t, 36), (300 - 5) * 20);  // ends at the circle's left edge
  EXPECT_EQ(Int(t, 40), (300 - 2) * 20);
  ASSERT_EQ(Long(t, 44), 5u);
  EXPECT_EQ(t.substr(Long(t, 48), 10), test::Utf16("[1] A"));
  // Spacing from Arial's widths at 282: "[" 78, "1" 157, " " 78, "]" 79 (rounded along), "A" 188.
  std::vector<std::uint32_t> dx;
  for (std::size_t i = 0; i < 5; ++i) dx.push_back(Long(t, Long(t, 72) + 4 * i));
  EXPECT_EQ(dx, (std::vector<std::uint32_t>{78, 157, 79, 78, 188}));
  const auto aligns = OfKind(emf, test::emrSetTextAlign);
  ASSERT_FALSE(aligns.empty());
  EXPECT_EQ(Long(aligns.back().Data, 8), 2u);  // right, top
  const auto modes = OfKind(emf, test::emrSetBkMode);
  ASSERT_FALSE(modes.empty());
  EXPECT_EQ(Long(modes.back().Data, 8), 1u);                                        // transparent
  EXPECT_EQ(Long(OfKind(emf, test::emrSetTextColor).back().Data, 8), 0x00FF00FFu);  // fuchsia

  const auto wmfTexts = OfKind(Wmf({600, 600}).Records, test::wmfExtTextOut);
  ASSERT_EQ(wmfTexts.size(), 1u);
  const std::string& w = wmfTexts[0].Data;
  EXPECT_EQ(Short(w, 10), 5);
  EXPECT_EQ(w.substr(14, 5), "[1] A");
  int width = 0;
  for (std::size_t i = 0; i < 5; ++i) width += Short(w, 20 + 2 * i);
  EXPECT_EQ(width, 22);  // 580 hundredths of a millimetre of text
}

TEST_F(Pictures, ObjectsAreReplacedAndDeletedWithoutLeavingSlotsBehind) {
  Node({100, 100}, 120, 1);  // yellow box, red triangle without outline
  Node({300, 100}, 1500, 1);
  Net.AddWire({100, 100}, {300, 100}, 120, true);
  const test::WmfFile wmf = Wmf({400, 300});
  int alive = 0;
  int most = 0;
  for (const WmfRecord& r : wmf.Records) {
    if (r.Function == test::wmfCreatePen || r.Function == test::wmfCreateBrush || r.Function == test::wmfCreateFont)
      most = std::max(most, ++alive);
    if (r.Function == test::wmfDeleteObject) --alive;
    if (r.Function == test::wmfSelectObject) {
      // A pen, a brush and a font, and the one that is replacing one of them.
      EXPECT_LT(Word(r.Data, 6), 4);
    }
  }
  EXPECT_EQ(alive, 0);
  EXPECT_EQ(Word(wmf.Header, 10), most);
  // The triangle is drawn with an empty pen, which the format must create itself.
  const auto pens = OfKind(wmf.Records, test::wmfCreatePen);
  EXPECT_TRUE(std::any_of(pens.begin(), pens.end(), [](const WmfRecord& r) { return Word(r.Data, 6) == 5; }));

  const std::vector<EmfRecord> emf = Emf({400, 300});
  EXPECT_EQ(OfKind(emf, test::emrCreatePen).size() + OfKind(emf, test::emrCreateBrushIndirect).size() +
                OfKind(emf, test::emrExtCreateFontIndirectW).size(),
            OfKind(emf, test::emrDeleteObject).size());
}

TEST_F(Pictures, EmptyNetworkGivesAValidPictureOfTheDocumentSize) {
  const std::vector<EmfRecord> emf = Emf({200, 200});
  EXPECT_EQ(Int(emf.front().Data, 32), 4000);
  EXPECT_EQ(Int(emf.front().Data, 36), 4000);
  EXPECT_EQ(emf.size(), 6u);  // header, four mapping records, end
  const test::WmfFile wmf = Wmf({200, 200});
  EXPECT_EQ(Short(wmf.Placeable, 10), 151);
  EXPECT_EQ(wmf.Records.size(), 4u);  // three mapping records, end
}

TEST_F(Pictures, WindowsMetafileRefusesPicturesBeyondSixteenBits) {
  EXPECT_NO_THROW(TWmfCanvas(866'000, 866'000));
  EXPECT_THROW(TWmfCanvas(866'000, 867'000), EPictureTooLarge);
  try {
    TWmfCanvas(866'000, 867'000);
  } catch (const EPictureTooLarge& error) {  // the true limit, in the format's units and in metres
    EXPECT_STREQ(error.what(),
                 "the picture is 8660.0 x 8670.0 mm, too large for a Windows metafile: it holds at most 32,767 units "
                 "of 1/96 inch (8.67 m) a side");
  }
  // An enhanced metafile takes the largest document the editor keeps.
  TEmfCanvas large(320'000'000, 320'000'000);
  EXPECT_EQ(Int(large.Finish(), 32), 320'000'000);
}

std::string Sha256(const std::string& Bytes) {
  return QCryptographicHash::hash(QByteArray::fromStdString(Bytes), QCryptographicHash::Sha256).toHex().toStdString();
}

// Pens, brushes, font styles, turned fonts, alignments and text modes the examples do not use.
template <typename TCanvasType>
std::string DrawEveryKindOfRecord(TCanvasType& C) {
  C.SetPen({clRed, TPenStyle::psDot, 40});
  C.SetBrush({clYellow, TBrushStyle::bsClear});
  C.Rectangle({100, 200}, {900, 50});
  C.Ellipse({3000, 3000}, {2000, 2500});
  C.SetPen({clBlue, TPenStyle::psClear, 1});
  C.SetBrush({clTeal, TBrushStyle::bsSolid});
  C.Polygon({{100, 100}, {400, 100}, {250, 400}});
  C.SetFont({"Liberation Serif", 12, clNavy, true, true, true, true});
  C.SetTextAlign({THorzAlign::Center, TVertAlign::Baseline});
  C.TextOut({200, 3000}, "\x80\xE4\xFF odd");
  C.SelectFont(TLogFont{"Arial", -282, 120, 450, 450, 700});
  C.SetTextAlign({THorzAlign::Left, TVertAlign::Bottom});
  C.TextOut({800, 800}, "turned");
  return C.Finish();
}

TEST_F(Pictures, FilesKeepTheBytesTheyWereFirstWrittenWith) {
  // The examples fitted as busweave-cli fits them, text measured by the built-in Arial widths.
  // An example changed on purpose needs its new digests here; a changed writer never does.
  std::vector<std::string> digests;
  for (const char* name : {"six-stations", "star-with-long-stubs", "two-nodes"}) {
    TCanNodes example(120, 1500, 120);
    ASSERT_TRUE(example.LoadNetwork(std::string(BUSWEAVE_EXAMPLES) + "/" + name + ".bwn")) << name;
    const TPoint size = FitNetwork(example, {100, 100}, {200, 200});
    const auto draw = [&](auto& C, TPlotTarget Target) {
      C.SetPen({clBlack, TPenStyle::psSolid, 0});
      PlotNetwork(C, example, Settings, Target, true, DrawingScale);
      return Sha256(C.Finish());
    };
    TEmfCanvas emf(size.X * 20, size.Y * 20, TEmfDescription{u"Busweave-V2", u"example.bwn"});
    digests.push_back(draw(emf, ptFileEMF));
    TWmfCanvas wmf(size.X * 20, size.Y * 20);
    digests.push_back(draw(wmf, ptFileWMF));
  }
  TEmfCanvas emf(4000, 3500);
  digests.push_back(Sha256(DrawEveryKindOfRecord(emf)));
  TWmfCanvas wmf(4000, 3500);
  digests.push_back(Sha256(DrawEveryKindOfRecord(wmf)));
  EXPECT_EQ(digests,
            (std::vector<std::string>{
                "bd7ffe102c11de8e5477b901c046d8c8d8808b4fea892ed671c54c5c86f2357b",  // six-stations.emf
                "af9fcb1a5f871f341ce8cfef6209c42a2b4902a60b379c309b71bead0de55aaf",  // six-stations.wmf
                "37c393fa1de3540d436e5624e29ee8b7f5db41523f6ceaf0b4544b560ffb5edb",  // star-with-long-stubs.emf
                "3a0aa3c9491d1ece64df15d7e165c124aef95f203ab48609030671e0182b6df7",  // star-with-long-stubs.wmf
                "ed65281d69360c6a5c8c2df12a67425a5098fcd6e340595249ff6f094237d059",  // two-nodes.emf
                "f32376a2bf425164c491d0b0eb06ace50d67ad550e79b2794ee865e8e82d485b",  // two-nodes.wmf
                "a51db59535656e52cccf303a09e7e9840f16a646f2d3482a7f4e46b4ef2fb907",  // every kind, emf
                "41c3662b347f21e5a666b414cded66bb33297c1223d82392a07862df6c90f96b",  // every kind, wmf
            }));
}

}  // namespace
}  // namespace busweave
