#pragma once

// The findings of the bus check for one document: a list the user picks from, with the bit rate
// the lengths are checked against. The editor owns it; the main window shows the active
// document's panel in its dock.

#include <QWidget>
#include <functional>
#include <vector>

#include "model/BusCheck.h"

class QComboBox;
class QListWidget;

namespace busweave {

class TFindingsPanel : public QWidget {
  Q_OBJECT

 public:
  explicit TFindingsPanel(QWidget* Parent = nullptr);

  QComboBox* BitRateBox;
  QListWidget* FindingsList;

  void ShowFindings(std::vector<TFinding> Findings);
  const std::vector<TFinding>& Findings() const { return FFindings; }
  std::uint32_t BitRate() const;
  // "2 errors, 1 warning", or "no findings".
  QString Summary() const;

  std::function<void(const TFinding*)> OnSelect;  // null when the selection is cleared
  std::function<void()> OnBitRateChanged;

 private:
  std::vector<TFinding> FFindings;
};

}  // namespace busweave
