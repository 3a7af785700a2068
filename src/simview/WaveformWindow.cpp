#include "simview/WaveformWindow.h"

#include <QAction>
#include <QBuffer>
#include <QChart>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QRubberBand>
#include <QSignalBlocker>
#include <QSplitter>
#include <QSvgGenerator>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "gui/Prompts.h"
#include "model/NameText.h"
#include "model/SafeFile.h"
#include "sim/Waveforms.h"

namespace busweave {
namespace {

// A drag shorter than this is a click.
constexpr int kDragDistance = 4;
// Points per pixel column the thinning keeps (its lowest and highest).
constexpr int kMinimumBuckets = 400;

// Distinct colours for up to 16 nodes, then round again.
QColor traceColor(int Index) {
  static const QColor colors[] = {
      QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28), QColor(0x2c, 0xa0, 0x2c), QColor(0xff, 0x7f, 0x0e),
      QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b), QColor(0xe3, 0x77, 0xc2), QColor(0x7f, 0x7f, 0x7f),
      QColor(0xbc, 0xbd, 0x22), QColor(0x17, 0xbe, 0xcf), QColor(0x00, 0x00, 0x80), QColor(0x80, 0x00, 0x00),
      QColor(0x00, 0x64, 0x00), QColor(0xff, 0x14, 0x93), QColor(0x55, 0x6b, 0x2f), QColor(0x00, 0x00, 0x00)};
  return colors[Index % static_cast<int>(std::size(colors))];
}

// Ticks at round steps (1, 2 or 5 times a power of ten), about six across, whatever the zoom.
void tidyTicks(QValueAxis* Axis) {
  const double span = Axis->max() - Axis->min();
  if (!(span > 0.0) || !std::isfinite(span)) return;
  const double rough = span / 6;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  double step = power;
  for (double factor : {2.0, 5.0, 10.0})
    if (rough > step) step = power * factor;
  Axis->setTickType(QValueAxis::TicksDynamic);
  Axis->setTickAnchor(0.0);
  Axis->setTickInterval(step);
}

QString nodeName(const std::string& Name) { return QString::fromStdString(NameToUtf8(Name)); }

// The unit in which a run of this length reads best.
std::pair<QString, double> timeUnit(double Span) {
  if (Span >= 1e-3) return {"ms", 1e3};
  if (Span >= 1e-6) return {QString::fromUtf8("\u00b5s"), 1e6};
  if (Span >= 1e-9) return {"ns", 1e9};
  return {"ps", 1e12};
}

}  // namespace

TWaveformPlot::TWaveformPlot(const TWaveforms& Waves, TScaleKind Kind, QWidget* Parent)
    : QChartView(new QChart, Parent), FWaves(Waves), FKind(Kind) {
  setRubberBand(QChartView::NoRubberBand);
  setDragMode(QGraphicsView::NoDrag);
  setRenderHint(QPainter::Antialiasing);
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  FRubberBand = new QRubberBand(QRubberBand::Rectangle, viewport());

  QChart* plot = chart();
  plot->legend()->setAlignment(Qt::AlignRight);
  QFont legendFont = plot->legend()->font();
  legendFont.setPointSizeF(legendFont.pointSizeF() * 0.85);
  plot->legend()->setFont(legendFont);
  plot->setMargins(QMargins(4, 4, 4, 4));

  QAbstractAxis* xAxis = nullptr;
  if (FKind == skTime) {
    const double span = FWaves.Scale.empty() ? 1.0 : FWaves.Scale.back() - FWaves.Scale.front();
    std::tie(FUnitName, FUnitFactor) = timeUnit(span);
    auto* axis = new QValueAxis;
    axis->setTitleText("Time [" + FUnitName + "]");
    axis->setLabelFormat("%g");
    connect(axis, &QValueAxis::rangeChanged, this, [this, axis] {
      tidyTicks(axis);
      refreshPoints();
    });
    xAxis = axis;
  } else {
    FUnitName = "Hz";
    auto* axis = new QLogValueAxis;
    axis->setBase(10);
    axis->setTitleText("Frequency [Hz]");
    axis->setLabelFormat("%g");
    axis->setMinorTickCount(8);
    connect(axis, &QLogValueAxis::rangeChanged, this, [this] { refreshPoints(); });
    xAxis = axis;
  }
  auto* yAxis = new QValueAxis;
  yAxis->setTitleText(FKind == skTime ? "Voltage [V]" : "Magnitude [V]");
  yAxis->setLabelFormat("%g");
  connect(yAxis, &QValueAxis::rangeChanged, this, [yAxis] { tidyTicks(yAxis); });
  plot->addAxis(xAxis, Qt::AlignBottom);
  plot->addAxis(yAxis, Qt::AlignLeft);

  for (std::size_t i = 0; i < FWaves.Traces.size(); ++i) {
    auto* series = new QLineSeries;
    series->setName(nodeName(FWaves.Traces[i].Name));
    QPen pen(traceColor(static_cast<int>(i)));
    pen.setWidthF(1.5);
    series->setPen(pen);
    plot->addSeries(series);
    series->attachAxis(xAxis);
    series->attachAxis(yAxis);
    FSeries.push_back(series);
  }
  // A click on a legend entry switches its line off and on.
  const auto markers = plot->legend()->markers();
  for (int i = 0; i < markers.size() && i < TraceCount(); ++i)
    connect(markers[i], &QLegendMarker::clicked, this, [this, i] { SetTraceVisible(i, !TraceVisible(i)); });
  ShowWhole();
}

