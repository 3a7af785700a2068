// The network drawing, read back from the recording canvas: what is drawn, where, in which
// colours and fonts, for the screen and for pictures.

#include <gtest/gtest.h>

#include <limits>

#include "drawing/FitNetwork.h"
#include "drawing/NetworkDrawing.h"
#include "drawing/RecordingCanvas.h"

namespace busweave {
namespace {

class Plot : public testing::Test {
 protected:
  Plot() {
    Settings.DrawingFont = {"Arial", 8, clBlue};
    Settings.ExportFont = {"Arial", 8, clFuchsia};
  }

  TNode* node(TPoint P, std::uint16_t Resistance, std::uint8_t Source, const std::string& Name = "") {
    Net.AddNode(P);
    TNode* n = Net.NodeAt(P);
    n->FResistance = Resistance;
    n->FSource = Source;
    n->FName = Name;
    return n;
  }

  std::vector<TCanvasOp> draw(TPlotTarget Target = ptScreen, TPoint Scale = {1, 1},
                              const std::optional<std::pair<TPoint, TPoint>>& Clip = std::nullopt) {
    Canvas.Clear();
    PlotNetwork(Canvas, Net, Settings, Target, true, Scale, Clip);
    return Canvas.Ops();
  }

  TCanNodes Net{120, 1500, 120};
  TPlotSettings Settings;
  TRecordingCanvas Canvas;
};

TEST_F(Plot, EachNodeKindGetsItsSymbol) {
  node({100, 500}, 1500, 0);  // plain: no symbol
  node({300, 500}, 1500, 1);  // driver only: white box, red triangle
  node({500, 500}, 120, 0);   // termination only: yellow box
  node({700, 500}, 120, 1);   // both: yellow box, red triangle
  draw();
  const auto boxes = Canvas.OpsOfKind(TCanvasOp::opRectangle);
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].Brush.Color, clWhite);
  EXPECT_EQ(boxes[1].Brush.Color, clYellow);
  EXPECT_EQ(boxes[2].Brush.Color, clYellow);
  // The box hangs right of and below the node: x +16 +-6, y -12-25 .. -12-50.
  EXPECT_EQ(boxes[1].Points, (std::vector<TPoint>{{510, 463}, {522, 438}}));

  const auto triangles = Canvas.OpsOfKind(TCanvasOp::opPolygon);
  ASSERT_EQ(triangles.size(), 2u);
  EXPECT_EQ(triangles[0].Brush.Color, clRed);
  EXPECT_EQ(triangles[0].Pen.Style, TPenStyle::psClear);
  EXPECT_EQ(triangles[0].Points, (std::vector<TPoint>{{316, 463}, {311, 439}, {321, 439}}));

  // Every symbol hangs 75 units deep, and the brush and pen come back afterwards.
  const auto circles = Canvas.OpsOfKind(TCanvasOp::opEllipse);
  ASSERT_EQ(circles.size(), 4u);
  for (const auto& circle : circles) {
    EXPECT_EQ(circle.Brush.Color, clTeal);
    EXPECT_EQ(circle.Pen.Style, TPenStyle::psSolid);
  }
  EXPECT_EQ(Canvas.Brush(), TBrush{});
}

