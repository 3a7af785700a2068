// The bus check in the editor: findings follow every edit and picking one shows its elements.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QListWidget>
#include <QTest>
#include <utility>

#include "FakeEditorHost.h"
#include "Networks.h"
#include "TempFolder.h"
#include "advice/AdviceSearch.h"
#include "editor/EditorWindow.h"
#include "editor/FindingsPanel.h"
#include "gui/Prompts.h"

namespace busweave {
namespace {

// The fake main window, with what its findings dock shows.
class Host : public test::FakeEditorHost {
 public:
  Host() {
    OnShowFindings = [this](TSubForm& Editor, bool Raise) {
      Summary = Editor.FindingsPanel()->Summary();
      Summaries << Summary;
      Raised = Raised || Raise;
    };
  }
  QString Summary;
  QStringList Summaries;  // every list shown, in order
  bool Raised = false;
};

TEST(BusCheckInEditor, FindingsFollowEditsAndPickingOneMarksItsElements) {
  test::TempFolder folder;
  Host host;
  TSubForm editor(nullptr, {}, folder.File("bus.bwn"), {2000, 1000}, DrawingScale, &host);
  editor.resize(400, 300);
  editor.show();
  TFindingsPanel& panel = *editor.FindingsPanel();
  EXPECT_EQ(host.Summary, "Bus: 1 error, 0 warnings");  // an empty network is no bus

  // A terminated bus of two stations with a 2 m stub to a third one, drawn as the mouse does.
  editor.SetFMode(mDrawTRMLine);
  auto drag = [&](QPoint From, QPoint To) {
    QTest::mousePress(editor.PaintBox1(), Qt::LeftButton, {}, From);
    QTest::mouseMove(editor.PaintBox1(), To);
    QTest::mouseRelease(editor.PaintBox1(), Qt::LeftButton, {}, To);
  };
  drag({100, 500}, {500, 500});
  drag({500, 500}, {900, 500});
  drag({500, 500}, {500, 700});
  TCanNodes& net = editor.Nodes();
  for (int i = 0; i < net.Count(); ++i)
    if (TTrmLine* wire = net.WireAtIndex(i)) wire->FLength = wire->FStart.X == wire->FEnd.X ? 2000 : 5000;
  for (TPoint end : {TPoint{100, 500}, TPoint{900, 500}}) {
    TNode* node = net.NodeAt(editor.DocFromSurface({end.X, end.Y}));
    node->FResistance = 120;
    node->FSource = 1;
  }
  editor.CheckBus1Click();
  EXPECT_TRUE(host.Raised);
  ASSERT_EQ(panel.Findings().size(), 1u);
  EXPECT_EQ(panel.Findings()[0].Rule, "stub-length");
  EXPECT_EQ(host.Summary, "Bus: 0 errors, 1 warning");

  // Picking the finding marks the stub's station and wire.
  panel.FindingsList->setCurrentRow(0);
  const TPoint station = editor.DocFromSurface({500, 700});
  EXPECT_EQ(net.NodeAt(station)->FMarked, 1);
  EXPECT_EQ(net.NearestWire({station.X, station.Y + 100})->FMarked, 1);

  // At 125 kbit/s a 2 m stub is fine.
  panel.BitRateBox->setCurrentIndex(panel.BitRateBox->findData(125000u));
  EXPECT_TRUE(panel.Findings().empty());
  EXPECT_EQ(net.NodeAt(station)->FMarked, 0);
  panel.BitRateBox->setCurrentIndex(panel.BitRateBox->findData(500000u));
  ASSERT_EQ(panel.Findings().size(), 1u);

  // Shortening the stub through an edit makes the finding go at once.
  net.FTickCount = 99;
  net.NearestWire({station.X, station.Y + 100})->FLength = 300;
  editor.RepaintAll();
  EXPECT_TRUE(panel.Findings().empty());
  EXPECT_EQ(host.Summary, "Bus: no findings");
}

// A change applied from the advice shows in the drawing: its elements are marked until the next
// change, which an undo is too.
TEST(BusCheckInEditor, AnAppliedChangeIsMarkedUntilTheNextChange) {
  test::TempFolder folder;
  test::SaveTwoStationBus(folder.File("bus.bwn"), "A", "B");
  Host host;
  TSubForm editor(nullptr, {}, folder.File("bus.bwn"), {200, 200}, DrawingScale, &host);
  TCanNodes& net = editor.Nodes();
  TNode* terminated = nullptr;
  TNode* other = nullptr;
  TTrmLine* wire = nullptr;
  for (int i = 0; i < net.Count(); ++i) {
    if (TNode* node = net.NodeAtIndex(i)) (node->FResistance == 120 ? terminated : other) = node;
    if (TTrmLine* line = net.WireAtIndex(i)) wire = line;
  }
  ASSERT_TRUE(terminated && other && wire);
  const std::vector<TEdit> edits = {{TCanNodes::NodeKey(terminated->FPos), "resistance", 1500, 120},
                                    {TCanNodes::WireKey(wire->FStart, wire->FEnd), "length", 1000, 1500}};
  ASSERT_FALSE(editor.ApplyEdits(edits));
  EXPECT_EQ(terminated->FResistance, 1500);
  EXPECT_EQ(terminated->FMarked, 1);
  EXPECT_EQ(wire->FMarked, 1);
  EXPECT_EQ(other->FMarked, 0);
  EXPECT_TRUE(editor.UnDo());
  EXPECT_EQ(terminated->FResistance, 120);
  EXPECT_EQ(terminated->FMarked, 0);
  EXPECT_EQ(wire->FMarked, 0);
}

// A large network is checked in the background: the list must end with the findings of the last
// edit, and the check of an edit that a newer one overtook must never be shown.
TEST(BusCheckInEditor, ABackgroundCheckShowsOnlyTheLatestEditsFindings) {
  test::TempFolder folder;
  Host host;
  TSubForm editor(nullptr, {}, folder.File("bus.bwn"), {2000, 1000}, DrawingScale, &host);
  editor.SetBackgroundCheckFrom(0);
  TCanNodes& net = editor.Nodes();
  for (auto [a, b] :
       {std::pair{TPoint{100, 500}, TPoint{500, 500}}, {{500, 500}, {900, 500}}, {{500, 500}, {500, 300}}}) {
    net.AddNode(a);
    net.AddNode(b);
    net.AddWire(a, b, 120, true);
  }
  for (int i = 0; i < net.Count(); ++i)
    if (TTrmLine* wire = net.WireAtIndex(i)) wire->FLength = wire->FStart.X == wire->FEnd.X ? 2000 : 5000;
  for (TPoint end : {TPoint{100, 500}, TPoint{900, 500}}) {
    net.NodeAt(end)->FResistance = 120;
    net.NodeAt(end)->FSource = 1;
  }
  auto settle = [&] {
    for (int i = 0; i < 1000 && editor.CheckPending(); ++i) QTest::qWait(2);
    EXPECT_FALSE(editor.CheckPending());
  };
  editor.RepaintAll();
  settle();
  ASSERT_EQ(editor.FindingsPanel()->Findings().size(), 1u);  // the 2 m stub

  // The long stub's check is overtaken by the edit that shortens it, before either can finish.
  host.Summaries.clear();
  net.NearestWire({500, 400})->FLength = 2500;
  editor.RepaintAll();
  net.NearestWire({500, 400})->FLength = 300;
  editor.RepaintAll();
  EXPECT_TRUE(editor.CheckPending());
  settle();
  EXPECT_TRUE(editor.FindingsPanel()->Findings().empty());
  EXPECT_EQ(host.Summaries, QStringList{"Bus: no findings"});

  // A check running when the editor closes ends with it.
  net.NearestWire({500, 400})->FLength = 2000;
  editor.RepaintAll();
}

}  // namespace
}  // namespace busweave
