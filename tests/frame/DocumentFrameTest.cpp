// The document frame window on a multiple-document area: the overview's proportions, the
// navigation of the editor by press, drag and double-click, the coordinates in the status bar,
// the minimise and restore coupling and the caption link to the editor.

#include <gtest/gtest.h>

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>
#include <QVBoxLayout>
#include <filesystem>
#include <utility>
#include <vector>

#include "FakeEditorHost.h"
#include "ScriptedPrompts.h"
#include "TempFolder.h"
#include "editor/EditorWindow.h"
#include "frame/DocumentFrame.h"
#include "gui/Prompts.h"
#include "model/NetworkContainer.h"
#include "picture/QPainterCanvas.h"

// Readable failure messages.
static void PrintTo(const QSize& Size, std::ostream* Out) { *Out << Size.width() << " x " << Size.height(); }

namespace busweave {

static void PrintTo(const TPoint& P, std::ostream* Out) { *Out << "(" << P.X << ", " << P.Y << ")"; }

namespace {

using test::TempFolder;

class FrameWindow : public testing::Test {
 protected:
  FrameWindow() : FGuard(FFolder.Path()) {
    // Only the save dialog is expected; any other question fails the test.
    using TQuestion = test::ScriptedPrompts<>::TQuestion;
    Scripted.Unexpected = {TQuestion::Open, TQuestion::Error, TQuestion::Message, TQuestion::Warning,
                           TQuestion::Dialog};
    Area = new QMdiArea(&FMain);
    auto* layout = new QVBoxLayout(&FMain);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Area);
    FMain.resize(613, 611);
    FMain.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&FMain));
  }

  // A network file of the given wires, each end a node.
  std::string WriteNetwork(const std::string& Name, const std::vector<std::pair<TPoint, TPoint>>& Wires) {
    TCanNodes net{120, 1500, 120};
    for (const auto& [a, b] : Wires) {
      net.AddNode(a);
      net.AddNode(b);
      net.AddWire(a, b, 120, true);
    }
    const std::string path = FFolder.File(Name);
    EXPECT_TRUE(net.SaveNetwork(path));
    return path;
  }

  TMDIChild* Open(const std::string& Path) {
    TMDIChild* frame = TMDIChild::Open(Area, &Host, Path, {200, 200});
    Paint(frame);
    return frame;
  }

  // Paints until the overview no longer changes its size.
  static void Paint(TMDIChild* Frame) {
    for (int i = 0; i < 4; ++i) {
      Frame->PaintBox1->repaint();
      QTest::qWait(10);
    }
  }

  static QSize Client(TMDIChild* Frame) { return Frame->PaintBox1->size(); }

  TempFolder FFolder;
  test::CurrentFolderGuard FGuard;
  test::ScriptedPrompts<> Scripted;
  test::FakeEditorHost Host{Scripted};
  QWidget FMain;
  QMdiArea* Area;
};

TEST_F(FrameWindow, OpeningFitsTheNetworkAndNotifiesWidthBeforeHeight) {
  const std::string path = WriteNetwork("fit.bwn", {{{500, 700}, {900, 700}}, {{900, 700}, {900, 800}}});

  std::vector<std::pair<int, int>> notes;
  TFrameLink link;
  link.Notify = [&notes](TEditorNotifyCode Code, int Value) { notes.emplace_back(static_cast<int>(Code), Value); };
  {
    TSubForm editor(nullptr, link, path, {200, 200}, DrawingScale, &Host);
    EXPECT_EQ(notes, (std::vector<std::pair<int, int>>{{1, 600}, {2, 300}}));
    EXPECT_EQ(editor.DocExtent(), (TPoint{600, 300}));
    // Moved by (-400, -600): one grid step of margin at the left and bottom.
    EXPECT_TRUE(editor.Nodes().NodeExists({100, 100}));
    EXPECT_TRUE(editor.Nodes().NodeExists({500, 100}));
    EXPECT_TRUE(editor.Nodes().NodeExists({500, 200}));
  }

  TMDIChild* frame = Open(path);
  EXPECT_EQ(frame->FDocSize(), (TPoint{600, 300}));
  EXPECT_EQ(Client(frame), QSize(300, 150));
}

