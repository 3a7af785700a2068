#include "about/Gauge.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>

namespace busweave {
namespace {

// The edges of a rectangle as the drawing code reasons about them: right and bottom exclusive.
struct TEdges {
  int L, T, R, B;
};

TEdges edgesOf(const QRect& Rect) {
  return {Rect.left(), Rect.top(), Rect.left() + Rect.width(), Rect.top() + Rect.height()};
}

void fillEdges(QPainter& Painter, int Left, int Top, int Right, int Bottom, const QColor& Colour) {
  if (Right > Left && Bottom > Top) Painter.fillRect(QRect(Left, Top, Right - Left, Bottom - Top), Colour);
}

// The box of an ellipse whose pixels run from (Left, Top) to (Right - 1, Bottom - 1): QPainter
// strokes one pixel beyond a rectangle's width and height.
QRect ellipseBox(int Left, int Top, int Right, int Bottom) { return {Left, Top, Right - Left - 1, Bottom - Top - 1}; }

QImage blackImage(QSize Size) {
  QImage image(Size, QImage::Format_RGB32);
  image.fill(Qt::black);
  return image;
}

// Every pixel of Source is combined into Target by exclusive or.
void xorInto(QImage& Target, const QImage& Source) {
  QPainter painter(&Target);
  painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  painter.drawImage(0, 0, Source);
}

std::string boundsMessage(std::int64_t Low, std::int64_t High) {
  return "Value must be between " + std::to_string(Low) + " and " + std::to_string(High);
}

}  // namespace

int PercentOfRange(std::int64_t Value, std::int64_t Range) {
  if (Range == 0) return 0;
  return static_cast<int>(std::trunc(static_cast<long double>(Value) * 100 / static_cast<long double>(Range)));
}

int ScaleByPercent(int Percent, int Size) {
  // On x86-64 long double carries a 64-bit significand and each product below is rounded to it;
  // 0.01 held that way lies just below 0.01, which is why 5 % of 100 comes out as 4.
  const long double hundredth = 0.01L;
  const long double fraction = static_cast<long double>(Percent) * hundredth;
  return static_cast<int>(std::trunc(fraction * static_cast<long double>(Size)));
}

QPoint NeedleTip(int Percent, int MX, int Bottom) {
  const long double angle = static_cast<long double>(Percent) / 100 * std::numbers::pi_v<long double>;
  // lrint rounds to nearest with ties to even.
  return {static_cast<int>(std::lrint((1 - std::cos(angle)) * MX)),
          static_cast<int>(std::lrint((1 - std::sin(angle)) * Bottom))};
}

QString PercentText(int Percent) { return QString::number(Percent) + '%'; }

QPoint PercentTextOrigin(const QRect& PaintRect, QSize TextSize) {
  const TEdges e = edgesOf(PaintRect);
  return {((e.R - e.L + 1) - TextSize.width()) / 2, ((e.B - e.T + 1) - TextSize.height()) / 2};
}

TGauge::TGauge(QWidget* Parent) : QWidget(Parent), FColor(palette().color(QPalette::Base)) {
  // The gauge paints every pixel of its rectangle itself.
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(100, 100);
}

int TGauge::Percentage() const {
  return PercentOfRange(static_cast<std::int64_t>(FCurValue) - FMinValue,
                        static_cast<std::int64_t>(FMaxValue) - FMinValue);
}

void TGauge::SetMinValue(int Value) {
  if (Value == FMinValue) return;
  if (Value > FMaxValue) throw EInvalidOperation(boundsMessage(-INT_MAX, static_cast<std::int64_t>(FMaxValue) - 1));
  FMinValue = Value;
  if (FCurValue < Value) FCurValue = Value;
  repaint();
}

void TGauge::SetMaxValue(int Value) {
  if (Value == FMaxValue) return;
  if (Value < FMinValue) throw EInvalidOperation(boundsMessage(static_cast<std::int64_t>(FMinValue) + 1, INT_MAX));
  FMaxValue = Value;
  if (FCurValue > Value) FCurValue = Value;
  repaint();
}

void TGauge::SetProgress(int Value) {
  const int clamped = std::clamp(Value, FMinValue, FMaxValue);
  if (clamped == FCurValue) return;
  const int before = Percentage();
  FCurValue = clamped;
  if (Percentage() != before) repaint();
}

void TGauge::SetKind(TGaugeKind Value) {
  if (Value == FKind) return;
  FKind = Value;
  repaint();
}

void TGauge::SetShowText(bool Value) {
  if (Value == FShowText) return;
  FShowText = Value;
  repaint();
}

void TGauge::SetBorderStyle(TGaugeBorderStyle Value) {
  if (Value == FBorderStyle) return;
  FBorderStyle = Value;
  repaint();
}

void TGauge::SetForeColor(const QColor& Value) {
  if (Value == FForeColor) return;
  FForeColor = Value;
  repaint();
}

void TGauge::SetBackColor(const QColor& Value) {
  if (Value == FBackColor) return;
  FBackColor = Value;
  repaint();
}

void TGauge::SetColor(const QColor& Value) {
  if (Value == FColor) return;
  FColor = Value;
  repaint();
}

QImage TGauge::RenderImage() const {
  QImage image = blackImage(size());
  if (image.isNull()) return image;
  QRect paintRect = rect();
  // Pixels outside PaintRect stay black: that is the single border.
  if (FBorderStyle == bsSingle) paintRect.adjust(1, 1, -1, -1);

  QImage overlay = blackImage(size());
  switch (FKind) {
    case gkText:
      drawPlainFace(overlay, paintRect);
      break;
    case gkHorizontalBar:
    case gkVerticalBar:
      drawBar(overlay, paintRect);
      break;
    case gkPie:
      drawPie(overlay, paintRect);
      break;
    case gkNeedle:
      drawNeedle(overlay, paintRect);
      break;
  }
  xorInto(image, overlay);
  if (FShowText) overlayPercentText(image, paintRect);
  return image;
}

void TGauge::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, RenderImage());
}

