// The editor's view: the document extent, the zoom, scrolling (also while a drag holds the
// pointer at the edge), and the transform between surface units and the surface's pixels.

#include <QEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>

#include "drawing/FitNetwork.h"
#include "editor/EditorWindow.h"

namespace busweave {
namespace {

// A widget cannot be larger than kLargestExtent; a network that spans more is shown cut.
std::int32_t sanitizedExtent(std::int64_t Value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(Value, 1, kLargestExtent));
}

// The zoom steps of the keys and the wheel; below the first, each step halves.
constexpr std::array<double, 12> kZoomSteps{0.1, 0.125, 0.25, 0.5, 0.75, 1, 1.5, 2, 3, 4, 6, 8};
constexpr double kMinZoom = 1.0 / 65536;  // Fit shows even the largest document whole
// A drag this close to the editor's edge (pixels) scrolls, one step per tick.
constexpr int kAutoScrollEdge = 16;
constexpr int kAutoScrollStep = 24;

}  // namespace

void TSubForm::SetDocExtent(TPoint Extent) {
  FExtent = {sanitizedExtent(Extent.X), sanitizedExtent(Extent.Y)};
  FZoom = limitZoom(FZoom);
  layoutSurface();
}

void TSubForm::layoutSurface() {
  const QSize view = FScrollBox1->viewport()->size();
  const int width = FOrigin.x() + static_cast<int>(std::ceil(FExtent.X * FZoom));
  const int height = FOrigin.y() + static_cast<int>(std::ceil(FExtent.Y * FZoom));
  FPaintBox1->resize(std::max({view.width(), width, FScrollRoom.width()}),
                     std::max({view.height(), height, FScrollRoom.height()}));
  FPaintBox1->update();
}

bool TSubForm::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == FScrollBox1->viewport() && Event->type() == QEvent::Resize) layoutSurface();
  if (Watched == FPaintBox1 && Event->type() == QEvent::Leave) {
    FPointer.reset();
    FPointerPixel.reset();
  }
  if ((Watched == FPaintBox1 || Watched == FScrollBox1->viewport()) && Event->type() == QEvent::Wheel) {
    auto* wheel = static_cast<QWheelEvent*>(Event);
    if (wheel->modifiers() & Qt::ControlModifier) {
      const int delta = wheel->angleDelta().y();
      const QPoint anchor = static_cast<QWidget*>(Watched)->mapTo(FScrollBox1->viewport(), wheel->position().toPoint());
      if (delta != 0) zoomStep(delta > 0 ? std::max(1, delta / 120) : std::min(-1, delta / 120), anchor);
      return true;
    }
  }
  return QWidget::eventFilter(Watched, Event);
}

TPoint TSubForm::ScrollOffset() const {
  return {FScrollBox1->horizontalScrollBar()->value(), FScrollBox1->verticalScrollBar()->value()};
}

void TSubForm::SetScrollOffset(TPoint Offset) {
  FScrollBox1->horizontalScrollBar()->setValue(Offset.X);
  FScrollBox1->verticalScrollBar()->setValue(Offset.Y);
}

TPoint TSubForm::ClientSize() const { return {FScrollBox1->viewport()->width(), FScrollBox1->viewport()->height()}; }

// The view transform: surface units (one per document unit, y downwards) to the pixels of the
// surface widget, and back. Painting scales by the zoom; everything else stays in units.
TPoint TSubForm::SurfaceFromPixel(QPointF Pixel) const {
  auto unit = [this](double V, int Origin) {
    return static_cast<std::int32_t>(std::clamp(std::floor((V - Origin) / FZoom), -2.0e9, 2.0e9));
  };
  return {unit(Pixel.x(), FOrigin.x()), unit(Pixel.y(), FOrigin.y())};
}

QPoint TSubForm::PixelFromSurface(TPoint Surface) const {
  return FOrigin +
         QPoint(static_cast<int>(std::lround(Surface.X * FZoom)), static_cast<int>(std::lround(Surface.Y * FZoom)));
}

