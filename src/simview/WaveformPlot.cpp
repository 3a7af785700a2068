#include "simview/WaveformPlot.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <utility>

#include "model/NameText.h"
#include "spice/Waveforms.h"

namespace busweave {
namespace {

// A drag shorter than this is a click.
constexpr int kDragDistance = 4;
// Points per pixel column the thinning keeps (its lowest and highest).
constexpr int kMinimumBuckets = 400;

QString nodeName(const std::string& Name) { return QString::fromStdString(NameToUtf8(Name)); }

// A range widened to whole ticks, so that the axis starts and ends on a label.
std::pair<double, double> niceRange(double Low, double High) {
  const auto ticks = LinearTicks(Low, High);
  if (ticks.size() < 2) return {Low, High};
  const double step = ticks[1].Value - ticks[0].Value;
  return {std::floor(Low / step + 1e-9) * step, std::ceil(High / step - 1e-9) * step};
}

}  // namespace

TWaveformPlot::TWaveformPlot(const TWaveforms& Waves, TScaleKind Kind, QWidget* Parent)
    : QWidget(Parent), FWaves(Waves), FKind(Kind) {
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setMinimumSize(320, 200);
  FRubberBand = new QRubberBand(QRubberBand::Rectangle, this);
  QFont plotFont = font();
  plotFont.setPointSizeF(plotFont.pointSizeF() * 0.85);
  setFont(plotFont);

  if (FKind == skTime) {
    const double span = FWaves.Scale.empty() ? 1.0 : FWaves.Scale.back() - FWaves.Scale.front();
    std::tie(FUnitName, FUnitFactor) = TimeUnit(span);
    FPlot.XTitle = "Time [" + FUnitName + "]";
    FPlot.YTitle = "Voltage [V]";
    SetThresholds(TThresholds{});
  } else {
    FUnitName = "Hz";
    FPlot.XTitle = "Frequency [Hz]";
    FPlot.YTitle = "Magnitude [V]";
    FPlot.LogX = true;
  }
  for (std::size_t i = 0; i < FWaves.Traces.size(); ++i)
    FPlot.Traces.push_back({nodeName(FWaves.Traces[i].Name), PlotTraceColor(static_cast<int>(i)), {}, true});
  ShowWhole();
}

void TWaveformPlot::SetThresholds(const TThresholds& Thresholds) {
  if (FKind != skTime) return;
  // What a receiver reads as dominant and as recessive, as the bus analysis judges it.
  FPlot.Levels = {{Thresholds.Dominant, QString("dominant %1 V").arg(Thresholds.Dominant), QColor(0x60, 0x60, 0x60)},
                  {Thresholds.Recessive, QString("recessive %1 V").arg(Thresholds.Recessive), QColor(0x60, 0x60, 0x60),
                   Qt::DotLine}};
  update();
}

void TWaveformPlot::SetMarks(std::vector<TPlotLine> Marks) {
  for (TPlotLine& mark : Marks) mark.Value = toAxis(mark.Value);
  FPlot.Marks = std::move(Marks);
  update();
}

TPlotLayout TWaveformPlot::layout() const { return TPlotLayout(FPlot, QRectF(rect()), font()); }

void TWaveformPlot::SetTraceVisible(int Index, bool Visible) {
  FPlot.Traces[static_cast<std::size_t>(Index)].Visible = Visible;
  update();
  emit CursorsChanged();
}

double TWaveformPlot::toAxis(double X) const { return FKind == skTime ? X * FUnitFactor : X; }
double TWaveformPlot::fromAxis(double X) const { return FKind == skTime ? X / FUnitFactor : X; }

std::pair<double, double> TWaveformPlot::VisibleRange() const { return {fromAxis(FPlot.XFrom), fromAxis(FPlot.XTo)}; }

void TWaveformPlot::ShowRange(double From, double To) {
  if (!(To > From) || !std::isfinite(From) || !std::isfinite(To)) return;
  if (FKind == skFrequency && From <= 0) return;  // a logarithmic axis holds positive values only
  showAxisRange(toAxis(From), toAxis(To));
}

void TWaveformPlot::showAxisRange(double From, double To) {
  FPlot.XFrom = From;
  FPlot.XTo = To;
  refreshPoints();
}

void TWaveformPlot::ShowWhole() {
  if (FWaves.Scale.empty()) return;
  double from = FWaves.Scale.front();
  double to = FWaves.Scale.back();
  if (!(to > from)) to = from + (FKind == skTime ? 1e-9 : 1.0);
  ShowRange(from, to);
  fitVertically();
}

void TWaveformPlot::fitVertically() {
  double low = 0.0;
  double high = 0.0;
  bool any = false;
  for (int i = 0; i < TraceCount(); ++i) {
    if (!TraceVisible(i)) continue;
    for (double value : FWaves.Traces[static_cast<std::size_t>(i)].Values) {
      if (!std::isfinite(value)) continue;
      low = any ? std::min(low, value) : value;
      high = any ? std::max(high, value) : value;
      any = true;
    }
  }
  if (!any) {
    low = 0.0;
    high = 1.0;
  }
  const double margin = high > low ? 0.05 * (high - low) : 0.5;
  // Magnitudes are never negative; the axis need not pretend they could be.
  const double bottom = low >= 0.0 && low - margin < 0.0 ? 0.0 : low - margin;
  std::tie(FPlot.YFrom, FPlot.YTo) = niceRange(bottom, high + margin);
  update();
}

void TWaveformPlot::refreshPoints() {
  if (FWaves.Scale.empty()) return;
  // Only the visible part, thinned to what the screen can show without losing a peak.
  const auto [from, to] = VisibleRange();
  const auto buckets = static_cast<std::size_t>(std::max(kMinimumBuckets, static_cast<int>(layout().Area().width())));
  for (std::size_t i = 0; i < FPlot.Traces.size(); ++i) {
    const auto& values = FWaves.Traces[i].Values;
    QList<QPointF> points;
    for (std::size_t k : PeakPreservingIndices(FWaves.Scale, values, from, to, buckets))
      points.append(QPointF(toAxis(FWaves.Scale[k]), values[k]));
    FPlot.Traces[i].Points = std::move(points);
  }
  update();
}

std::optional<double> TWaveformPlot::ScaleAt(QPoint ViewPoint) const {
  if (FPlot.Traces.empty()) return std::nullopt;
  return fromAxis(layout().XAt(ViewPoint.x()));
}

QPoint TWaveformPlot::ViewPoint(double X, double Y) const { return layout().ToTarget(toAxis(X), Y).toPoint(); }

QRect TWaveformPlot::LegendEntry(int Index) const { return layout().LegendEntry(Index).toAlignedRect(); }

void TWaveformPlot::SetCursor(int Which, double X) {
  FCursors[static_cast<std::size_t>(Which)] = X;
  static const char* const kNames[] = {"A", "B"};
  FPlot.Cursors.clear();
  for (std::size_t i = 0; i < FCursors.size(); ++i)
    if (FCursors[i])
      FPlot.Cursors.push_back({toAxis(*FCursors[i]), kNames[i],
                               i == 0 ? QColor(0xb0, 0x00, 0x00) : QColor(0x00, 0x00, 0xb0),
                               i == 0 ? Qt::SolidLine : Qt::DashLine});
  update();
  emit CursorsChanged();
}

QByteArray TWaveformPlot::Svg(const QString& Title) const { return PlotSvg(FPlot, size(), font(), Title); }

void TWaveformPlot::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintPlot(painter, FPlot, layout());
}

