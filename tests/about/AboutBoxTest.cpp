// The about box: caption, the two views, the credits view run on a test clock, the copy button,
// the modal entry point, and the version strings the build writes into the program.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "about/AboutBox.h"
#include "about/Gauge.h"
#include "about/SpinningCube.h"
#include "about/VersionInfo.h"

namespace busweave {
namespace {

// A clock the test moves by hand.
struct TestClock {
  std::uint32_t Now = 0;
  TTickClock Tick() {
    return [this] { return Now; };
  }
};

TEST(AboutBox, TheCaptionIsTheApplicationTitleAndAbout) {
  const QString before = QApplication::applicationName();
  QApplication::setApplicationName("Busweave-V2");
  TAboutBox box;
  QApplication::setApplicationName(before);
  EXPECT_EQ(box.windowTitle(), "Busweave-V2 - About");
}

TEST(AboutBox, StartsWithNameVersionAndTheSpinningCube) {
  TAboutBox box;
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
  EXPECT_EQ(box.size(), QSize(416, 413));
  EXPECT_FALSE(box.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(box.OKButton->isVisible());
  EXPECT_TRUE(box.LabelAppVersion->isVisible());
  EXPECT_EQ(box.LabelAppName->text(), "Busweave");
  EXPECT_EQ(box.LabelAppVersion->text(), "V2");
  ASSERT_TRUE(box.CubeSpin1->isVisible());
  EXPECT_EQ(box.CubeSpin1->size(), QSize(235, 225));
  EXPECT_EQ(box.CubeSpin1->SpinInc(), 2);
  EXPECT_FALSE(box.CubeSpin1->YSpinOn());
  ASSERT_NE(box.CubeSpin1->Timer(), nullptr);
  const int x = box.CubeSpin1->XSpin();
  EXPECT_TRUE(QTest::qWaitFor([&] { return box.CubeSpin1->XSpin() != x; }, 2000));
  EXPECT_EQ(box.CubeSpin1->YSpin(), 354);
  for (QWidget* credits :
       {box.ImagePortrait, static_cast<QWidget*>(box.MemoContact), static_cast<QWidget*>(box.GaugeWait),
        static_cast<QWidget*>(box.BitBtnCToClip), static_cast<QWidget*>(box.LabelBuild)})
    EXPECT_FALSE(credits->isVisible());
  // The big labels are not cut off, whatever font stands in for Arial.
  EXPECT_LE(box.LabelAppName->fontMetrics().horizontalAdvance("Busweave"), box.LabelAppName->width());
  EXPECT_LE(box.LabelAppVersion->fontMetrics().horizontalAdvance("V2"), box.LabelAppVersion->width());
}

TEST(AboutBox, OnlyTheEndOfTheCreditsClosesIt) {
  TestClock clock;
  TAboutBox box;
  box.Clock = clock.Tick();
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
  QTest::keyClick(&box, Qt::Key_Escape);
  box.close();
  EXPECT_TRUE(box.isVisible());
  QTest::mouseClick(box.OKButton, Qt::LeftButton);
  QTest::keyClick(&box, Qt::Key_Escape);
  box.close();
  EXPECT_TRUE(box.isVisible());
  EXPECT_TRUE(box.CreditsRunning());
}

TEST(AboutBox, OKShowsTheCreditsForTenSecondsWhileTheGaugeFills) {
  TestClock clock;
  clock.Now = 0xFFFFF000u;  // the tick counter wraps during the credits
  TAboutBox box;
  box.Clock = clock.Tick();
  box.VersionInfo = [](int Index) { return Index == 2 ? QString("2.6.0.8") : QString("wrong index"); };
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));

  QTest::mouseClick(box.OKButton, Qt::LeftButton);
  EXPECT_EQ(box.LabelBuild->text(), "V2.6.0.8 retail");
  EXPECT_GE(box.LabelBuild->width(), box.LabelBuild->fontMetrics().horizontalAdvance("V2.6.0.8 retail"));
  EXPECT_FALSE(box.OKButton->isVisible());
  EXPECT_FALSE(box.CubeSpin1->isVisible());
  EXPECT_FALSE(box.LabelAppVersion->isVisible());
  EXPECT_TRUE(box.LabelAppName->isVisible());
  for (QWidget* credits :
       {box.ImagePortrait, static_cast<QWidget*>(box.MemoContact), static_cast<QWidget*>(box.GaugeWait),
        static_cast<QWidget*>(box.BitBtnCToClip), static_cast<QWidget*>(box.LabelBuild)})
    EXPECT_TRUE(credits->isVisible());
  EXPECT_EQ(box.GaugeWait->MaxValue(), 10000);
  EXPECT_EQ(box.GaugeWait->Progress(), 0);
  EXPECT_EQ(box.GaugeWait->ForeColor(), QColor(0, 255, 254));