void TGauge::drawPlainFace(QImage& Overlay, const QRect& PaintRect) const {
  QPainter painter(&Overlay);
  painter.fillRect(PaintRect, FBackColor);
}

void TGauge::drawBar(QImage& Overlay, const QRect& PaintRect) const {
  const TEdges e = edgesOf(PaintRect);
  const int w = e.R - e.L + 1;
  const int h = e.B - e.T + 1;
  QPainter painter(&Overlay);
  painter.fillRect(PaintRect, FBackColor);
  if (FKind == gkHorizontalBar) {
    const int filled = std::min(ScaleByPercent(Percentage(), w), w);
    // The bar's right edge is the filled length itself, not the left edge plus it.
    if (filled > 0) fillEdges(painter, e.L, e.T, filled, h, FForeColor);
  } else {
    int filled = ScaleByPercent(Percentage(), h);
    if (filled >= h) filled = h - 1;
    fillEdges(painter, e.L, h - filled, w, h, FForeColor);
  }
}

void TGauge::drawPie(QImage& Overlay, const QRect& PaintRect) const {
  const TEdges e = edgesOf(PaintRect);
  const int grow = FBorderStyle == bsSingle ? 1 : 0;
  const int w = e.R - e.L + grow;
  const int h = e.B - e.T + grow;
  QPainter painter(&Overlay);
  painter.fillRect(PaintRect, FColor);
  painter.setPen(QPen(FForeColor, 1));
  painter.setBrush(FBackColor);
  const QRect box = ellipseBox(e.L, e.T, w, h);
  painter.drawEllipse(box);
  const int percent = Percentage();
  if (percent <= 0) return;
  painter.setBrush(FForeColor);
  if (percent >= 100) {
    painter.drawEllipse(box);
    return;
  }
  // From the top clockwise; QPainter counts sixteenths of a degree, counter-clockwise from 3 o'clock.
  const int sweep = static_cast<int>(std::lrint(percent * 3.6 * 16));
  painter.drawPie(box, 90 * 16 - sweep, sweep);
}

void TGauge::drawNeedle(QImage& Overlay, const QRect& PaintRect) const {
  const TEdges e = edgesOf(PaintRect);
  const int grow = FBorderStyle == bsSingle ? 1 : 0;
  const int x = e.L;
  const int y = e.T;
  const int w = e.R - e.L + grow;
  const int h = e.B - e.T + grow;
  QPainter painter(&Overlay);
  painter.fillRect(PaintRect, FColor);
  painter.setPen(QPen(FForeColor, 1));
  painter.setBrush(FBackColor);
  // The dial face: the upper half of an ellipse twice as high as the gauge, resting on its bottom.
  painter.drawPie(ellipseBox(x, y, w, 2 * h - 1), 0, 180 * 16);
  painter.drawLine(x, e.B, x + w - 1, e.B);
  const int percent = Percentage();
  if (percent <= 0) return;
  const int hubX = width() / 2;
  painter.drawLine(QPoint(hubX, e.B - 1), NeedleTip(percent, hubX, e.B - 1));
}

void TGauge::overlayPercentText(QImage& Image, const QRect& PaintRect) const {
  QImage text = blackImage(Image.size());
  {
    QPainter painter(&text);
    // Exclusive or needs pure white text: smoothed edges would come out in odd colours.
    QFont textFont = font();
    textFont.setStyleStrategy(QFont::NoAntialias);
    painter.setFont(textFont);
    painter.setPen(Qt::white);
    const QString s = PercentText(Percentage());
    const QFontMetrics metrics(textFont);
    const QPoint origin = PercentTextOrigin(PaintRect, QSize(metrics.horizontalAdvance(s), metrics.height()));
    painter.setClipRect(PaintRect);
    painter.drawText(origin.x(), origin.y() + metrics.ascent(), s);
  }
  xorInto(Image, text);
}

}  // namespace busweave
