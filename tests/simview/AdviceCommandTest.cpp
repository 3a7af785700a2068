// The editor's "How to make it work" command with busweave-cli as built running the search: the
// rates asked, the proposals and eyes in the panel, Apply as one undo step, a change refused once
// the document no longer holds its values; and the rates the dialog reads.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <algorithm>
#include <functional>

#include "FakeEditorHost.h"
#include "Networks.h"
#include "TempFolder.h"
#include "editor/EditorWindow.h"
#include "gui/ModalResult.h"
#include "simview/AdviceCommand.h"
#include "simview/AdvicePanel.h"
#include "simview/AdviceRatesDialog.h"
#include "simview/AnalysisPanel.h"

namespace busweave {
namespace {

using test::TempFolder;

TEST(AdviceCommand, MovesTheMisplacedTerminationAsOneUndoStep) {
  qputenv("BUSWEAVE_CLI", BUSWEAVE_CLI_PATH);
  TempFolder folder;
  test::CurrentFolderGuard guard(folder.Path());
  test::SaveMisplacedTerminationBus(folder.File("bus.bwn"));
  test::FakeEditorHost host;
  int shown = 0;
  host.OnShowAdvice = [&shown](TSubForm& Editor, bool) {
    ++shown;
    Editor.AdvicePanel()->resize(1200, 400);
    Editor.AdvicePanel()->show();
  };
  QMainWindow main;
  auto* editor = new TSubForm(nullptr, {}, folder.File("bus.bwn"), {200, 200}, {20, 20}, &host);
  main.setCentralWidget(editor);
  main.statusBar()->showMessage("ready");
  main.show();
  TCanNodes& net = editor->Nodes();
  // Opening the file moved the network into the document's margin: the stations go by name.
  const auto station = [&net](const char* Name) {
    for (int i = 0; i < net.Count(); ++i)
      if (TNode* node = net.NodeAtIndex(i); node && node->FName.ends_with(Name)) return node;
    ADD_FAILURE() << "no station " << Name;
    return static_cast<TNode*>(nullptr);
  };
  TNode* const b = station("B");
  TNode* const c = station("C");
  ASSERT_TRUE(b && c);

  // The rates asked: data left to the search, arbitration the required 500 kbit/s.
  host.Scripted.OnDialog = [](QDialog& Dialog) {
    auto& rates = dynamic_cast<TAdviceRatesDialog&>(Dialog);
    EXPECT_EQ(rates.DataRateBox->currentText(), "");
    EXPECT_EQ(rates.ArbitrationRateBox->currentText(), "500 kbit/s");
    return static_cast<int>(mrOk);
  };
  ASSERT_TRUE(editor->Advise1()->isEnabled());
  editor->Advise1()->trigger();
  TAdviceCommand* command = editor->Advice();
  ASSERT_TRUE(command && command->Running());
  EXPECT_TRUE(command->StatusPanel->isVisible());
  // The count's total never grows once the candidates are known, and the count ends at it.
  std::vector<int> totals;
  QObject::connect(command->ProgressBar, &QProgressBar::valueChanged, command->ProgressBar,
                   [&totals, command] { totals.push_back(command->ProgressBar->maximum()); });
  QSignalSpy finished(command, &TAdviceCommand::Finished);
  ASSERT_TRUE(finished.wait(60000));
  EXPECT_TRUE(host.Scripted.Errors.isEmpty()) << host.Scripted.Errors.join("\n").toStdString();
  EXPECT_GE(shown, 2);
  // Before the units are reserved, the count is of today's runs, one per station.
  const auto reserved = std::max_element(totals.begin(), totals.end());
  ASSERT_NE(reserved, totals.end());
  EXPECT_TRUE(std::all_of(totals.begin(), reserved, [&net](int Total) { return Total <= net.Count(); }))
      << ::testing::PrintToString(totals);
  EXPECT_TRUE(std::is_sorted(reserved, totals.end(), std::greater<>()));
  EXPECT_EQ(command->ProgressBar->value(), command->ProgressBar->maximum());

  TAdvicePanel* panel = editor->AdvicePanel();
  ASSERT_TRUE(panel->HasAdvice());
  EXPECT_TRUE(panel->Summary().startsWith("Asked: data 4 Mbit/s with arbitration 500 kbit/s."))
      << panel->Summary().toStdString();
  ASSERT_GE(panel->Proposals->rowCount(), 1);
  EXPECT_EQ(panel->Proposals->item(0, 1)->text(), "Move the termination from B to C");
  EXPECT_EQ(panel->Proposals->item(0, 2)->text(), "yes");
  EXPECT_GT(panel->Proposals->item(0, 5)->text().toDouble(), 0.0);
  // The deciding station's eye today reads a bit wrong; after the move it reads them right.
  ASSERT_FALSE(panel->BeforeEyes->EyeList().empty());
  ASSERT_FALSE(panel->AfterEyes->EyeList().empty());
  EXPECT_FALSE(panel->BeforeEyes->EyeList().front().Works);
  EXPECT_TRUE(panel->AfterEyes->EyeList().front().Works);
  EXPECT_NE(net.FFileState(), fstModified);

  // An edit of its own before: the change is a step of its own after it.
  TTrmLine* trunk = nullptr;
  for (int i = 0; i < net.Count(); ++i)
    if (TTrmLine* wire = net.WireAtIndex(i); wire && wire->FLength == 2000) trunk = wire;
  ASSERT_TRUE(trunk);
  ASSERT_FALSE(editor->ApplyEdits({{net.Strings(net.IndexOfObject(trunk)), "length", 1990, 2000}}));
  const int steps = net.FUnDoList().Count();

  QTest::mouseClick(panel->ApplyButton, Qt::LeftButton);
  EXPECT_EQ(b->FResistance, 1500);
  EXPECT_EQ(c->FResistance, 120);
  EXPECT_EQ(net.FFileState(), fstModified);
  EXPECT_TRUE(panel->Summary().contains("changed since")) << panel->Summary().toStdString();
  // One undo step takes both edits back, and redo makes them again.
  ASSERT_TRUE(editor->Undo1()->isEnabled());
  editor->Undo1()->trigger();
  EXPECT_EQ(b->FResistance, 120);
  EXPECT_EQ(c->FResistance, 1500);
  EXPECT_EQ(trunk->FLength, 1990);
  EXPECT_EQ(net.FUnDoList().Count(), steps);
  editor->Redo1()->trigger();
  EXPECT_EQ(b->FResistance, 1500);
  EXPECT_EQ(c->FResistance, 120);
  editor->Undo1()->trigger();

  // C's resistance set by hand since the search: the change is refused, naming C, and nothing moves.
  c->FResistance = 100;
  QTest::mouseClick(panel->ApplyButton, Qt::LeftButton);
  ASSERT_EQ(host.Scripted.Errors.size(), 1);
  EXPECT_TRUE(host.Scripted.Errors[0].contains("the resistance of [3] C is 100 ohms now, not the 1500 ohms"))
      << host.Scripted.Errors[0].toStdString();
  EXPECT_EQ(b->FResistance, 120);
  EXPECT_EQ(net.FUnDoList().Count(), steps);
}

TEST(AdviceCommand, ProposesTheRatesAskedLastForTheDocument) {
  // No program to search with: the search fails at once, after the rates were asked.
  qputenv("BUSWEAVE_CLI", "");
  TempFolder folder;
  test::CurrentFolderGuard guard(folder.Path());
  test::SaveMisplacedTerminationBus(folder.File("bus.bwn"));
  test::FakeEditorHost host;
  QMainWindow main;
  auto* editor = new TSubForm(nullptr, {}, folder.File("bus.bwn"), {200, 200}, {20, 20}, &host);
  main.setCentralWidget(editor);
  QStringList proposed;
  host.Scripted.OnDialog = [&proposed](QDialog& Dialog) {
    auto& rates = dynamic_cast<TAdviceRatesDialog&>(Dialog);
    proposed << rates.DataRateBox->currentText() + "|" + rates.ArbitrationRateBox->currentText();
    rates.DataRateBox->setCurrentText("5M");
    rates.ArbitrationRateBox->setCurrentText("250k");
    return static_cast<int>(mrOk);
  };
  editor->Advise1()->trigger();
  editor->Advise1()->trigger();
  EXPECT_EQ(proposed, QStringList({"|500 kbit/s", "5 Mbit/s|250 kbit/s"}));
}

TEST(AdvicePanel, ShowsTheEyesBeforeAndAfterOnOneScale) {
  TAdvice advice;
  advice.BeforeEyes = {TEye{}};
  advice.BeforeEyes[0].Bits = {{{0.0, 1e-7}, {0.0, 1.2}}};
  advice.Proposals = {TProposal{}};
  advice.Proposals[0].Eyes = {TEye{}};
  advice.Proposals[0].Eyes[0].Bits = {{{0.0, 1e-7}, {-0.4, 3.1}}};
  TAdvicePanel panel;
  panel.ShowAdvice(advice);
  EXPECT_EQ(panel.BeforeEyes->VoltRange(), panel.AfterEyes->VoltRange());
  EXPECT_TRUE(panel.BeforeEyes->VoltRange().first <= -0.4 && panel.BeforeEyes->VoltRange().second >= 3.1);
}

TEST(AdviceRatesDialog, ReadsTypedRatesAndRefusesOthers) {
  EXPECT_EQ(ParseBitRate("2M"), 2000000);
  EXPECT_EQ(ParseBitRate(" 2 Mbit/s "), 2000000);
  EXPECT_EQ(ParseBitRate("500k"), 500000);
  EXPECT_EQ(ParseBitRate("666.5 kbit/s"), 666500);
  EXPECT_EQ(ParseBitRate("125000"), 125000);
  for (const char* bad : {"", "fast", "500", "1.5M5", "200M", "0.1k", "nan"}) EXPECT_FALSE(ParseBitRate(bad)) << bad;

  TAdviceRatesDialog dialog;
  QStringList errors;
  dialog.ReportError = [&errors](const QString& Message) { errors << Message; };
  dialog.ArbitrationRateBox->setCurrentText("fast");
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors[0].startsWith("\"fast\" is no bit rate")) << errors[0].toStdString();
  EXPECT_FALSE(dialog.Rates());
  dialog.DataRateBox->setCurrentText("5 Mbit/s");
  dialog.ArbitrationRateBox->setCurrentText("1M");
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  ASSERT_TRUE(dialog.Rates());
  EXPECT_EQ(dialog.Rates()->DataRate, 5000000);
  EXPECT_EQ(dialog.Rates()->ArbitrationRate, 1000000);
}

}  // namespace
}  // namespace busweave
