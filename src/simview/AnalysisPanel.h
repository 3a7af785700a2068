#pragma once

// The bus analysis of one document as the main window's dock shows it: the highest working rate
// of each phase, the verdict per bit rate with the pair and figure that decide it, and what
// every receiver saw of every transmitter's edges. Picking a pair (or a rate's deciding pair)
// hands it to the editor, which marks it in the drawing and shows its waveforms.

#include <QWidget>
#include <functional>
#include <vector>

#include "sim/BusAnalysis.h"

class QLabel;
class QTableWidget;

namespace busweave {

class TAnalysisPanel : public QWidget {
  Q_OBJECT

 public:
  explicit TAnalysisPanel(QWidget* Parent = nullptr);

  // A finished analysis: the verdict and the pairs it was judged on.
  void ShowVerdict(const TBusVerdict& Verdict, const std::vector<TPairMeasure>& Pairs);
  // No verdict (running, cancelled, failed): the tables empty, the text in their place.
  void ShowMessage(const QString& Text);
  // The verdict shown no longer describes the network: it was edited since the analysis.
  void MarkOutdated();

  const std::vector<TPairMeasure>& PairList() const { return FPairs; }
  // The highest working rates in words, or the message shown instead.
  QString Summary() const;

  QLabel* SummaryLabel;
  QTableWidget* Verdicts;  // phase, rate, works, worst pair, edge, figure, value, limit
  QTableWidget* Pairs;     // transmitter, receiver, edge, delay, settling, overshoot, undershoot, false edge

  // A pair row was picked (index into PairList()); also when a rate's deciding pair is picked.
  std::function<void(std::size_t Pair)> OnSelect;

 private:
  void verdictPicked(int Row);

  std::vector<TPairMeasure> FPairs;
  std::vector<TRateVerdict> FRates;
};

// "500 kbit/s", "2 Mbit/s".
QString BitRateText(std::int64_t Rate);

}  // namespace busweave
