// Editing with the mouse on the real editor surface, and the node and line dialogs.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <functional>

#include "FakeEditorHost.h"
#include "ScriptedPrompts.h"
#include "TempFolder.h"
#include "editor/EditorWindow.h"
#include "editor/LineDialog.h"
#include "editor/NodeDialog.h"
#include "gui/Prompts.h"

namespace busweave {
namespace {

// Clicks a dialog button and answers with the result it gave (0 when the dialog stayed open).
int click(QDialog& Dialog, QPushButton* Button) {
  Dialog.setResult(0);
  QTest::mouseClick(Button, Qt::LeftButton);
  return Dialog.isVisible() ? 0 : Dialog.result();
}

class MouseEditing : public testing::Test {
 protected:
  MouseEditing() {
    TFrameLink link;
    link.Notify = [this](TEditorNotifyCode Code, int Value) { Notes.emplace_back(static_cast<int>(Code), Value); };
    Editor = std::make_unique<TSubForm>(nullptr, link, Folder.File("NONAME1.BWN"), TPoint{200, 200}, DrawingScale,
                                        &HostWindow);
    Editor->resize(600, 500);
    Editor->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(Editor.get()));
  }

  // A drag with the mouse, surface coordinates.
  void drag(QPoint From, QPoint To) {
    QTest::mousePress(Editor->PaintBox1(), Qt::LeftButton, {}, From);
    QTest::mouseMove(Editor->PaintBox1(), To);
    QTest::mouseRelease(Editor->PaintBox1(), Qt::LeftButton, {}, To);
  }
  void clickAt(QPoint At) {
    Editor->PaintBox1()->repaint();  // names get their numbers when the network is drawn
    QTest::mouseClick(Editor->PaintBox1(), Qt::LeftButton, {}, At);
  }
  TCanNodes& net() { return Editor->Nodes(); }
  // Surface point of a document point.
  QPoint surface(TPoint Doc) const { return QPoint(Doc.X, Editor->DocExtent().Y - Doc.Y); }

