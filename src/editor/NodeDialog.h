#pragma once

// TFKnoten: the dialog "Node" that edits a node's name, name display, termination resistor
// and CAN driver source, or deletes the node.

#include <QDialog>
#include <cstdint>
#include <functional>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace busweave {

class TFKnoten : public QDialog {
  Q_OBJECT

 public:
  explicit TFKnoten(QWidget* Owner = nullptr);

  QCheckBox* CheckBoxName;
  QLineEdit* EditName;
  QCheckBox* CheckBoxZl;
  QLineEdit* EditZL;
  QLabel* LabelZLUnit;  // "ohms" after the resistance, shown with it
  QCheckBox* CheckBoxQuelle;
  QPushButton* BBTOK;
  QPushButton* BitBtn1;
  QPushButton* BBTCancel;

  std::uint16_t FDefaultZL = 0;    // termination proposed when ZL is checked
  std::uint16_t FDefaultNoZL = 0;  // the resistance of a node without termination
  bool FHasZL = false;             // the node had a termination when the dialog was shown

  // Shows a message about a field whose value cannot be stored.
  std::function<void(const QString&)> ReportError;
  // The resistance and the name (Windows-1252 bytes) accepted with OK.
  std::uint16_t Resistance() const { return FResistance; }
  const std::string& NameBytes() const { return FName; }

  void CheckBoxZlClick();
  void FormShow();

 public slots:
  void reject() override;

 protected:
  void showEvent(QShowEvent* Event) override;

 private:
  void showResistance(bool Show);
  void okClicked();
  std::uint16_t FResistance = 0;
  std::string FName;
};

}  // namespace busweave
