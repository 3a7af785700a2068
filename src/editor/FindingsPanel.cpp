#include "editor/FindingsPanel.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QStyle>
#include <QVBoxLayout>

#include "model/NameText.h"

namespace busweave {

TFindingsPanel::TFindingsPanel(QWidget* Parent) : QWidget(Parent) {
  setObjectName("FindingsPanel");
  BitRateBox = new QComboBox(this);
  BitRateBox->setObjectName("BitRateBox");
  for (const std::uint32_t rate : {1000000u, 500000u, 250000u, 125000u, 50000u})
    BitRateBox->addItem(
        rate >= 1000000 ? QString("%1 Mbit/s").arg(rate / 1000000) : QString("%1 kbit/s").arg(rate / 1000), rate);
  BitRateBox->setCurrentIndex(1);
  FindingsList = new QListWidget(this);
  FindingsList->setObjectName("FindingsList");
  FindingsList->setWordWrap(true);

  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel("Bit rate:", this));
  top->addWidget(BitRateBox);
  top->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addLayout(top);
  layout->addWidget(FindingsList, 1);

  connect(BitRateBox, &QComboBox::currentIndexChanged, this, [this] {
    if (OnBitRateChanged) OnBitRateChanged();
  });
  connect(FindingsList, &QListWidget::currentRowChanged, this, [this](int Row) {
    if (OnSelect)
      OnSelect(Row >= 0 && Row < static_cast<int>(FFindings.size()) ? &FFindings[static_cast<std::size_t>(Row)]
                                                                    : nullptr);
  });
}

std::uint32_t TFindingsPanel::BitRate() const { return BitRateBox->currentData().toUInt(); }

void TFindingsPanel::ShowFindings(std::vector<TFinding> Findings) {
  FFindings = std::move(Findings);
  const QSignalBlocker quiet(FindingsList);
  FindingsList->clear();
  for (const TFinding& finding : FFindings) {
    const QStyle::StandardPixmap icon = finding.Severity == TSeverity::Error     ? QStyle::SP_MessageBoxCritical
                                        : finding.Severity == TSeverity::Warning ? QStyle::SP_MessageBoxWarning
                                                                                 : QStyle::SP_MessageBoxInformation;
    auto* item = new QListWidgetItem(style()->standardIcon(icon), QString::fromStdString(NameToUtf8(finding.Message)));
    item->setToolTip(QString(SeverityName(finding.Severity)) + ": " + item->text());
    FindingsList->addItem(item);
  }
  if (FFindings.empty()) {
    auto* item = new QListWidgetItem("No findings: the bus keeps the rules.");
    item->setFlags(Qt::NoItemFlags);
    FindingsList->addItem(item);
  }
}

QString TFindingsPanel::Summary() const {
  int errors = 0;
  int warnings = 0;
  for (const TFinding& finding : FFindings) {
    errors += finding.Severity == TSeverity::Error ? 1 : 0;
    warnings += finding.Severity == TSeverity::Warning ? 1 : 0;
  }
  if (errors == 0 && warnings == 0) return "Bus: no findings";
  return QString("Bus: %1 error%2, %3 warning%4")
      .arg(errors)
      .arg(errors == 1 ? "" : "s")
      .arg(warnings)
      .arg(warnings == 1 ? "" : "s");
}

}  // namespace busweave
