#include "simview/WaveformWindow.h"

#include <QAction>
#include <QBuffer>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "base/SafeFile.h"
#include "gui/Prompts.h"
#include "spice/Waveforms.h"

namespace busweave {
namespace {

// The frame a window manager gives a window, until the window has one to measure.
constexpr QSize kAssumedFrame(8, 32);
// The property of a plot that names its exports, where the analysis does not.
constexpr const char* kFilePart = "filePart";

}  // namespace

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

  Notice = new QLabel(this);
  Notice->setObjectName("Notice");
  Notice->setWordWrap(true);
  Notice->setStyleSheet("QLabel { background: #fff4c0; color: #5a4500; padding: 4px; }");
  Notice->hide();

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
  layout->addWidget(Notice);
  layout->addWidget(ErrorText);
  layout->addWidget(FPlots, 1);
  layout->addWidget(Summary);

  connect(Tabs, &QTabWidget::currentChanged, this, [this] {
    updateReadout();
    updateActions();
  });
  updateActions();
}

void TWaveformWindow::showEvent(QShowEvent* Event) {
  QWidget::showEvent(Event);
  if (std::exchange(FPlaced, true)) return;
  fitOnScreen();
  // Again once the window manager has put its frame round the window.
  QTimer::singleShot(0, this, &TWaveformWindow::fitOnScreen);
}

void TWaveformWindow::fitOnScreen() {
  // Over the document's window, but all of it on that screen, frame included, however small.
  const QWidget* over = parentWidget() ? parentWidget()->window() : nullptr;
  QScreen* shown = over ? over->screen() : screen();
  if (!shown) return;
  const QRect available = shown->availableGeometry();
  QSize frame = frameGeometry().size() - size();
  if (frame.isNull()) frame = kAssumedFrame;
  resize(size().boundedTo(available.size() - frame).expandedTo(QSize(1, 1)));
  QRect outer(QPoint(0, 0), size() + frame);
  outer.moveCenter(over ? over->frameGeometry().center() : available.center());
  outer.moveLeft(
      std::clamp(outer.left(), available.left(), std::max(available.left(), available.right() + 1 - outer.width())));
  outer.moveTop(
      std::clamp(outer.top(), available.top(), std::max(available.top(), available.bottom() + 1 - outer.height())));
  move(outer.topLeft());
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
  ShowNotice({});
  ErrorText->setPlainText("The simulation could not start:\n\n" + Message);
  ErrorText->setMaximumHeight(QWIDGETSIZE_MAX);
  ErrorText->show();
  FPlots->hide();
  Summary->setText("Fix the circuit (the trailer and header templates of Edit > Network) and simulate again.");
  updateReadout();
  updateActions();
}

void TWaveformWindow::ShowNotice(const QString& Text) {
  Notice->setText(Text);
  Notice->setVisible(!Text.isEmpty());
}

TWaveformPlot* TWaveformWindow::AddTimePlot(const TWaveforms& Waves, const QString& Tab, const QString& FilePart) {
  auto* plot = new TWaveformPlot(Waves, TWaveformPlot::skTime);
  plot->setProperty(kFilePart, FilePart);
  Tabs->addTab(plot, Tab);
  connect(plot, &TWaveformPlot::CursorsChanged, this, [this] { updateReadout(); });
  FPlots->setVisible(true);
  updateActions();
  return plot;
}

void TWaveformWindow::ShowResult(const TSimulationResult& Result, const std::vector<std::string>& Notes) {
  clearPlots();
  ShowNotice({});
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
    auto* name = new QTableWidgetItem(plot->TraceName(i));
    name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    name->setCheckState(plot->TraceVisible(i) ? Qt::Checked : Qt::Unchecked);
    name->setForeground(plot->TraceVisible(i) ? QBrush(PlotTraceColor(i)) : QBrush(Qt::gray));
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
  return writeBytes(Path, plot->Svg(windowTitle()));
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
  QString analysis = plot->property(kFilePart).toString();
  if (analysis.isEmpty()) analysis = plot->Kind() == TWaveformPlot::skTime ? "transient" : "ac";
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
