// The gauge: its range rules, when it repaints, its arithmetic and the pixels of its pictures.

#include <gtest/gtest.h>

#include <QEvent>
#include <QTest>
#include <climits>
#include <limits>

#include "about/Gauge.h"

namespace busweave {
namespace {

class PaintCounter : public QObject {
 public:
  int Paints = 0;
  bool eventFilter(QObject*, QEvent* Event) override {
    if (Event->type() == QEvent::Paint) ++Paints;
    return false;
  }
};

const QColor kRed(255, 0, 0);
const QColor kNavy(0, 0, 128);
const QColor kGrey(160, 160, 160);

QColor at(const QImage& Image, int X, int Y) { return Image.pixelColor(X, Y); }

// A gauge of the given size and kind without text: red on white, grey around pies and dials.
std::unique_ptr<TGauge> pictureGauge(int Size, TGaugeKind Kind, TGaugeBorderStyle Border) {
  auto gauge = std::make_unique<TGauge>();
  gauge->resize(Size, Size);
  gauge->SetKind(Kind);
  gauge->SetBorderStyle(Border);
  gauge->SetShowText(false);
  gauge->SetForeColor(Kind == gkPie ? kNavy : kRed);
  gauge->SetBackColor(Qt::white);
  gauge->SetColor(kGrey);
  return gauge;
}

TEST(GaugeArithmetic, PercentagesAndBarLengthsTruncate) {
  EXPECT_EQ(PercentOfRange(0, 0), 0);
  EXPECT_EQ(PercentOfRange(1, 3), 33);
  EXPECT_EQ(PercentOfRange(199, 10000), 1);
  EXPECT_EQ(PercentOfRange(200, 10000), 2);
  EXPECT_EQ(PercentOfRange(10000, 10000), 100);

  EXPECT_EQ(ScaleByPercent(50, 100), 50);
  EXPECT_EQ(ScaleByPercent(100, 100), 100);
  EXPECT_EQ(ScaleByPercent(0, 100), 0);
  if (std::numeric_limits<long double>::digits != 64) GTEST_SKIP() << "needs a 64-bit significand";
  // 0.01 with a 64-bit significand lies just below 0.01, so 5 % of 100 falls just short of 5.
  EXPECT_EQ(ScaleByPercent(5, 100), 4);
}

TEST(GaugeArithmetic, TheNeedleSweepsFromLeftOverTheTopToTheRight) {
  EXPECT_EQ(NeedleTip(0, 50, 99), QPoint(0, 99));
  EXPECT_EQ(NeedleTip(25, 50, 99), QPoint(15, 29));
  EXPECT_EQ(NeedleTip(50, 50, 99), QPoint(50, 0));
  EXPECT_EQ(NeedleTip(100, 50, 99), QPoint(100, 99));
}

TEST(Gauge, ProgressStaysWithinTheBoundsAndFollowsThem) {
  TGauge gauge;
  gauge.SetMaxValue(20);
  gauge.SetMinValue(10);
  EXPECT_EQ(gauge.Progress(), 10);  // raised with the minimum
  gauge.SetProgress(5);
  EXPECT_EQ(gauge.Progress(), 10);
  gauge.SetProgress(25);
  EXPECT_EQ(gauge.Progress(), 20);
  gauge.SetMaxValue(17);
  EXPECT_EQ(gauge.Progress(), 17);
  gauge.SetProgress(11);
  gauge.SetMinValue(14);
  EXPECT_EQ(gauge.Progress(), 14);
  EXPECT_EQ(gauge.Percentage(), 0);
  gauge.SetMinValue(17);  // an empty range shows 0 %
  EXPECT_EQ(gauge.Percentage(), 0);
}

TEST(Gauge, BoundsAcrossEachOtherAreRefusedAndNothingChanges) {
  TGauge gauge;
  gauge.SetMaxValue(40);
  gauge.SetProgress(30);
  try {
    gauge.SetMinValue(50);
    FAIL() << "a minimum above the maximum was accepted";
  } catch (const EInvalidOperation& error) {
    EXPECT_STREQ(error.what(), "Value must be between -2147483647 and 39");
  }
  EXPECT_EQ(gauge.MinValue(), 0);
  EXPECT_EQ(gauge.Progress(), 30);

  gauge.SetMinValue(10);
  try {
    gauge.SetMaxValue(5);
    FAIL() << "a maximum below the minimum was accepted";
  } catch (const EInvalidOperation& error) {
    EXPECT_STREQ(error.what(), "Value must be between 11 and 2147483647");
  }
  EXPECT_EQ(gauge.MaxValue(), 40);
  EXPECT_EQ(gauge.Progress(), 30);
}

TEST(Gauge, TheWholeIntegerScaleIsARangeLikeAnyOther) {
  TGauge gauge;
  gauge.SetMaxValue(INT_MAX);
  gauge.SetMinValue(-INT_MAX);
  gauge.SetProgress(0);
  EXPECT_EQ(gauge.Percentage(), 50);
  gauge.SetProgress(INT_MAX);
  EXPECT_EQ(gauge.Percentage(), 100);
}

TEST(Gauge, RepaintsAtOnceButOnlyWhenThePictureChanges) {
  TGauge gauge;
  gauge.SetMaxValue(10000);
  gauge.SetProgress(100);
  gauge.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&gauge));
  PaintCounter counter;
  gauge.installEventFilter(&counter);

  gauge.SetProgress(199);  // still 1 %
  EXPECT_EQ(counter.Paints, 0);
  EXPECT_EQ(gauge.Progress(), 199);
  gauge.SetProgress(200);  // 2 %: painted before the call returns
  EXPECT_EQ(counter.Paints, 1);

