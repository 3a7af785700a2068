// The editor's Analyze bus command with busweave-cli as built running the transmitters: the
// verdict and the pairs in the panel, a picked pair marked and plotted, Cancel, and a bus that
// cannot be analysed.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>

#include "FakeRunner.h"
#include "ScriptedPrompts.h"
#include "TempFolder.h"
#include "circuit/CircuitFile.h"
#include "editor/EditorWindow.h"
#include "gui/Prompts.h"
#include "simview/AnalysisCommand.h"
#include "simview/AnalysisPanel.h"
#include "simview/WaveformWindow.h"

namespace busweave {
namespace {

using test::TempFolder;

// Shows the analysis panel on its own, as the main window's dock would.
class Host : public TEditorHost {
 public:
  void ShowModeButtons(bool, TMode) override {}
  void ShowPosition(const QString&, const QString&) override {}
  TPrompts& Prompts() override { return FPrompts; }
  void ShowAnalysis(TSubForm& Editor, bool) override {
    ++Shown;
    Editor.AnalysisPanel()->resize(1200, 400);
    Editor.AnalysisPanel()->show();
  }
  test::ScriptedPrompts<> FPrompts;
  int Shown = 0;
};

void clickRow(QTableWidget* Table, int Row) {
  const QRect cell = Table->visualItemRect(Table->item(Row, 0));
  QTest::mouseClick(Table->viewport(), Qt::LeftButton, {}, cell.center());
}

class AnalysisCommand : public testing::Test {
 protected:
  AnalysisCommand() : FGuard(Folder.Path()) {
    qputenv("BUSWEAVE_CLI", BUSWEAVE_CLI_PATH);
    Main.setCentralWidget(Editor = new TSubForm(nullptr, {}, Folder.File("bus.bwn"), {200, 200}, {20, 20}, &FHost));
    Main.statusBar()->showMessage("ready");
    Main.show();
  }

  // Near and Far, terminated, each with a driver, joined by one line of Length mm.
  void DrawBus(std::uint16_t Length, bool FarDrives = true) {
    TCanNodes& net = Editor->Nodes();
    net.AddNode({100, 100});
    net.AddNode({300, 100});
    net.AddWire({100, 100}, {300, 100}, 120, true);
    for (const auto& [at, name] : {std::pair{TPoint{100, 100}, "Near"}, std::pair{TPoint{300, 100}, "Far"}}) {
      net.NodeAt(at)->FName = name;
      net.NodeAt(at)->FResistance = 120;
      net.NodeAt(at)->FSource = 1;
    }
    if (!FarDrives) net.NodeAt({300, 100})->FSource = 0;
    net.WireAtIndex(2)->FLength = Length;
    Editor->UpdateEditMenu();
  }

  bool WaitForEnd() {
    QSignalSpy finished(Editor->Analysis(), &TAnalysisCommand::Finished);
    return !Editor->Analysis()->Running() || finished.wait(60000);
  }

