#pragma once

// The bus analysis of one document as the main window's dock shows it: the highest working rate
// of each phase, the verdict per bit rate with the pair and figure that decide it, and what
// every receiver saw of every transmitter's edges. Picking a pair (or a rate's deciding pair)
// hands it to the editor, which marks it in the drawing and shows its waveforms.

#include <QWidget>
#include <functional>
#include <vector>

#include "verdict/StreamVerdict.h"

class QLabel;
class QTableWidget;

namespace busweave {

class TAnalysisPanel : public QWidget {
  Q_OBJECT

 public:
  explicit TAnalysisPanel(QWidget* Parent = nullptr);

  // A finished analysis: the verdict, the pairs it was judged on and the bus check's errors,
  // which are shown above it.
  void ShowVerdict(const TStreamVerdict& Verdict, const std::vector<TPairMeasure>& Pairs,
                   const std::vector<std::string>& CheckErrors = {});
  // No verdict (running, cancelled, failed): the tables empty, the text in their place.
  void ShowMessage(const QString& Text);
  // The verdict shown no longer describes the network: it was edited since the analysis.
  void MarkOutdated();
  // A verdict is on view (the tables hold one).
  bool HasVerdict() const { return !FRates.empty(); }
  // A line above the verdict shown, in place of the one before ("analysing again").
  void ShowNote(const QString& Text);

  const std::vector<TPairMeasure>& PairList() const { return FPairs; }
  // The highest working rates in words, or the message shown instead.
  QString Summary() const;

  QLabel* SummaryLabel;
  QTableWidget* Verdicts;  // phase, rate, works, deciding pair, edge, figure, value, limit, what decided
  QTableWidget* Pairs;     // transmitter, receiver, edge, delay, settling, overshoot, undershoot, false edge
  class TEyeView* Eyes;    // every station's eye at the highest working and the lowest failing data rate

  // A pair row was picked (index into PairList()); also when a rate's deciding pair is picked.
  std::function<void(std::size_t Pair)> OnSelect;

 private:
  void verdictPicked(int Row);

  std::vector<TPairMeasure> FPairs;
  std::vector<TRateVerdict> FRates;
  QString FSummary;  // the verdict's own summary, without a note
};

// Eye diagrams side by side on one voltage scale: each station's bits folded onto one bit time,
// the thresholds and the sample point drawn, each eye titled with its station and rate. The
// drawing is the shared plot routine's.
class TEyeView : public QWidget {
 public:
  explicit TEyeView(QWidget* Parent = nullptr);
  void SetEyes(std::vector<TEye> Eyes, const TThresholds& Thresholds);
  const std::vector<TEye>& EyeList() const { return FEyes; }

 protected:
  void paintEvent(class QPaintEvent* Event) override;

 private:
  std::vector<TEye> FEyes;
  TThresholds FThresholds;
};

// "500 kbit/s", "2 Mbit/s".
QString BitRateText(std::int64_t Rate);

}  // namespace busweave
