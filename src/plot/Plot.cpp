#include "plot/Plot.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPainter>
#include <QPolygonF>
#include <QSvgGenerator>
#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

#include "picture/MarkupText.h"

namespace busweave {
namespace {

// Beyond this many pixels outside the area a point is drawn at this distance: the line leaves
// the area the same way, and the rasterizer never meets coordinates it cannot hold.
constexpr double kFarOutside = 1e5;
// Ticks an axis may carry at most, whatever range it is given.
constexpr int kMostTicks = 200;
const QColor kGround(Qt::white);
const QColor kText(0x20, 0x20, 0x20);
const QColor kFrame(0x80, 0x80, 0x80);
const QColor kGrid(0xdc, 0xdc, 0xdc);
const QColor kMinorGrid(0xf0, 0xf0, 0xf0);

// The plot's font in pixels, so that a screen, an SVG file and a print lay text out alike.
QFont pixelFont(const QFont& Font) {
  QFont font = Font;
  if (font.pixelSize() <= 0) font.setPixelSize(std::max(1, static_cast<int>(std::lround(font.pointSizeF() * 4 / 3))));
  return font;
}

// A span that can be divided by: positive and finite.
std::pair<double, double> usableRange(double From, double To) {
  if (!std::isfinite(From)) From = 0.0;
  if (!std::isfinite(To) || !(To > From)) To = From + 1.0;
  return {From, To};
}

QColor faded(QColor Color, float Alpha) {
  Color.setAlphaF(Alpha);
  return Color;
}

}  // namespace

std::vector<TPlotTick> LinearTicks(double From, double To) {
  std::vector<TPlotTick> ticks;
  const double span = To - From;
  if (!(span > 0.0) || !std::isfinite(span)) return ticks;
  const double rough = span / 6;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  double step = power;
  for (double factor : {2.0, 5.0, 10.0})
    if (rough > step) step = power * factor;
  // Every label with the decimals the step needs, so that the axis reads in one notation.
  const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
  const double first = std::ceil(From / step - 1e-9);
  for (int i = 0; i < kMostTicks; ++i) {
    double value = (first + i) * step;
    if (value > To + step * 1e-9) break;
    if (std::abs(value) < step * 1e-9) value = 0.0;
    ticks.push_back({value, QString::number(value, 'f', decimals)});
  }
  return ticks;
}

std::vector<TPlotTick> LogTicks(double From, double To) {
  std::vector<TPlotTick> ticks;
  if (!(From > 0.0) || !(To > From) || !std::isfinite(To)) return ticks;
  const int firstDecade = static_cast<int>(std::floor(std::log10(From)));
  const int lastDecade = static_cast<int>(std::ceil(std::log10(To)));
  bool labelled = false;
  for (int decade = firstDecade; decade <= lastDecade && static_cast<int>(ticks.size()) < kMostTicks; ++decade) {
    for (int multiple = 1; multiple <= 9; ++multiple) {
      const double value = multiple * std::pow(10.0, decade);
      if (value < From * (1 - 1e-9) || value > To * (1 + 1e-9)) continue;
      ticks.push_back({value, multiple == 1 ? SiText(value) : QString()});
      labelled |= multiple == 1;
    }
  }
  // Within one decade the multiples are all there is to read.
  if (!labelled)
    for (TPlotTick& tick : ticks) tick.Label = SiText(tick.Value);
  return ticks;
}

QString SiText(double Value) {
  if (Value == 0.0 || !std::isfinite(Value)) return QString::number(Value);
  static const std::array<const char*, 10> prefixes = {"f", "p", "n", "\u00b5", "m", "", "k", "M", "G", "T"};
  int exponent = static_cast<int>(std::floor(std::log10(std::abs(Value)) / 3)) * 3;
  exponent = std::clamp(exponent, -15, 12);
  double mantissa = Value / std::pow(10.0, exponent);
  const double digits = std::pow(10.0, 2 - std::floor(std::log10(std::abs(mantissa))));
  mantissa = std::round(mantissa * digits) / digits;
  if (std::abs(mantissa) >= 1000 && exponent < 12) {
    mantissa /= 1000;
    exponent += 3;
  }
  return QString::number(mantissa, 'g', 3) + QString::fromUtf8(prefixes[static_cast<std::size_t>(exponent / 3 + 5)]);
}

std::pair<QString, double> TimeUnit(double Span) {
  if (Span >= 1e-3) return {"ms", 1e3};
  if (Span >= 1e-6) return {QString::fromUtf8("\u00b5s"), 1e6};
  if (Span >= 1e-9) return {"ns", 1e9};
  return {"ps", 1e12};
}

QColor PlotTraceColor(int Index) {
  static const std::array<QRgb, 32> colors = {
      0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd, 0x8c564b, 0xe377c2, 0x7f7f7f, 0xbcbd22, 0x17becf, 0x000080,
      0x800000, 0x006400, 0x000000, 0xff00ff, 0x0000ff, 0x0066ff, 0x99cc99, 0x996600, 0x330033, 0xff0099, 0x990099,
      0xff9999, 0x333300, 0x99ccff, 0x00cc00, 0xcc66ff, 0xcc3366, 0x6600cc, 0x009966, 0x006666, 0x003366};
  const auto count = static_cast<int>(colors.size());
  return QColor(colors[static_cast<std::size_t>(((Index % count) + count) % count)]);
}

TPlotLayout::TPlotLayout(const TPlot& Plot, const QRectF& Target, const QFont& Font)
    : FTarget(Target), FFont(pixelFont(Font)), FLogX(Plot.LogX) {
  std::tie(FXFrom, FXTo) = usableRange(xPosition(Plot.XFrom), xPosition(Plot.XTo));
  std::tie(FYFrom, FYTo) = usableRange(Plot.YFrom, Plot.YTo);

  const QFontMetricsF metrics(FFont);
  const double line = metrics.height();
  double labelWidth = 0.0;
  for (const TPlotTick& tick : LinearTicks(FYFrom, FYTo))
    labelWidth = std::max(labelWidth, metrics.horizontalAdvance(tick.Label));
  const double left = Target.left() + line + labelWidth + 10;
  double top = Target.top() + line / 2 + 4;
  if (!Plot.Title.isEmpty()) {
    const QRectF room(Target.left() + 4, Target.top() + 2, std::max(1.0, Target.width() - 8), Target.height());
    const QRectF needed = metrics.boundingRect(room, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, Plot.Title);
    FTitle = QRectF(room.topLeft(), QSizeF(room.width(), needed.height()));
    top += FTitle.height() + 2;
  }
  const double bottom = Target.bottom() - 2 * line - 8;

  double legendWidth = 0.0;
  const double rowHeight = line + 2;
  double entryWidth = 0.0;
  int rows = 0;
  if (Plot.Legend && !Plot.Traces.empty()) {
    for (const TPlotCurve& trace : Plot.Traces)
      entryWidth = std::max(entryWidth, 28 + metrics.horizontalAdvance(trace.Name));
    rows = std::max(1, static_cast<int>((bottom - top) / rowHeight));
    const int columns = (static_cast<int>(Plot.Traces.size()) + rows - 1) / rows;
    // Names that do not fit in two fifths of the width are left out, not the plot.
    legendWidth = std::min(columns * entryWidth, 0.4 * Target.width());
  }
  const double right = Target.right() - legendWidth - 12;
  FArea = QRectF(QPointF(left, top), QPointF(std::max(left + 1, right), std::max(top + 1, bottom)));

  for (std::size_t i = 0; i < Plot.Traces.size() && rows > 0; ++i) {
    const auto column = static_cast<int>(i) / rows;
    const auto row = static_cast<int>(i) % rows;
    const QRectF entry(FArea.right() + 8 + column * entryWidth, FArea.top() + row * rowHeight, entryWidth, rowHeight);
    FLegend.push_back(entry.right() <= Target.right() + 0.5 ? entry : QRectF());
  }
  placeMarkLabels(Plot);
}

void TPlotLayout::placeMarkLabels(const TPlot& Plot) {
  const QFontMetricsF metrics(FFont);
  const double line = metrics.height();
  FMarkLabels.assign(Plot.Marks.size(), QRectF());
  std::vector<double> xs;
  for (const TPlotLine& mark : Plot.Marks) xs.push_back(ToTarget(mark.Value, FYFrom).x());
  std::vector<std::size_t> order(Plot.Marks.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t A, std::size_t B) { return xs[A] < xs[B]; });
  // Left to right, each label in the lowest row where it meets none placed before; marks close
  // together (two rates' sample points of one edge) thus read one above the other.
  std::vector<QRectF> placed;
  for (const std::size_t i : order) {
    const double x = xs[i];
    if (Plot.Marks[i].Label.isEmpty() || x < FArea.left() || x > FArea.right()) continue;
    const double width = metrics.horizontalAdvance(Plot.Marks[i].Label) + 6;
    // Right of the line, or left of it where the area ends first.
    const double left = x + 2 + width <= FArea.right() ? x + 2 : x - 2 - width;
    for (int row = 0;; ++row) {
      const QRectF label(left, FArea.bottom() - 2 - (row + 1) * (line + 1), width, line);
      const bool free =
          std::none_of(placed.begin(), placed.end(), [&](const QRectF& R) { return R.intersects(label); });
      // More labels than rows: the last ones overlap rather than leave the area.
      if (free || label.top() - line - 1 < FArea.top()) {
        FMarkLabels[i] = label;
        placed.push_back(label);
        break;
      }
    }
  }
}

