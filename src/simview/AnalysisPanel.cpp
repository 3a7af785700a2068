#include "simview/AnalysisPanel.h"

#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include "base/Units.h"
#include "plot/EyePlot.h"

namespace busweave {

namespace {
const QString kOutdated = " The network has changed since; Edit > Analyze bus analyses it again.";
// The note that the network changed, after a summary that ends its own last sentence.
QString withOutdated(QString Summary) {
  if (!Summary.endsWith('.')) Summary += '.';
  return Summary + kOutdated;
}

QString nsText(const std::optional<double>& Seconds) {
  return Seconds ? QString::number(*Seconds * 1e9, 'f', 1) : QString("never");
}

QString figureText(const std::string& Figure) {
  if (Figure == "round_trip") return "round trip";
  if (Figure == "settle") return "settling";
  if (Figure == "false_edge") return "false edge";
  if (Figure == "no_edge") return "no edge";
  if (Figure == "decode") return "bit read wrong";
  if (Figure == "unproved") return "not proved";
  return QString::fromStdString(Figure);
}

QTableWidget* newTable(const QStringList& Headers, QWidget* Parent) {
  auto* table = new QTableWidget(0, static_cast<int>(Headers.size()), Parent);
  table->setHorizontalHeaderLabels(Headers);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->verticalHeader()->hide();
  table->horizontalHeader()->setStretchLastSection(true);
  return table;
}

QTableWidgetItem* cell(const QString& Text, bool Number = false) {
  auto* item = new QTableWidgetItem(Text);
  if (Number) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return item;
}

}  // namespace

TEyeView::TEyeView(QWidget* Parent) : QWidget(Parent) { setMinimumSize(240, 160); }

void TEyeView::SetEyes(std::vector<TEye> EyesIn, const TThresholds& Thresholds) {
  FEyes = std::move(EyesIn);
  FThresholds = Thresholds;
  update();
}

void TEyeView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().base());
  if (FEyes.empty()) return;
  // As many columns as keep each eye about 4:3.
  const int count = static_cast<int>(FEyes.size());
  int columns = 1;
  while (columns < count && (width() / (columns + 1)) * 3 >= (height() / ((count + columns) / (columns + 1))) * 2)
    ++columns;
  const int rows = (count + columns - 1) / columns;
  const double cellW = static_cast<double>(width()) / columns;
  const double cellH = static_cast<double>(height()) / rows;
  // The eyes side by side on one voltage scale, so that their openings compare.
  std::vector<const TEye*> shown;
  for (const TEye& eye : FEyes) shown.push_back(&eye);
  const auto volts = EyeVoltRange(shown, FThresholds);
  QFont plotFont = font();
  plotFont.setPointSizeF(plotFont.pointSizeF() * 0.85);
  for (int i = 0; i < count; ++i) {
    const TEye& eye = FEyes[static_cast<std::size_t>(i)];
    const QRectF cellRect((i % columns) * cellW, (i / columns) * cellH, cellW, cellH);
    TPlot plot = EyePlot(eye, FThresholds, volts);
    plot.Title = QString::fromStdString(eye.Receiver) + " at " + BitRateText(eye.BitRate) +
                 (eye.Works ? "" : ": a bit read wrong");
    PaintPlot(painter, plot, TPlotLayout(plot, cellRect.adjusted(1, 1, -1, -1), plotFont));
  }
}

QString BitRateText(std::int64_t Rate) { return QString::fromStdString(RateText(Rate)); }

TAnalysisPanel::TAnalysisPanel(QWidget* Parent) : QWidget(Parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  SummaryLabel = new QLabel("Edit > Analyze bus simulates each station transmitting in turn.", this);
  SummaryLabel->setWordWrap(true);
  SummaryLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(SummaryLabel);
  auto* split = new QSplitter(Qt::Horizontal, this);
  Verdicts = newTable(
      {"Phase", "Rate", "Works", "Deciding pair", "Edge", "Figure", "Value ns", "Limit ns", "What decided"}, split);
  Pairs = newTable(
      {"Transmitter", "Receiver", "Edge", "Delay ns", "Settle ns", "Overshoot V", "Undershoot V", "False edge"}, split);
  Eyes = new TEyeView(split);
  split->addWidget(Verdicts);
  split->addWidget(Pairs);
  split->addWidget(Eyes);
  layout->addWidget(split, 1);

  connect(Pairs, &QTableWidget::currentCellChanged, this, [this](int Row) {
    if (Row >= 0 && static_cast<std::size_t>(Row) < FPairs.size() && OnSelect) OnSelect(static_cast<std::size_t>(Row));
  });
  connect(Verdicts, &QTableWidget::currentCellChanged, this, [this](int Row) { verdictPicked(Row); });
}