bool TWaveformPlot::TraceVisible(int Index) const { return Series(Index)->isVisible(); }

void TWaveformPlot::SetTraceVisible(int Index, bool Visible) {
  QLineSeries* series = Series(Index);
  series->setVisible(Visible);
  // The entry stays in the legend, pale while its line is off.
  for (QLegendMarker* marker : chart()->legend()->markers(series)) {
    marker->setVisible(true);
    QColor label = palette().color(QPalette::WindowText);
    label.setAlphaF(Visible ? 1.0f : 0.35f);
    marker->setLabelBrush(label);
    QColor swatch = traceColor(Index);
    swatch.setAlphaF(Visible ? 1.0f : 0.2f);
    marker->setBrush(swatch);
    marker->setPen(QPen(swatch));
  }
  emit CursorsChanged();
}

double TWaveformPlot::toAxis(double X) const { return FKind == skTime ? X * FUnitFactor : X; }
double TWaveformPlot::fromAxis(double X) const { return FKind == skTime ? X / FUnitFactor : X; }

std::pair<double, double> TWaveformPlot::VisibleRange() const {
  const QAbstractAxis* axis = chart()->axes(Qt::Horizontal).value(0);
  if (const auto* linear = qobject_cast<const QValueAxis*>(axis))
    return {fromAxis(linear->min()), fromAxis(linear->max())};
  if (const auto* logarithmic = qobject_cast<const QLogValueAxis*>(axis))
    return {logarithmic->min(), logarithmic->max()};
  return {0.0, 0.0};
}

void TWaveformPlot::ShowRange(double From, double To) {
  if (!(To > From)) return;
  QAbstractAxis* axis = chart()->axes(Qt::Horizontal).value(0);
  if (FKind == skFrequency && From <= 0) return;  // a logarithmic axis holds positive values only
  axis->setRange(toAxis(From), toAxis(To));
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
    const auto& values = FWaves.Traces[static_cast<std::size_t>(i)].Values;
    if (values.empty()) continue;
    const auto [least, most] = std::minmax_element(values.begin(), values.end());
    low = any ? std::min(low, *least) : *least;
    high = any ? std::max(high, *most) : *most;
    any = true;
  }
  if (!any || !std::isfinite(low) || !std::isfinite(high)) {
    low = 0.0;
    high = 1.0;
  }
  const double margin = high > low ? 0.05 * (high - low) : 0.5;
  // Magnitudes are never negative; the axis need not pretend they could be.
  const double bottom = low >= 0.0 && low - margin < 0.0 ? 0.0 : low - margin;
  auto* axis = qobject_cast<QValueAxis*>(chart()->axes(Qt::Vertical).value(0));
  axis->setRange(bottom, high + margin);
  axis->applyNiceNumbers();
}

