#include "simview/AnalysisPanel.h"

#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "base/Units.h"
#include "plot/EyePlot.h"

namespace busweave {

namespace {
const QString kOutdated = " The network has changed since; Edit > Analyze bus analyses it again.";
const QString kPickARate = "Pick a rate to read in full what decided it.";
// The verdict's sentence column keeps to this width; the sentence is read in full below.
constexpr int kSentenceColumn = 8;
constexpr int kSentenceWidth = 260;
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

TEyeView::TEyeView(QWidget* Parent) : QWidget(Parent) {
  setMinimumSize(kEyeWidth, kEyeHeight);
  setToolTip("Double-click an eye to see it larger.");
}

void TEyeView::SetEyes(std::vector<TEye> EyesIn, const TThresholds& Thresholds) {
  FEyes = std::move(EyesIn);
  FThresholds = Thresholds;
  fitHeight();
  update();
}

void TEyeView::SetVoltRange(std::optional<std::pair<double, double>> Volts) {
  FVolts = Volts;
  update();
}

std::pair<double, double> TEyeView::VoltRange() const {
  if (FVolts) return *FVolts;
  std::vector<const TEye*> shown;
  for (const TEye& eye : FEyes) shown.push_back(&eye);
  return EyeVoltRange(shown, FThresholds);
}

int TEyeView::columnsFor(int Width) const {
  const int count = std::max(1, static_cast<int>(FEyes.size()));
  return std::clamp(Width / kEyeWidth, 1, count);
}

QRectF TEyeView::EyeRect(int Eye) const {
  const int count = static_cast<int>(FEyes.size());
  if (Eye < 0 || Eye >= count) return {};
  // As many columns as fit eyes of a readable width; the rows share the height, each at least
  // readable too (the view grows, and its scroll area scrolls, to hold them).
  const int columns = columnsFor(width());
  const int rows = (count + columns - 1) / columns;
  const double cellW = static_cast<double>(width()) / columns;
  const double cellH = std::max<double>(kEyeHeight, static_cast<double>(height()) / rows);
  return QRectF((Eye % columns) * cellW, (Eye / columns) * cellH, cellW, cellH);
}

void TEyeView::fitHeight() {
  const int count = static_cast<int>(FEyes.size());
  const int columns = columnsFor(width());
  setMinimumHeight(std::max(kEyeHeight, (count + columns - 1) / columns * kEyeHeight));
}

void TEyeView::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  fitHeight();
}

int TEyeView::EyeAt(QPoint Point) const {
  for (int i = 0; i < static_cast<int>(FEyes.size()); ++i)
    if (EyeRect(i).contains(Point)) return i;
  return -1;
}

void TEyeView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().base());
  if (FEyes.empty()) return;
  // The eyes side by side on one voltage scale, so that their openings compare.
  const auto volts = VoltRange();
  QFont plotFont = font();
  plotFont.setPointSizeF(plotFont.pointSizeF() * 0.85);
  for (int i = 0; i < static_cast<int>(FEyes.size()); ++i) {
    const TEye& eye = FEyes[static_cast<std::size_t>(i)];
    TPlot plot = EyePlot(eye, FThresholds, volts);
    plot.Title = EyeTitle(eye);
    PaintPlot(painter, plot, TPlotLayout(plot, EyeRect(i).adjusted(1, 1, -1, -1), plotFont));
  }
}

void TEyeView::mouseDoubleClickEvent(QMouseEvent* Event) {
  if (const int eye = EyeAt(Event->position().toPoint()); eye >= 0) Enlarge(eye);
}

