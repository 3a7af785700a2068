#include "simview/AdviceRatesDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <cmath>

#include "simview/AnalysisPanel.h"
#include "verdict/BusAnalysis.h"

namespace busweave {
namespace {

constexpr double kLeastRate = 1e3;
constexpr double kMostRate = 100e6;

QComboBox* rateBox(const std::vector<std::int64_t>& Rates, QWidget* Parent) {
  auto* box = new QComboBox(Parent);
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);
  for (const std::int64_t rate : Rates) box->addItem(BitRateText(rate));
  return box;
}

}  // namespace

std::optional<std::int64_t> ParseBitRate(const QString& Text) {
  QString digits = Text.trimmed();
  for (const char* unit : {"bit/s", "bps"})
    if (digits.endsWith(unit, Qt::CaseInsensitive)) digits = digits.chopped(static_cast<qsizetype>(strlen(unit)));
  digits = digits.trimmed();
  double scale = 1;
  if (digits.endsWith('k') || digits.endsWith('K')) scale = 1e3;
  if (digits.endsWith('M')) scale = 1e6;
  if (scale != 1) digits = digits.chopped(1).trimmed();
  bool ok = false;
  const double value = digits.toDouble(&ok);
  if (!ok || !std::isfinite(value)) return std::nullopt;
  const double rate = value * scale;
  if (rate != std::floor(rate) || rate < kLeastRate || rate > kMostRate) return std::nullopt;
  return static_cast<std::int64_t>(rate);
}

TAdviceRatesDialog::TAdviceRatesDialog(QWidget* Parent) : QDialog(Parent) {
  setWindowTitle("How to make it work");
  const TAnalysisSettings settings;
  auto* layout = new QVBoxLayout(this);
  auto* intro = new QLabel(
      "Searches the smallest changes to the terminations, stubs and trunk that make the bus "
      "work at these rates; every step is a simulation.",
      this);
  intro->setWordWrap(true);
  layout->addWidget(intro);
  auto* form = new QFormLayout;
  DataRateBox = rateBox(settings.DataRates, this);
  DataRateBox->insertItem(0, QString());
  DataRateBox->setCurrentIndex(0);
  DataRateBox->lineEdit()->setPlaceholderText("the next rate above today's highest");
  DataRateBox->setMinimumContentsLength(30);
  ArbitrationRateBox = rateBox(settings.ArbitrationRates, this);
  ArbitrationRateBox->setCurrentText(BitRateText(settings.RequiredRate));
  form->addRow("&Data rate:", DataRateBox);
  form->addRow("&Arbitration rate:", ArbitrationRateBox);
  layout->addLayout(form);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &TAdviceRatesDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TAdviceRatesDialog::reject);
  layout->addWidget(buttons);
}

std::optional<TAdviceRates> TAdviceRatesDialog::Rates() const {
  TAdviceRates rates;
  if (!DataRateBox->currentText().trimmed().isEmpty()) {
    rates.DataRate = ParseBitRate(DataRateBox->currentText());
    if (!rates.DataRate) return std::nullopt;
  }
  const auto arbitration = ParseBitRate(ArbitrationRateBox->currentText());
  if (!arbitration) return std::nullopt;
  rates.ArbitrationRate = *arbitration;
  return rates;
}

void TAdviceRatesDialog::SetRates(const TAdviceRates& Rates) {
  DataRateBox->setCurrentText(Rates.DataRate ? BitRateText(*Rates.DataRate) : QString());
  ArbitrationRateBox->setCurrentText(BitRateText(Rates.ArbitrationRate));
}

void TAdviceRatesDialog::accept() {
  for (QComboBox* box : {DataRateBox, ArbitrationRateBox}) {
    const QString text = box->currentText().trimmed();
    if ((box == DataRateBox && text.isEmpty()) || ParseBitRate(text)) continue;
    if (ReportError)
      ReportError("\"" + text + "\" is no bit rate from 1 kbit/s to 100 Mbit/s, such as 2 Mbit/s, 500k or 500000.");
    box->setFocus();
    box->lineEdit()->selectAll();
    return;
  }
  QDialog::accept();
}

}  // namespace busweave
