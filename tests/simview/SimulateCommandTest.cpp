// The editor's Simulate command with the real engine: the menu item, a run shown in the
// waveform window, an error and the run after it, cancelling, and closing a document mid-run.

#include <gtest/gtest.h>

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <filesystem>

#include "FakeEditorHost.h"
#include "TempFolder.h"
#include "editor/EditorWindow.h"
#include "gui/Prompts.h"
#include "simview/SimulateCommand.h"
#include "simview/WaveformWindow.h"
#include "spice/SpiceEngine.h"

namespace busweave {
namespace {

using test::TempFolder;
using test::WriteBytes;

// An ideal pulse behind 120 ohms: quick, and independent of the driver model.
std::string trailer(const std::string& Tran) {
  return "  .SUBCKT CANDRV 7999\r\n  V1 7903 0 PULSE(0 1 10n 1n 1n 50n 1u)\r\n  Rs 7903 7999 120\r\n  .ENDS\r\n" +
         Tran + "\r\n.END\r\n";
}

class SimulateCommand : public testing::Test {
 protected:
  SimulateCommand() : FGuard(Folder.Path()) {
    WriteBytes(Folder.File("Busweave.TR"), trailer(".TRAN 1ps 200ns"));
    Main.setCentralWidget(Editor = new TSubForm(nullptr, {}, Folder.File("bus.bwn"), {200, 200}, {20, 20}, &FHost));
    Main.statusBar()->showMessage("ready");  // the program's main window has its status bar from the start
    Main.show();
  }

  void DrawBus() {
    TCanNodes& net = Editor->Nodes();
    net.AddNode({100, 100});
    net.AddNode({300, 100});
    net.AddWire({100, 100}, {300, 100}, 120, true);
    net.NodeAt({100, 100})->FName = "Left";
    net.NodeAt({100, 100})->FSource = 1;
    net.NodeAt({300, 100})->FName = "Right";
    net.NodeAt({300, 100})->FResistance = 120;
    net.WireAtIndex(2)->FLength = 2000;
    Editor->UpdateEditMenu();
  }

  // Runs the command and waits until its result is shown.
  bool SimulateAndWait() {
    Editor->Simulate1()->trigger();
    TSimulateCommand* command = Editor->Simulation();
    if (!command) return false;
    if (command->Running()) {
      QSignalSpy finished(command, &TSimulateCommand::Finished);
      if (!finished.wait(20000)) return false;
    }
    return command->Window() != nullptr;
  }

  TempFolder Folder;
  test::CurrentFolderGuard FGuard;
  test::FakeEditorHost FHost;
  QMainWindow Main;
  TSubForm* Editor = nullptr;
};

TEST_F(SimulateCommand, SitsBesideNetworkAndNeedsANetwork) {
  const auto actions = Editor->Edit1()->actions();
  const auto network = actions.indexOf(Editor->Network1());
  ASSERT_GE(network, 0);
  EXPECT_EQ(actions.value(network + 1), Editor->Simulate1());
  EXPECT_EQ(Editor->Simulate1()->text(), "&Simulate");
  EXPECT_EQ(Editor->Simulate1()->shortcut(), QKeySequence(Qt::Key_F9));
  EXPECT_FALSE(Editor->Simulate1()->isEnabled());
  DrawBus();
  EXPECT_TRUE(Editor->Simulate1()->isEnabled());
}

TEST_F(SimulateCommand, ShowsTheNodeVoltagesAndLeavesTheTemplatesAlone) {
  DrawBus();
  ASSERT_TRUE(SimulateAndWait());
  TWaveformWindow* window = Editor->Simulation()->Window();
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(window->ErrorText->isVisible());
  ASSERT_NE(window->TransientPlot(), nullptr);
  const TWaveforms& waves = window->TransientPlot()->Waves();
  ASSERT_EQ(waves.Traces.size(), 2u);
  EXPECT_EQ(waves.Traces[0].Name, "[1] Left");
  EXPECT_EQ(waves.Traces[1].Name, "[2] Right");
  EXPECT_NEAR(waves.Scale.back(), 200e-9, 1e-15);
  EXPECT_EQ(Editor->Nodes().NodeAt({100, 100})->FName, "[1] Left");  // numbered, as the circuit says
  EXPECT_FALSE(TSpiceEngine::Instance().Busy());
  EXPECT_TRUE(FHost.Scripted.Errors.isEmpty());
  // The status bar holds no progress once the run is over.
  EXPECT_EQ(Main.statusBar()->findChild<QProgressBar*>(), nullptr);

  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(Folder.Path())) files.push_back(entry.path().filename());
  EXPECT_EQ(files, std::vector<std::string>{"Busweave.TR"});

