// The waveform window on made-up results: traces and legend, cursors and their readout, zoom,
// the exports, and how an error is shown.

#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <filesystem>

#include "ScriptedPrompts.h"
#include "TempFolder.h"
#include "gui/Prompts.h"
#include "simview/WaveformWindow.h"
#include "spice/Waveforms.h"

namespace busweave {
namespace {

using test::ReadBytes;
using test::TempFolder;

// Two microseconds: [1] Ramp rises 1 V per microsecond, [2] Spike is 0 but for one point.
TSimulationResult madeUpResult() {
  TSimulationResult result;
  result.Ok = true;
  result.Step = {1e-10, "shortest line delay 1 ns / 10"};
  result.Transient.ScaleName = "time";
  TTrace ramp{"[1] Ramp", {}};
  TTrace spike{"[2] Spike \xE4", {}};
  for (int i = 0; i <= 20000; ++i) {
    const double t = i * 1e-10;
    result.Transient.Scale.push_back(t);
    ramp.Values.push_back(t * 1e6);
    spike.Values.push_back(i == 12345 ? 5.0 : 0.0);
  }
  result.Transient.Traces = {ramp, spike};
  result.Ac.ScaleName = "frequency";
  result.Ac.Scale = {1, 10, 100, 1000};
  result.Ac.Traces = {{"[1] Ramp", {1, 1, 0.5, 0.1}}, {"[2] Spike \xE4", {0, 0, 0, 0}}};
  return result;
}

class WaveformWindow : public testing::Test {
 protected:
  WaveformWindow() : Window(nullptr, Prompts, QString::fromStdString(Folder.File("bus"))) {
    Window.resize(900, 700);
    Window.ShowResult(madeUpResult(), {"line T12 has no length; it is simulated as a direct connection"});
    Window.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&Window));
  }

  TWaveformPlot& Plot() { return *Window.TransientPlot(); }
  // The view point of a time on the plot's axis, in the middle of the plot's height.
  QPoint PointAt(double Seconds) { return Plot().ViewPoint(Seconds, 1.0); }

  TempFolder Folder;
  test::ScriptedPrompts<> Prompts;
  TWaveformWindow Window;
};

TEST_F(WaveformWindow, ShowsATracePerNodeInBothAnalyses) {
  ASSERT_EQ(Window.Tabs->count(), 2);
  EXPECT_EQ(Window.Tabs->tabText(0), "&Transient");
  EXPECT_EQ(Window.Tabs->tabText(1), "&AC");
  ASSERT_EQ(Plot().TraceCount(), 2);
  EXPECT_EQ(Plot().TraceName(0), "[1] Ramp");
  EXPECT_EQ(Plot().TraceName(1), QString::fromUtf8("[2] Spike \u00e4"));
  EXPECT_EQ(Plot().UnitName(), QString::fromUtf8("\u00b5s"));
  EXPECT_FALSE(Window.ErrorText->isVisible());
  EXPECT_TRUE(Window.Summary->text().contains(QString::fromUtf8("20001 points up to 2 \u00b5s, maximum step 100 ps")));
  EXPECT_TRUE(Window.Summary->text().contains("Note: line T12 has no length"));
  EXPECT_TRUE(Window.ExportCsvAction->isEnabled());

  // The whole run is in view, and the one-point spike survives the thinning for the screen.
  const auto [from, to] = Plot().VisibleRange();
  EXPECT_DOUBLE_EQ(from, 0.0);
  EXPECT_NEAR(to, 2e-6, 1e-15);
  const auto points = Plot().TracePoints(1);
  EXPECT_LT(points.size(), 5000);
  EXPECT_TRUE(std::any_of(points.begin(), points.end(), [](const QPointF& P) { return P.y() == 5.0; }));
}