void TWaveformPlot::refreshPoints() {
  if (FRefreshing || FWaves.Scale.empty()) return;
  FRefreshing = true;
  // Only the visible part, thinned to what the screen can show without losing a peak.
  const auto [from, to] = VisibleRange();
  const auto buckets =
      static_cast<std::size_t>(std::max(kMinimumBuckets, static_cast<int>(chart()->plotArea().width())));
  QAbstractAxis* xAxis = chart()->axes(Qt::Horizontal).value(0);
  QAbstractAxis* yAxis = chart()->axes(Qt::Vertical).value(0);
  const auto* xLinear = qobject_cast<QValueAxis*>(xAxis);
  const auto* xLog = qobject_cast<QLogValueAxis*>(xAxis);
  const auto* yLinear = qobject_cast<QValueAxis*>(yAxis);
  const double xMin = xLinear ? xLinear->min() : xLog->min();
  const double xMax = xLinear ? xLinear->max() : xLog->max();
  const double yMin = yLinear->min();
  const double yMax = yLinear->max();
  for (std::size_t i = 0; i < FSeries.size(); ++i) {
    const auto& values = FWaves.Traces[i].Values;
    QList<QPointF> points;
    for (std::size_t k : PeakPreservingIndices(FWaves.Scale, values, from, to, buckets))
      points.append(QPointF(toAxis(FWaves.Scale[k]), values[k]));
    FSeries[i]->replace(points);
  }
  // New points must not move the view.
  xAxis->setRange(xMin, xMax);
  yAxis->setRange(yMin, yMax);
  FRefreshing = false;
  viewport()->update();
}

std::optional<double> TWaveformPlot::ScaleAt(QPoint ViewPoint) const {
  if (FSeries.empty()) return std::nullopt;
  const QPointF chartPoint = chart()->mapFromScene(mapToScene(ViewPoint));
  return fromAxis(chart()->mapToValue(chartPoint, FSeries.front()).x());
}

void TWaveformPlot::SetCursor(int Which, double X) {
  FCursors[static_cast<std::size_t>(Which)] = X;
  viewport()->update();
  emit CursorsChanged();
}

void TWaveformPlot::mousePressEvent(QMouseEvent* Event) {
  const QRect area = mapFromScene(chart()->mapToScene(chart()->plotArea())).boundingRect();
  if (!area.contains(Event->position().toPoint()) || FSeries.empty()) {
    // The legend and the axes get their clicks as usual.
    QChartView::mousePressEvent(Event);
    return;
  }
  FPressButton = Event->button();
  FPressPoint = FLastPoint = Event->position().toPoint();
  FDragged = false;
  Event->accept();
}

void TWaveformPlot::mouseMoveEvent(QMouseEvent* Event) {
  if (FPressButton == Qt::NoButton) {
    QChartView::mouseMoveEvent(Event);
    return;
  }
  const QPoint point = Event->position().toPoint();
  if ((point - FPressPoint).manhattanLength() >= kDragDistance) FDragged = true;
  if (!FDragged) return;
  if (FPressButton == Qt::LeftButton) {
    const QRect area = mapFromScene(chart()->mapToScene(chart()->plotArea())).boundingRect();
    const int left = std::clamp(std::min(FPressPoint.x(), point.x()), area.left(), area.right());
    const int right = std::clamp(std::max(FPressPoint.x(), point.x()), area.left(), area.right());
    FRubberBand->setGeometry(QRect(QPoint(left, area.top()), QPoint(right, area.bottom())));
    FRubberBand->show();
  } else {
    const QPoint step = point - FLastPoint;
    chart()->scroll(-step.x(), step.y());
  }
  FLastPoint = point;
  Event->accept();
}