QRect TSubForm::PixelRect(const QRect& Surface) const {
  if (FZoom == 1.0) return Surface.translated(FOrigin);
  const QRectF r(Surface.x() * FZoom, Surface.y() * FZoom, Surface.width() * FZoom, Surface.height() * FZoom);
  return r.toAlignedRect().adjusted(-1, -1, 1, 1).translated(FOrigin);
}

std::pair<TPoint, TPoint> TSubForm::VisibleDocument() const {
  const TPoint offset = ScrollOffset();
  const TPoint view = ClientSize();
  const TPoint topLeft = SurfaceFromPixel(QPointF(offset.X, offset.Y));
  const TPoint bottomRight = SurfaceFromPixel(QPointF(offset.X + view.X, offset.Y + view.Y));
  const TPoint lower = DocFromSurface({std::clamp(topLeft.X, 0, FExtent.X), std::clamp(bottomRight.Y, 0, FExtent.Y)});
  const TPoint upper = DocFromSurface({std::clamp(bottomRight.X, 0, FExtent.X), std::clamp(topLeft.Y, 0, FExtent.Y)});
  return {lower, upper};
}

double TSubForm::limitZoom(double Zoom) const {
  // The surface widget cannot grow past kLargestExtent pixels a side.
  const double largest = std::max(FExtent.X, FExtent.Y);
  const double upper = std::min(kZoomSteps.back(), kLargestExtent / largest);
  return std::clamp(Zoom, std::min(kMinZoom, upper), upper);
}

void TSubForm::SetZoom(double Zoom, std::optional<QPoint> Anchor) {
  Zoom = limitZoom(Zoom);
  const QPointF anchor = Anchor ? QPointF(*Anchor) : QPointF(ClientSize().X / 2.0, ClientSize().Y / 2.0);
  const QPointF placed = documentPlace();
  const QPointF under = (anchor - placed) / FZoom;
  FZoom = Zoom;
  placeDocument(anchor - under * FZoom);
  FPaintBox1->update();
  if (FFrame.PaintBox) FFrame.PaintBox->update();
}

QPointF TSubForm::documentPlace() const {
  const TPoint offset = ScrollOffset();
  const QPoint shown = FOrigin - QPoint(offset.X, offset.Y);
  // The fraction is kept from the last zoom step while the view has not been scrolled since.
  if (FExactPlace && FExactPlace->toPoint() == shown) return *FExactPlace;
  return shown;
}

void TSubForm::placeDocument(QPointF Place) {
  // A scroll area cannot scroll before its surface's left or top edge: where the document would
  // start inside the viewport, the surface leaves room before it instead; where it would start
  // beyond the viewport's edge, the surface gets room to scroll there. The document stays at
  // least at the viewport's edge, so the surface never outgrows the largest widget. The scroll
  // bars are always shown, so the viewport this reckons with keeps its size.
  const TPoint view = ClientSize();
  Place.setX(std::clamp(Place.x(), -FExtent.X * FZoom, static_cast<double>(view.X)));
  Place.setY(std::clamp(Place.y(), -FExtent.Y * FZoom, static_cast<double>(view.Y)));
  FExactPlace = Place;
  const QPoint rounded = Place.toPoint();
  FOrigin = {std::max(0, rounded.x()), std::max(0, rounded.y())};
  const QPoint offset = FOrigin - rounded;
  FScrollRoom = QSize(offset.x() + view.X, offset.y() + view.Y);
  layoutSurface();
  SetScrollOffset({offset.x(), offset.y()});
}

std::optional<QPoint> TSubForm::pointerAnchor() const { return FPointerPixel; }

void TSubForm::zoomStep(int Steps, std::optional<QPoint> Anchor) {
  double zoom = FZoom;
  for (; Steps > 0; --Steps) {
    const auto next = std::upper_bound(kZoomSteps.begin(), kZoomSteps.end(), zoom * 1.001);
    zoom = next == kZoomSteps.end() ? kZoomSteps.back() : std::max(*next, zoom);
  }
  for (; Steps < 0; ++Steps) {
    const auto next = std::lower_bound(kZoomSteps.begin(), kZoomSteps.end(), zoom / 1.001);
    zoom = next == kZoomSteps.begin() ? zoom / 2 : *std::prev(next);
  }
  SetZoom(zoom, Anchor);
}

