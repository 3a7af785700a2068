// The main window's file commands, menu enabling and mode buttons, with every dialog and
// message box answered by a script.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QImage>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPrinter>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>
#include <deque>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include "ScriptedPrompts.h"
#include "TempFolder.h"
#include "editor/EditorWindow.h"
#include "editor/FindingsPanel.h"
#include "frame/DocumentFrame.h"
#include "gui/Prompts.h"
#include "model/NetworkContainer.h"
#include "shell/MainWindow.h"
#include "simview/AnalysisCommand.h"
#include "simview/AnalysisPanel.h"

// Readable failure messages.
static void PrintTo(const QString& Text, std::ostream* Out) { *Out << '"' << Text.toStdString() << '"'; }

namespace busweave {
namespace {

using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

class MainWindow : public testing::Test {
 protected:
  MainWindow() : FGuard(FFolder.Path()) {
    // The questions take the answers a test queues; any other question fails the test.
    using TQuestion = test::ScriptedPrompts<>::TQuestion;
    Prompts.Unexpected = {TQuestion::Open, TQuestion::Save, TQuestion::Text, TQuestion::Warning, TQuestion::Dialog};
    QApplication::setQuitOnLastWindowClosed(false);
    Form = std::make_unique<TMDIMainForm>(Prompts);
    Form->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
  }
  ~MainWindow() override {
    // As the program does at exit: the documents go before the main window.
    for (TMDIChild* document : Form->Documents()) document->DestroyDocument();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  // A network file under Name in the test folder: a chain of Wires wires along the x axis.
  std::string WriteNetwork(const std::string& Name, int Wires = 1) {
    const std::string path = FFolder.File(Name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    TCanNodes net{120, 1500, 120};
    for (int x = 0; x < 200 * Wires; x += 200) {
      net.AddNode({x, 0});
      net.AddNode({x + 200, 0});
      net.AddWire({x, 0}, {x + 200, 0}, 120, true);
    }
    EXPECT_TRUE(net.SaveNetwork(path));
    return path;
  }

  TMDIChild* Open(const std::string& Path) {
    Prompts.OpenAnswers.push_back(Q(Path));
    Form->FileOpenItemClick();
    return Form->Documents().isEmpty() ? nullptr : Form->Documents().last();
  }
  TMDIChild* New() {
    Form->FileNewItemClick();
    return Form->Documents().last();
  }
  // Makes the editor (or the frame) of Document the active child window.
  void Activate(TMDIChild* Document, bool Editor = true) {
    Form->MdiArea->setActiveSubWindow(Editor ? Document->EditorWindow() : Document->Window());
  }
  void Close(TMDIChild* Document) {
    Activate(Document);
    Form->FileCloseItemClick();
  }
  // A change through the editing operations: a node of its own at (700, 100).
  static void Modify(TMDIChild* Document) {
    Document->Editor()->Nodes().AddNode({700, 100});
    ASSERT_EQ(Document->Editor()->Nodes().FFileState(), fstModified);
  }
  static int SavedNodes(const std::string& Path) {
    TCanNodes saved;
    saved.LoadNetwork(Path);
    return saved.FNumNodes();
  }

  QString Status() const { return Form->StatusPanel(3)->text(); }
  static QString Caption(TMDIChild* Document) { return Document->Window()->windowTitle(); }
  static QString Q(const std::string& Text) { return QString::fromStdString(Text); }

  TempFolder FFolder;
  test::CurrentFolderGuard FGuard;
  test::ScriptedPrompts<> Prompts;
  std::unique_ptr<TMDIMainForm> Form;
};

TEST_F(MainWindow, NewNumbersDocumentsAndEnablesTheirCommands) {
  auto expectDocumentCommands = [this](bool Enabled) {
    for (QAction* action : {Form->FileCloseItem, Form->FileSaveItem, Form->FileSaveAsItem, Form->FilePrintItem,
                            Form->FilePrintPreviewItem, Form->WindowCascadeItem, Form->WindowTileItem,
                            Form->WindowArrangeItem, Form->WindowMinimizeItem})
      EXPECT_EQ(action->isEnabled(), Enabled) << action->text().toStdString();
    EXPECT_EQ(Form->SaveBtn->isEnabled(), Enabled);
    for (QAction* action : {Form->FileNewItem, Form->FileOpenItem, Form->FileExitItem})
      EXPECT_TRUE(action->isEnabled()) << action->text().toStdString();
    EXPECT_TRUE(Form->OpenBtn->isEnabled() && Form->ExitBtn->isEnabled());
  };
  expectDocumentCommands(false);
  TMDIChild* first = New();
  expectDocumentCommands(true);
  EXPECT_EQ(Caption(first), "NONAME1.BWN");
  EXPECT_EQ(first->Editor()->Caption(), "NONAME1.BWN");
  EXPECT_EQ(Status(), "File NONAME1.BWN open!");
  // Both windows of every open document count.
  TMDIChild* second = New();
  EXPECT_EQ(Caption(second), "NONAME3.BWN");
  Close(second);
  Close(first);
  ASSERT_TRUE(Form->Documents().isEmpty());
  expectDocumentCommands(false);
  EXPECT_EQ(Caption(New()), "NONAME1.BWN");
}

TEST_F(MainWindow, PrintPrintsTheCurrentDocumentWhicheverOfItsWindowsIsActive) {
  TMDIChild* first = Open(WriteNetwork("first.bwn"));
  TMDIChild* second = Open(WriteNetwork("second.bwn", 3));
  ASSERT_TRUE(first && second);
  Activate(first, false);
  Prompts.PrintFile = Q(FFolder.File("first.pdf"));
  Form->FilePrintItem->trigger();
  Activate(second);
  Prompts.PrintFile = Q(FFolder.File("second.pdf"));
  Form->FilePrintItem->trigger();
  // The documents differ in size, so do their printed pages.
  const std::string one = ReadBytes(FFolder.File("first.pdf"));
  const std::string two = ReadBytes(FFolder.File("second.pdf"));
  EXPECT_EQ(one.substr(0, 5), "%PDF-");
  EXPECT_EQ(two.substr(0, 5), "%PDF-");
  EXPECT_NE(one, two);
  EXPECT_EQ(Form->FilePrintItem->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_P));
}

TEST_F(MainWindow, OpenRefusesAFileNameAlreadyOpenFromAnyFolder) {
  const std::string other = WriteNetwork("B/net.bwn");
  const std::string upper = WriteNetwork("A/NET.BWN");
  Open(WriteNetwork("A/net.bwn"));
  EXPECT_EQ(Status(), "File net.bwn open!");

  Open(other);
  EXPECT_EQ(Prompts.Informs, QStringList{"File open error|File " + Q(other) + " already open"});
  EXPECT_EQ(Status(), "File " + Q(other) + " already open!");
  EXPECT_EQ(Form->Documents().size(), 1);

  // The comparison is case-sensitive.
  EXPECT_EQ(Caption(Open(upper)), "NET.BWN");
  EXPECT_EQ(Form->Documents().size(), 2);
  EXPECT_EQ(Prompts.Informs.size(), 1);
}

TEST_F(MainWindow, SaveWritesUnderTheFileNameAndReportsItsPath) {
  const std::string path = WriteNetwork("Nets/bus1.bwn");
  TMDIChild* document = Open(path);
  Modify(document);
  Activate(document, false);  // from the frame, Save finds its editor
  Form->FileSaveItemClick();
  EXPECT_EQ(Status(), "File " + Q(path) + " saved");
  EXPECT_EQ(SavedNodes(path), 3);

  // A network without elements is not written and reports nothing.
  New();
  Form->FileSaveItemClick();
  EXPECT_EQ(Status(), "File NONAME3.BWN open!");
  EXPECT_FALSE(std::filesystem::exists(FFolder.File("NONAME3.BWN")));
}

TEST_F(MainWindow, CloseQuerySavesDiscardsOrCancels) {
  const std::string path = WriteNetwork("bus.bwn");
  const std::string before = ReadBytes(path);
  Modify(Open(path));
  Prompts.WarnAnswers = {TSaveChanges::Discard};
  Form->FileCloseItemClick();
  EXPECT_EQ(Prompts.Warnings, QStringList{Q(path) + "\n\nFile was modified, changes will be lost!"});
  EXPECT_TRUE(Form->Documents().isEmpty());
  EXPECT_EQ(ReadBytes(path), before);

  // Cancel keeps the document; Save writes its own file without asking for a name.
  TMDIChild* document = Open(path);
  Modify(document);
  Prompts.WarnAnswers = {TSaveChanges::Cancel};
  Close(document);
  EXPECT_EQ(Form->Documents().size(), 1);
  EXPECT_EQ(ReadBytes(path), before);
  Prompts.WarnAnswers = {TSaveChanges::Save};
  Close(document);
  EXPECT_TRUE(Form->Documents().isEmpty());
  EXPECT_EQ(SavedNodes(path), 3);

  // A new document has no file yet: Save asks for a name, and cancelling that keeps it open.
  TMDIChild* fresh = New();
  Modify(fresh);
  Prompts.WarnAnswers = {TSaveChanges::Save};
  Prompts.SaveAnswers = {std::nullopt};
  Close(fresh);
  EXPECT_EQ(Form->Documents().size(), 1);
  const std::string copy = FFolder.File("copy.bwn");
  Prompts.WarnAnswers = {TSaveChanges::Save};
  Prompts.SaveAnswers = {Q(copy)};
  Close(fresh);
  EXPECT_TRUE(Form->Documents().isEmpty());
  EXPECT_EQ(SavedNodes(copy), 1);

  // The box says what each button does; Enter and Escape cancel.
  const std::unique_ptr<QMessageBox> box = MakeSaveChangesBox(Form.get(), "changed");
  QStringList texts;
  for (const QAbstractButton* button : box->buttons()) texts << button->text();
  texts.sort();
  EXPECT_EQ(texts, (QStringList{"&Discard", "&Save", "Cancel"}));
  EXPECT_EQ(box->defaultButton(), box->escapeButton());
  box->show();
  QTest::keyClick(box.get(), Qt::Key_Escape);
  EXPECT_EQ(SaveChangesAnswer(*box), TSaveChanges::Cancel);
  box->show();
  QTest::mouseClick(box->findChild<QPushButton*>("DiscardButton"), Qt::LeftButton);
  EXPECT_EQ(SaveChangesAnswer(*box), TSaveChanges::Discard);
}

TEST_F(MainWindow, NetworkWithAllElementsDeletedClosesOnlyWhenDiscarded) {
  TMDIChild* document = Open(WriteNetwork("bus.bwn"));
  TCanNodes& net = document->Editor()->Nodes();
  while (net.Count() > 0) ASSERT_TRUE(net.DeleteElement(net.Count() - 1));
  ASSERT_EQ(net.FFileState(), fstModified);

  const std::string before = ReadBytes(document->Editor()->Nodes().FFileName());
  Prompts.WarnAnswers = {TSaveChanges::Save};
  Close(document);
  EXPECT_EQ(Form->Documents().size(), 1);
  EXPECT_EQ(Prompts.Errors.size(), 1);
  EXPECT_EQ(ReadBytes(document->Editor()->Nodes().FFileName()), before);

  Prompts.WarnAnswers = {TSaveChanges::Discard};
  Close(document);
  EXPECT_TRUE(Form->Documents().isEmpty());
}

TEST_F(MainWindow, SaveAsRenamesEditorAndFrame) {
  TMDIChild* document = New();
  document->Editor()->Nodes().AddNode({100, 100});
  std::filesystem::create_directory(FFolder.Path() / "Nets");
  const std::string target = FFolder.File("Nets/ring.bwn");
  Prompts.SaveAnswers = {Q(target)};
  Form->FileSaveAsItemClick();
  ASSERT_EQ(Prompts.SaveRequests.size(), 1u);
  EXPECT_EQ(Prompts.SaveRequests[0].FileName, "NONAME1.bwn");
  EXPECT_TRUE(Prompts.SaveRequests[0].Folder.isEmpty());
  EXPECT_EQ(document->Editor()->Caption(), Q(target));
  EXPECT_EQ(Caption(document), "ring.bwn");
  EXPECT_EQ(Status(), "File " + Q(target) + " saved");
  EXPECT_EQ(SavedNodes(target), 1);
  EXPECT_EQ(Form->FindingsDock->windowTitle(), "Bus check - ring.bwn");

  // Printing names the new file at once: the file proposed, and the title the PDF gets.
  QString title;
  Prompts.OnPrinter = [&title](QPrinter& Printer) { title = Printer.docName(); };
  Prompts.PrintFile = Q(FFolder.File("printed.pdf"));
  Form->FilePrintItem->trigger();
  EXPECT_EQ(Prompts.PrintProposals, QStringList{Q(FFolder.File("Nets/ring.pdf"))});
  EXPECT_EQ(title, "ring.bwn");

  // The renamed pair still closes as one document.
  Close(document);
  EXPECT_TRUE(Form->Documents().isEmpty());
}

TEST_F(MainWindow, FailedSaveKeepsTheDocumentItsNameAndItsFile) {
  const std::string path = WriteNetwork("bus.bwn");
  const std::string before = ReadBytes(path);
  TMDIChild* document = Open(path);
  Modify(document);
  const std::string missing = FFolder.File("missing/ring.bwn");
  Prompts.SaveAnswers = {Q(missing)};
  Form->FileSaveAsItemClick();
  EXPECT_EQ(Prompts.Errors, QStringList{"Cannot create file " + Q(missing) + ": No such file or directory"});
  EXPECT_EQ(document->Editor()->Caption(), Q(path));
  EXPECT_EQ(Caption(document), "bus.bwn");
  EXPECT_EQ(Status(), "File bus.bwn open!");

  // A close waiting for the save does not happen.
  TMDIChild* fresh = New();
  Modify(fresh);
  Prompts.WarnAnswers = {TSaveChanges::Save};
  Prompts.SaveAnswers = {Q(missing)};
  Close(fresh);
  EXPECT_EQ(Prompts.Errors.size(), 2);
  EXPECT_EQ(Form->Documents().size(), 2);
  EXPECT_EQ(ReadBytes(path), before);

  // The captions still name bus.bwn, so that is where Save writes.
  Activate(document);
  Form->FileSaveItemClick();
  EXPECT_EQ(Prompts.Errors.size(), 2) << Prompts.Errors.join("; ").toStdString();
  EXPECT_EQ(Status(), "File " + Q(path) + " saved");
  EXPECT_EQ(SavedNodes(path), 3);
}

TEST_F(MainWindow, ExitAsksEveryModifiedDocumentAndOneRefusalKeepsAllOpen) {
  Modify(Open(WriteNetwork("a.bwn")));
  Modify(Open(WriteNetwork("b.bwn")));
  Prompts.WarnAnswers = {TSaveChanges::Discard, TSaveChanges::Cancel};
  Form->FileExitItemClick();
  EXPECT_EQ(Prompts.Warnings.size(), 2);
  EXPECT_EQ(Form->Documents().size(), 2);
  EXPECT_TRUE(Form->isVisible());

  Prompts.WarnAnswers = {TSaveChanges::Discard, TSaveChanges::Discard};
  Form->FileExitItemClick();
  EXPECT_TRUE(Form->Documents().isEmpty());
  EXPECT_FALSE(Form->isVisible());
}

TEST_F(MainWindow, ModeButtonsShowTheModeOfTheActiveEditor) {
  const std::vector<QToolButton*> buttons = {Form->SpeedButtonPFNode, Form->SpeedButtonPFWire, Form->SpeedButtonLtg,
                                             Form->SpeedButtonZL,     Form->SpeedButtonQuelle, Form->SpeedButtonMove};
  // The buttons down, or nothing when they are hidden.
  auto shown = [&buttons]() -> std::optional<std::vector<QToolButton*>> {
    std::vector<QToolButton*> down;
    for (QToolButton* button : buttons) {
      if (button->isHidden()) return std::nullopt;
      if (button->isChecked()) down.push_back(button);
    }
    return down;
  };
  const auto none = std::vector<QToolButton*>{};
  EXPECT_EQ(shown(), std::nullopt);

  TMDIChild* first = New();
  TMDIChild* second = New();
  Activate(first);
  EXPECT_EQ(shown(), none);
  Form->SpeedButtonLtg->click();
  EXPECT_EQ(first->Editor()->FMode(), mDrawTRMLine);
  Form->SpeedButtonZL->click();
  EXPECT_EQ(first->Editor()->FMode(), mPlaceZL);
  EXPECT_EQ(shown(), std::vector<QToolButton*>{Form->SpeedButtonZL});

  Activate(second);
  EXPECT_EQ(shown(), none);
  Form->SpeedButtonQuelle->click();
  EXPECT_EQ(second->Editor()->FMode(), mPlaceSrc);
  Form->SpeedButtonQuelle->click();  // the pressed button comes up again
  EXPECT_EQ(second->Editor()->FMode(), mNone);
  EXPECT_EQ(shown(), none);

  Form->SpeedButtonMove->click();
  EXPECT_EQ(second->Editor()->FMode(), mMoveNode);
  EXPECT_EQ(shown(), std::vector<QToolButton*>{Form->SpeedButtonMove});
  EXPECT_EQ(second->Editor()->PaintBox1()->cursor().shape(), Qt::SizeAllCursor);

  Activate(first);
  EXPECT_EQ(shown(), std::vector<QToolButton*>{Form->SpeedButtonZL});
  Activate(first, false);
  EXPECT_EQ(shown(), std::nullopt);
}

TEST_F(MainWindow, TheDocumentOptionsOpenFromTheKeyboard) {
  TMDIChild* document = New();
  Activate(document);
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  Prompts.Unexpected.erase(test::ScriptedPrompts<>::TQuestion::Dialog);
  QString shown;
  Prompts.OnDialog = [&shown](QDialog& Dialog) {
    shown = Dialog.windowTitle();
    return 2;
  };
  QTest::keyClick(document->Editor()->PaintBox1(), Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(shown, "Options");
  EXPECT_TRUE(document->Editor()->Edit1()->actions().contains(document->Editor()->Options1()));
}

TEST_F(MainWindow, ZoomKeysActOnTheActiveEditorAndTheOverviewMarksWhatItShows) {
  TMDIChild* document = Open(WriteNetwork("zoom.bwn", 20));
  TSubForm& editor = *document->Editor();
  Activate(document);
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  QTest::keyClick(editor.PaintBox1(), Qt::Key_Plus, Qt::ControlModifier);
  EXPECT_DOUBLE_EQ(editor.Zoom(), 1.5);
  QTest::keyClick(editor.PaintBox1(), Qt::Key_Minus, Qt::ControlModifier);
  QTest::keyClick(editor.PaintBox1(), Qt::Key_Minus, Qt::ControlModifier);
  EXPECT_DOUBLE_EQ(editor.Zoom(), 0.75);
  QTest::keyClick(editor.PaintBox1(), Qt::Key_0, Qt::ControlModifier);
  EXPECT_DOUBLE_EQ(editor.Zoom(), 1.0);
  // Fit shows the whole document; the overview then marks nothing, and marks the part shown again
  // once the editor shows less.
  QTest::keyClick(editor.PaintBox1(), Qt::Key_9, Qt::ControlModifier);
  const TPoint view = editor.ClientSize();
  const double fit = std::min(double(view.X) / editor.DocExtent().X, double(view.Y) / editor.DocExtent().Y);
  EXPECT_DOUBLE_EQ(editor.Zoom(), fit);
  const QImage plain = document->PaintBox1->grab().toImage();
  Form->ViewZoomInItem->trigger();
  EXPECT_NE(document->PaintBox1->grab().toImage(), plain);
}

// Whether a column of the editor's surface shows anything but the white background between the
// document's top and bottom borders.
static bool ColumnDrawn(TSubForm& Editor, int X) {
  const QImage image = Editor.PaintBox1()->grab().toImage();
  for (int y = 5; y < Editor.DocExtent().Y - 5; ++y)
    if (image.pixelColor(X, y) != Qt::white) return true;
  return false;
}

TEST_F(MainWindow, GridFindAndPointerFollowTheActiveEditor) {
  TMDIChild* first = Open(WriteNetwork("long.bwn", 20));
  TSubForm& editor = *first->Editor();
  // The chain's last node, wherever the load placed it in the document.
  TNode* far = nullptr;
  for (int i = 0; i < editor.Nodes().Count(); ++i)
    if (TNode* node = editor.Nodes().NodeAtIndex(i); node && (!far || node->FPos.X > far->FPos.X)) far = node;
  ASSERT_TRUE(far);
  far->FName = "Far End";
  TMDIChild* second = New();
  TSubForm& empty = *second->Editor();
  Activate(second);
  ASSERT_FALSE(Form->ViewGridItem->isChecked());
  EXPECT_FALSE(ColumnDrawn(empty, 100));  // the grid is off by default

  Form->ViewGridItem->trigger();
  EXPECT_TRUE(empty.ShowGrid());
  EXPECT_TRUE(ColumnDrawn(empty, 100));
  Activate(first);
  EXPECT_FALSE(Form->ViewGridItem->isChecked());
  EXPECT_FALSE(editor.ShowGrid());
  Activate(second);
  EXPECT_TRUE(Form->ViewGridItem->isChecked());
  Activate(first);

  // Drawing modes show a crosshair; the others the usual pointer.
  Form->SpeedButtonLtg->click();
  EXPECT_EQ(editor.PaintBox1()->cursor().shape(), Qt::CrossCursor);
  Form->SpeedButtonPFNode->click();
  EXPECT_EQ(editor.PaintBox1()->cursor().shape(), Qt::ArrowCursor);

  // Ctrl+F finds by any part of the name in any case, marks the node and scrolls to it.
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  editor.SetScrollOffset({0, 0});
  Prompts.TextAnswers = {QString("r eN")};
  QTest::keyClick(editor.PaintBox1(), Qt::Key_F, Qt::ControlModifier);
  EXPECT_TRUE(Prompts.TextAnswers.empty());
  EXPECT_EQ(far->FMarked, 1);
  EXPECT_GT(editor.ScrollOffset().X, 3000);
  EXPECT_TRUE(Prompts.Informs.isEmpty());
  EXPECT_TRUE(Status().startsWith("Node ") && Status().contains("Far End") && Status().endsWith(" found"))
      << Status().toStdString();

  Prompts.TextAnswers = {QString("nowhere")};
  QTest::keyClick(editor.PaintBox1(), Qt::Key_F, Qt::ControlModifier);
  ASSERT_EQ(Prompts.Informs.size(), 1);
  EXPECT_TRUE(Prompts.Informs[0].contains("nowhere"));
  EXPECT_EQ(far->FMarked, 1);  // the last find stays marked

  // Names are Windows-1252 text: "\xe4" is found as "Ä".
  far->FName = "Ger\xe4t";
  Prompts.TextAnswers = {QString("RÄT")};
  QTest::keyClick(editor.PaintBox1(), Qt::Key_F, Qt::ControlModifier);
  EXPECT_EQ(Prompts.Informs.size(), 1);
  EXPECT_EQ(far->FMarked, 1);
}

TEST_F(MainWindow, DamagedFileOpensWithWhatWasReadAndAsksBeforeClosing) {
  const std::string bytes = ReadBytes(WriteNetwork("whole.bwn", 3));
  // Cut inside the last wire's record: the wires come after the nodes.
  const std::string damaged = bytes.substr(0, bytes.size() - 100);
  const std::string path = FFolder.File("damaged.bwn");
  WriteBytes(path, damaged);

  TMDIChild* document = Open(path);
  ASSERT_NE(document, nullptr);
  const TCanNodes& opened = document->Editor()->Nodes();
  EXPECT_EQ(opened.FNumNodes(), 4);
  EXPECT_EQ(opened.FNumLines(), 2);
  ASSERT_EQ(Prompts.Errors.size(), 1);
  EXPECT_TRUE(Prompts.Errors[0].contains(Q(path))) << Prompts.Errors[0].toStdString();
  EXPECT_TRUE(Prompts.Errors[0].contains(Q(opened.LastLoadError().Message))) << Prompts.Errors[0].toStdString();

  Prompts.WarnAnswers = {TSaveChanges::Discard};
  Form->FileCloseItemClick();
  EXPECT_EQ(Prompts.Warnings.size(), 1);
  EXPECT_TRUE(Form->Documents().isEmpty());
  EXPECT_EQ(ReadBytes(path), damaged);
}

TEST_F(MainWindow, RecentFilesTakeEverySaveAsButNoFileThatFailedToLoad) {
  // Saved under a new name from the close query.
  TMDIChild* document = New();
  Modify(document);
  const std::string closed = FFolder.File("closed.bwn");
  Prompts.WarnAnswers = {TSaveChanges::Save};
  Prompts.SaveAnswers = {Q(closed)};
  Close(document);
  ASSERT_TRUE(Form->Documents().isEmpty());
  EXPECT_EQ(Form->RecentFiles(), QStringList{Q(closed)});

  // A damaged file and one that cannot be read at all: the status bar says so, Recent stays.
  const std::string bytes = ReadBytes(WriteNetwork("whole.bwn", 3));
  const std::string damaged = FFolder.File("damaged.bwn");
  WriteBytes(damaged, bytes.substr(0, bytes.size() - 100));
  Open(damaged);
  EXPECT_EQ(Status(), "File damaged.bwn could not be read completely");
  const std::string folder = FFolder.File("folder.bwn");
  std::filesystem::create_directory(folder);
  Open(folder);
  EXPECT_EQ(Status(), "File folder.bwn could not be opened");
  EXPECT_EQ(Prompts.Errors.size(), 2);
  EXPECT_EQ(Form->RecentFiles(), QStringList{Q(closed)});
}

TEST_F(MainWindow, AReadOnlyFileOpensReadOnlyAndSaveAsksForANewName) {
  const std::string path = WriteNetwork("examples/two.bwn", 2);
  const std::string original = ReadBytes(path);
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
  TMDIChild* document = Open(path);
  ASSERT_NE(document, nullptr);
  EXPECT_TRUE(Prompts.Informs.isEmpty());
  EXPECT_EQ(Status(), "File two.bwn open!");
  EXPECT_EQ(Caption(document), "two.bwn (read-only)");
  EXPECT_EQ(document->EditorWindow()->windowTitle(), Q(path) + " (read-only)");
  EXPECT_EQ(document->Editor()->Nodes().FNumNodes(), 3);
  EXPECT_EQ(Form->RecentFiles(), QStringList{Q(path)});
  // Still the same file for Open.
  Open(path);
  EXPECT_EQ(Form->Documents().size(), 1);
  ASSERT_EQ(Prompts.Informs.size(), 1);

  Modify(document);
  const std::string copy = FFolder.File("copy.bwn");
  Prompts.SaveAnswers = {Q(copy)};
  Activate(document);
  Form->FileSaveItemClick();
  ASSERT_EQ(Prompts.SaveRequests.size(), 1u);
  EXPECT_EQ(Status(), "File " + Q(copy) + " saved");
  EXPECT_EQ(SavedNodes(copy), 4);
  EXPECT_EQ(ReadBytes(path), original);
  EXPECT_FALSE(document->Editor()->ReadOnly());
  EXPECT_EQ(Caption(document), "copy.bwn");
  EXPECT_EQ(Form->RecentFiles().first(), Q(copy));
}

TEST_F(MainWindow, StatusCountAndUndoFollowTheDocumentsThatAreLeft) {
  TMDIChild* first = Open(WriteNetwork("first.bwn", 3));
  TMDIChild* second = Open(WriteNetwork("second.bwn"));
  Activate(second);
  ASSERT_FALSE(Form->CheckSummary->text().isEmpty());

  // Saving starts the history afresh: nothing is left to undo.
  Modify(second);
  second->Editor()->UpdateEditMenu();
  ASSERT_TRUE(second->Editor()->Undo1()->isEnabled());
  Form->FileSaveItemClick();
  EXPECT_FALSE(second->Editor()->Undo1()->isEnabled());
  second->Editor()->Nodes().AddNode({900, 100});
  second->Editor()->UpdateEditMenu();
  Prompts.SaveAnswers.push_back(Q(FFolder.File("renamed.bwn")));
  Form->FileSaveAsItemClick();
  EXPECT_FALSE(second->Editor()->Undo1()->isEnabled());

  // The count shown is that of the current document; a closed one takes its count along.
  Form->FileCloseItemClick();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  Activate(first, false);
  EXPECT_EQ(Form->CheckSummary->text(), first->Editor()->FindingsPanel()->Summary());
  Form->FileCloseItemClick();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_TRUE(Form->Documents().isEmpty());
  EXPECT_EQ(Form->CheckSummary->text(), "");
  EXPECT_FALSE(Form->FindingsDock->isVisible());
}

TEST_F(MainWindow, TheCheckCountStaysInTheStatusBarAfterAnAnalysis) {
  qputenv("BUSWEAVE_CLI", BUSWEAVE_CLI_PATH);
  TMDIChild* document = Open(WriteNetwork("bus.bwn", 2));
  Activate(document);
  TCanNodes& nodes = document->Editor()->Nodes();
  for (int i = 0; i < nodes.Count(); ++i)
    if (TNode* node = nodes.NodeAtIndex(i)) node->FSource = 1;
  document->Editor()->CheckBus1Click();
  ASSERT_TRUE(Form->CheckSummary->isVisible());
  // The analysis's progress panel comes and goes beside the count, which stays.
  document->Editor()->AnalyzeBus1()->trigger();
  QDeadlineTimer deadline(60000);
  while (document->Editor()->Analysis()->Running() && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_FALSE(document->Editor()->Analysis()->Running());
  EXPECT_TRUE(Form->CheckSummary->isVisible());
  EXPECT_FALSE(Form->CheckSummary->text().isEmpty());
}

TEST_F(MainWindow, AnalysisDockFollowsTheDocumentAndNamesAMissingAnalyser) {
  // Nothing beside the test program or in its folder's ../cli is busweave-cli.
  qunsetenv("BUSWEAVE_CLI");
  TMDIChild* first = Open(WriteNetwork("first.bwn"));
  TMDIChild* second = Open(WriteNetwork("second.bwn"));
  EXPECT_FALSE(Form->AnalysisDock->isVisible());
  Activate(first);
  first->Editor()->AnalyzeBus1()->trigger();
  ASSERT_EQ(Prompts.Errors.size(), 1);
  EXPECT_TRUE(Prompts.Errors[0].contains("busweave-cli") && Prompts.Errors[0].contains("BUSWEAVE_CLI"))
      << Prompts.Errors[0].toStdString();
  ASSERT_NE(first->Editor()->Analysis(), nullptr);
  EXPECT_FALSE(first->Editor()->Analysis()->Running());
  auto* stack = qobject_cast<QStackedWidget*>(Form->AnalysisDock->widget());
  ASSERT_NE(stack, nullptr);
  EXPECT_TRUE(Form->AnalysisDock->isVisible());
  EXPECT_EQ(stack->currentWidget(), first->Editor()->AnalysisPanel());
  EXPECT_EQ(first->Editor()->AnalysisPanel()->Summary(), Prompts.Errors[0]);
  EXPECT_TRUE(Form->AnalysisDock->windowTitle().endsWith("first.bwn"));

  // A document not analysed shows none of another's; its own comes back with it.
  Activate(second);
  EXPECT_NE(stack->currentWidget(), first->Editor()->AnalysisPanel());
  EXPECT_EQ(Form->AnalysisDock->windowTitle(), "Bus analysis");
  Activate(first);
  EXPECT_EQ(stack->currentWidget(), first->Editor()->AnalysisPanel());

  Close(first);
  Close(second);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(stack->count(), 1);  // the panel left with its document
  EXPECT_FALSE(Form->AnalysisDock->isVisible());
}

TEST_F(MainWindow, OverviewStaysInsideTheAreaWhenItShrinks) {
  Form->resize(900, 700);
  TMDIChild* document = New();
  const auto inside = [this, document] {
    QCoreApplication::processEvents();
    return Form->MdiArea->viewport()->rect().contains(document->Window()->geometry());
  };
  ASSERT_TRUE(inside());
  const QSize before = document->PaintBox1->size();
  Form->ShowFindings(*document->Editor(), true);
  EXPECT_TRUE(inside());
  // Smaller than the overview: it shrinks in proportion and keeps its title bar in view.
  Form->resize(420, 300);
  EXPECT_TRUE(inside()) << Form->MdiArea->viewport()->size().height() << " " << document->Window()->geometry().bottom();
  const QSize after = document->PaintBox1->size();
  EXPECT_LT(after.height(), before.height());
  EXPECT_NEAR(after.width(), after.height(), 2);
}

TEST_F(MainWindow, HelpContentsShowsTheHelpText) {
  Form->Contents1->trigger();
  auto* browser = Form->findChild<QTextBrowser*>("HelpBrowser");
  ASSERT_NE(browser, nullptr);
  EXPECT_TRUE(browser->isVisible());
  EXPECT_TRUE(browser->toPlainText().contains("Files and settings")) << browser->toPlainText().left(200).toStdString();
  EXPECT_EQ(browser->window()->windowTitle(), "Busweave-V2 Help");
}

TEST(ApplicationTitle, NamesTheProgramWithoutAppendingItToWindowTitles) {
  const QString testName = QApplication::applicationName();
  SetApplicationTitle();
  EXPECT_EQ(QApplication::applicationName(), "Busweave-V2");
  EXPECT_EQ(QGuiApplication::desktopFileName(), "org.busweave.Busweave");  // data/org.busweave.Busweave.desktop
  // The display name is appended to every title ("Options — Busweave-V2") once it is set; it
  // must follow the application name instead.
  QApplication::setApplicationName("probe");
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), "probe");
  QApplication::setApplicationName(testName);
}

}  // namespace
}  // namespace busweave