TEST_F(Plot, NamesAreNumberedAndDrawnLeftOfTheCircle) {
  node({300, 100}, 1500, 0, "C");
  node({100, 100}, 1500, 0, "A");
  TNode* b = node({200, 100}, 1500, 0, "[9] B");
  draw();
  EXPECT_EQ(b->FName, "[2] B");
  EXPECT_EQ(Net.NodeAt({300, 100})->FName, "[3] C");
  const auto names = Canvas.OpsOfKind(TCanvasOp::opText);
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0].Text, "[1] A");
  EXPECT_EQ(names[0].Points[0], (TPoint{95, 98}));
  EXPECT_EQ(names[0].Align, (TTextAlign{THorzAlign::Right, TVertAlign::Top}));
  EXPECT_TRUE(names[0].Transparent);
  ASSERT_TRUE(names[0].LogFont);
  EXPECT_EQ(names[0].LogFont->Height, -11);  // 8 points at 96 pixels per inch
  EXPECT_EQ(names[0].LogFont->Escapement, 0);
  EXPECT_EQ(names[0].Font.Color, clBlue);

  // A change that makes C the second node renames it; the old number is replaced.
  Net.FTickCount = 2;
  Net.DeleteNodeAt({200, 100});
  draw();
  EXPECT_EQ(Net.NodeAt({300, 100})->FName, "[2] C");

  Settings.ShowNames = false;
  draw();
  EXPECT_TRUE(Canvas.OpsOfKind(TCanvasOp::opText).empty());
}

TEST_F(Plot, LengthLabelsFollowTheWire) {
  node({100, 100}, 1500, 0);
  node({300, 300}, 1500, 0);
  node({500, 100}, 1500, 0);
  Net.AddWire({100, 100}, {300, 300}, 120, true);  // 45 degrees, length 0
  Net.AddWire({300, 300}, {500, 100}, 120, false);
  draw();
  const auto texts = Canvas.OpsOfKind(TCanvasOp::opText);
  const auto label = std::find_if(texts.begin(), texts.end(), [](const TCanvasOp& Op) { return Op.Text == "0mm"; });
  ASSERT_NE(label, texts.end());
  EXPECT_EQ(label->Font.Color, clRed);
  EXPECT_EQ(label->Points[0], (TPoint{200, 200}));
  EXPECT_EQ(label->Align, (TTextAlign{THorzAlign::Center, TVertAlign::Bottom}));
  EXPECT_EQ(label->LogFont->Escapement, -450);
  EXPECT_EQ(label->LogFont->Orientation, -450);
  EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                          [](const TCanvasOp& Op) { return Op.Text.find("mm") != std::string::npos; }),
            1);  // the second wire hides its length

  Net.WireAtIndex(3)->FLength = 2000;
  for (const auto& [target, rotation] : std::vector<std::pair<TPlotTarget, int>>{
           {ptClipWMF, 450}, {ptFileWMF, 450}, {ptClipEMF, -450}, {ptFileEMF, -450}}) {
    draw(target, DrawingScale);
    const auto labels = Canvas.OpsOfKind(TCanvasOp::opText);
    const auto found =
        std::find_if(labels.begin(), labels.end(), [](const TCanvasOp& Op) { return Op.Text == "2000mm"; });
    ASSERT_NE(found, labels.end());
    EXPECT_EQ(found->LogFont->Escapement, rotation) << int(target);
    EXPECT_EQ(found->LogFont->Height, -282) << int(target);  // 8 points in 0.01 mm
    EXPECT_EQ(found->Font.Color, clFuchsia);
  }
  // Wires are drawn before any node, in black.
  const auto& ops = draw();
  EXPECT_EQ(ops.front().Kind, TCanvasOp::opPolyline);
  EXPECT_EQ(ops.front().Pen.Color, clBlack);
}

