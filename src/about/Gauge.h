#pragma once

// TGauge: a progress display that shows Progress within MinValue..MaxValue as a whole
// percentage, as text, a horizontal or vertical bar, a pie or a needle dial, optionally with the
// percentage written over it in the inverse colour. The picture is composed off-screen and
// copied in one piece, so the gauge never flickers; Progress changes that leave the whole
// percentage as it was do not repaint at all, which keeps fast-moving values cheap.
//
// The arithmetic and the composition of the picture are free functions and RenderImage, so tests
// and other callers get the pixels without a window.

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace busweave {

enum TGaugeKind : std::uint8_t { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };

enum TGaugeBorderStyle : std::uint8_t { bsNone, bsSingle };

// A bound of the gauge was set across the other one; the gauge keeps its old bounds.
class EInvalidOperation : public std::logic_error {
 public:
  explicit EInvalidOperation(const std::string& Message) : std::logic_error(Message) {}
};

// trunc(Value * 100 / Range), 0 for an empty range. Takes 64-bit operands so that a range
// spanning the whole 32-bit integer scale cannot overflow.
int PercentOfRange(std::int64_t Value, std::int64_t Range);
// trunc((Percent * 0.01) * Size) with every product rounded to a 64-bit significand, the way
// the bars have always been measured: 5 % of 100 gives 4, 50 % gives 50.
int ScaleByPercent(int Percent, int Size);
// The needle's tip for a dial whose hub is at (MX, Bottom): left at 0 %, straight up at 50 %,
// right at 100 %.
QPoint NeedleTip(int Percent, int MX, int Bottom);
// The percentage text, e.g. "42%".
QString PercentText(int Percent);
// The text's top-left corner: centred by the size of PaintRect (its offset is not added).
QPoint PercentTextOrigin(const QRect& PaintRect, QSize TextSize);

class TGauge : public QWidget {
  Q_OBJECT

 public:
  explicit TGauge(QWidget* Parent = nullptr);

  int MinValue() const { return FMinValue; }
  int MaxValue() const { return FMaxValue; }
  int Progress() const { return FCurValue; }
  TGaugeKind Kind() const { return FKind; }
  bool ShowText() const { return FShowText; }
  TGaugeBorderStyle BorderStyle() const { return FBorderStyle; }
  QColor ForeColor() const { return FForeColor; }
  QColor BackColor() const { return FBackColor; }
  // The colour around the pie and the dial.
  QColor Color() const { return FColor; }
  int Percentage() const;

  // Throws EInvalidOperation when the new bound lies beyond the other one.
  void SetMinValue(int Value);
  void SetMaxValue(int Value);
  // Clamped into MinValue..MaxValue.
  void SetProgress(int Value);
  void SetKind(TGaugeKind Value);
  void SetShowText(bool Value);
  void SetBorderStyle(TGaugeBorderStyle Value);
  void SetForeColor(const QColor& Value);
  void SetBackColor(const QColor& Value);
  void SetColor(const QColor& Value);

  // The picture the gauge shows, composed at its current size.
  QImage RenderImage() const;

 protected:
  void paintEvent(QPaintEvent* Event) override;

 private:
  // The picture of the kind, drawn into Overlay within PaintRect.
  void drawPlainFace(QImage& Overlay, const QRect& PaintRect) const;
  void drawBar(QImage& Overlay, const QRect& PaintRect) const;
  void drawPie(QImage& Overlay, const QRect& PaintRect) const;
  void drawNeedle(QImage& Overlay, const QRect& PaintRect) const;
  void overlayPercentText(QImage& Image, const QRect& PaintRect) const;

  int FMinValue = 0;
  int FMaxValue = 100;
  int FCurValue = 0;
  TGaugeKind FKind = gkHorizontalBar;
  bool FShowText = true;
  TGaugeBorderStyle FBorderStyle = bsSingle;
  QColor FForeColor = Qt::black;
  QColor FBackColor = Qt::white;
  QColor FColor;
};

}  // namespace busweave