void TWaveformPlot::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  refreshPoints();
}

void TWaveformPlot::scrollBy(double Dx, double Dy) {
  // By pixels of the plot area, in the axis's own measure (logarithmic for frequencies).
  const TPlotLayout shown = layout();
  const QRectF area = shown.Area();
  const double from = shown.XAt(area.left() + Dx);
  const double to = shown.XAt(area.right() + Dx);
  const double shift = shown.YAt(area.bottom() - Dy) - FPlot.YFrom;
  FPlot.YFrom += shift;
  FPlot.YTo += shift;
  if (to > from && std::isfinite(from) && std::isfinite(to)) showAxisRange(from, to);
  update();
}

void TWaveformPlot::zoomAroundMiddle(double Factor) {
  const TPlotLayout shown = layout();
  const QRectF area = shown.Area();
  const QPointF middle = area.center();
  const double halfWidth = area.width() / 2 / Factor;
  const double halfHeight = area.height() / 2 / Factor;
  const double yFrom = shown.YAt(middle.y() + halfHeight);
  const double yTo = shown.YAt(middle.y() - halfHeight);
  FPlot.YFrom = yFrom;
  FPlot.YTo = yTo;
  showAxisRange(shown.XAt(middle.x() - halfWidth), shown.XAt(middle.x() + halfWidth));
}