void TWaveformPlot::mouseReleaseEvent(QMouseEvent* Event) {
  if (FPressButton == Qt::NoButton || Event->button() != FPressButton) {
    QChartView::mouseReleaseEvent(Event);
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
  if (notches == 0 || FSeries.empty()) {
    QChartView::wheelEvent(Event);
    return;
  }
  const double factor = std::pow(0.8, notches);
  if (Event->modifiers() & Qt::ControlModifier) {
    auto* axis = qobject_cast<QValueAxis*>(chart()->axes(Qt::Vertical).value(0));
    const double middle = (axis->min() + axis->max()) / 2;
    const double half = (axis->max() - axis->min()) / 2 * factor;
    axis->setRange(middle - half, middle + half);
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
  const qreal stepX = chart()->plotArea().width() / 10;
  const qreal stepY = chart()->plotArea().height() / 10;
  switch (Event->key()) {
    case Qt::Key_Home:
      ShowWhole();
      break;
    case Qt::Key_Left:
      chart()->scroll(-stepX, 0);
      break;
    case Qt::Key_Right:
      chart()->scroll(stepX, 0);
      break;
    case Qt::Key_Up:
      chart()->scroll(0, stepY);
      break;
    case Qt::Key_Down:
      chart()->scroll(0, -stepY);
      break;
    case Qt::Key_Plus:
      chart()->zoom(1.25);
      break;
    case Qt::Key_Minus:
      chart()->zoom(0.8);
      break;
    default:
      QChartView::keyPressEvent(Event);
      return;
  }
  Event->accept();
}

void TWaveformPlot::drawForeground(QPainter* Painter, const QRectF& Rect) {
  QChartView::drawForeground(Painter, Rect);
  if (FSeries.empty()) return;
  const QRectF area = chart()->mapRectToScene(chart()->plotArea());
  static const char* const kNames[] = {"A", "B"};
  for (std::size_t i = 0; i < FCursors.size(); ++i) {
    if (!FCursors[i]) continue;
    const QPointF at = chart()->mapToScene(chart()->mapToPosition(QPointF(toAxis(*FCursors[i]), 0.0), FSeries.front()));
    if (at.x() < area.left() || at.x() > area.right()) continue;
    QPen pen(i == 0 ? QColor(0xb0, 0x00, 0x00) : QColor(0x00, 0x00, 0xb0));
    pen.setStyle(i == 0 ? Qt::SolidLine : Qt::DashLine);
    pen.setWidthF(1.2);
    Painter->save();
    Painter->setPen(pen);
    Painter->drawLine(QPointF(at.x(), area.top()), QPointF(at.x(), area.bottom()));
    Painter->drawText(QPointF(at.x() + 3, area.top() + 12), kNames[i]);
    Painter->restore();
  }
}

TWaveformWindow::TWaveformWindow(QWidget* Parent, TPrompts& Prompts, const QString& BaseName)
    : QWidget(Parent, Qt::Window), FPrompts(Prompts), FBaseName(BaseName) {
  setWindowTitle("Waveforms - " + QFileInfo(BaseName).fileName());
  resize(1000, 720);

  ToolBar = new QToolBar(this);
  WholePlotAction = ToolBar->addAction("&Whole plot", this, [this] {
    if (TWaveformPlot* plot = CurrentPlot()) plot->ShowWhole();
  });
  WholePlotAction->setShortcut(QKeySequence(Qt::Key_Home));
  WholePlotAction->setToolTip("Show the whole run (Home)");
  ToolBar->addSeparator();
  ExportPngAction = ToolBar->addAction("Export &PNG...", this, [this] {
    askAndExport("plot as PNG", "PNG image (*.png)", "png", &TWaveformWindow::ExportPng);
  });
  ExportSvgAction = ToolBar->addAction("Export &SVG...", this, [this] {
    askAndExport("plot as SVG", "SVG drawing (*.svg)", "svg", &TWaveformWindow::ExportSvg);
  });
  ExportCsvAction = ToolBar->addAction("Export &CSV...", this, [this] {
    askAndExport("data as CSV", "CSV table (*.csv)", "csv", &TWaveformWindow::ExportCsv);
  });

  ErrorText = new QPlainTextEdit(this);
  ErrorText->setObjectName("ErrorText");
  ErrorText->setReadOnly(true);
  ErrorText->setLineWrapMode(QPlainTextEdit::NoWrap);
  ErrorText->setStyleSheet("QPlainTextEdit { background: #fff0f0; color: #800000; }");
  ErrorText->setMaximumHeight(170);
  ErrorText->hide();

  Tabs = new QTabWidget(this);
  Readout = new QTableWidget(0, 4, this);
  Readout->setObjectName("Readout");
  Readout->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Readout->verticalHeader()->hide();
  Readout->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  Readout->setHorizontalHeaderLabels({"Node", "A", "B", "B - A"});
  auto* splitter = new QSplitter(Qt::Vertical, this);
  splitter->addWidget(Tabs);
  splitter->addWidget(Readout);
  splitter->setStretchFactor(0, 4);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({520, 150});
  FPlots = splitter;
  Readout->verticalHeader()->setDefaultSectionSize(Readout->fontMetrics().height() + 6);
  // The first column is a second legend: its boxes switch lines off and on.
  connect(Readout, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* Item) {
    TWaveformPlot* plot = CurrentPlot();
    if (!plot || Item->column() != 0 || Item->row() >= plot->TraceCount()) return;
    const bool visible = Item->checkState() == Qt::Checked;
    const int row = Item->row();
    // Later: switching the line rebuilds the table, item included.
    QMetaObject::invokeMethod(
        plot,
        [plot, row, visible] {
          if (plot->TraceVisible(row) != visible) plot->SetTraceVisible(row, visible);
        },
        Qt::QueuedConnection);
  });

  Summary = new QLabel(this);
  Summary->setWordWrap(true);
  Summary->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(ToolBar);
  layout->addWidget(ErrorText);
  layout->addWidget(FPlots, 1);
  layout->addWidget(Summary);

  connect(Tabs, &QTabWidget::currentChanged, this, [this] {
    updateReadout();
    updateActions();
  });
  updateActions();
}

TWaveformPlot* TWaveformWindow::CurrentPlot() const { return qobject_cast<TWaveformPlot*>(Tabs->currentWidget()); }

void TWaveformWindow::clearPlots() {
  while (Tabs->count() > 0) {
    QWidget* page = Tabs->widget(0);
    Tabs->removeTab(0);
    delete page;
  }
  FTransient = nullptr;
  FAc = nullptr;
}

void TWaveformWindow::ShowFailure(const QString& Message) {
  clearPlots();
  ErrorText->setPlainText("The simulation could not start:\n\n" + Message);
  ErrorText->setMaximumHeight(QWIDGETSIZE_MAX);
  ErrorText->show();
  FPlots->hide();
  Summary->setText("Fix the circuit (the trailer and header templates of Edit > Network) and simulate again.");
  updateReadout();
  updateActions();
}

void TWaveformWindow::ShowResult(const TSimulationResult& Result, const std::vector<std::string>& Notes) {
  clearPlots();
  if (!Result.Transient.Empty()) {
    FTransient = new TWaveformPlot(Result.Transient, TWaveformPlot::skTime);
    Tabs->addTab(FTransient, "&Transient");
    connect(FTransient, &TWaveformPlot::CursorsChanged, this, [this] { updateReadout(); });
  }
  if (!Result.Ac.Empty()) {
    FAc = new TWaveformPlot(Result.Ac, TWaveformPlot::skFrequency);
    Tabs->addTab(FAc, "&AC");
    connect(FAc, &TWaveformPlot::CursorsChanged, this, [this] { updateReadout(); });
  }

  FPlots->setVisible(Tabs->count() > 0);
  if (Result.Ok) {
    ErrorText->hide();
  } else {
    ErrorText->setPlainText("The simulation failed:\n\n" + QString::fromLocal8Bit(Result.Error));
    ErrorText->setMaximumHeight(Tabs->count() > 0 ? 170 : QWIDGETSIZE_MAX);
    ErrorText->show();
  }

  QStringList summary;
  if (FTransient) {
    const auto time = [](const std::string& Text) { return QString::fromStdString(Text).replace(" us", " \u00b5s"); };
    summary << QString("Transient: %1 points up to %2, maximum step %3 (%4).")
                   .arg(Result.Transient.Scale.size())
                   .arg(time(TimeText(Result.Transient.Scale.back())))
                   .arg(time(TimeText(Result.Step.MaxStep)))
                   .arg(time(Result.Step.Reason));
  }
  if (FAc) summary << QString("AC: %1 frequencies.").arg(Result.Ac.Scale.size());
  for (const auto& note : Notes) summary << "Note: " + QString::fromLocal8Bit(note) + ".";
  if (Tabs->count() > 0)
    summary << "Click: cursor A; Shift+click or right click: cursor B; drag: zoom; wheel: zoom (Ctrl: voltage); "
               "right or middle drag: pan; click a legend entry: line off/on; Home: whole plot.";
  Summary->setText(summary.join("\n"));
  updateReadout();
  updateActions();
}

void TWaveformWindow::updateActions() {
  const bool plot = CurrentPlot() != nullptr;
  ExportPngAction->setEnabled(plot);
  ExportSvgAction->setEnabled(plot);
  ExportCsvAction->setEnabled(plot);
  WholePlotAction->setEnabled(plot);
}

void TWaveformWindow::updateReadout() {
  TWaveformPlot* plot = CurrentPlot();
  const QSignalBlocker quiet(Readout);
  Readout->setRowCount(0);
  if (!plot) return;
  const bool time = plot->Kind() == TWaveformPlot::skTime;
  const auto position = [&](std::optional<double> X) -> QString {
    if (!X) return "-";
    if (time) return QString::number(*X * plot->UnitFactor(), 'f', 4) + " " + plot->UnitName();
    return QString::number(*X, 'g', 5) + " Hz";
  };
  const auto a = plot->Cursor(0);
  const auto b = plot->Cursor(1);
  QString delta = "B - A";
  if (a && b) delta += ": " + position(*b - *a);
  Readout->setHorizontalHeaderLabels({"Node", "A at " + position(a), "B at " + position(b), delta});
  const QString unit = " V";
  const TWaveforms& waves = plot->Waves();
  Readout->setRowCount(plot->TraceCount());
  for (int i = 0; i < plot->TraceCount(); ++i) {
    const auto& values = waves.Traces[static_cast<std::size_t>(i)].Values;
    const auto at = [&](std::optional<double> X) { return X ? ValueAt(waves.Scale, values, *X) : std::nullopt; };
    const auto va = at(a);
    const auto vb = at(b);
    auto* name = new QTableWidgetItem(nodeName(waves.Traces[static_cast<std::size_t>(i)].Name));
    name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    name->setCheckState(plot->TraceVisible(i) ? Qt::Checked : Qt::Unchecked);
    name->setForeground(plot->TraceVisible(i) ? QBrush(traceColor(i)) : QBrush(Qt::gray));
    Readout->setItem(i, 0, name);
    Readout->setItem(i, 1, new QTableWidgetItem(va ? QString::number(*va, 'f', 4) + unit : "-"));
    Readout->setItem(i, 2, new QTableWidgetItem(vb ? QString::number(*vb, 'f', 4) + unit : "-"));
    Readout->setItem(i, 3, new QTableWidgetItem(va && vb ? QString::number(*vb - *va, 'f', 4) + unit : "-"));
  }
}

bool TWaveformWindow::writeBytes(const QString& Path, const QByteArray& Bytes) {
  try {
    writeFileAtomically(Path.toLocal8Bit().toStdString(),
                        std::string_view(Bytes.constData(), static_cast<std::size_t>(Bytes.size())));
    return true;
  } catch (const std::exception& error) {
    FPrompts.ShowError(this, QString::fromLocal8Bit(error.what()));
    return false;
  }
}

bool TWaveformWindow::ExportPng(const QString& Path) {
  TWaveformPlot* plot = CurrentPlot();
  if (!plot) return false;
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!plot->grab().save(&buffer, "PNG")) {
    FPrompts.ShowError(this, "The plot could not be turned into a PNG image.");
    return false;
  }
  return writeBytes(Path, bytes);
}