  clock.Now += 5000;
  EXPECT_TRUE(QTest::qWaitFor([&] { return box.GaugeWait->Progress() == 5000; }, 2000));
  EXPECT_EQ(box.GaugeWait->ForeColor(), QColor(250, 5, 8));
  EXPECT_EQ(box.GaugeWait->Percentage(), 50);
  QTest::qWait(50);
  EXPECT_TRUE(box.isVisible());

  clock.Now += 4999;
  QTest::qWait(50);
  EXPECT_TRUE(box.isVisible());
  clock.Now += 1;
  EXPECT_TRUE(QTest::qWaitFor([&] { return !box.isVisible(); }, 2000));
  EXPECT_EQ(box.result(), QDialog::Accepted);
  EXPECT_EQ(box.GaugeWait->Progress(), 10000);
  EXPECT_FALSE(box.ImagePortrait->isVisible());
  EXPECT_FALSE(box.CreditsRunning());
}

TEST(AboutBox, CreditsColourStepsEveryTwentyMilliseconds) {
  EXPECT_EQ(CreditsColour(0), QColor(0, 255, 254));
  EXPECT_EQ(CreditsColour(19), QColor(0, 255, 254));
  EXPECT_EQ(CreditsColour(20), QColor(1, 254, 252));
  EXPECT_EQ(CreditsColour(126 * 20), QColor(126, 129, 2));
  EXPECT_EQ(CreditsColour(127 * 20), QColor(127, 128, 254));          // blue starts over
  EXPECT_EQ(CreditsColour(255 * 20), QColor(0, 255, 2 * (127 - 1)));  // red and green start over
}

TEST(AboutBox, CopyToClipboardWorksWhileTheCreditsRun) {
  TestClock clock;
  TAboutBox box;
  box.Clock = clock.Tick();
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
  QApplication::clipboard()->setText("something else");
  QTest::mouseClick(box.OKButton, Qt::LeftButton);
  clock.Now = 3000;
  ASSERT_TRUE(QTest::qWaitFor([&] { return box.GaugeWait->Progress() == 3000; }, 2000));

  QTest::mouseClick(box.BitBtnCToClip, Qt::LeftButton);
  EXPECT_EQ(QApplication::clipboard()->text(), ContactText());
  EXPECT_EQ(box.MemoContact->textCursor().selectedText().size(), ContactText().size());
  EXPECT_TRUE(box.MemoContact->isReadOnly());
  EXPECT_TRUE(box.CreditsRunning());
  EXPECT_TRUE(box.isVisible());
}

TEST(AboutBox, ShowAboutBoxRunsItModallyAndDiscardsIt) {
  QPointer<TAboutBox> shown;
  bool modal = false;
  std::uint32_t now = 0;
  QObject timers;  // ends the timers below with the test
  QTimer::singleShot(0, &timers, [&] {
    shown = qobject_cast<TAboutBox*>(QApplication::activeModalWidget());
    if (!shown) return;
    modal = shown->isModal();
    // Every reading of this clock moves it on by a second.
    shown->Clock = [&now] { return now += 1000; };
    QTest::mouseClick(shown->OKButton, Qt::LeftButton);
  });
  // Should the box not close, a late timer ends the credits so the test cannot hang.
  QTimer::singleShot(5000, &timers, [&] { now += 20000; });
  ShowAboutBox(nullptr);
  EXPECT_TRUE(modal);
  EXPECT_TRUE(shown.isNull());  // discarded
}

TEST(AboutVersion, TheProgramCarriesTheProjectVersionAndBuildNumber) {
  EXPECT_EQ(VersionInfoString(2), QString(BUSWEAVE_PROJECT_VERSION "." BUSWEAVE_BUILD_NUMBER_TEXT));
  EXPECT_EQ(VersionInfoString(8), QString(BUSWEAVE_PROJECT_VERSION));
  EXPECT_EQ(VersionInfoString(7), "Busweave");
  EXPECT_EQ(VersionKey(2), "FileVersion");
  EXPECT_EQ(VersionKey(9), "Comments");
  for (int index = 0; index <= 9; ++index) {
    if (index == 5) continue;
    EXPECT_NE(VersionInfoString(index), "no entry") << index;
  }
  EXPECT_EQ(VersionInfoString(5), "no entry");
}

TEST(AboutVersion, MissingKeysAndMissingTablesAreTold) {
  const TVersionEntry table[] = {{"FileVersion", "2.6.0.8"}, {"Comments", "a test"}};
  EXPECT_EQ(VersionInfoString(table, 2), "2.6.0.8");
  EXPECT_EQ(VersionInfoString(table, 9), "a test");
  EXPECT_EQ(VersionInfoString(table, 0), "no entry");
  EXPECT_EQ(VersionInfoString(table, 10), "no entry");
  EXPECT_EQ(VersionInfoString(table, -1), "no entry");
  EXPECT_EQ(VersionInfoString(std::span<const TVersionEntry>(), 2), "");
}

}  // namespace
}  // namespace busweave
