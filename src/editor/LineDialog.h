#pragma once

// TLineDlg: the dialog "Line" that edits a wire's impedance, length and length display, or
// deletes the wire.

#include <QDialog>
#include <cstdint>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace busweave {

class TLineDlg : public QDialog {
  Q_OBJECT

 public:
  explicit TLineDlg(QWidget* Owner = nullptr);

  QLabel* LabelLength;
  QLineEdit* EditLength;
  QLabel* LabelZL;
  QLineEdit* EditZL;
  QCheckBox* CheckBoxShowLength;
  QPushButton* BBTOK;
  QPushButton* BBTCancel;
  QPushButton* BitBtn1;

  std::uint16_t FDefaultZL = 0;      // impedance proposed for a wire whose impedance is 0
  std::uint16_t FDefaultLength = 0;  // length proposed for a wire whose length is 0

  std::function<void(const QString&)> ReportError;
  // The values accepted with OK.
  std::uint16_t Impedance() const { return FImpedance; }
  std::uint16_t Length() const { return FLength; }

  void FormShow();

 public slots:
  void reject() override;

 protected:
  void showEvent(QShowEvent* Event) override;

 private:
  void okClicked();
  std::uint16_t FImpedance = 0;
  std::uint16_t FLength = 0;
};

}  // namespace busweave