QWidget* TEyeView::Enlarge(int Eye) {
  if (Eye < 0 || Eye >= static_cast<int>(FEyes.size())) return nullptr;
  const TEye& eye = FEyes[static_cast<std::size_t>(Eye)];
  if (!FEnlarged) {
    FEnlarged = new QWidget(window(), Qt::Window);
    FEnlarged->setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(FEnlarged);
    layout->addWidget(new TEyeView(FEnlarged), 1);
    auto* caption = new QLabel(FEnlarged);
    caption->setWordWrap(true);
    caption->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(caption);
    FEnlarged->resize(760, 600);
  }
  auto* view = FEnlarged->findChild<TEyeView*>();
  view->setToolTip({});
  view->SetEyes({eye}, FThresholds);
  view->SetVoltRange(VoltRange());
  FEnlarged->findChild<QLabel*>()->setText(
      QString("%1's bits from %2, folded onto one bit time from where its decoder placed each bit's start; "
              "the sample point at %3 % of the bit.")
          .arg(QString::fromStdString(eye.Receiver), QString::fromStdString(eye.Transmitter))
          .arg(eye.BitTime > 0 ? eye.SamplePoint / eye.BitTime * 100 : 0.0, 0, 'f', 0));
  FEnlarged->setWindowTitle("Eye - " + EyeTitle(eye));
  FEnlarged->show();
  FEnlarged->raise();
  return FEnlarged;
}

QString EyeTitle(const TEye& Eye) {
  return QString::fromStdString(Eye.Receiver) + " at " + BitRateText(Eye.BitRate) +
         (Eye.Works ? "" : ": a bit read wrong");
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
  // The verdicts over the sentence of the picked rate, which the table's last column cuts short.
  auto* verdictBox = new QWidget(split);
  auto* verdictLayout = new QVBoxLayout(verdictBox);
  verdictLayout->setContentsMargins(0, 0, 0, 0);
  Verdicts =
      newTable({"Phase", "Rate", "Works", "Deciding pair", "Edge", "Figure", "Value ns", "Limit ns", "What decided"},
               verdictBox);
  Verdicts->setWordWrap(false);
  Verdicts->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  DecidedText = new QLabel(kPickARate, verdictBox);
  DecidedText->setWordWrap(true);
  DecidedText->setTextInteractionFlags(Qt::TextSelectableByMouse);
  verdictLayout->addWidget(Verdicts, 1);
  verdictLayout->addWidget(DecidedText);
  Pairs = newTable(
      {"Transmitter", "Receiver", "Edge", "Delay ns", "Settle ns", "Overshoot V", "Undershoot V", "False edge"}, split);
  // Every station's eyes at a readable size, scrolled when the dock is small.
  auto* eyesArea = new QScrollArea(split);
  eyesArea->setWidgetResizable(true);
  eyesArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Eyes = new TEyeView;
  eyesArea->setWidget(Eyes);
  eyesArea->setMinimumWidth(Eyes->minimumWidth() + eyesArea->verticalScrollBar()->sizeHint().width() + 4);
  split->addWidget(verdictBox);
  split->addWidget(Pairs);
  split->addWidget(eyesArea);
  // The eyes take the larger share: side by side they compare.
  split->setStretchFactor(0, 2);
  split->setStretchFactor(1, 2);
  split->setStretchFactor(2, 3);
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
    Verdicts->item(row, kSentenceColumn)->setText(QString::fromStdString(worst.Text));
    Verdicts->item(row, kSentenceColumn)->setToolTip(QString::fromStdString(worst.Text));
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
  Verdicts->setColumnWidth(kSentenceColumn, std::min(Verdicts->columnWidth(kSentenceColumn), kSentenceWidth));
  Pairs->resizeColumnsToContents();
  DecidedText->setText(kPickARate);
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
  DecidedText->setText(kPickARate);
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

void TAnalysisPanel::SelectPair(std::size_t Pair) {
  if (Pair >= FPairs.size()) return;
  const QSignalBlocker quiet(Pairs);
  Pairs->setCurrentCell(static_cast<int>(Pair), 0);
}

void TAnalysisPanel::verdictPicked(int Row) {
  if (Row < 0 || static_cast<std::size_t>(Row) >= FRates.size()) return;
  const TRateVerdict& rate = FRates[static_cast<std::size_t>(Row)];
  DecidedText->setText(QString("%1 %2: %3")
                           .arg(QString::fromUtf8(PhaseName(rate.Phase)), BitRateText(rate.BitRate),
                                rate.Worst ? QString::fromStdString(rate.Worst->Text) : QString("no pairs")));
  if (!rate.Worst) return;
  const TWorstPair& worst = *rate.Worst;
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
