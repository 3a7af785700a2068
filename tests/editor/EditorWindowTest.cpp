// The editor window: its coordinates, extent, undo and the commands it enables.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMouseEvent>
#include <fstream>

#include "FakeEditorHost.h"
#include "ScriptedPrompts.h"
#include "TempFolder.h"
#include "editor/EditorWindow.h"
#include "gui/Prompts.h"

namespace busweave {
namespace {

TEST(SubForm, GridSnappingTruncatesTowardsZero) {
  const std::vector<std::pair<int, int>> cases = {{149, 100}, {150, 200}, {-149, 0}, {49, 0}, {0, 0}, {-150, -100}};
  for (const auto& [in, out] : cases) {
    TPoint p{in, in};
    TSubForm::SnapToGrid(p);
    EXPECT_EQ(p, (TPoint{out, out})) << in;
  }
}

// The editor's surface leaves a double click to the widget default, a second press; the
// overview handles its own.
TEST(SubForm, ASurfaceTakesADoubleClickAsAPressUnlessItsOwnerHandlesIt) {
  TPaintSurface surface;
  int presses = 0;
  int doubleClicks = 0;
  surface.OnMouseDown = [&](QMouseEvent*) { ++presses; };
  const auto doubleClick = [&surface] {
    QMouseEvent event(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&surface, &event);
  };
  doubleClick();
  EXPECT_EQ(presses, 1);
  surface.OnDoubleClick = [&](QMouseEvent*) { ++doubleClicks; };
  doubleClick();
  EXPECT_EQ(presses, 1);
  EXPECT_EQ(doubleClicks, 1);
}

TEST(SubForm, NewDocumentKeepsItsSizeAndCoordinatesTurnUpwards) {
  test::TempFolder folder;
  test::FakeEditorHost host;
  std::vector<std::pair<int, int>> notes;
  TFrameLink link;
  link.Notify = [&](TEditorNotifyCode Code, int Value) { notes.emplace_back(static_cast<int>(Code), Value); };
  TSubForm editor(nullptr, link, folder.File("NONAME1.BWN"), {200, 200}, DrawingScale, &host);
  EXPECT_EQ(editor.DocExtent(), (TPoint{200, 200}));
  EXPECT_TRUE(notes.empty());
  EXPECT_EQ(editor.Caption().toStdString(), folder.File("NONAME1.BWN"));
  EXPECT_EQ(editor.DocFromSurface({30, 50}), (TPoint{30, 150}));
  EXPECT_FALSE(editor.Undo1()->isEnabled());
  EXPECT_FALSE(editor.Network1()->isEnabled());

  editor.ShowPosition({30, 50});
  EXPECT_EQ(host.Position, "X:30 Y:150");
  editor.SetFMode(mPlaceZL);
  editor.FormActivate();
  EXPECT_TRUE(host.ButtonsVisible);
  EXPECT_EQ(host.PressedMode, mPlaceZL);
  editor.FormDeactivate();
  EXPECT_FALSE(host.ButtonsVisible);
}

TEST(SubForm, OpeningAFileFitsTheNetworkAndUndoRefreshesTheMenu) {
  test::TempFolder folder;
  const std::string path = folder.File("span.bwn");
  {
    TCanNodes net;
    net.AddNode({500, 700});
    net.AddNode({900, 800});
    net.AddWire({500, 700}, {900, 800}, 120, true);
    net.SaveNetwork(path);
  }
  test::FakeEditorHost host;
  std::vector<std::pair<int, int>> notes;
  TFrameLink link;
  link.Notify = [&](TEditorNotifyCode Code, int Value) { notes.emplace_back(static_cast<int>(Code), Value); };
  TSubForm editor(nullptr, link, path, {200, 200}, DrawingScale, &host);
  EXPECT_EQ(editor.DocExtent(), (TPoint{600, 300}));
  EXPECT_EQ(notes, (std::vector<std::pair<int, int>>{{1, 600}, {2, 300}}));
  EXPECT_TRUE(editor.Nodes().NodeExists({100, 100}));
  EXPECT_TRUE(editor.Nodes().NodeExists({500, 200}));
  EXPECT_TRUE(editor.Network1()->isEnabled());
  EXPECT_FALSE(editor.Undo1()->isEnabled());

  editor.Nodes().FTickCount = 7;
  editor.Nodes().AddNode({300, 150});  // splits the wire
  editor.UpdateEditMenu();
  EXPECT_TRUE(editor.Undo1()->isEnabled());
  EXPECT_TRUE(editor.UnDo());
  EXPECT_FALSE(editor.Undo1()->isEnabled());
  EXPECT_FALSE(editor.UnDo());
  EXPECT_EQ(editor.DocExtent(), (TPoint{600, 300}));  // undo leaves the extent alone

  // The menu item is the same undo: the step goes and the item follows.
  editor.Nodes().FTickCount = 8;
  editor.Nodes().AddNode({300, 150});
  editor.UpdateEditMenu();
  editor.Undo1()->trigger();
  EXPECT_FALSE(editor.Nodes().NodeExists({300, 150}));
  EXPECT_FALSE(editor.Undo1()->isEnabled());
}

// A file of which nothing could be read opens unmodified, so closing does not ask about changes
// that do not exist; saving an empty network says that nothing was written, and why.
TEST(SubForm, AnUnreadableFileOpensUnchangedAndAnEmptySaveIsTold) {
  test::TempFolder folder;
  const std::string path = folder.File("notes.bwn");
  std::ofstream(path) << "shopping list\n";
  test::ScriptedPrompts<> prompts;
  test::FakeEditorHost host(prompts);
  TSubForm editor(nullptr, TFrameLink{}, path, {200, 200}, DrawingScale, &host);
  EXPECT_TRUE(editor.LoadFailed());
  EXPECT_NE(editor.Nodes().FFileState(), fstModified);
  bool canClose = false;
  editor.FormCloseQuery(canClose);
  EXPECT_TRUE(canClose);
  EXPECT_TRUE(prompts.Errors.isEmpty());

  std::string saved = "unchanged";
  editor.SaveCAN(saved);
  EXPECT_TRUE(saved.empty());
  ASSERT_EQ(prompts.Errors.size(), 1);
  EXPECT_TRUE(prompts.Errors[0].startsWith("Nothing was written to " + QString::fromStdString(path) +
                                           ": the network is empty"));
  std::ifstream kept(path);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "shopping list\n");
}

}  // namespace
}  // namespace busweave
