#include "picture/QPainterCanvas.h"

#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>
#include <QPolygonF>
#include <cmath>
#include <numbers>

#include "model/NameText.h"
#include "picture/QtFonts.h"

namespace busweave {
namespace {

QColor toQColor(TColor C) { return QColor(C.R, C.G, C.B); }

}  // namespace

TQPainterCanvas::TQPainterCanvas(QPainter& Painter) : FPainter(Painter) {}

int TQPainterCanvas::PixelsPerInch() const {
  const QPaintDevice* device = FPainter.device();
  return device ? device->logicalDpiY() : 96;
}

double TQPainterCanvas::DeviceScale() const { return std::sqrt(std::fabs(FPainter.worldTransform().determinant())); }

void TQPainterCanvas::applyPen(bool WithBrush) {
  if (FPen.Style == TPenStyle::psClear) {
    FPainter.setPen(Qt::NoPen);
  } else {
    QPen pen(toQColor(FPen.Color));
    const double width = FPen.Width * std::fabs(FMapping.ScaleX());
    pen.setWidthF(width <= 1.0 ? 0.0 : width);  // 0: the thinnest line the device draws
    pen.setStyle(FPen.Style == TPenStyle::psDot ? Qt::DotLine : Qt::SolidLine);
    FPainter.setPen(pen);
  }
  if (WithBrush && FBrush.Style == TBrushStyle::bsSolid)
    FPainter.setBrush(toQColor(FBrush.Color));
  else
    FPainter.setBrush(Qt::NoBrush);
}

namespace {

QPolygonF devicePolygon(const TMapping& Mapping, const std::vector<TPoint>& Points) {
  QPolygonF polygon;
  polygon.reserve(static_cast<qsizetype>(Points.size()));
  for (const TPoint& p : Points) polygon << QPointF(Mapping.DeviceX(p.X), Mapping.DeviceY(p.Y));
  return polygon;
}

QRectF deviceRect(const TMapping& Mapping, TPoint A, TPoint B) {
  return QRectF(QPointF(Mapping.DeviceX(A.X), Mapping.DeviceY(A.Y)),
                QPointF(Mapping.DeviceX(B.X), Mapping.DeviceY(B.Y)))
      .normalized();
}

}  // namespace

void TQPainterCanvas::Polyline(const std::vector<TPoint>& Points) {
  applyPen(false);
  FPainter.drawPolyline(devicePolygon(FMapping, Points));
}

void TQPainterCanvas::Ellipse(TPoint Corner1, TPoint Corner2) {
  applyPen(true);
  FPainter.drawEllipse(deviceRect(FMapping, Corner1, Corner2));
}

void TQPainterCanvas::Rectangle(TPoint Corner1, TPoint Corner2) {
  applyPen(true);
  FPainter.drawRect(deviceRect(FMapping, Corner1, Corner2));
}

void TQPainterCanvas::Polygon(const std::vector<TPoint>& Points) {
  applyPen(true);
  FPainter.drawPolygon(devicePolygon(FMapping, Points));
}

QFont TQPainterCanvas::currentFont() {
  if (!FSelectedFont) return QFontOf(FFont);
  const double scale = std::fabs(FMapping.ScaleY());
  // The turn of a label is the painter's, not the font's: fonts that differ only in it are one.
  TLogFont made = *FSelectedFont;
  made.Escapement = 0;
  made.Orientation = 0;
  if (FCachedLogFont == made && FCachedScale == scale) return FCachedFont;
  const QFont font = QFontOf(made, static_cast<int>(std::lround(std::abs(made.Height) * scale)));
  FCachedLogFont = made;
  FCachedScale = scale;
  FCachedFont = font;
  FCachedMetrics.reset();
  return font;
}

void TQPainterCanvas::TextOut(TPoint At, const std::string& Text) {
  const QString text = QString::fromStdString(NameToUtf8(Text));
  const QFont font = currentFont();
  // Measuring a font is set up anew for each metrics object; the labels of a drawing share a few fonts.
  std::optional<QFontMetricsF> uncached;
  if (FSelectedFont && !FCachedMetrics) FCachedMetrics.emplace(font, FPainter.device());
  if (!FSelectedFont) uncached.emplace(font, FPainter.device());
  const QFontMetricsF& metrics = FSelectedFont ? *FCachedMetrics : *uncached;
  const double width = metrics.horizontalAdvance(text);

  // The escapement turns from logical +x towards logical -y; find that direction on the device.
  const double angle = (FSelectedFont ? FSelectedFont->Escapement : 0) / 10.0 * std::numbers::pi / 180.0;
  const double dx = FMapping.ScaleX() * std::cos(angle);
  const double dy = -FMapping.ScaleY() * std::sin(angle);
  const double deviceAngle = std::atan2(dy, dx) * 180.0 / std::numbers::pi;

  double x = 0;
  if (FTextAlign.Horz == THorzAlign::Center) x = -width / 2;
  if (FTextAlign.Horz == THorzAlign::Right) x = -width;
  double baseline = 0;
  if (FTextAlign.Vert == TVertAlign::Top) baseline = metrics.ascent();
  if (FTextAlign.Vert == TVertAlign::Bottom) baseline = -metrics.descent();

  FPainter.save();
  FPainter.translate(FMapping.DeviceX(At.X), FMapping.DeviceY(At.Y));
  FPainter.rotate(deviceAngle);
  FPainter.setFont(font);
  const QRectF box(x, baseline - metrics.ascent(), width, metrics.height());
  if (OnText) OnText(FPainter.worldTransform().mapRect(box));
  if (!FTransparentText) FPainter.fillRect(box, Qt::white);
  FPainter.setPen(toQColor(FFont.Color));
  FPainter.drawText(QPointF(x, baseline), text);
  FPainter.restore();
}

std::optional<std::pair<TPoint, TPoint>> TQPainterCanvas::LogicalClip() const {
  if (!FPainter.hasClipping()) return std::nullopt;
  const QRectF clip = FPainter.clipBoundingRect();
  const double sx = FMapping.ScaleX();
  const double sy = FMapping.ScaleY();
  if (sx == 0 || sy == 0) return std::nullopt;
  auto logicalX = [&](double X) { return (X - FMapping.ViewportOrg.X) / sx + FMapping.WindowOrg.X; };
  auto logicalY = [&](double Y) { return (Y - FMapping.ViewportOrg.Y) / sy + FMapping.WindowOrg.Y; };
  const double x1 = logicalX(clip.left());
  const double x2 = logicalX(clip.right());
  const double y1 = logicalY(clip.top());
  const double y2 = logicalY(clip.bottom());
  auto floorInt = [](double V) { return static_cast<std::int32_t>(std::clamp(std::floor(V), -2.0e9, 2.0e9)); };
  auto ceilInt = [](double V) { return static_cast<std::int32_t>(std::clamp(std::ceil(V), -2.0e9, 2.0e9)); };
  return std::make_pair(TPoint{floorInt(std::min(x1, x2)), floorInt(std::min(y1, y2))},
                        TPoint{ceilInt(std::max(x1, x2)), ceilInt(std::max(y1, y2))});
}

}  // namespace busweave