  // Simulating again reuses the document's window.
  ASSERT_TRUE(SimulateAndWait());
  EXPECT_EQ(Editor->Simulation()->Window(), window);
}

TEST_F(SimulateCommand, AnErrorIsShownAndTheNextRunWorks) {
  DrawBus();
  WriteBytes(Folder.File("Busweave.TR"),
             "  .SUBCKT CANDRV 7999\r\n  Rs 7999 0 {1+}\r\n  .ENDS\r\n.TRAN 1ps 200ns\r\n.END\r\n");
  ASSERT_TRUE(SimulateAndWait());
  TWaveformWindow* window = Editor->Simulation()->Window();
  EXPECT_TRUE(window->ErrorText->isVisible());
  EXPECT_TRUE(window->ErrorText->toPlainText().contains("1+")) << window->ErrorText->toPlainText().toStdString();
  EXPECT_EQ(window->Tabs->count(), 0);

  WriteBytes(Folder.File("Busweave.TR"), trailer(".TRAN 1ps 200ns"));
  ASSERT_TRUE(SimulateAndWait());
  EXPECT_FALSE(window->ErrorText->isVisible());
  EXPECT_NE(window->TransientPlot(), nullptr);
}

TEST_F(SimulateCommand, CancelStopsTheRunAndTheProgramGoesOn) {
  DrawBus();
  WriteBytes(Folder.File("Busweave.TR"), trailer(".TRAN 1ps 2us 0 1ps"));  // two million steps
  Editor->Simulate1()->trigger();
  TSimulateCommand* command = Editor->Simulation();
  ASSERT_TRUE(command->Running());
  auto* bar = Main.statusBar()->findChild<QProgressBar*>();
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(bar->isVisible());
  QTRY_VERIFY_WITH_TIMEOUT(bar->value() > 0, 5000);

  // Another document must wait its turn.
  TSubForm other(nullptr, {}, Folder.File("other.bwn"), {200, 200}, {20, 20}, &FHost);
  other.Nodes().AddNode({100, 100});
  other.UpdateEditMenu();
  other.Simulate1()->trigger();
  ASSERT_EQ(FHost.Scripted.Errors.size(), 1);
  EXPECT_TRUE(FHost.Scripted.Errors[0].contains("Another document is being simulated"));

  QSignalSpy finished(command, &TSimulateCommand::Finished);
  command->CancelButton->click();
  EXPECT_EQ(finished.count(), 1);
  EXPECT_FALSE(command->Running());
  EXPECT_FALSE(TSpiceEngine::Instance().Busy());
  EXPECT_EQ(Main.statusBar()->findChild<QProgressBar*>(), nullptr);
  EXPECT_EQ(command->Window(), nullptr);  // nothing to show for a cancelled run

  WriteBytes(Folder.File("Busweave.TR"), trailer(".TRAN 1ps 200ns"));
  ASSERT_TRUE(SimulateAndWait());
  EXPECT_NE(command->Window()->TransientPlot(), nullptr);
}

TEST_F(SimulateCommand, HostileTemplatesNeitherCrashNorFreezeTheWindow) {
  DrawBus();
  // 15,000 nested brackets: refused by name, after the command has returned to the window.
  WriteBytes(Folder.File("Busweave.HD"), "title\r\n  .PARAM xDeep = {" + std::string(15000, '{') + "1" +
                                             std::string(15000, '}') + "}\r\n  .PARAM xC0red = {2e8*xDeep}\r\n");
  Editor->Simulate1()->trigger();
  TSimulateCommand* command = Editor->Simulation();
  EXPECT_TRUE(command->Running());
  EXPECT_TRUE(command->CancelButton->isVisible());
  EXPECT_TRUE(FHost.Scripted.Errors.isEmpty());  // the translation is not on the window's thread
  QTRY_COMPARE_WITH_TIMEOUT(FHost.Scripted.Errors.size(), 1, 10000);
  EXPECT_TRUE(FHost.Scripted.Errors[0].contains("xdeep is nested deeper than"))
      << FHost.Scripted.Errors[0].toStdString();
  EXPECT_FALSE(command->Running());
  EXPECT_EQ(Main.statusBar()->findChild<QProgressBar*>(), nullptr);

  // Thirty parameters, each using the one before three times.
  std::string chain = "title\r\n  .PARAM c0 = 1\r\n";
  for (int i = 1; i <= 30; ++i) {
    const std::string b = "c" + std::to_string(i - 1);
    chain += "  .PARAM c" + std::to_string(i) + " = {" + b + "+" + b + "+" + b + "}\r\n";
  }
  WriteBytes(Folder.File("Busweave.HD"), chain + "  .PARAM xC0red = {2e8*c30/c30}\r\n");
  ASSERT_TRUE(SimulateAndWait());
  EXPECT_NE(command->Window()->TransientPlot(), nullptr);

  // Cancel reaches a run that is still being translated: nothing is started or shown.
  delete command->Window();
  std::string large = chain + "  .PARAM xC0red = 2e8\r\n";
  while (large.size() < (3u << 20)) large += "* a long header of comments\r\n";
  WriteBytes(Folder.File("Busweave.HD"), large);
  Editor->Simulate1()->trigger();
  ASSERT_TRUE(command->Running());
  QSignalSpy finished(command, &TSimulateCommand::Finished);
  command->CancelButton->click();
  EXPECT_EQ(finished.count(), 1);
  EXPECT_FALSE(command->Running());
  EXPECT_EQ(Main.statusBar()->findChild<QProgressBar*>(), nullptr);
  QTest::qWait(500);
  EXPECT_EQ(command->Window(), nullptr);
  EXPECT_FALSE(TSpiceEngine::Instance().Busy());
  EXPECT_EQ(FHost.Scripted.Errors.size(), 1);
  ASSERT_TRUE(SimulateAndWait());  // the next run works
  EXPECT_NE(command->Window()->TransientPlot(), nullptr);
}

TEST_F(SimulateCommand, ClosingTheDocumentEndsItsRun) {
  DrawBus();
  WriteBytes(Folder.File("Busweave.TR"), trailer(".TRAN 1ps 2us 0 1ps"));
  Editor->Simulate1()->trigger();
  ASSERT_TRUE(Editor->Simulation()->Running());
  delete Main.takeCentralWidget();
  Editor = nullptr;
  EXPECT_FALSE(TSpiceEngine::Instance().Busy());
  QTest::qWait(300);  // late news from ngspice's thread reaches no one
  EXPECT_EQ(Main.statusBar()->findChild<QProgressBar*>(), nullptr);
}

}  // namespace
}  // namespace busweave
