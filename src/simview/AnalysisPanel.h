#pragma once

// The bus analysis of one document as the main window's dock shows it: the highest working rate
// of each phase, the verdict per bit rate with the pair and figure that decide it, and what
// every receiver saw of every transmitter's edges. Picking a pair (or a rate's deciding pair)
// hands it to the editor, which marks it in the drawing and shows its waveforms.

#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>
#include <utility>
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
  // Makes Pair the current row of the pairs without handing it on.
  void SelectPair(std::size_t Pair);
  // The highest working rates in words, or the message shown instead.
  QString Summary() const;

  QLabel* SummaryLabel;
  QTableWidget* Verdicts;  // phase, rate, works, deciding pair, edge, figure, value, limit, what decided
  QLabel* DecidedText;     // what decided the picked rate, in full, below the verdicts
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
// drawing is the shared plot routine's. A double click opens an eye in a window of its own.
class TEyeView : public QWidget {
 public:
  explicit TEyeView(QWidget* Parent = nullptr);
  void SetEyes(std::vector<TEye> Eyes, const TThresholds& Thresholds);
  const std::vector<TEye>& EyeList() const { return FEyes; }
  // The voltage scale of every eye, so that views compared with each other share one; none: the
  // range that holds this view's eyes.
  void SetVoltRange(std::optional<std::pair<double, double>> Volts);
  std::pair<double, double> VoltRange() const;
  // The eye drawn at a point of the view, or -1; where the eye is drawn.
  int EyeAt(QPoint Point) const;
  QRectF EyeRect(int Eye) const;
  // Opens the eye in its window (the view's one, reused), on this view's scales.
  QWidget* Enlarge(int Eye);

 protected:
  void paintEvent(class QPaintEvent* Event) override;
  void mouseDoubleClickEvent(class QMouseEvent* Event) override;
  void resizeEvent(class QResizeEvent* Event) override;

 private:
  // Below this an eye's axis labels run into each other.
  static constexpr int kEyeWidth = 220;
  static constexpr int kEyeHeight = 150;
  int columnsFor(int Width) const;
  // As tall as its rows of readable eyes.
  void fitHeight();

  std::vector<TEye> FEyes;
  TThresholds FThresholds;
  std::optional<std::pair<double, double>> FVolts;
  QPointer<QWidget> FEnlarged;
};

// "[2] B at 4 Mbit/s: a bit read wrong", the title of an eye.
QString EyeTitle(const TEye& Eye);

// "500 kbit/s", "2 Mbit/s".
QString BitRateText(std::int64_t Rate);

}  // namespace busweave
