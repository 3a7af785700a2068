#pragma once

// The canvas on a QPainter: the editor's surface, the overview, and raster or SVG pictures.
// The painter belongs to the caller; this class maps logical coordinates itself and draws in
// device coordinates, so pens stay thin and text stays upright whatever the mapping.

#include <QFont>
#include <QFontMetricsF>
#include <QRectF>
#include <functional>
#include <optional>

#include "drawing/Canvas.h"

class QPainter;

namespace busweave {

class TQPainterCanvas : public Canvas {
 public:
  explicit TQPainterCanvas(QPainter& Painter);

  int PixelsPerInch() const override;
  double DeviceScale() const override;

  void Polyline(const std::vector<TPoint>& Points) override;
  void Ellipse(TPoint Corner1, TPoint Corner2) override;
  void Rectangle(TPoint Corner1, TPoint Corner2) override;
  void Polygon(const std::vector<TPoint>& Points) override;
  void TextOut(TPoint At, const std::string& Text) override;

  // The part of the logical plane that the painter's clip region shows, when it has one.
  std::optional<std::pair<TPoint, TPoint>> LogicalClip() const;

  // Told of the box each text takes on the painter's device (its world transformation applied),
  // so that a print can keep every label whole on one page.
  std::function<void(const QRectF& Box)> OnText;

 private:
  void applyPen(bool WithBrush);
  QFont currentFont();

  QPainter& FPainter;
  // The last made font, kept while the same description is asked for again.
  std::optional<TLogFont> FCachedLogFont;
  double FCachedScale = 0;
  QFont FCachedFont;
  // The metrics of FCachedFont on the painter's device, made with it.
  std::optional<QFontMetricsF> FCachedMetrics;
};

}  // namespace busweave