bool TWaveformWindow::ExportSvg(const QString& Path) {
  TWaveformPlot* plot = CurrentPlot();
  if (!plot) return false;
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QSvgGenerator generator;
  generator.setOutputDevice(&buffer);
  generator.setSize(plot->size());
  generator.setViewBox(QRect(QPoint(0, 0), plot->size()));
  generator.setTitle(windowTitle());
  generator.setDescription("Busweave waveforms");
  QPainter painter(&generator);
  plot->render(&painter);
  painter.end();
  return writeBytes(Path, bytes);
}

bool TWaveformWindow::ExportCsv(const QString& Path) {
  TWaveformPlot* plot = CurrentPlot();
  if (!plot) return false;
  const std::string csv = WaveformsCsv(plot->Waves());
  return writeBytes(Path, QByteArray(csv.data(), static_cast<qsizetype>(csv.size())));
}

void TWaveformWindow::askAndExport(const QString& What, const QString& Filter, const QString& Suffix,
                                   bool (TWaveformWindow::*Export)(const QString&)) {
  TWaveformPlot* plot = CurrentPlot();
  if (!plot) return;
  const QString analysis = plot->Kind() == TWaveformPlot::skTime ? "transient" : "ac";
  TSaveDialogRequest request;
  request.Title = "Export " + What;
  request.Filter = Filter;
  request.DefaultSuffix = Suffix;
  request.FileName = FBaseName + "-" + analysis + "." + Suffix;
  request.Folder = QFileInfo(request.FileName).absolutePath();
  const auto chosen = FPrompts.SaveFileName(this, request);
  if (!chosen) return;
  (this->*Export)(WithDefaultSuffix(*chosen, Suffix));
}

}  // namespace busweave