void TWaveformPlot::mousePressEvent(QMouseEvent* Event) {
  const QPointF point = Event->position();
  const TPlotLayout shown = layout();
  const int entry = shown.LegendEntryAt(point);
  if (entry >= 0 && Event->button() == Qt::LeftButton) {
    SetTraceVisible(entry, !TraceVisible(entry));
    Event->accept();
    return;
  }
  if (!shown.Area().contains(point) || FPlot.Traces.empty()) {
    QWidget::mousePressEvent(Event);
    return;
  }
  FPressButton = Event->button();
  FPressPoint = FLastPoint = point.toPoint();
  FDragged = false;
  Event->accept();
}

void TWaveformPlot::mouseMoveEvent(QMouseEvent* Event) {
  if (FPressButton == Qt::NoButton) {
    QWidget::mouseMoveEvent(Event);
    return;
  }
  const QPoint point = Event->position().toPoint();
  if ((point - FPressPoint).manhattanLength() >= kDragDistance) FDragged = true;
  if (!FDragged) return;
  if (FPressButton == Qt::LeftButton) {
    const QRect area = layout().Area().toAlignedRect();
    const int left = std::clamp(std::min(FPressPoint.x(), point.x()), area.left(), area.right());
    const int right = std::clamp(std::max(FPressPoint.x(), point.x()), area.left(), area.right());
    FRubberBand->setGeometry(QRect(QPoint(left, area.top()), QPoint(right, area.bottom())));
    FRubberBand->show();
  } else {
    const QPoint step = point - FLastPoint;
    scrollBy(-step.x(), step.y());
  }
  FLastPoint = point;
  Event->accept();
}

void TWaveformPlot::mouseReleaseEvent(QMouseEvent* Event) {
  if (FPressButton == Qt::NoButton || Event->button() != FPressButton) {
    QWidget::mouseReleaseEvent(Event);
    return;
  }
  const Qt::MouseButton button = FPressButton;
  FPressButton = Qt::NoButton;
  Event->accept();
  if (FDragged) {
    if (button == Qt::LeftButton && FRubberBand->isVisible()) {
      const QRect band = FRubberBand->geometry();
      FRubberBand->hide();
      const auto from = ScaleAt(QPoint(band.left(), band.center().y()));
      const auto to = ScaleAt(QPoint(band.right(), band.center().y()));
      if (from && to && band.width() >= kDragDistance) ShowRange(*from, *to);
    }
    return;
  }
  const auto x = ScaleAt(Event->position().toPoint());
  if (!x) return;
  const bool second = button == Qt::RightButton || (Event->modifiers() & Qt::ShiftModifier);
  if (button == Qt::LeftButton || button == Qt::RightButton) SetCursor(second ? 1 : 0, *x);
}

void TWaveformPlot::wheelEvent(QWheelEvent* Event) {
  const int notches = Event->angleDelta().y() / 120;
  if (notches == 0 || FPlot.Traces.empty()) {
    QWidget::wheelEvent(Event);
    return;
  }
  const double factor = std::pow(0.8, notches);
  if (Event->modifiers() & Qt::ControlModifier) {
    const double middle = (FPlot.YFrom + FPlot.YTo) / 2;
    const double half = (FPlot.YTo - FPlot.YFrom) / 2 * factor;
    FPlot.YFrom = middle - half;
    FPlot.YTo = middle + half;
    update();
  } else if (const auto at = ScaleAt(Event->position().toPoint())) {
    // Around the pointer, in the axis's own measure (logarithmic for frequencies).
    const auto [from, to] = VisibleRange();
    if (FKind == skFrequency && *at > 0) {
      const double pivot = std::log10(*at);
      ShowRange(std::pow(10.0, pivot - (pivot - std::log10(from)) * factor),
                std::pow(10.0, pivot + (std::log10(to) - pivot) * factor));
    } else {
      ShowRange(*at - (*at - from) * factor, *at + (to - *at) * factor);
    }
  }
  Event->accept();
}

void TWaveformPlot::keyPressEvent(QKeyEvent* Event) {
  const QRectF area = layout().Area();
  const double stepX = area.width() / 10;
  const double stepY = area.height() / 10;
  switch (Event->key()) {
    case Qt::Key_Home:
      ShowWhole();
      break;
    case Qt::Key_Left:
      scrollBy(-stepX, 0);
      break;
    case Qt::Key_Right:
      scrollBy(stepX, 0);
      break;
    case Qt::Key_Up:
      scrollBy(0, stepY);
      break;
    case Qt::Key_Down:
      scrollBy(0, -stepY);
      break;
    case Qt::Key_Plus:
      zoomAroundMiddle(1.25);
      break;
    case Qt::Key_Minus:
      zoomAroundMiddle(0.8);
      break;
    default:
      QWidget::keyPressEvent(Event);
      return;
  }
  Event->accept();
}

}  // namespace busweave
