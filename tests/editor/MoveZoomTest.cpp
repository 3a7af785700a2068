// Moving nodes, zooming and autoscroll on the real editor surface, driven by mouse and wheel events.

#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include "FakeEditorHost.h"
#include "ScriptedPrompts.h"
#include "TempFolder.h"
#include "editor/EditorWindow.h"

namespace busweave {
namespace {

class MoveZoom : public testing::Test {
 protected:
  MoveZoom() {
    TFrameLink link;
    link.Notify = [this](TEditorNotifyCode Code, int Value) { Notes.emplace_back(static_cast<int>(Code), Value); };
    Editor = std::make_unique<TSubForm>(nullptr, link, Folder.File("NONAME1.BWN"), TPoint{200, 200}, DrawingScale,
                                        &HostWindow);
    Editor->resize(600, 500);
    Editor->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(Editor.get()));
  }

  // A drag with the mouse between two widget pixels of the surface.
  void drag(QPoint From, QPoint To) {
    QTest::mousePress(Editor->PaintBox1(), Qt::LeftButton, {}, From);
    QTest::mouseMove(Editor->PaintBox1(), To);
    QTest::mouseRelease(Editor->PaintBox1(), Qt::LeftButton, {}, To);
  }
  // The surface pixel of a document point at the current zoom.
  QPoint pixel(TPoint Doc) const { return Editor->PixelFromSurface({Doc.X, Editor->DocExtent().Y - Doc.Y}); }
  void wheel(QPoint At, int Delta, Qt::KeyboardModifiers Modifiers = Qt::ControlModifier) {
    QWheelEvent event(At, Editor->PaintBox1()->mapToGlobal(At), {}, {0, Delta}, Qt::NoButton, Modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(Editor->PaintBox1(), &event);
  }
  std::string keys() const {
    std::string out;
    for (int i = 0; i < net().Count(); ++i) out += net().Strings(i) + " ";
    return out;
  }
  const TCanNodes& net() const { return Editor->Nodes(); }

  test::TempFolder Folder;
  test::FakeEditorHost HostWindow;
  std::vector<std::pair<int, int>> Notes;
  std::unique_ptr<TSubForm> Editor;
};

TEST_F(MoveZoom, ANodeMovesWithItsWireEndsAsOneUndoStepOrIsRefusedUnchanged) {
  Editor->SetFMode(mDrawTRMLine);
  drag({100, 100}, {300, 100});  // nodes at (100, 100) and (300, 100), extent 400 x 200
  ASSERT_EQ(Editor->DocExtent(), (TPoint{400, 200}));
  const std::string drawn = keys();

  // Refused: onto the other node, and off the document; nothing changes, no undo step is added.
  Editor->SetFMode(mMoveNode);
  const int undoEntries = net().FUnDoList().Count();
  drag(pixel({300, 100}) + QPoint(20, -30), pixel({100, 100}));
  EXPECT_TRUE(HostWindow.Message.contains("another node")) << HostWindow.Message.toStdString();
  drag(pixel({300, 100}), pixel({450, 100}));
  EXPECT_TRUE(HostWindow.Message.contains("off the document")) << HostWindow.Message.toStdString();
  EXPECT_EQ(keys(), drawn);
  EXPECT_EQ(net().FUnDoList().Count(), undoEntries);
  EXPECT_FALSE(Editor->MovingNode());

  // Up to the border: the node follows the grid, its wire follows it, the document refits.
  Notes.clear();
  QTest::mousePress(Editor->PaintBox1(), Qt::LeftButton, {}, pixel({300, 100}));
  QTest::mouseMove(Editor->PaintBox1(), pixel({300, 100}) + QPoint(10, -90));
  EXPECT_EQ(Editor->MoveTarget(), (TPoint{300, 0}));
  EXPECT_EQ(keys(), drawn);  // nothing changes before the release
  QTest::mouseRelease(Editor->PaintBox1(), Qt::LeftButton, {}, pixel({300, 100}) + QPoint(10, -90));
  const std::string moved = keys();
  EXPECT_TRUE(net().WireExists({100, 100}, {300, 200}));
  EXPECT_FALSE(net().NodeExists({300, 100}));
  EXPECT_EQ(Editor->DocExtent(), (TPoint{400, 300}));
  EXPECT_EQ(Notes, (std::vector<std::pair<int, int>>{{1, 400}, {2, 300}}));

  EXPECT_TRUE(Editor->UnDo());
  EXPECT_EQ(keys(), drawn);
  EXPECT_TRUE(Editor->ReDo());
  EXPECT_EQ(keys(), moved);
  EXPECT_TRUE(Editor->UnDo());
  EXPECT_EQ(keys(), drawn);

  // Escape drops a move in progress; its release does nothing.
  QTest::mousePress(Editor->PaintBox1(), Qt::LeftButton, {}, pixel({300, 100}));
  QTest::mouseMove(Editor->PaintBox1(), pixel({200, 200}));
  Editor->CancelWire();
  QTest::mouseRelease(Editor->PaintBox1(), Qt::LeftButton, {}, pixel({200, 200}));
  EXPECT_EQ(keys(), drawn);
}

TEST_F(MoveZoom, HitTestsSnappingAndPositionsStayInDocumentUnitsAtEveryZoom) {
  Editor->SetFMode(mDrawTRMLine);
  drag({100, 100}, {300, 100});
  Editor->SetDocExtent({2000, 1500});  // room to scroll at every zoom
  const TPoint node{300, 100};         // surface (300, 1400)

  // Ctrl+wheel zooms about the pointer: the document point under it stays under it.
  const QPoint at = pixel(node) + QPoint(7, 3);
  auto inView = [this](QPoint Pixel) { return Editor->PaintBox1()->mapTo(Editor->ScrollBox1()->viewport(), Pixel); };
  const QPoint before = inView(at);
  const TPoint under = Editor->SurfaceFromPixel(at);
  wheel(at, 240);
  EXPECT_DOUBLE_EQ(Editor->Zoom(), 2.0);
  EXPECT_EQ(inView(Editor->PixelFromSurface(under)), before);
  wheel(at, 120, Qt::NoModifier);  // without Ctrl the wheel scrolls as before
  EXPECT_DOUBLE_EQ(Editor->Zoom(), 2.0);

  for (const double zoom : {2.0, 0.5}) {
    SCOPED_TRACE(zoom);
    Editor->SetZoom(zoom);
    const QPoint p = pixel(node);
    Editor->SetScrollOffset({p.x() - Editor->ClientSize().X / 2, p.y() - Editor->ClientSize().Y / 2});
    // The node modes pick the node within half a grid step, in units, not pixels.
    Editor->SetFMode(mGetNode);
    const int dialogs = HostWindow.Scripted.Dialogs;
    QTest::mouseClick(Editor->PaintBox1(), Qt::LeftButton, {}, Editor->PixelFromSurface({node.X + 48, 1400 - 48}));
    EXPECT_EQ(HostWindow.Scripted.Dialogs, dialogs + 1);
    QTest::mouseClick(Editor->PaintBox1(), Qt::LeftButton, {}, Editor->PixelFromSurface({node.X + 52, 1400}));
    EXPECT_EQ(HostWindow.Scripted.Dialogs, dialogs + 1);
    QTest::mouseMove(Editor->PaintBox1(), p + QPoint(1, 1));
    EXPECT_EQ(HostWindow.Position, zoom > 1 ? "X:300 Y:100" : "X:302 Y:98");
    // A wire drawn at this zoom ends on grid points of the document.
    Editor->SetFMode(mDrawTRMLine);
    drag(p, pixel({node.X + 90, node.Y + 110}));
    EXPECT_TRUE(net().WireExists(node, {node.X + 100, node.Y + 100}));
    EXPECT_TRUE(Editor->UnDo());
  }

  // What the editor shows is the part of the document the overview marks.
  Editor->SetZoom(2.0);
  Editor->SetScrollOffset({400, 600});
  const auto [lower, upper] = Editor->VisibleDocument();
  const TPoint view = Editor->ClientSize();
  EXPECT_EQ(lower, (TPoint{200, 1500 - (600 + view.Y) / 2}));
  EXPECT_EQ(upper, (TPoint{200 + view.X / 2, 1500 - 300}));

  // 100 % and the whole document.
  Editor->ZoomActualSize();
  EXPECT_DOUBLE_EQ(Editor->Zoom(), 1.0);
  Editor->ZoomFit();
  EXPECT_DOUBLE_EQ(Editor->Zoom(), std::min(view.X / 2000.0, view.Y / 1500.0));
  EXPECT_EQ(Editor->ScrollOffset(), (TPoint{0, 0}));
  EXPECT_LE(Editor->PixelFromSurface({2000, 1500}).x(), view.X);
  EXPECT_LE(Editor->PixelFromSurface({2000, 1500}).y(), view.Y);
}

TEST_F(MoveZoom, ZoomKeepsThePointUnderThePointerAtEveryStepWhateverTheDocumentSize) {
  // A document smaller than the editor and one larger, each pointed at near the top left, where
  // zooming out would need a scroll before the surface's edge.
  for (const auto& [extent, pointer] :
       {std::pair{TPoint{400, 300}, QPoint{350, 100}}, std::pair{TPoint{3000, 2000}, QPoint{150, 120}}}) {
    SCOPED_TRACE(extent.X);
    Editor->SetDocExtent(extent);
    Editor->ZoomActualSize();
    Editor->SetScrollOffset({0, 0});
    QWidget* viewport = Editor->ScrollBox1()->viewport();
    auto onSurface = [&] { return Editor->PaintBox1()->mapFrom(viewport, pointer); };
    QTest::mouseMove(Editor->PaintBox1(), onSurface());
    const TPoint under = Editor->SurfaceFromPixel(onSurface());
    // Ctrl+wheel in and out, and Ctrl+plus and minus, ten steps between 50 % and 400 %.
    const std::vector<int> steps{1, 1, 1, 2, -1, -1, -1, -1, -2, -2};
    for (std::size_t i = 0; i < steps.size(); ++i) {
      if (steps[i] == 2)
        Editor->ZoomIn();
      else if (steps[i] == -2)
        Editor->ZoomOut();
      else
        wheel(onSurface(), 120 * steps[i]);
      const QPoint shown = Editor->PaintBox1()->mapTo(viewport, Editor->PixelFromSurface(under));
      EXPECT_LE(std::abs(shown.x() - pointer.x()), 1) << "step " << i << " at zoom " << Editor->Zoom();
      EXPECT_LE(std::abs(shown.y() - pointer.y()), 1) << "step " << i << " at zoom " << Editor->Zoom();
    }
    EXPECT_DOUBLE_EQ(Editor->Zoom(), 0.5);
  }
}

// Zooming out at the end of the scroll range until the document is lower than the editor: the
// point under the pointer stays where it is, though no vertical scrolling is left.
TEST_F(MoveZoom, ZoomingOutAtTheScrollLimitKeepsThePointUnderThePointer) {
  Editor->SetDocExtent({3000, 560});  // taller than the editor at 100 %, lower from 75 %
  QScrollBar* across = Editor->ScrollBox1()->horizontalScrollBar();
  QApplication::processEvents();
  across->setValue(across->maximum());
  QWidget* viewport = Editor->ScrollBox1()->viewport();
  const QPoint pointer(viewport->width() - 30, 100);
  const TPoint under = Editor->SurfaceFromPixel(Editor->PaintBox1()->mapFrom(viewport, pointer));
  for (int step = 0; step < 3; ++step) {
    wheel(Editor->PaintBox1()->mapFrom(viewport, pointer), -120);
    QApplication::processEvents();
    const QPoint shown = Editor->PaintBox1()->mapTo(viewport, Editor->PixelFromSurface(under));
    EXPECT_LE(std::abs(shown.x() - pointer.x()), 1) << "at zoom " << Editor->Zoom();
    EXPECT_LE(std::abs(shown.y() - pointer.y()), 1) << "at zoom " << Editor->Zoom();
  }
  EXPECT_DOUBLE_EQ(Editor->Zoom(), 0.25);
}

TEST_F(MoveZoom, ZoomedFarOutTheSurfaceLeavesOutLabelsOnly) {
  Editor->SetFMode(mDrawTRMLine);
  for (int x = 100; x < 2000; x += 200) drag({x, 100}, {x + 200, 100});
  Editor->SetDocExtent({3000, 2000});
  TCanNodes& nodes = Editor->Nodes();
  auto surface = [&](double Zoom, bool Labels) {
    for (int i = 0; i < nodes.Count(); ++i) {
      if (TNode* node = nodes.NodeAtIndex(i)) node->FShowName = Labels ? 1 : 0;
      if (TTrmLine* wire = nodes.WireAtIndex(i)) wire->FShowLength = Labels ? 1 : 0;
    }
    Editor->SetZoom(Zoom);
    Editor->SetScrollOffset({0, 0});
    return Editor->PaintBox1()->grab().toImage();
  };
  // At a tenth the labels would be a pixel high; wires and circles are drawn as before.
  const QImage far = surface(0.1, true);
  EXPECT_EQ(far, surface(0.1, false));
  QImage blank(far.size(), far.format());
  blank.fill(Qt::white);
  EXPECT_NE(far, blank);
  EXPECT_NE(surface(0.5, true), surface(0.5, false));
}

TEST_F(MoveZoom, ADragAtTheEdgeScrollsAndTheRubberBandFollows) {
  Editor->SetDocExtent({3000, 3000});
  Editor->SetFMode(mDrawTRMLine);
  const TPoint view = Editor->ClientSize();
  QTest::mousePress(Editor->PaintBox1(), Qt::LeftButton, {}, {100, 100});
  QTest::mouseMove(Editor->PaintBox1(), {view.X - 4, 100});
  QTRY_VERIFY_WITH_TIMEOUT(Editor->ScrollOffset().X >= 200, 3000);
  const int scrolled = Editor->ScrollOffset().X;
  const QPoint release = Editor->PaintBox1()->mapFrom(Editor->ScrollBox1()->viewport(), QPoint(view.X - 4, 100));
  EXPECT_EQ(Editor->LineEnd().X, (release.x() + 50) / 100 * 100);  // it followed while scrolling
  QTest::mouseRelease(Editor->PaintBox1(), Qt::LeftButton, {}, release);
  EXPECT_FALSE(Editor->RubberBand());
  QTest::qWait(100);
  EXPECT_EQ(Editor->ScrollOffset().X, scrolled);  // the release ends the scrolling
  // The wire ends where the pointer was over the scrolled surface.
  const int end = (release.x() + 50) / 100 * 100;
  EXPECT_TRUE(Editor->Nodes().WireExists({100, 2900}, {end, 2900})) << end;
}

}  // namespace
}  // namespace busweave