double TPlotLayout::xPosition(double X) const { return FLogX ? std::log10(X) : X; }

QRectF TPlotLayout::LegendEntry(int Trace) const {
  if (Trace < 0 || Trace >= static_cast<int>(FLegend.size())) return {};
  return FLegend[static_cast<std::size_t>(Trace)];
}

QRectF TPlotLayout::MarkLabel(int Mark) const {
  if (Mark < 0 || Mark >= static_cast<int>(FMarkLabels.size())) return {};
  return FMarkLabels[static_cast<std::size_t>(Mark)];
}

int TPlotLayout::LegendEntryAt(QPointF Point) const {
  for (std::size_t i = 0; i < FLegend.size(); ++i)
    if (FLegend[i].contains(Point)) return static_cast<int>(i);
  return -1;
}

QPointF TPlotLayout::ToTarget(double X, double Y) const {
  const double x = FArea.left() + (xPosition(X) - FXFrom) / (FXTo - FXFrom) * FArea.width();
  const double y = FArea.bottom() - (Y - FYFrom) / (FYTo - FYFrom) * FArea.height();
  const auto near = [](double Value, double Low, double High) {
    return std::isfinite(Value) ? std::clamp(Value, Low - kFarOutside, High + kFarOutside) : Low - kFarOutside;
  };
  return {near(x, FArea.left(), FArea.right()), near(y, FArea.top(), FArea.bottom())};
}