  test::TempFolder Folder;
  test::FakeEditorHost HostWindow;
  std::vector<std::pair<int, int>> Notes;
  std::unique_ptr<TSubForm> Editor;
};

TEST_F(MouseEditing, DrawingWiresAndUndoingThemOneReleaseAtATime) {
  Editor->SetFMode(mDrawTRMLine);
  drag({100, 100}, {110, 90});  // snaps back to the start: nothing
  EXPECT_EQ(net().Count(), 0);
  EXPECT_FALSE(Editor->Undo1()->isEnabled());

  // A new document: the drag ends on the border at x = 0, so the network is fitted.
  drag({100, 100}, {30, 100});
  EXPECT_TRUE(net().NodeExists({200, 100}));
  EXPECT_TRUE(net().NodeExists({100, 100}));
  EXPECT_EQ(Editor->DocExtent(), (TPoint{300, 200}));
  EXPECT_EQ(Notes, (std::vector<std::pair<int, int>>{{1, 300}, {2, 200}}));
  EXPECT_TRUE(Editor->Undo1()->isEnabled());
  EXPECT_TRUE(Editor->Network1()->isEnabled());

  // From the node at (200, 100) to an empty point inside: one node, one wire, one undo step.
  const int before = net().Count();
  drag(surface({200, 100}), surface({200, 100}) + QPoint(0, 0));
  drag(surface({100, 100}), surface({100, 100}) + QPoint(0, -100));  // up to (100, 200): the border again
  EXPECT_EQ(net().Count(), before + 2);
  EXPECT_TRUE(Editor->UnDo());
  EXPECT_EQ(net().Count(), before);
}

TEST_F(MouseEditing, EndingOnAWireSplitsItInTheSameUndoStep) {
  Editor->SetFMode(mDrawTRMLine);
  drag({100, 100}, {300, 100});  // fitted: a wire from (100, 100) to (300, 100)
  ASSERT_TRUE(net().WireExists({100, 100}, {300, 100}));
  const QPoint middle = surface({200, 100});
  drag(middle + QPoint(0, -100), middle);
  EXPECT_EQ(net().FNumLines(), 3);
  EXPECT_TRUE(net().WireExists({100, 100}, {200, 100}));
  EXPECT_TRUE(net().WireExists({200, 100}, {300, 100}));
  EXPECT_TRUE(Editor->UnDo());
  EXPECT_EQ(net().FNumLines(), 1);
  EXPECT_TRUE(net().WireExists({100, 100}, {300, 100}));
  EXPECT_FALSE(net().NodeExists({200, 100}));
}

TEST_F(MouseEditing, TheRubberBandFollowsTheGridOutsideTheSurfaceToo) {
  Editor->SetFMode(mDrawTRMLine);
  QTest::mousePress(Editor->PaintBox1(), Qt::LeftButton, {}, {100, 100});
  EXPECT_TRUE(Editor->RubberBand());
  Editor->PaintBox1MouseMove({-130, 100});
  EXPECT_EQ(Editor->LineEnd(), (TPoint{0, 100}));
  Editor->PaintBox1MouseMove({-160, 100});
  EXPECT_EQ(Editor->LineEnd(), (TPoint{-100, 100}));
  EXPECT_EQ(HostWindow.Position, "X:-160 Y:100");
  Editor->SetFMode(mNone);  // a mode change does not end the drag
  QTest::mouseRelease(Editor->PaintBox1(), Qt::LeftButton, {}, {-160, 100});
  EXPECT_FALSE(Editor->RubberBand());
  EXPECT_EQ(net().FNumLines(), 1);
}

// A termination placed, undone or redone repaints only around its node; what the window then shows
// is what a full repaint draws.
TEST_F(MouseEditing, AnEditInPlaceRepaintsItsNodeOnlyAndMatchesAFullRepaint) {
  Editor->SetDocExtent({800, 700});
  Editor->SetFMode(mDrawTRMLine);
  drag(surface({100, 300}), surface({500, 300}));
  drag(surface({500, 300}), surface({500, 600}));
  for (int i = 0; i < net().Count(); ++i)
    if (TNode* node = net().NodeAtIndex(i)) {
      node->FName = "station";
      node->FShowName = 1;
    }
  struct PaintRegions : QObject {
    QRegion Painted;
    bool eventFilter(QObject*, QEvent* Event) override {
      if (Event->type() == QEvent::Paint) Painted += static_cast<QPaintEvent*>(Event)->region();
      return false;
    }
  } regions;
  Editor->PaintBox1()->installEventFilter(&regions);
  auto shown = [&] {
    QApplication::processEvents();
    return Editor->screen()->grabWindow(Editor->winId()).toImage();
  };
  Editor->PaintBox1()->repaint();
  const QImage before = shown();

  const TPoint placed{500, 300};  // the middle node, between the other two
  Editor->SetFMode(mPlaceZL);
  regions.Painted = {};
  QTest::mouseClick(Editor->PaintBox1(), Qt::LeftButton, {}, surface(placed));
  const QImage partial = shown();
  ASSERT_TRUE(net().NodeExists(placed));
  EXPECT_EQ(net().NodeAt(placed)->FResistance, 120);
  EXPECT_TRUE(regions.Painted.contains(surface(placed)));
  EXPECT_FALSE(regions.Painted.contains(surface({100, 300})));
  EXPECT_FALSE(regions.Painted.contains(surface({500, 600})));
  EXPECT_NE(partial, before);
  Editor->PaintBox1()->repaint();
  EXPECT_EQ(partial, shown());

  // Its undo and redo change that node in place too.
  for (const bool undo : {true, false}) {
    SCOPED_TRACE(undo);
    regions.Painted = {};
    ASSERT_TRUE(undo ? Editor->UnDo() : Editor->ReDo());
    EXPECT_EQ(shown(), undo ? before : partial);
    EXPECT_TRUE(regions.Painted.contains(surface(placed)));
    EXPECT_FALSE(regions.Painted.contains(surface({100, 300})));
  }
  // Undoing a wire renumbers the nodes after it: the whole view is repainted.
  Editor->SetFMode(mDrawTRMLine);
  drag(surface({100, 600}), surface({100, 300}));
  regions.Painted = {};
  ASSERT_TRUE(Editor->UnDo());
  const QImage undone = shown();
  EXPECT_TRUE(regions.Painted.contains(surface({500, 600})));
  Editor->PaintBox1()->repaint();
  EXPECT_EQ(undone, shown());
  Editor->PaintBox1()->removeEventFilter(&regions);
}

TEST_F(MouseEditing, NodeModesPickOnlyTheNearestGridPoint) {
  Editor->SetFMode(mDrawTRMLine);
  drag({100, 100}, {300, 100});  // nodes at surface (100, 100) and (300, 100)
  const QPoint node = surface({100, Editor->DocExtent().Y - 100});
  ASSERT_EQ(node, QPoint(100, 100));

  Editor->SetFMode(mGetNode);
  clickAt({149, 51});
  EXPECT_EQ(HostWindow.Scripted.Dialogs, 1);
  clickAt({150, 51});
  EXPECT_EQ(HostWindow.Scripted.Dialogs, 1);

  // A termination: one undo record, the same value again still takes one.
  Editor->SetFMode(mPlaceZL);
  clickAt({100, 100});
  TNode* picked = net().NodeAt(Editor->DocFromSurface({100, 100}));
  EXPECT_EQ(picked->FResistance, 120);
  clickAt({100, 100});
  EXPECT_TRUE(Editor->UnDo());
  EXPECT_EQ(picked->FResistance, 120);
  EXPECT_TRUE(Editor->UnDo());
  EXPECT_EQ(picked->FResistance, 1500);

  // A driver: a node that has one already keeps it, but its record is taken.
  Editor->SetFMode(mPlaceSrc);
  clickAt({100, 100});
  EXPECT_EQ(picked->FSource, 1);
  EXPECT_EQ(net().FNumSources(), 1);
  clickAt({100, 100});
  EXPECT_TRUE(Editor->UnDo());
  EXPECT_EQ(picked->FSource, 1);
  EXPECT_TRUE(Editor->UnDo());
  EXPECT_EQ(picked->FSource, 0);
}

TEST_F(MouseEditing, NodeDialogTerminationBoxAndItsValues) {
  Editor->SetFMode(mDrawTRMLine);
  drag({100, 100}, {300, 100});
  TNode* node = net().NodeAt(Editor->DocFromSurface({100, 100}));
  Editor->SetFMode(mGetNode);

  // No termination: the box is clear and the field hidden; checking proposes 120.
  HostWindow.Scripted.OnDialog = [](QDialog& Dialog) {
    auto& d = static_cast<TFKnoten&>(Dialog);
    EXPECT_EQ(d.windowTitle(), "Node");
    EXPECT_FALSE(d.CheckBoxZl->isChecked());
    EXPECT_FALSE(d.EditZL->isVisible());
    EXPECT_FALSE(d.LabelZLUnit->isVisible());
    EXPECT_EQ(d.EditName->text(), "[1] ");
    EXPECT_TRUE(d.BBTOK->isDefault());
    EXPECT_FALSE(d.BitBtn1->isDefault());
    EXPECT_EQ(d.BBTCancel->toolTip(), QString::fromUtf8("Don\u00B4t change"));
    d.CheckBoxZl->setChecked(true);
    EXPECT_TRUE(d.EditZL->isVisible());
    EXPECT_EQ(d.EditZL->text(), "120");
    // The value's unit stands whole beside it, inside the dialog.
    EXPECT_TRUE(d.LabelZLUnit->isVisible());
    EXPECT_EQ(d.LabelZLUnit->text(), "ohms");
    EXPECT_TRUE(d.rect().contains(d.LabelZLUnit->geometry()));
    EXPECT_LE(d.LabelZLUnit->fontMetrics().horizontalAdvance("ohms"), d.LabelZLUnit->width());
    EXPECT_FALSE(d.LabelZLUnit->geometry().intersects(d.EditZL->geometry()));
    d.EditZL->setText("150");
    d.CheckBoxName->setChecked(!d.CheckBoxName->isChecked());  // any box puts the default back
    EXPECT_EQ(d.EditZL->text(), "120");
    d.CheckBoxName->setChecked(true);
    d.EditName->setText("Gateway");
    d.CheckBoxQuelle->setChecked(true);
    return click(Dialog, d.BBTOK);
  };
  clickAt({100, 100});
  EXPECT_EQ(node->FResistance, 120);
  EXPECT_EQ(node->FName, "Gateway");
  EXPECT_EQ(node->FSource, 1);
  EXPECT_EQ(node->FMarked, 0);

  // A termination of 200: unchecking and checking again shows 1500, not 200.
  node->FResistance = 200;
  HostWindow.Scripted.OnDialog = [](QDialog& Dialog) {
    auto& d = static_cast<TFKnoten&>(Dialog);
    EXPECT_TRUE(d.CheckBoxZl->isChecked());
    EXPECT_EQ(d.EditZL->text(), "200");
    d.CheckBoxZl->setChecked(false);
    d.CheckBoxZl->setChecked(true);
    EXPECT_EQ(d.EditZL->text(), "1500");
    d.EditZL->setText("1 2 0");
    return click(Dialog, d.BBTOK);
  };
  clickAt({100, 100});
  EXPECT_EQ(node->FResistance, 120);
}

TEST_F(MouseEditing, BadNumbersKeepTheDialogOpenAndChangeNothing) {
  Editor->SetFMode(mDrawTRMLine);
  drag({100, 100}, {300, 100});
  TNode* node = net().NodeAt(Editor->DocFromSurface({100, 100}));
  const int undoEntries = net().FUnDoList().Count();
  Editor->SetFMode(mGetNode);
  HostWindow.Scripted.OnDialog = [](QDialog& Dialog) {
    auto& d = static_cast<TFKnoten&>(Dialog);
    d.CheckBoxQuelle->setChecked(true);
    d.EditName->setText("changed");
    d.CheckBoxZl->setChecked(true);
    d.EditZL->setText("12a");
    EXPECT_EQ(click(Dialog, d.BBTOK), 0);
    d.EditZL->setText("70000");
    EXPECT_EQ(click(Dialog, d.BBTOK), 0);
    EXPECT_TRUE(d.EditZL->hasSelectedText());
    return click(Dialog, d.BBTCancel);
  };
  clickAt({100, 100});
  ASSERT_EQ(HostWindow.Scripted.Errors.size(), 2);
  EXPECT_EQ(HostWindow.Scripted.Errors[0], "'12a' is not a valid integer value");
  EXPECT_TRUE(HostWindow.Scripted.Errors[1].contains("0 to 65535"));
  EXPECT_EQ(node->FSource, 0);
  EXPECT_EQ(node->FName, "[1] ");
  EXPECT_EQ(node->FResistance, 1500);
  EXPECT_EQ(net().FUnDoList().Count(), undoEntries);

  // The line dialog reads leniently but refuses what a 16-bit value cannot hold.
  Editor->SetFMode(mGetWire);
  TTrmLine* wire = net().NearestWire(Editor->DocFromSurface({200, 100}));
  HostWindow.Scripted.Errors.clear();
  HostWindow.Scripted.OnDialog = [](QDialog& Dialog) {
    auto& d = static_cast<TLineDlg&>(Dialog);
    EXPECT_EQ(d.windowTitle(), "Line");
    EXPECT_EQ(d.EditLength->text(), "2000");  // a new wire proposes the default length
    EXPECT_EQ(d.EditZL->text(), "120");
    d.EditLength->setText("-5");
    EXPECT_EQ(click(Dialog, d.BBTOK), 0);
    d.EditLength->setText("2 000");
    d.EditZL->setText("12a");
    return click(Dialog, d.BBTOK);
  };
  clickAt({200, 110});
  EXPECT_EQ(HostWindow.Scripted.Errors.size(), 1);
  EXPECT_EQ(wire->FLength, 2000);
  EXPECT_EQ(wire->FImpedance, 12);
}

TEST_F(MouseEditing, LineDialogProposesTheTerminationAndDeletesTheOnlyWire) {
  Editor->SetFMode(mDrawTRMLine);
  drag({100, 100}, {300, 100});
  TTrmLine* wire = net().NearestWire(Editor->DocFromSurface({200, 100}));
  wire->FImpedance = 0;
  Editor->SetFMode(mGetWire);
  HostWindow.Scripted.OnDialog = [wire](QDialog& Dialog) {
    auto& d = static_cast<TLineDlg&>(Dialog);
    EXPECT_EQ(d.EditZL->text(), "120");
    EXPECT_EQ(wire->FMarked, 1);  // drawn red while the dialog is open
    EXPECT_EQ(d.BitBtn1->shortcut(), QKeySequence(Qt::ALT | Qt::Key_D));
    return click(Dialog, d.BitBtn1);
  };
  clickAt({200, 100});
  EXPECT_EQ(net().Count(), 0);
  EXPECT_FALSE(Editor->Network1()->isEnabled());
  EXPECT_TRUE(Editor->UnDo());
  EXPECT_EQ(net().Count(), 3);
  EXPECT_EQ(net().WireAtIndex(2)->FMarked, 0);
}

// Enter accepts what was typed instead of deleting; names take every Windows-1252 character and
// refuse, by name, what it cannot hold; numbers past any integer size get the range message.
TEST_F(MouseEditing, DialogsAcceptWithEnterKeepWindows1252NamesAndQuoteBigNumbers) {
  Editor->SetFMode(mDrawTRMLine);
  drag({100, 100}, {300, 100});
  TNode* node = net().NodeAt(Editor->DocFromSurface({100, 100}));
  Editor->SetFMode(mGetNode);
  const QString name = QString::fromUtf8("T-left 5\u20AC \u201Ex\u201C \u2122 \u00B5 \u00E4");
  HostWindow.Scripted.OnDialog = [&name](QDialog& Dialog) {
    auto& d = static_cast<TFKnoten&>(Dialog);
    d.EditName->setText(QString::fromUtf8("\u20AC \u4E2D \u20AC \u03A9"));
    QTest::keyClick(d.EditName, Qt::Key_Return);
    EXPECT_TRUE(Dialog.result() != 1 && Dialog.result() != mrDelete);
    d.EditName->setText(name);
    d.CheckBoxZl->setChecked(true);
    d.EditZL->setText("4294967296");
    QTest::keyClick(d.EditName, Qt::Key_Return);
    EXPECT_NE(Dialog.result(), 1);
    d.EditZL->setText("99999999999999999999");
    QTest::keyClick(d.EditName, Qt::Key_Return);
    d.EditZL->setText("130");
    QTest::keyClick(d.EditName, Qt::Key_Return);
    return Dialog.result();
  };
  clickAt({100, 100});
  ASSERT_EQ(HostWindow.Scripted.Errors.size(), 3u);
  EXPECT_TRUE(HostWindow.Scripted.Errors[0].contains(QString::fromUtf8("\u4E2D\u03A9")))
      << HostWindow.Scripted.Errors[0].toStdString();
  EXPECT_FALSE(HostWindow.Scripted.Errors[0].contains(QString::fromUtf8("\u20AC")));
  EXPECT_EQ(HostWindow.Scripted.Errors[1], "ZL (Resistor [Ohms]): 4294967296 is outside the range 0 to 65535.");
  EXPECT_EQ(HostWindow.Scripted.Errors[2],
            "ZL (Resistor [Ohms]): 99999999999999999999 is outside the range 0 to 65535.");
  EXPECT_EQ(net().Count(), 3);
  EXPECT_EQ(node->FResistance, 130);
  EXPECT_EQ(node->FName, "T-left 5\x80 \x84x\x93 \x99 \xB5 \xE4");

  // The stored bytes come back as the same text.
  HostWindow.Scripted.OnDialog = [&name](QDialog& Dialog) {
    EXPECT_EQ(static_cast<TFKnoten&>(Dialog).EditName->text(), "[1] " + name);  // numbered when drawn
    return 2;
  };
  clickAt({100, 100});

  Editor->SetFMode(mGetWire);
  HostWindow.Scripted.Errors.clear();
  HostWindow.Scripted.OnDialog = [](QDialog& Dialog) {
    auto& d = static_cast<TLineDlg&>(Dialog);
    d.EditLength->setText("18446744073709551616");
    QTest::keyClick(d.EditLength, Qt::Key_Return);
    d.EditLength->setText("750");
    QTest::keyClick(d.EditLength, Qt::Key_Return);
    return Dialog.result();
  };
  clickAt({200, 100});
  ASSERT_EQ(HostWindow.Scripted.Errors.size(), 1u);
  EXPECT_EQ(HostWindow.Scripted.Errors[0], "Length [mm]: 18446744073709551616 is outside the range 0 to 65535.");
  EXPECT_EQ(net().Count(), 3);
  EXPECT_EQ(net().NearestWire(Editor->DocFromSurface({200, 100}))->FLength, 750);
}

// A file written elsewhere may store a wire right to left or top to bottom: such wires are picked
// and deleted as drawn ones are, and stay as stored until they are changed.
TEST(StoredWires, RightToLeftAndTopToBottomArePickedAndDeleted) {
  test::TempFolder folder;
  const std::string path = folder.File("reversed.bwn");
  {
    TCanNodes stored(120, 1500, 120);
    for (const TPoint p : {TPoint{100, 100}, TPoint{600, 100}, TPoint{600, 400}}) stored.AddNode(p);
    for (const auto& [from, to] :
         {std::pair{TPoint{600, 100}, TPoint{100, 100}}, std::pair{TPoint{600, 400}, TPoint{600, 100}}}) {
      auto wire = std::make_unique<TTrmLine>();
      wire->FStart = from;
      wire->FEnd = to;
      wire->FImpedance = 120;
      wire->FLength = 1000;
      ASSERT_TRUE(stored.AddWireObject(std::move(wire)));
    }
    ASSERT_TRUE(stored.SaveNetwork(path));
  }
  test::FakeEditorHost host;
  TSubForm editor(nullptr, {}, path, {200, 200}, DrawingScale, &host);
  editor.resize(900, 700);
  editor.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
  TCanNodes& net = editor.Nodes();
  ASSERT_EQ(net.FNumLines(), 2);
  ASSERT_TRUE(net.WireExists({600, 100}, {100, 100}));
  const auto surface = [&editor](TPoint Doc) { return QPoint(Doc.X, editor.DocExtent().Y - Doc.Y); };

  // Modify wire opens the dialog on each, and Delete under the pointer takes them, leaving the
  // file as stored until then.
  editor.SetFMode(mGetWire);
  for (const TPoint along : {TPoint{350, 110}, TPoint{590, 250}})
    QTest::mouseClick(editor.PaintBox1(), Qt::LeftButton, {}, surface(along));
  EXPECT_EQ(host.Scripted.Dialogs, 2);
  EXPECT_EQ(net.FFileState(), fstLoaded);
  for (const TPoint along : {TPoint{610, 250}, TPoint{350, 90}}) {
    editor.PaintBox1MouseMove({surface(along).x(), surface(along).y()});
    EXPECT_TRUE(editor.DeleteAtPointer());
  }
  EXPECT_EQ(net.Count(), 0);
}

// The keys of the editor, pressed for real: undo and redo through the Edit menu's shortcuts in a
// menu bar, Delete under the pointer, Escape during a drag.
TEST_F(MouseEditing, KeysUndoRedoDeleteAndCancel) {
  QMenuBar bar(Editor.get());
  bar.addActions(Editor->MergedMenus());
  bar.show();
  Editor->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Editor.get()));
  Editor->PaintBox1()->setFocus();
  auto key = [this](Qt::Key Key, Qt::KeyboardModifiers Modifiers = {}) {
    QTest::keyClick(Editor->PaintBox1(), Key, Modifiers);
  };
  // The pointer over the surface; sent directly, as the test tool drops moves after a shortcut.
  auto hover = [this](QPoint At) {
    QMouseEvent move(QEvent::MouseMove, At, Editor->PaintBox1()->mapToGlobal(At), Qt::NoButton, Qt::NoButton, {});
    QApplication::sendEvent(Editor->PaintBox1(), &move);
  };
  Editor->SetDocExtent({1000, 1000});  // room enough that no drawing refits the document
  Editor->SetFMode(mDrawTRMLine);
  const QPoint end(500, 500);
  drag({300, 500}, end);
  drag(end, end + QPoint(0, -100));  // a second wire up from the right end
  Editor->SetFMode(mPlaceZL);
  clickAt(end);
  ASSERT_EQ(net().NodeAt(Editor->DocFromSurface({end.x(), end.y()}))->FResistance, 120);
  EXPECT_FALSE(Editor->Redo1()->isEnabled());

  key(Qt::Key_Z, Qt::ControlModifier);      // the termination
  key(Qt::Key_Backspace, Qt::AltModifier);  // the second wire
  EXPECT_EQ(net().FNumLines(), 1);
  EXPECT_EQ(net().FNumNodes(), 2);
  EXPECT_TRUE(Editor->Redo1()->isEnabled());
  key(Qt::Key_Y, Qt::ControlModifier);
  EXPECT_EQ(net().FNumLines(), 2);
  EXPECT_NE(net().NodeAt(Editor->DocFromSurface({end.x(), end.y()}))->FResistance, 120);
  key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(net().NodeAt(Editor->DocFromSurface({end.x(), end.y()}))->FResistance, 120);
  EXPECT_FALSE(Editor->Redo1()->isEnabled());

  // Delete: nothing under the pointer changes nothing; the upper end node goes with its wire, as
  // one step; the middle node, no end, stays; then the last wire, picked anywhere along it.
  const int steps = net().FUnDoList().Count();
  hover(end + QPoint(-150, -80));
  key(Qt::Key_Delete);
  EXPECT_EQ(net().FUnDoList().Count(), steps);
  hover(end + QPoint(5, -95));
  key(Qt::Key_Delete);
  EXPECT_EQ(net().FNumLines(), 1);
  key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(net().FNumLines(), 2);
  EXPECT_EQ(net().FNumNodes(), 3);
  hover(end);
  key(Qt::Key_Delete);
  EXPECT_EQ(net().FNumLines(), 2);
  key(Qt::Key_Y, Qt::ControlModifier);
  EXPECT_EQ(net().FNumLines(), 1);
  hover(end + QPoint(-90, 3));
  key(Qt::Key_Delete);
  EXPECT_EQ(net().Count(), 0);

  // Escape drops the wire being drawn; the release that follows draws nothing.
  Editor->SetFMode(mDrawTRMLine);
  QTest::mousePress(Editor->PaintBox1(), Qt::LeftButton, {}, end);
  QTest::mouseMove(Editor->PaintBox1(), end + QPoint(-200, 0));
  ASSERT_TRUE(Editor->RubberBand());
  key(Qt::Key_Escape);
  EXPECT_FALSE(Editor->RubberBand());
  QTest::mouseRelease(Editor->PaintBox1(), Qt::LeftButton, {}, end + QPoint(-200, 0));
  EXPECT_EQ(net().Count(), 0);
  drag(end, end + QPoint(-200, 0));  // the next drag draws again
  EXPECT_EQ(net().FNumLines(), 1);
}

}  // namespace
}  // namespace busweave