TEST_F(FrameWindow, FirstPaintKeepsTheWidthOfWideAndTheHeightOfTallDocuments) {
  // Notified sizes take effect with the next paint; unknown codes change nothing.
  TMDIChild* wide = Open(FFolder.File("NONAME1.BWN"));
  EXPECT_EQ(Client(wide), QSize(300, 300));
  wide->WMEditorNotify(TEditorNotifyCode::enWidth, 400);
  wide->WMEditorNotify(TEditorNotifyCode::enHeight, 200);
  wide->WMEditorNotify(static_cast<TEditorNotifyCode>(4), 999);
  EXPECT_EQ(wide->FDocSize(), (TPoint{400, 200}));
  Paint(wide);
  EXPECT_EQ(Client(wide), QSize(300, 150));

  TMDIChild* tall = Open(FFolder.File("NONAME3.BWN"));
  tall->WMEditorNotify(TEditorNotifyCode::enWidth, 200);
  tall->WMEditorNotify(TEditorNotifyCode::enHeight, 400);
  Paint(tall);
  EXPECT_EQ(Client(tall), QSize(150, 300));

  // Widened by the user: a wide document keeps the new width, a tall one its height.
  wide->SetClientSize({400, 150});
  Paint(wide);
  EXPECT_EQ(Client(wide), QSize(400, 200));
  tall->SetClientSize({300, 300});
  Paint(tall);
  EXPECT_EQ(Client(tall), QSize(150, 300));
}

TEST_F(FrameWindow, TheOverviewRecoversFromTheLongestAndNarrowestDocuments) {
  TMDIChild* frame = Open(FFolder.File("NONAME1.BWN"));
  for (const TPoint& thin : {TPoint{16'000'000, 200}, TPoint{200, 16'000'000}}) {
    frame->WMEditorNotify(TEditorNotifyCode::enWidth, thin.X);
    frame->WMEditorNotify(TEditorNotifyCode::enHeight, thin.Y);
    Paint(frame);
    EXPECT_GT(std::min(Client(frame).width(), Client(frame).height()), 8) << thin.X;
    frame->WMEditorNotify(TEditorNotifyCode::enWidth, 200);
    frame->WMEditorNotify(TEditorNotifyCode::enHeight, 200);
    Paint(frame);
    EXPECT_EQ(Client(frame).width(), Client(frame).height()) << thin.X;
    EXPECT_GT(Client(frame).width(), 8) << thin.X;
  }
}

TEST_F(FrameWindow, TallNetworkFileOpensAtTheHeightOfASquareDocument) {
  // The window starts 300 x 300 for the 200 x 200 the main window passes; a network that
  // turns out taller than wide keeps that height and narrows.
  TMDIChild* tall = Open(WriteNetwork("tall.bwn", {{{0, 0}, {0, 200}}}));
  EXPECT_EQ(tall->FDocSize(), (TPoint{200, 400}));
  EXPECT_EQ(Client(tall), QSize(150, 300));
}

class FrameNavigation : public FrameWindow {
 protected:
  FrameNavigation() {
    Frame = Open(WriteNetwork("big.bwn", {{{0, 0}, {3000, 3000}}}));
    Editor = Frame->Editor();
  }