TEST_F(WaveformWindow, LegendAndReadoutSwitchLinesOffAndOn) {
  const auto clickEntry = [this] {
    QTest::mouseClick(&Plot(), Qt::LeftButton, Qt::NoModifier, Plot().LegendEntry(1).center());
  };
  ASSERT_FALSE(Plot().LegendEntry(1).isEmpty());
  clickEntry();
  EXPECT_FALSE(Plot().TraceVisible(1));
  EXPECT_FALSE(Plot().LegendEntry(1).isEmpty());  // the entry stays, to switch the line on again
  EXPECT_EQ(Window.Readout->item(1, 0)->checkState(), Qt::Unchecked);

  Window.Readout->item(1, 0)->setCheckState(Qt::Checked);
  QCoreApplication::processEvents();
  EXPECT_TRUE(Plot().TraceVisible(1));
  clickEntry();
  clickEntry();
  EXPECT_TRUE(Plot().TraceVisible(1));
}

TEST_F(WaveformWindow, CursorsReadTimeAndVoltage) {
  QTest::mouseClick(&Plot(), Qt::LeftButton, Qt::NoModifier, PointAt(0.5e-6));
  QTest::mouseClick(&Plot(), Qt::LeftButton, Qt::ShiftModifier, PointAt(1.5e-6));
  ASSERT_TRUE(Plot().Cursor(0) && Plot().Cursor(1));
  // A pixel of this plot is about 3 ns.
  EXPECT_NEAR(*Plot().Cursor(0), 0.5e-6, 0.01e-6);
  EXPECT_NEAR(*Plot().Cursor(1), 1.5e-6, 0.01e-6);

  Plot().SetCursor(0, 0.25e-6);
  Plot().SetCursor(1, 1.75e-6);
  EXPECT_EQ(Window.Readout->horizontalHeaderItem(1)->text(), QString::fromUtf8("A at 0.2500 \u00b5s"));
  EXPECT_EQ(Window.Readout->horizontalHeaderItem(3)->text(), QString::fromUtf8("B - A: 1.5000 \u00b5s"));
  EXPECT_EQ(Window.Readout->item(0, 1)->text(), "0.2500 V");
  EXPECT_EQ(Window.Readout->item(0, 2)->text(), "1.7500 V");
  EXPECT_EQ(Window.Readout->item(0, 3)->text(), "1.5000 V");
  EXPECT_EQ(Window.Readout->item(1, 1)->text(), "0.0000 V");

  // A right click puts cursor B.
  QTest::mouseClick(&Plot(), Qt::RightButton, Qt::NoModifier, PointAt(1e-6));
  EXPECT_NEAR(*Plot().Cursor(1), 1e-6, 0.01e-6);
}

TEST_F(WaveformWindow, DragZoomsAndHomeShowsTheWholeRun) {
  QWidget* view = &Plot();
  const QPoint start = PointAt(0.4e-6);
  const QPoint end = PointAt(0.8e-6);
  QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, start);
  QMouseEvent move(QEvent::MouseMove, QPointF(end), view->mapToGlobal(QPointF(end)), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QApplication::sendEvent(view, &move);
  QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, end);
  const auto [from, to] = Plot().VisibleRange();
  EXPECT_NEAR(from, 0.4e-6, 0.01e-6);
  EXPECT_NEAR(to, 0.8e-6, 0.01e-6);
  EXPECT_FALSE(Plot().Cursor(0));  // a drag is no click

  // Zoomed in, every point of the range is drawn.
  Plot().ShowRange(1.2e-6, 1.3e-6);
  EXPECT_EQ(Plot().TracePoints(0).size(), 1003);

  QTest::keyClick(&Plot(), Qt::Key_Home);
  EXPECT_NEAR(Plot().VisibleRange().second, 2e-6, 1e-15);
}