double TPlotLayout::XAt(double TargetX) const {
  const double x = FXFrom + (TargetX - FArea.left()) / FArea.width() * (FXTo - FXFrom);
  return FLogX ? std::pow(10.0, x) : x;
}

double TPlotLayout::YAt(double TargetY) const {
  return FYFrom + (FArea.bottom() - TargetY) / FArea.height() * (FYTo - FYFrom);
}

namespace {

void paintAxes(QPainter& Painter, const TPlot& Plot, const TPlotLayout& Layout) {
  const QRectF& area = Layout.Area();
  const QFontMetricsF metrics(Layout.Font());
  const double line = metrics.height();
  const auto xTicks = Plot.LogX ? LogTicks(Plot.XFrom, Plot.XTo) : LinearTicks(Plot.XFrom, Plot.XTo);
  for (const TPlotTick& tick : xTicks) {
    const double x = Layout.ToTarget(tick.Value, Plot.YFrom).x();
    Painter.setPen(QPen(tick.Label.isEmpty() ? kMinorGrid : kGrid, 0));
    Painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
    if (tick.Label.isEmpty()) continue;
    Painter.setPen(kText);
    Painter.drawText(QRectF(x - 60, area.bottom() + 3, 120, line), Qt::AlignHCenter | Qt::AlignTop, tick.Label);
  }
  for (const TPlotTick& tick : LinearTicks(Plot.YFrom, Plot.YTo)) {
    const double y = Layout.ToTarget(Plot.XFrom, tick.Value).y();
    Painter.setPen(QPen(kGrid, 0));
    Painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
    Painter.setPen(kText);
    Painter.drawText(QRectF(Layout.Target().left(), y - line / 2, area.left() - Layout.Target().left() - 4, line),
                     Qt::AlignRight | Qt::AlignVCenter, tick.Label);
  }
  Painter.setPen(QPen(kFrame, 0));
  Painter.setBrush(Qt::NoBrush);
  Painter.drawRect(area);

  Painter.setPen(kText);
  Painter.drawText(QRectF(area.left(), area.bottom() + line + 5, area.width(), line), Qt::AlignHCenter | Qt::AlignTop,
                   Plot.XTitle);
  Painter.save();
  Painter.translate(Layout.Target().left() + 2, area.center().y());
  Painter.rotate(-90);
  Painter.drawText(QRectF(-area.height() / 2, 0, area.height(), line), Qt::AlignHCenter | Qt::AlignTop, Plot.YTitle);
  Painter.restore();
}

void paintTrace(QPainter& Painter, const TPlotCurve& Trace, const TPlotLayout& Layout) {
  QPen pen(Trace.Color);
  pen.setWidthF(Trace.Width);
  Painter.setPen(pen);
  Painter.setBrush(Qt::NoBrush);
  QPolygonF piece;
  QPolygonF dots;
  for (const QPointF& point : Trace.Points) {
    if (!std::isfinite(point.x()) || !std::isfinite(point.y())) {
      Painter.drawPolyline(piece);
      piece.clear();
      continue;
    }
    // A tenth of a pixel: finer is invisible, and an SVG of many points stays small.
    const QPointF at = Layout.ToTarget(point.x(), point.y());
    dots << QPointF(std::round(at.x() * 10) / 10, std::round(at.y() * 10) / 10);
    if (piece.isEmpty() || piece.back() != dots.back()) piece << dots.back();
  }
  if (piece.size() == 1) piece << piece.front();  // a lone point still shows
  Painter.drawPolyline(piece);
  if (Trace.DotRadius <= 0) return;
  Painter.setPen(Qt::NoPen);
  Painter.setBrush(Trace.Color);
  for (const QPointF& dot : dots) Painter.drawEllipse(dot, Trace.DotRadius, Trace.DotRadius);
  Painter.setBrush(Qt::NoBrush);
}

void paintLines(QPainter& Painter, const TPlot& Plot, const TPlotLayout& Layout) {
  const QRectF& area = Layout.Area();
  const double line = QFontMetricsF(Layout.Font()).height();
  for (const TPlotLine& level : Plot.Levels) {
    if (!(level.Value >= Plot.YFrom && level.Value <= Plot.YTo)) continue;
    const double y = Layout.ToTarget(Plot.XFrom, level.Value).y();
    Painter.setPen(QPen(level.Color, 1.0, level.Style));
    Painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
    Painter.drawText(QRectF(area.left(), y - line - 1, area.width() - 4, line), Qt::AlignRight | Qt::AlignBottom,
                     level.Label);
  }
  for (std::size_t i = 0; i < Plot.Marks.size(); ++i) {
    const TPlotLine& mark = Plot.Marks[i];
    const double x = Layout.ToTarget(mark.Value, Plot.YFrom).x();
    if (x < area.left() || x > area.right()) continue;
    Painter.setPen(QPen(mark.Color, 1.2, mark.Style));
    Painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
    const QRectF label = Layout.MarkLabel(static_cast<int>(i));
    if (label.isEmpty()) continue;
    // On a pale ground, so that the traces beneath do not cross the text.
    Painter.fillRect(label, faded(kGround, 0.8f));
    Painter.setPen(mark.Color);
    Painter.drawText(label, Qt::AlignCenter, mark.Label);
  }
  for (const TPlotLine& cursor : Plot.Cursors) {
    const double x = Layout.ToTarget(cursor.Value, Plot.YFrom).x();
    if (x < area.left() || x > area.right()) continue;
    QPen pen(cursor.Color, 1.2, cursor.Style);
    Painter.setPen(pen);
    Painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
    Painter.drawText(QPointF(x + 3, area.top() + line), cursor.Label);
  }
}

void paintLegend(QPainter& Painter, const TPlot& Plot, const TPlotLayout& Layout) {
  for (std::size_t i = 0; i < Plot.Traces.size(); ++i) {
    const QRectF entry = Layout.LegendEntry(static_cast<int>(i));
    if (entry.isEmpty()) continue;
    const TPlotCurve& trace = Plot.Traces[i];
    const double middle = entry.center().y();
    QPen swatch(trace.Visible ? trace.Color : faded(trace.Color, 0.2f));
    swatch.setWidthF(3);
    Painter.setPen(swatch);
    Painter.drawLine(QPointF(entry.left() + 2, middle), QPointF(entry.left() + 20, middle));
    Painter.setPen(trace.Visible ? kText : faded(kText, 0.35f));
    Painter.drawText(entry.adjusted(26, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, trace.Name);
  }
}

}  // namespace

void PaintPlot(QPainter& Painter, const TPlot& Plot, const TPlotLayout& Layout) {
  Painter.save();
  Painter.setRenderHint(QPainter::Antialiasing);
  Painter.setFont(Layout.Font());
  Painter.fillRect(Layout.Target(), kGround);
  if (!Plot.Title.isEmpty()) {
    Painter.setPen(kText);
    Painter.drawText(Layout.TitleArea(), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, Plot.Title);
  }
  paintAxes(Painter, Plot, Layout);
  Painter.save();
  Painter.setClipRect(Layout.Area());
  for (const TPlotCurve& trace : Plot.Traces)
    if (trace.Visible) paintTrace(Painter, trace, Layout);
  paintLines(Painter, Plot, Layout);
  Painter.restore();
  if (Plot.Legend) paintLegend(Painter, Plot, Layout);
  Painter.restore();
}

namespace {

// Resolution is the pixels per inch the document's size in millimetres assumes.
QByteArray svgDocument(const TPlot& Plot, QSize Size, const QFont& Font, const QString& Title, int Resolution) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QSvgGenerator generator;
  generator.setOutputDevice(&buffer);
  generator.setSize(Size);
  generator.setViewBox(QRect(QPoint(0, 0), Size));
  generator.setResolution(Resolution);
  generator.setTitle(Title);
  generator.setDescription("Busweave plot");
  QPainter painter(&generator);
  PaintPlot(painter, Plot, TPlotLayout(Plot, QRectF(QPointF(0, 0), QSizeF(Size)), Font));
  painter.end();
  // The generator writes names as they are; a control character in one would leave a file
  // that XML readers refuse.
  return QByteArray::fromStdString(
      MarkupCharactersOnly(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))));
}

}  // namespace

QByteArray PlotSvg(const TPlot& Plot, QSize Size, const QFont& Font, const QString& Title) {
  return svgDocument(Plot, Size, Font, Title, QSvgGenerator().resolution());
}

QByteArray PlotSvgElement(const TPlot& Plot, QSize Size, const QFont& Font) {
  // At CSS's 96 pixels per inch the millimetres the generator writes are Size's pixels.
  QByteArray svg = svgDocument(Plot, Size, Font, QString(), 96);
  return svg.mid(std::max<qsizetype>(0, svg.indexOf("<svg")));
}

}  // namespace busweave