void TAnalysisPanel::ShowVerdict(const TStreamVerdict& Stream, const std::vector<TPairMeasure>& PairsIn,
                                 const std::vector<std::string>& CheckErrors) {
  const TBusVerdict& Verdict = Stream.Bus;
  // The old rows go before the lists they index do.
  const QSignalBlocker quietVerdicts(Verdicts);
  const QSignalBlocker quietPairs(Pairs);
  FPairs = PairsIn;
  FRates = Verdict.Rates;

  QString summary = QString("Highest working rate: arbitration %1, data phase %2.")
                        .arg(Verdict.MaxArbitrationRate ? BitRateText(Verdict.MaxArbitrationRate) : QString("none"),
                             Verdict.MaxDataRate ? BitRateText(Verdict.MaxDataRate) : QString("none"));
  summary += QString(" The driver alone into 60 ohms decodes up to %1 (edges %2 ns and %3 ns after TXD%4).")
                 .arg(Stream.DriverMaxDataRate ? BitRateText(Stream.DriverMaxDataRate) : QString("no data rate"),
                      nsText(Stream.DriverDominantDelay), nsText(Stream.DriverRecessiveDelay),
                      Stream.Compensated ? QString(", its asymmetry taken out of the bus's streams") : QString());
  for (const std::string& error : CheckErrors) summary += "\nBus check error: " + QString::fromStdString(error);
  // A full run that did not finish proved nothing: its rate counts as failing, said here.
  for (const std::string& why : Stream.Unproved) summary += "\nNot proved: " + QString::fromStdString(why);
  FSummary = summary;
  SummaryLabel->setText(summary);
  Eyes->SetEyes(Stream.Eyes, TAnalysisSettings{}.Thresholds);

  Verdicts->setRowCount(static_cast<int>(FRates.size()));
  for (int row = 0; row < Verdicts->rowCount(); ++row) {
    const TRateVerdict& rate = FRates[static_cast<std::size_t>(row)];
    Verdicts->setItem(row, 0, cell(PhaseName(rate.Phase)));
    Verdicts->setItem(row, 1, cell(BitRateText(rate.BitRate), true));
    auto* works = cell(rate.Works ? "yes" : "NO");
    works->setForeground(rate.Works ? QColor(0, 110, 0) : QColor(180, 0, 0));
    Verdicts->setItem(row, 2, works);
    for (int column = 3; column < 9; ++column) Verdicts->setItem(row, column, cell("", column == 6 || column == 7));
    if (!rate.Worst) {
      Verdicts->item(row, 3)->setText("no pairs");
      continue;
    }
    const TWorstPair& worst = *rate.Worst;
    Verdicts->item(row, 3)->setText(QString::fromStdString(worst.Transmitter + " \u2192 " + worst.Receiver));
    Verdicts->item(row, 4)->setText(EdgeName(worst.Edge));
    Verdicts->item(row, 5)->setText(figureText(worst.Figure));
    if (worst.Figure == "round_trip" || worst.Figure == "margin") {
      Verdicts->item(row, 6)->setText(nsText(worst.Value));
      Verdicts->item(row, 7)->setText(nsText(worst.Limit));
    }
    Verdicts->item(row, 8)->setText(QString::fromStdString(worst.Text));
  }

  Pairs->setRowCount(static_cast<int>(FPairs.size()));
  for (int row = 0; row < Pairs->rowCount(); ++row) {
    const TPairMeasure& pair = FPairs[static_cast<std::size_t>(row)];
    Pairs->setItem(row, 0, cell(QString::fromStdString(pair.TransmitterName)));
    Pairs->setItem(row, 1, cell(QString::fromStdString(pair.ReceiverName)));
    Pairs->setItem(row, 2, cell(EdgeName(pair.Edge)));
    Pairs->setItem(row, 3, cell(nsText(pair.Delay), true));
    Pairs->setItem(row, 4, cell(nsText(pair.Settle), true));
    Pairs->setItem(row, 5, cell(QString::number(pair.Overshoot, 'f', 3), true));
    Pairs->setItem(row, 6, cell(QString::number(pair.Undershoot, 'f', 3), true));
    Pairs->setItem(row, 7, cell(pair.FalseEdge ? "after " + nsText(pair.FalseEdge) + " ns" : QString("no")));
  }
  Verdicts->resizeColumnsToContents();
  Pairs->resizeColumnsToContents();
}

void TAnalysisPanel::ShowMessage(const QString& Text) {
  const QSignalBlocker quietVerdicts(Verdicts);
  const QSignalBlocker quietPairs(Pairs);
  Verdicts->setRowCount(0);
  Pairs->setRowCount(0);
  Eyes->SetEyes({}, TThresholds{});
  FPairs.clear();
  FRates.clear();
  SummaryLabel->setText(Text);
}

void TAnalysisPanel::ShowNote(const QString& Text) {
  if (FRates.empty()) return;
  const bool outdated = SummaryLabel->text().endsWith(kOutdated);
  SummaryLabel->setText(outdated ? withOutdated(Text + "\n" + FSummary) : Text + "\n" + FSummary);
}

void TAnalysisPanel::MarkOutdated() {
  if (FRates.empty() || SummaryLabel->text().endsWith(kOutdated)) return;
  SummaryLabel->setText(withOutdated(SummaryLabel->text()));
}

QString TAnalysisPanel::Summary() const { return SummaryLabel->text(); }

void TAnalysisPanel::verdictPicked(int Row) {
  if (Row < 0 || static_cast<std::size_t>(Row) >= FRates.size() || !FRates[static_cast<std::size_t>(Row)].Worst) return;
  const TWorstPair& worst = *FRates[static_cast<std::size_t>(Row)].Worst;
  for (std::size_t i = 0; i < FPairs.size(); ++i) {
    const TPairMeasure& pair = FPairs[i];
    if (pair.TransmitterName == worst.Transmitter && pair.ReceiverName == worst.Receiver && pair.Edge == worst.Edge) {
      // The pair's row follows, so that the two tables agree; the pair is shown once.
      {
        const QSignalBlocker quiet(Pairs);
        Pairs->setCurrentCell(static_cast<int>(i), 0);
      }
      Pairs->scrollToItem(Pairs->item(static_cast<int>(i), 0));
      if (OnSelect) OnSelect(i);
      return;
    }
  }
}

}  // namespace busweave