TEST_F(WaveformWindow, ExportsThePlotAndTheDataOfThePageInFront) {
  Prompts.SaveAnswer = QString::fromStdString(Folder.File("picture"));
  Window.ExportPngAction->trigger();
  ASSERT_FALSE(Prompts.SaveRequests.empty());
  EXPECT_EQ(Prompts.SaveRequests.back().FileName, QString::fromStdString(Folder.File("bus-transient.png")));
  EXPECT_EQ(Prompts.SaveRequests.back().Filter, "PNG image (*.png)");
  QImage picture(QString::fromStdString(Folder.File("picture.png")));
  ASSERT_FALSE(picture.isNull());
  EXPECT_EQ(picture.size(), Plot().size() * Plot().devicePixelRatio());

  EXPECT_TRUE(Window.ExportSvg(QString::fromStdString(Folder.File("plot.svg"))));
  const std::string svg = ReadBytes(Folder.File("plot.svg"));
  EXPECT_NE(svg.find("<svg"), std::string::npos);
  EXPECT_NE(svg.find("[1] Ramp"), std::string::npos);

  Window.Tabs->setCurrentIndex(1);
  Prompts.SaveAnswer = QString::fromStdString(Folder.File("ac.csv"));
  Window.ExportCsvAction->trigger();
  ASSERT_FALSE(Prompts.SaveRequests.empty());
  EXPECT_EQ(Prompts.SaveRequests.back().FileName, QString::fromStdString(Folder.File("bus-ac.csv")));
  EXPECT_EQ(ReadBytes(Folder.File("ac.csv")), WaveformsCsv(madeUpResult().Ac));

  // A file that cannot be written is reported, and nothing is left behind.
  const QString nowhere = QString::fromStdString(Folder.File("missing/x.csv"));
  EXPECT_FALSE(Window.ExportCsv(nowhere));
  ASSERT_EQ(Prompts.Errors.size(), 1);
  EXPECT_TRUE(Prompts.Errors[0].contains("x.csv")) << Prompts.Errors[0].toStdString();
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Folder.Path()), std::filesystem::directory_iterator()),
            3);
}

TEST_F(WaveformWindow, ShowsTheReceiversThresholdsOnTheTransientPlotOnly) {
  const std::string transient = Plot().Svg("t").toStdString();
  EXPECT_NE(transient.find("dominant 0.9 V"), std::string::npos);
  EXPECT_NE(transient.find("recessive 0.5 V"), std::string::npos);
  const std::string ac = Window.AcPlot()->Svg("ac").toStdString();
  EXPECT_EQ(ac.find("dominant"), std::string::npos);
}

TEST_F(WaveformWindow, IsPlacedFullyOnTheScreen) {
  // Asked for more than the screen holds.
  const QRect available = Window.screen()->availableGeometry();
  EXPECT_TRUE(available.contains(Window.frameGeometry())) << Window.frameGeometry().width();

  // Over a document window in the screen's corner, it stays on the screen.
  QWidget document;
  document.setGeometry(available.right() - 200, available.bottom() - 150, 200, 150);
  document.show();
  TWaveformWindow over(&document, Prompts, "over");
  over.resize(700, 500);
  over.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&over));
  EXPECT_TRUE(available.contains(over.frameGeometry()));
  EXPECT_EQ(over.size(), QSize(700, 500));
}

TEST_F(WaveformWindow, ShowsNgspicesMessageWhenTheRunFails) {
  TSimulationResult failed = madeUpResult();
  failed.Ok = false;
  failed.Ac = {};
  failed.Error = "The transient analysis stopped at 1 us of 2 us.\nError: singular matrix";
  Window.ShowResult(failed, {});
  EXPECT_TRUE(Window.ErrorText->isVisible());
  EXPECT_TRUE(Window.ErrorText->toPlainText().contains("singular matrix"));
  EXPECT_EQ(Window.Tabs->count(), 1);  // what was computed stays to look at

  Window.ShowFailure("Error: Missing token in line 22:\nrzl2 2 0");
  EXPECT_TRUE(Window.ErrorText->toPlainText().contains("rzl2 2 0"));
  EXPECT_EQ(Window.Tabs->count(), 0);
  EXPECT_FALSE(Window.Tabs->isVisible());  // no empty plot area below the message
  EXPECT_FALSE(Window.ExportPngAction->isEnabled());
  EXPECT_EQ(Window.Readout->rowCount(), 0);

  Window.ShowResult(madeUpResult(), {});
  EXPECT_FALSE(Window.ErrorText->isVisible());
  EXPECT_TRUE(Window.Tabs->isVisible());
  EXPECT_TRUE(Window.ExportPngAction->isEnabled());
}

}  // namespace
}  // namespace busweave
