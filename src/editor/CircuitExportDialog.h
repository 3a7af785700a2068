#pragma once

// TTNBDlgParameter: the dialog "Circuit to be created" that shows the circuit's header, the
// generated network section and the trailer, and lets the user edit header and trailer.

#include <QDialog>
#include <functional>
#include <string>

#include "gui/ModalResult.h"

class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace busweave {

class TTNBDlgParameter : public QDialog {
  Q_OBJECT

 public:
  explicit TTNBDlgParameter(QWidget* Owner = nullptr);

  QTabWidget* TNBParameter;
  QPushButton* OKBtn;
  QPlainTextEdit* MemoHeader;
  QPlainTextEdit* MemoTrailer;
  QPlainTextEdit* MemoCANLines;
  QPushButton* ExportBtn;
  QPushButton* CancelBtn;

  // Page texts as 8-bit text with LF line breaks.
  std::string HeaderText() const;
  std::string TrailerText() const;
  std::string NetworkText() const;
  void SetHeaderText(const std::string& Text);
  void SetTrailerText(const std::string& Text);
  void SetNetworkText(const std::string& Text);

  // Shows why OK or Export did not close the dialog.
  std::function<void(const QString&)> ReportError;

 public slots:
  // Escape and the close box give Cancel, not 0.
  void reject() override;

 private:
  void finish(TModalResult Result);
};

}  // namespace busweave
