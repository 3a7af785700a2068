#pragma once

// The question "How to make it work" asks before it searches: the data rate to reach (left
// empty, the next listed rate above the highest that works today) and the arbitration rate
// (the rate the bus must work at, 500 kbit/s, filled in). A rate typed that cannot be read is
// reported and the dialog stays open.

#include <QDialog>
#include <cstdint>
#include <functional>
#include <optional>

class QComboBox;

namespace busweave {

// "2M", "2 Mbit/s", "500k", "500 kbit/s", "500000": a bit rate from 1 kbit/s to 100 Mbit/s.
std::optional<std::int64_t> ParseBitRate(const QString& Text);

// The rates asked for; no data rate, the default.
struct TAdviceRates {
  std::optional<std::int64_t> DataRate;
  std::int64_t ArbitrationRate = 0;
};

class TAdviceRatesDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TAdviceRatesDialog(QWidget* Parent = nullptr);

  // The rates as typed; none when one cannot be read.
  std::optional<TAdviceRates> Rates() const;
  // Proposes these rates in place of the defaults (those asked last time).
  void SetRates(const TAdviceRates& Rates);
  void accept() override;

  QComboBox* DataRateBox;         // editable; empty for the default
  QComboBox* ArbitrationRateBox;  // editable

  // Tells why a typed rate was refused.
  std::function<void(const QString&)> ReportError;
};

}  // namespace busweave
