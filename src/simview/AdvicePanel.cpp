#include "simview/AdvicePanel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include "plot/EyePlot.h"
#include "simview/AnalysisPanel.h"

namespace busweave {
namespace {

const QString kOutdated = " The network has changed since; Edit > How to make it work searches again.";

QString rateOrNone(std::int64_t Rate) { return Rate ? BitRateText(Rate) : QString("none"); }

QTableWidgetItem* cell(const QString& Text, bool Number = false) {
  auto* item = new QTableWidgetItem(Text);
  if (Number) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return item;
}

// An eye view under its caption.
QWidget* captioned(const QString& Caption, TEyeView*& View, QWidget* Parent) {
  auto* box = new QWidget(Parent);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(new QLabel(Caption, box));
  View = new TEyeView(box);
  layout->addWidget(View, 1);
  return box;
}

// The note that the network changed, after a summary that ends its own last sentence.
QString withOutdated(QString Summary) {
  if (!Summary.endsWith('.')) Summary += '.';
  return Summary + kOutdated;
}

}  // namespace

QString ProposalChangeText(const TProposal& Proposal) {
  const QString text = QString::fromStdString(Proposal.Text);
  for (const char* verdict : {": reaches ", ": does not reach "})
    if (const qsizetype at = text.indexOf(verdict); at >= 0) return text.left(at);
  return text;
}

TAdvicePanel::TAdvicePanel(QWidget* Parent) : QWidget(Parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  SummaryLabel = new QLabel("Edit > How to make it work searches the smallest changes that make the bus work.", this);
  SummaryLabel->setWordWrap(true);
  SummaryLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(SummaryLabel);

  auto* split = new QSplitter(Qt::Horizontal, this);
  auto* left = new QWidget(split);
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(0, 0, 0, 0);
  Proposals = new QTableWidget(0, 6, left);
  Proposals->setHorizontalHeaderLabels({"#", "Change", "Reaches", "Arbitration up to", "Data up to", "Margin ns"});
  Proposals->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Proposals->setSelectionBehavior(QAbstractItemView::SelectRows);
  Proposals->setSelectionMode(QAbstractItemView::SingleSelection);
  Proposals->verticalHeader()->hide();
  Proposals->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
  leftLayout->addWidget(Proposals, 1);
  auto* bottom = new QHBoxLayout;
  ProposalText = new QLabel(left);
  ProposalText->setWordWrap(true);
  ProposalText->setTextInteractionFlags(Qt::TextSelectableByMouse);
  ApplyButton = new QPushButton("&Apply", left);
  ApplyButton->setToolTip("Make the picked change in the network; until it is saved, Edit > Undo takes it back");
  ApplyButton->setEnabled(false);
  bottom->addWidget(ProposalText, 1);
  bottom->addWidget(ApplyButton, 0, Qt::AlignTop);
  leftLayout->addLayout(bottom);
  split->addWidget(left);
  split->addWidget(captioned("Today", BeforeEyes, split));
  split->addWidget(captioned("After the change", AfterEyes, split));
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  split->setStretchFactor(2, 2);
  layout->addWidget(split, 1);

  connect(Proposals, &QTableWidget::currentCellChanged, this, [this](int Row) { proposalPicked(Row); });
  connect(ApplyButton, &QPushButton::clicked, this, [this] {
    if (const auto picked = Picked(); picked && OnApply) OnApply(*picked);
  });
}

void TAdvicePanel::ShowAdvice(const TAdvice& Advice) {
  const QSignalBlocker quiet(Proposals);
  FHasAdvice = true;
  FProposals = Advice.Proposals;
  FBefore = Advice.BeforeEyes;
  FThresholds = Advice.Settings.Thresholds;
  const TBusVerdict& today = Advice.Before.Bus;
  FSummary = QString("Asked: data %1 with arbitration %2. Today the bus works up to arbitration %3, data %4.\n%5.")
                 .arg(BitRateText(Advice.Targets.DataRate), BitRateText(Advice.Targets.ArbitrationRate),
                      rateOrNone(today.MaxArbitrationRate), rateOrNone(today.MaxDataRate),
                      QString::fromStdString(Advice.Summary));
  SummaryLabel->setText(FSummary);

  Proposals->setRowCount(static_cast<int>(FProposals.size()));
  for (int row = 0; row < Proposals->rowCount(); ++row) {
    const TProposal& p = FProposals[static_cast<std::size_t>(row)];
    Proposals->setItem(row, 0, cell(QString::number(row + 1), true));
    Proposals->setItem(row, 1, cell(ProposalChangeText(p)));
    auto* reaches = cell(p.Reaches ? "yes" : "no");
    reaches->setForeground(p.Reaches ? QColor(0, 110, 0) : QColor(180, 0, 0));
    Proposals->setItem(row, 2, reaches);
    Proposals->setItem(row, 3, cell(rateOrNone(p.MaxArbitrationRate), true));
    Proposals->setItem(row, 4, cell(rateOrNone(p.MaxDataRate), true));
    Proposals->setItem(row, 5, cell(p.Reaches ? QString::number(p.Margin * 1e9, 'f', 1) : QString(), true));
    Proposals->item(row, 1)->setToolTip(QString::fromStdString(p.Text));
  }
  Proposals->resizeColumnToContents(0);
  for (int column = 2; column < 6; ++column) Proposals->resizeColumnToContents(column);
  BeforeEyes->SetEyes(FBefore, FThresholds);
  if (FProposals.empty()) {
    proposalPicked(-1);
  } else {
    Proposals->setCurrentCell(0, 1);
    proposalPicked(0);
  }
}

void TAdvicePanel::ShowMessage(const QString& Text) {
  const QSignalBlocker quiet(Proposals);
  FHasAdvice = false;
  FProposals.clear();
  FBefore.clear();
  Proposals->setRowCount(0);
  BeforeEyes->SetEyes({}, TThresholds{});
  proposalPicked(-1);
  SummaryLabel->setText(Text);
}

void TAdvicePanel::ShowNote(const QString& Text) {
  if (!FHasAdvice) return;
  const bool outdated = SummaryLabel->text().endsWith(kOutdated);
  SummaryLabel->setText(outdated ? withOutdated(Text + "\n" + FSummary) : Text + "\n" + FSummary);
}

void TAdvicePanel::MarkOutdated() {
  if (!FHasAdvice || SummaryLabel->text().endsWith(kOutdated)) return;
  SummaryLabel->setText(withOutdated(SummaryLabel->text()));
}

std::optional<std::size_t> TAdvicePanel::Picked() const {
  const int row = Proposals->currentRow();
  if (row < 0 || static_cast<std::size_t>(row) >= FProposals.size()) return std::nullopt;
  return static_cast<std::size_t>(row);
}

QString TAdvicePanel::Summary() const { return SummaryLabel->text(); }

void TAdvicePanel::proposalPicked(int Row) {
  const bool valid = Row >= 0 && static_cast<std::size_t>(Row) < FProposals.size();
  ApplyButton->setEnabled(valid);
  if (!valid) {
    ProposalText->clear();
    AfterEyes->SetEyes({}, TThresholds{});
    BeforeEyes->SetVoltRange(std::nullopt);
    return;
  }
  const TProposal& p = FProposals[static_cast<std::size_t>(Row)];
  ProposalText->setText(QString::fromStdString(p.Text) + ".");
  AfterEyes->SetEyes(p.Eyes, FThresholds);
  // Today's eyes and those after the change on one voltage scale, so that their openings compare.
  std::vector<const TEye*> both;
  for (const TEye& eye : FBefore) both.push_back(&eye);
  for (const TEye& eye : p.Eyes) both.push_back(&eye);
  const auto volts = EyeVoltRange(both, FThresholds);
  BeforeEyes->SetVoltRange(volts);
  AfterEyes->SetVoltRange(volts);
}

}  // namespace busweave