TEST_F(Plot, TheScreenLeavesOutLabelsTooSmallToReadPicturesKeepThem) {
  node({100, 100}, 1500, 0, "a");
  node({300, 100}, 1500, 0, "b");
  Net.AddWire({100, 100}, {300, 100}, 120, true);
  auto drawAt = [&](int ViewportPerThousand, TPlotTarget Target) {
    TMapping mapping;
    mapping.WindowExt = {1000, 1000};
    mapping.ViewportExt = {ViewportPerThousand, -ViewportPerThousand};
    Canvas.SetMapping(mapping);
    return draw(Target, Target == ptScreen ? TPoint{1, 1} : DrawingScale);
  };
  // 8 points at 96 dpi are 11 pixels, 12 units with the margin: 1.2 pixels at a tenth, 3 at a quarter.
  drawAt(100, ptScreen);
  EXPECT_TRUE(Canvas.OpsOfKind(TCanvasOp::opText).empty());
  EXPECT_EQ(Canvas.OpsOfKind(TCanvasOp::opEllipse).size(), 2u);
  EXPECT_EQ(Canvas.OpsOfKind(TCanvasOp::opPolyline).size(), 1u);  // the wire itself stays
  drawAt(250, ptScreen);
  EXPECT_EQ(Canvas.OpsOfKind(TCanvasOp::opText).size(), 3u);  // two names and the length
  for (TPlotTarget target : {ptClipWMF, ptClipEMF, ptFileWMF, ptFileEMF}) {
    drawAt(1, target);
    EXPECT_EQ(Canvas.OpsOfKind(TCanvasOp::opText).size(), 3u) << int(target);
  }
  // Magnified or at one to one, every label shows whatever its size.
  Settings.DrawingFont.Size = 1;
  drawAt(1000, ptScreen);
  EXPECT_EQ(Canvas.OpsOfKind(TCanvasOp::opText).size(), 3u);
}

TEST_F(Plot, MarksShowOnTheScreenOnly) {
  node({100, 100}, 1500, 0)->FMarked = 1;
  node({300, 100}, 1500, 0);
  Net.AddWire({100, 100}, {300, 100}, 120, false);
  for (int i = 0; i < Net.Count(); ++i)
    if (TTrmLine* wire = Net.WireAtIndex(i)) wire->FMarked = 1;
  for (const TPlotTarget target : {ptScreen, ptClipWMF, ptClipEMF, ptFileWMF, ptFileEMF}) {
    SCOPED_TRACE(static_cast<int>(target));
    draw(target);
    const bool screen = target == ptScreen;
    const auto circles = Canvas.OpsOfKind(TCanvasOp::opEllipse);
    ASSERT_EQ(circles.size(), 2u);
    EXPECT_EQ(circles[0].Brush.Color, screen ? clRed : clTeal);
    EXPECT_EQ(circles[1].Brush.Color, clTeal);
    const auto lines = Canvas.OpsOfKind(TCanvasOp::opPolyline);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Pen.Color, screen ? clRed : clBlack);
  }
}

TEST_F(Plot, PicturesScaleEveryCoordinateByTwenty) {
  node({100, 200}, 120, 0);
  draw(ptFileEMF, DrawingScale);
  const auto circle = Canvas.OpsOfKind(TCanvasOp::opEllipse).at(0);
  EXPECT_EQ(circle.Points, (std::vector<TPoint>{{1900, 3900}, {2100, 4100}}));  // radius 100 (1 mm)
  const auto stem = Canvas.OpsOfKind(TCanvasOp::opPolyline).at(0);
  EXPECT_EQ(stem.Points.back().Y, 4000 - 1500);  // 75 units deep
}

TEST_F(Plot, OnlyWhatReachesTheClipIsDrawn) {
  node({100, 100}, 1500, 0, "near");
  node({5000, 5000}, 120, 1, "far");
  Net.AddWire({100, 100}, {300, 100}, 120, true);
  node({300, 100}, 1500, 0);
  const std::size_t all = draw().size();
  const std::size_t clipped = draw(ptScreen, {1, 1}, std::make_pair(TPoint{0, 0}, TPoint{400, 400})).size();
  EXPECT_LT(clipped, all);
  for (const auto& op : Canvas.Ops()) EXPECT_NE(op.Text, "[3] far");
  // A long name reaching in from the right still shows.
  draw(ptScreen, {1, 1}, std::make_pair(TPoint{4900, 4990}, TPoint{4950, 5000}));
  EXPECT_EQ(Canvas.OpsOfKind(TCanvasOp::opText).size(), 1u);
}