  TempFolder Folder;
  test::CurrentFolderGuard FGuard;
  Host FHost;
  QMainWindow Main;
  TSubForm* Editor = nullptr;
};

TEST_F(AnalysisCommand, FillsThePanelAndAPickedPairIsMarkedAndPlotted) {
  const auto actions = Editor->Edit1()->actions();
  EXPECT_EQ(actions.value(actions.indexOf(Editor->CheckBus1()) + 1), Editor->AnalyzeBus1());
  EXPECT_FALSE(Editor->AnalyzeBus1()->isEnabled());
  // 60 m: 300 ns each way, 2 x (300 + 255) ns = 1110 ns fits 80 % of 2 us but not of 1.25 us.
  DrawBus(60000);
  ASSERT_TRUE(Editor->AnalyzeBus1()->isEnabled());
  Editor->AnalyzeBus1()->trigger();
  TAnalysisCommand* command = Editor->Analysis();
  ASSERT_NE(command, nullptr);
  // The runs go on in the background: the command returned with its progress in the status bar.
  EXPECT_TRUE(command->Running());
  EXPECT_TRUE(command->StatusPanel->isVisible());
  ASSERT_TRUE(WaitForEnd());
  EXPECT_TRUE(FHost.FPrompts.Errors.isEmpty()) << FHost.FPrompts.Errors.join("\n").toStdString();
  EXPECT_EQ(Main.statusBar()->findChild<QProgressBar*>(), nullptr);

  TAnalysisPanel* panel = Editor->AnalysisPanel();
  ASSERT_TRUE(panel && panel->isVisible());
  EXPECT_TRUE(panel->Summary().contains("arbitration 500 kbit/s")) << panel->Summary().toStdString();
  ASSERT_EQ(panel->Verdicts->rowCount(), 10);
  EXPECT_EQ(panel->Verdicts->item(2, 2)->text(), "yes");
  const int failing = 3;  // arbitration at 800 kbit/s
  EXPECT_EQ(panel->Verdicts->item(failing, 1)->text(), "800 kbit/s");
  EXPECT_EQ(panel->Verdicts->item(failing, 2)->text(), "NO");
  EXPECT_EQ(panel->Verdicts->item(failing, 5)->text(), "round trip");
  EXPECT_NEAR(panel->Verdicts->item(failing, 6)->text().toDouble(), 1110, 8);
  EXPECT_EQ(panel->Verdicts->item(failing, 7)->text(), "1000.0");
  // Each station transmits once, with both edges seen at the other.
  ASSERT_EQ(panel->Pairs->rowCount(), 4);
  for (int row = 0; row < 4; ++row) EXPECT_NEAR(panel->Pairs->item(row, 3)->text().toDouble(), 300, 4);

  // A click on a pair marks both stations and plots them, the transmitter first.
  clickRow(panel->Pairs, 3);
  const QString sender = panel->Pairs->item(3, 0)->text();
  const QString receiver = panel->Pairs->item(3, 1)->text();
  EXPECT_EQ(Editor->Nodes().NodeAt({100, 100})->FMarked, 1);
  EXPECT_EQ(Editor->Nodes().NodeAt({300, 100})->FMarked, 1);
  TWaveformWindow* window = command->Window();
  ASSERT_TRUE(window && window->isVisible());
  ASSERT_NE(window->TransientPlot(), nullptr);
  const TWaveforms& waves = window->TransientPlot()->Waves();
  ASSERT_EQ(waves.Traces.size(), 2u);
  EXPECT_EQ(QString::fromStdString(waves.Traces[0].Name), sender);
  EXPECT_EQ(QString::fromStdString(waves.Traces[1].Name), receiver);
  for (const TTrace& trace : waves.Traces)  // both see the bus driven dominant
    EXPECT_GT(*std::max_element(trace.Values.begin(), trace.Values.end()), 0.9) << trace.Name;

  // The sample points of the bits the dominant and the recessive TXD edge start, at the highest
  // working and the lowest failing data rate: where the verdict samples them, 70 % of the bit
  // after the receiver's own dominant edge (300 ns of line behind the TXD edge), labelled at the
  // foot of the plot where no label covers another.
  TCircuitSources sources;
  const TextLines circuit = CircuitFromTemplates(Editor->Nodes(), ".", nullptr, &sources);
  const TAnalysisPlan plan = PlanAnalysis(circuit, sources);
  const TAnalysisSettings settings;
  // The data rows follow the five arbitration rows, rates ascending.
  std::int64_t working = 0;
  std::int64_t lowestFailing = 0;
  for (int row = 5; row < 10; ++row) {
    const std::int64_t rate = settings.DataRates[static_cast<std::size_t>(row - 5)];
    if (panel->Verdicts->item(row, 2)->text() == "yes")
      working = rate;
    else if (lowestFailing == 0)
      lowestFailing = rate;
  }
  std::vector<std::pair<std::int64_t, bool>> rates;
  if (working) rates.push_back({working, true});
  if (lowestFailing) rates.push_back({lowestFailing, false});
  TWaveformPlot* plot = window->TransientPlot();
  const std::vector<TPlotLine>& marks = plot->Plot().Marks;
  ASSERT_EQ(marks.size(), 2 * rates.size());
  ASSERT_GE(rates.size(), 1u);
  const TPlotLayout layout(plot->Plot(), QRectF(plot->rect()), plot->font());
  for (std::size_t i = 0; i < marks.size(); ++i) {
    const auto [rate, works] = rates[i / 2];
    const double edge = i % 2 == 0 ? plan.EdgeAt : plan.EdgeAt + plan.Hold;
    const double afterTxd = marks[i].Value / plot->UnitFactor() - edge - 0.7 / static_cast<double>(rate);
    EXPECT_GT(afterTxd, 300e-9) << i;
    EXPECT_LT(afterTxd, 600e-9) << i;
    EXPECT_EQ(marks[i].Label, "sample point " + BitRateText(rate));
    EXPECT_EQ(marks[i].Style, works ? Qt::SolidLine : Qt::DashLine);
    const QRectF label = layout.MarkLabel(static_cast<int>(i));
    EXPECT_TRUE(layout.Area().contains(label)) << i;
    for (std::size_t k = 0; k < i; ++k) EXPECT_FALSE(label.intersects(layout.MarkLabel(static_cast<int>(k)))) << i;
  }
  EXPECT_TRUE(window->Summary->text().contains("recessive at or below 0.5 V")) << window->Summary->text().toStdString();

  // A failing rate's row brings its deciding pair.
  clickRow(panel->Verdicts, failing);
  const int picked = panel->Pairs->currentRow();
  ASSERT_GE(picked, 0);
  EXPECT_EQ(panel->Pairs->item(picked, 0)->text() + " \u2192 " + panel->Pairs->item(picked, 1)->text(),
            panel->Verdicts->item(failing, 3)->text());
  EXPECT_EQ(panel->Pairs->item(picked, 2)->text(), panel->Verdicts->item(failing, 4)->text());
  EXPECT_EQ(QString::fromStdString(window->TransientPlot()->Waves().Traces[0].Name),
            panel->Pairs->item(picked, 0)->text());

  // An edit keeps the verdict on view but says that it is of the network before.
  Editor->Nodes().NodeAt({300, 100})->FResistance = 1500;
  Editor->RepaintAll();
  EXPECT_TRUE(panel->Summary().startsWith("Highest working rate: arbitration 500 kbit/s"));
  EXPECT_TRUE(panel->Summary().contains(". The network has changed since")) << panel->Summary().toStdString();
  EXPECT_EQ(panel->Verdicts->rowCount(), 10);
}

TEST_F(AnalysisCommand, CancelStopsTheRunsAndTheNextAnalysisWorks) {
  DrawBus(60000);
  Editor->AnalyzeBus1()->trigger();
  TAnalysisCommand* command = Editor->Analysis();
  ASSERT_TRUE(command && command->Running());
  QSignalSpy finished(command, &TAnalysisCommand::Finished);
  QTest::mouseClick(command->CancelButton, Qt::LeftButton);
  EXPECT_FALSE(command->Running());
  EXPECT_EQ(finished.count(), 1);
  EXPECT_EQ(Main.statusBar()->findChild<QProgressBar*>(), nullptr);
  // Whatever the stopped runs still had on the way is dropped.
  QTest::qWait(400);
  EXPECT_TRUE(Editor->AnalysisPanel()->Summary().contains("cancelled"));
  EXPECT_EQ(Editor->AnalysisPanel()->Verdicts->rowCount(), 0);
  EXPECT_EQ(finished.count(), 1);

  Editor->AnalyzeBus1()->trigger();
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(Editor->AnalysisPanel()->Verdicts->rowCount(), 10);
  EXPECT_TRUE(FHost.FPrompts.Errors.isEmpty());

  // Cancelling a later run keeps the verdict on view, and says so.
  Editor->AnalyzeBus1()->trigger();
  QTest::mouseClick(command->CancelButton, Qt::LeftButton);
  EXPECT_EQ(Editor->AnalysisPanel()->Verdicts->rowCount(), 10);
  EXPECT_TRUE(Editor->AnalysisPanel()->Summary().contains("cancelled"));
  EXPECT_TRUE(Editor->AnalysisPanel()->Summary().contains("Highest working rate"));
  // The network was not edited: numbering its node names for the circuit is no change.
  EXPECT_FALSE(Editor->AnalysisPanel()->Summary().contains("changed since"))
      << Editor->AnalysisPanel()->Summary().toStdString();
}

TEST_F(AnalysisCommand, ABusWithOneDriverIsRefusedWithTheReason) {
  DrawBus(2000, false);
  Editor->AnalyzeBus1()->trigger();
  ASSERT_TRUE(WaitForEnd());
  ASSERT_EQ(FHost.FPrompts.Errors.size(), 1);
  EXPECT_TRUE(FHost.FPrompts.Errors[0].contains("1 station(s) with a driver; the analysis needs two or more"))
      << FHost.FPrompts.Errors[0].toStdString();
  EXPECT_EQ(Editor->AnalysisPanel()->Summary(), FHost.FPrompts.Errors[0]);
  EXPECT_FALSE(Editor->Analysis()->Running());
}

// Analyses the drawn bus with a fake in place of the simulator, whose ramps are too slow for the
// highest data rates.
TEST_F(AnalysisCommand, TheWindowFollowsANewAnalysisAndEyesAndSentencesReadInFull) {
  DrawBus(2000);
  auto fake = std::make_shared<test::TFakeRunner>();
  fake->Ramp = 200e-9;
  TAnalysisCommand command(Editor, Editor->Nodes(), FHost.FPrompts, nullptr, nullptr, nullptr);
  command.Program = "unused";
  command.Runner = fake;
  const auto analysed = [&command] {
    QSignalSpy finished(&command, &TAnalysisCommand::Finished);
    command.Run();
    return finished.count() > 0 || finished.wait(10000);
  };
  ASSERT_TRUE(analysed());
  TAnalysisPanel* panel = command.Panel();
  command.ShowPair(3);
  TWaveformWindow* window = command.Window();
  ASSERT_TRUE(window && window->Tabs->count() == 2);
  // The failing bit of the stream at the lowest failing rate, on a page of its own.
  EXPECT_TRUE(window->Tabs->tabText(1).startsWith("&Stream at ")) << window->Tabs->tabText(1).toStdString();
  const auto* stream = qobject_cast<TWaveformPlot*>(window->Tabs->widget(1));
  EXPECT_TRUE(stream->Plot().Marks.back().Label.contains(QRegularExpression("^bit [0-9]+ read ")));

  command.NetworkChanged();
  EXPECT_TRUE(window->Notice->text().startsWith("These waveforms are of the network before its last changes"));
  // A new analysis of a slower bus: the window shows the same pair of it, unmarked.
  fake->Delay = 60e-9;
  ASSERT_TRUE(analysed());
  EXPECT_FALSE(window->Notice->isVisible());
  EXPECT_EQ(panel->Pairs->currentRow(), 3);
  EXPECT_TRUE(window->Summary->text().contains("edge): delay 60.0 ns")) << window->Summary->text().toStdString();

  // The sentence column keeps within reach; the picked rate's sentence is read below in full.
  panel->resize(1200, 400);
  panel->show();
  EXPECT_LE(panel->Verdicts->columnWidth(8), 260);
  clickRow(panel->Verdicts, 9);
  const QString sentence = panel->Verdicts->item(9, 8)->toolTip();
  EXPECT_EQ(panel->DecidedText->text(), "data " + panel->Verdicts->item(9, 1)->text() + ": " + sentence);
  // A double click opens the eye under it larger, on the panel's voltage scale.
  TEyeView* eyes = panel->Eyes;
  ASSERT_GE(eyes->EyeList().size(), 2u);
  // However small the dock, every eye keeps a readable size inside the view, which scrolls.
  for (int i = 0; i < static_cast<int>(eyes->EyeList().size()); ++i) {
    EXPECT_GE(eyes->EyeRect(i).width(), 220);
    EXPECT_GE(eyes->EyeRect(i).height(), 150);
    EXPECT_LE(eyes->EyeRect(i).bottom(), eyes->height() + 0.5);
  }
  QTest::mouseDClick(eyes, Qt::LeftButton, {}, eyes->EyeRect(1).center().toPoint());
  QWidget* enlarged = nullptr;
  for (QWidget* shown : QApplication::topLevelWidgets())
    if (shown->isVisible() && shown->windowTitle() == "Eye - " + EyeTitle(eyes->EyeList()[1])) enlarged = shown;
  ASSERT_TRUE(enlarged);
  const auto* view = enlarged->findChild<TEyeView*>();
  EXPECT_EQ(view->VoltRange(), eyes->VoltRange());
  EXPECT_GT(view->EyeRect(0).width(), eyes->EyeRect(1).width());
}

TEST(AnalysisSamplePoints, AreWhereTheStationSynchronisesNotAtTheTxdEdge) {
  test::TFakeRunner fake;
  fake.Delay = 100e-9;
  fake.Ramp = 200e-9;  // too slow for the highest data rates
  const std::vector<TTransmitterRun> runs{fake.edgeRun(0), fake.edgeRun(1)};
  const TAnalysisSettings settings;
  const TStreamVerdict verdict = JudgeRuns(runs, settings);
  const auto [working, failing] = EyeDataRates(verdict.Bus);
  const double edgeAt = 1e-6;
  const double hold = 4e-6;
  const std::vector<TEdgeSamplePoint> points = EdgeRunSamplePoints(runs[0], 1, verdict, settings, edgeAt, hold);
  ASSERT_TRUE(working > 0 && failing > 0 && points.size() == 4u);
  // [2] S2 goes dominant where its ramp, 100 ns behind the TXD edge, crosses 0.9 V of 2 V; the
  // verdict sent the recessive edge early by the driver's asymmetry (0.3 of its ramp).
  const double seen = fake.Delay + fake.Ramp * 0.45;
  const double shift = fake.Ramp * 0.3;
  for (std::size_t i = 0; i < 4; ++i) {
    const std::int64_t rate = i < 2 ? working : failing;
    EXPECT_TRUE(points[i].BitRate == rate && points[i].Works == (i < 2)) << i;
    const double edge = i % 2 == 0 ? edgeAt : edgeAt + hold + shift;
    EXPECT_NEAR(points[i].Time, edge + seen + 0.7 / static_cast<double>(rate), 1e-11) << i;
  }
}

TEST(AnalysisPairWaveforms, BothTracesShareTheUnionOfTheirPoints) {
  const TPlotTrace sent{0, {0.0, 1.0, 2.0}, {0.0, 1.0, 2.0}};
  const TPlotTrace seen{1, {0.5, 1.5}, {5.0, 7.0}};
  const TWaveforms waves = PairWaveforms(sent, "A", seen, "B");
  EXPECT_EQ(waves.Scale, (std::vector<double>{0.0, 0.5, 1.0, 1.5, 2.0}));
  ASSERT_EQ(waves.Traces.size(), 2u);
  EXPECT_EQ(waves.Traces[0].Name, "A");
  EXPECT_EQ(waves.Traces[0].Values, (std::vector<double>{0.0, 0.5, 1.0, 1.5, 2.0}));
  EXPECT_EQ(waves.Traces[1].Values, (std::vector<double>{5.0, 5.0, 6.0, 7.0, 7.0}));
}

}  // namespace
}  // namespace busweave