  // A left-button event on the overview.
  void Send(QEvent::Type Type, QPoint P) {
    const Qt::MouseButtons held = Type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(Type, P, Frame->PaintBox1->mapToGlobal(P),
                      Type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(Frame->PaintBox1, &event);
  }

  TMDIChild* Frame;
  TSubForm* Editor;
};

TEST_F(FrameNavigation, DragScrollsOnlyBeyondFivePixels) {
  ASSERT_EQ(Client(Frame), QSize(300, 300));
  ASSERT_EQ(Editor->DocExtent(), (TPoint{3200, 3200}));
  const TPoint start = Editor->ScrollOffset();

  Send(QEvent::MouseButtonPress, {50, 50});
  EXPECT_EQ(Host.X, "X:533");
  Send(QEvent::MouseMove, {53, 54});  // squared distance 25
  EXPECT_EQ(Editor->ScrollOffset(), start);
  EXPECT_EQ(Host.X, "X:565");
  Send(QEvent::MouseMove, {54, 54});  // squared distance 32
  const TPoint dragged = Editor->ScrollOffset();
  EXPECT_NE(dragged.X, start.X);
  EXPECT_NE(dragged.Y, start.Y);

  // After the release moving no longer scrolls.
  Send(QEvent::MouseButtonRelease, {54, 54});
  Send(QEvent::MouseMove, {200, 200});
  EXPECT_EQ(Editor->ScrollOffset(), dragged);
}

TEST_F(FrameNavigation, CoordinatesCountFromTheBottomLeftUpToTheExtent) {
  Frame->ShowCoordinates({0, 300});
  EXPECT_EQ(Host.X, "X:0");
  EXPECT_EQ(Host.Y, "Y:0");
  Frame->ShowCoordinates({300, 0});
  EXPECT_EQ(Host.X, "X:3200");
  EXPECT_EQ(Host.Y, "Y:3200");
}

TEST_F(FrameNavigation, DoubleClickScrollsToTheLastShownPosition) {
  Send(QEvent::MouseMove, {150, 120});
  Editor->SetScrollOffset({0, 0});
  // The double click's own position does not count; the last shown one does.
  Send(QEvent::MouseButtonDblClick, {10, 10});
  // Horizontally the point comes to the middle; vertically the overview's height is taken off.
  EXPECT_EQ(Editor->ScrollOffset(), (TPoint{1600 - Editor->ClientSize().X / 2, 1280 - 300}));
}

TEST_F(FrameNavigation, MinimiseAndRestoreReachTheEditorButMaximiseDoesNot) {
  QMdiSubWindow* editorWindow = Frame->EditorWindow();
  Frame->Window()->showMinimized();
  EXPECT_TRUE(editorWindow->isMinimized());
  Frame->Window()->showNormal();
  EXPECT_FALSE(editorWindow->isMinimized());
  Frame->Window()->showMaximized();
  EXPECT_EQ(editorWindow->windowState(), Qt::WindowNoState);
}

TEST_F(FrameNavigation, SavingUnderANewNameShowsOnlyItsFileNameAsCaption) {
  EXPECT_EQ(Frame->Window()->windowTitle(), QString::fromStdString(FFolder.File("big.bwn")));
  std::filesystem::create_directory(FFolder.Path() / "other");
  const std::string target = FFolder.File("other/ring.bwn");
  Scripted.SaveAnswer = QString::fromStdString(target);
  std::string name;
  Editor->SaveCANAs(Frame, name);
  EXPECT_EQ(name, target);
  EXPECT_EQ(Editor->Caption(), QString::fromStdString(target));
  EXPECT_EQ(Frame->Window()->windowTitle(), "ring.bwn");
  EXPECT_TRUE(std::filesystem::exists(target));
}

// The overview keeps its picture between changes and draws it on a thread of its own for a large
// network; either way it must show the network exactly as drawing it straight onto the surface
// does, and show an edit once it is drawn.
TEST_F(FrameWindow, TheOverviewShowsEachEditAsDrawingItDirectlyWould) {
  TMDIChild* frame = Open(WriteNetwork("edit.bwn", {{{0, 0}, {400, 0}}, {{400, 0}, {400, 200}}}));
  TSubForm* editor = frame->Editor();
  // The whole document in view: the overview then marks no visible part over the drawing.
  editor->ZoomFit();
  auto direct = [&] {
    QImage image(frame->PaintBox1->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    TQPainterCanvas canvas(painter);
    TMapping mapping;
    mapping.Isotropic = true;
    mapping.WindowExt = frame->FDocSize();
    mapping.ViewportExt = {image.width(), -image.height()};
    mapping.WindowOrg = {0, frame->FDocSize().Y};
    canvas.SetMapping(mapping);
    editor->PlotIt(canvas, ptScreen, true, {1, 1});
    return image;
  };
  auto shown = [&] {
    for (int i = 0; i < 500 && !frame->OverviewCurrent(); ++i) {
      frame->PaintBox1->repaint();
      QTest::qWait(5);
    }
    EXPECT_TRUE(frame->OverviewCurrent());
    return frame->PaintBox1->grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
  };
  QImage previous = shown();
  EXPECT_EQ(previous, direct());

  for (const int backgroundFrom : {0, 1000}) {
    frame->SetBackgroundOverviewFrom(backgroundFrom);
    TNode* corner = editor->Nodes().NodeAt({500, 100});
    ASSERT_NE(corner, nullptr);
    corner->FResistance = corner->FResistance == 120 ? 1500 : 120;
    editor->RepaintAll();
    const QImage after = shown();
    EXPECT_NE(after, previous);
    EXPECT_EQ(after, direct()) << "drawn in the background: " << (backgroundFrom == 0);
    previous = after;
  }
}

}  // namespace
}  // namespace busweave