TEST_F(Plot, StoredAnglesThatCannotBeRightAreTakenFromTheWireEnds) {
  node({100, 100}, 1500, 0);
  node({300, 300}, 1500, 0);
  Net.AddWire({100, 100}, {300, 300}, 120, true);  // rises at 45 degrees
  TTrmLine* wire = Net.WireAtIndex(2);
  auto escapement = [&](TPlotTarget Target) {
    draw(Target, DrawingScale);
    return Canvas.OpsOfKind(TCanvasOp::opText).at(0).LogFont->Escapement;
  };
  const float inf = std::numeric_limits<float>::infinity();
  for (const float stored : {std::numeric_limits<float>::quiet_NaN(), inf, -inf, 1e30f, -4.0f, 1.5708f + 1e-4f}) {
    wire->FAngle = stored;
    EXPECT_EQ(escapement(ptFileEMF), -450) << stored;
    EXPECT_EQ(escapement(ptFileWMF), 450) << stored;
  }
  // A plausible stored angle is drawn as stored, a vertical one included.
  wire->FAngle = 0.5f;
  EXPECT_EQ(escapement(ptScreen), -286);
  wire->FAngle = WireAngle({0, 0}, {0, 100});
  EXPECT_EQ(escapement(ptFileWMF), 900);
  EXPECT_EQ(LabelRotation(std::numeric_limits<float>::quiet_NaN(), ptScreen), 0);
}

TEST_F(Plot, FittingNeverFoldsCoordinatesNearTheLimits) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  // Near the top of the range, but small: moved next to the origin like any network.
  node({kMax - 300, kMax - 100}, 1500, 0);
  node({kMax, kMax}, 1500, 0);
  EXPECT_EQ(FitNetwork(Net, {100, 100}, {200, 200}), (TPoint{500, 300}));
  EXPECT_NE(Net.NodeAt({100, 100}), nullptr);
  EXPECT_NE(Net.NodeAt({400, 200}), nullptr);
  EXPECT_TRUE(FitProblem(PlanFit(Net, {100, 100}, {200, 200})).empty());

  // Spanning the whole range: the extent is worked out in 64 bits, and the network is not
  // moved, where a 32-bit move would wrap its right end round to the left.
  TCanNodes wide{120, 1500, 120};
  wide.AddNode({kMin, 0});
  wide.AddNode({kMax, 0});
  const TFitPlan plan = PlanFit(wide, {100, 100}, {200, 200});
  EXPECT_EQ(plan.Width, std::int64_t{kMax} - kMin + 200);
  EXPECT_FALSE(plan.MoveFits);
  EXPECT_NE(FitProblem(plan).find("at most 16000000 units"), std::string::npos);
  EXPECT_EQ(FitNetwork(wide, {100, 100}, {200, 200}), (TPoint{kLargestExtent, 200}));
  EXPECT_NE(wide.NodeAt({kMin, 0}), nullptr);
  EXPECT_NE(wide.NodeAt({kMax, 0}), nullptr);

  // A wire end without a node (a damaged file), far below the small network, would leave the
  // range on the move: nothing moves.
  TCanNodes stray{120, 1500, 120};
  stray.AddNode({1000, 0});
  stray.AddWire({1000, 0}, {kMin + 100, 0}, 120, true);
  ASSERT_EQ(stray.FNumLines(), 1);
  EXPECT_NE(FitProblem(PlanFit(stray, {100, 100}, {200, 200})).find("coordinate range"), std::string::npos);
  EXPECT_EQ(FitNetwork(stray, {100, 100}, {200, 200}), (TPoint{200, 200}));
  EXPECT_NE(stray.NodeAt({1000, 0}), nullptr);
}

TEST_F(Plot, EmptyNetworkDrawsNothing) {
  EXPECT_TRUE(draw().empty());
  EXPECT_EQ(Canvas.Font(), TFontSpec{});  // the canvas font is put back
}

}  // namespace
}  // namespace busweave