  gauge.SetForeColor(Qt::black);  // unchanged
  gauge.SetKind(gkHorizontalBar);
  EXPECT_EQ(counter.Paints, 1);
  gauge.SetForeColor(kRed);
  gauge.SetKind(gkPie);
  EXPECT_EQ(counter.Paints, 3);
}

TEST(GaugePicture, AHalfBarInA101PixelGaugeFillsColumnsOneTo49) {
  auto gauge = pictureGauge(101, gkHorizontalBar, bsSingle);
  gauge->SetProgress(50);
  const QImage image = gauge->RenderImage();
  EXPECT_EQ(at(image, 0, 50), QColor(Qt::black));  // the border
  EXPECT_EQ(at(image, 100, 50), QColor(Qt::black));
  EXPECT_EQ(at(image, 50, 0), QColor(Qt::black));
  for (const int y : {1, 50, 99}) {
    EXPECT_EQ(at(image, 1, y), kRed) << y;
    EXPECT_EQ(at(image, 49, y), kRed) << y;
    EXPECT_EQ(at(image, 50, y), QColor(Qt::white)) << y;
    EXPECT_EQ(at(image, 99, y), QColor(Qt::white)) << y;
  }

  gauge->SetKind(gkVerticalBar);
  const QImage vertical = gauge->RenderImage();
  EXPECT_EQ(at(vertical, 50, 49), QColor(Qt::white));  // it grows upward from the bottom
  EXPECT_EQ(at(vertical, 50, 50), kRed);
  EXPECT_EQ(at(vertical, 50, 99), kRed);
  EXPECT_EQ(at(vertical, 50, 100), QColor(Qt::black));
}

TEST(GaugePicture, APieFillsClockwiseFromTheTop) {
  auto gauge = pictureGauge(41, gkPie, bsNone);
  const QImage empty = gauge->RenderImage();
  EXPECT_EQ(at(empty, 0, 0), kGrey);
  EXPECT_EQ(at(empty, 20, 20), QColor(Qt::white));
  EXPECT_EQ(at(empty, 20, 4), QColor(Qt::white));
  EXPECT_EQ(at(empty, 20, 0), kNavy);  // the outline

  gauge->SetProgress(25);
  const QImage quarter = gauge->RenderImage();
  EXPECT_EQ(at(quarter, 28, 10), kNavy);
  EXPECT_EQ(at(quarter, 28, 30), QColor(Qt::white));
  EXPECT_EQ(at(quarter, 12, 10), QColor(Qt::white));

  gauge->SetProgress(100);
  const QImage full = gauge->RenderImage();
  for (const QPoint p : {QPoint(20, 20), QPoint(20, 4), QPoint(4, 20), QPoint(36, 20), QPoint(20, 36)})
    EXPECT_EQ(at(full, p.x(), p.y()), kNavy) << p.x() << "," << p.y();
  EXPECT_EQ(at(full, 0, 0), kGrey);
  EXPECT_EQ(at(full, 40, 40), kGrey);
}

TEST(GaugePicture, TheNeedleStandsOnAHalfDial) {
  auto gauge = pictureGauge(101, gkNeedle, bsSingle);
  const QImage zero = gauge->RenderImage();
  EXPECT_EQ(at(zero, 3, 5), kGrey);                // outside the dial
  EXPECT_EQ(at(zero, 50, 60), QColor(Qt::white));  // the dial, without a needle at 0 %

  gauge->SetProgress(50);
  const QImage upright = gauge->RenderImage();
  EXPECT_EQ(at(upright, 50, 60), kRed);
  EXPECT_EQ(at(upright, 50, 20), kRed);
  EXPECT_EQ(at(upright, 60, 60), QColor(Qt::white));

  gauge->SetProgress(100);
  const QImage right = gauge->RenderImage();
  EXPECT_EQ(at(right, 50, 60), QColor(Qt::white));
  EXPECT_EQ(at(right, 80, 99), kRed);
}

TEST(GaugePicture, ThePercentageIsWrittenInTheInverseOfWhatLiesBeneath) {
  EXPECT_EQ(PercentText(42), "42%");
  EXPECT_EQ(PercentTextOrigin(QRect(1, 1, 99, 99), QSize(20, 10)), QPoint(40, 45));
  EXPECT_EQ(PercentTextOrigin(QRect(0, 0, 41, 41), QSize(60, 10)), QPoint(-9, 16));

  auto gauge = pictureGauge(101, gkText, bsSingle);
  gauge->SetShowText(true);
  gauge->SetProgress(42);
  const QImage onWhite = gauge->RenderImage();
  int black = 0;
  for (int y = 1; y < 100; ++y)
    for (int x = 1; x < 100; ++x) {
      const QColor c = at(onWhite, x, y);
      ASSERT_TRUE(c == QColor(Qt::white) || c == QColor(Qt::black)) << x << "," << y;
      if (c == QColor(Qt::black)) {
        ++black;
        EXPECT_GT(x, 25);  // near the middle
        EXPECT_LT(x, 75);
      }
    }
  EXPECT_GT(black, 10);

  // Over a full black bar the same text comes out white.
  gauge->SetKind(gkHorizontalBar);
  gauge->SetForeColor(Qt::black);
  gauge->SetProgress(100);
  const QImage onBlack = gauge->RenderImage();
  int white = 0;
  for (int y = 1; y < 99; ++y)
    for (int x = 1; x < 99; ++x) white += at(onBlack, x, y) == QColor(Qt::white) ? 1 : 0;
  EXPECT_GT(white, 10);
}

}  // namespace
}  // namespace busweave