void TSubForm::ZoomIn() { zoomStep(1, pointerAnchor()); }

void TSubForm::ZoomOut() { zoomStep(-1, pointerAnchor()); }

void TSubForm::ZoomActualSize() { SetZoom(1.0, pointerAnchor()); }

void TSubForm::ZoomFit() {
  const TPoint view = ClientSize();
  FZoom = limitZoom(std::min(static_cast<double>(view.X) / FExtent.X, static_cast<double>(view.Y) / FExtent.Y));
  placeDocument({0, 0});
  FPaintBox1->update();
  if (FFrame.PaintBox) FFrame.PaintBox->update();
}

void TSubForm::scrollToMiddle(TPoint Surface) {
  const TPoint view = ClientSize();
  const QPoint pixel = PixelFromSurface(Surface);
  SetScrollOffset({pixel.x() - view.X / 2, pixel.y() - view.Y / 2});
}

void TSubForm::followDrag(QPointF Pixel) {
  FDragViewportPos = FPaintBox1->mapTo(FScrollBox1->viewport(), Pixel.toPoint());
  const TPoint view = ClientSize();
  const QPoint& v = FDragViewportPos;
  const bool atEdge = v.x() < kAutoScrollEdge || v.y() < kAutoScrollEdge || v.x() >= view.X - kAutoScrollEdge ||
                      v.y() >= view.Y - kAutoScrollEdge;
  if (!atEdge)
    FAutoScroll->stop();
  else if (!FAutoScroll->isActive())
    FAutoScroll->start();
}

void TSubForm::autoScrollStep() {
  if (!FRubberBand && !FMoving) {
    FAutoScroll->stop();
    return;
  }
  const TPoint view = ClientSize();
  auto step = [](int Pos, int Size) {
    if (Pos < kAutoScrollEdge) return -kAutoScrollStep;
    if (Pos >= Size - kAutoScrollEdge) return kAutoScrollStep;
    return 0;
  };
  const TPoint offset = ScrollOffset();
  SetScrollOffset({offset.X + step(FDragViewportPos.x(), view.X), offset.Y + step(FDragViewportPos.y(), view.Y)});
  if (ScrollOffset() == offset) return;
  // The pointer stays where it is over the editor, so it now lies over another part of the surface.
  PaintBox1MouseMove(SurfaceFromPixel(FPaintBox1->mapFrom(FScrollBox1->viewport(), FDragViewportPos)));
}

std::int32_t TSubForm::shownWidth() const {
  return std::min(static_cast<std::int32_t>(std::ceil((FPaintBox1->width() - FOrigin.x()) / FZoom)), FExtent.X);
}

std::int32_t TSubForm::shownHeight() const {
  return std::min(static_cast<std::int32_t>(std::ceil((FPaintBox1->height() - FOrigin.y()) / FZoom)), FExtent.Y);
}

TPoint TSubForm::DocFromSurface(TPoint Surface) const {
  return {Surface.X, static_cast<std::int32_t>(std::int64_t{FExtent.Y} - Surface.Y)};
}

void TSubForm::SnapToGrid(TPoint& P, TPoint Grid) {
  // Integer division truncates towards zero, as the grid rule wants (-149..49 all give 0).
  P.X = (P.X + Grid.X / 2) / Grid.X * Grid.X;
  P.Y = (P.Y + Grid.Y / 2) / Grid.Y * Grid.Y;
}

void TSubForm::SetMapping(Canvas& C) const {
  // The surface is never smaller than the extent, so this is one surface unit per document unit,
  // y upwards; the zoom and the document's place on the surface lie in the painter.
  const std::int32_t w = shownWidth();
  const std::int32_t h = shownHeight();
  TMapping mapping;
  mapping.Isotropic = true;
  mapping.WindowExt = {w, h};
  mapping.ViewportExt = {FExtent.X, -FExtent.Y};
  mapping.WindowOrg = {0, h};
  mapping.ViewportOrg = {0, 0};
  C.SetMapping(mapping);
}

}  // namespace busweave
