#include "editor/LineDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

#include "gui/DialogWidgets.h"
#include "gui/IntegerText.h"
#include "gui/ModalResult.h"

namespace busweave {

TLineDlg::TLineDlg(QWidget* Owner)
    : QDialog(Owner, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint) {
  setWindowTitle("Line");
  setFixedSize(144, 115);
  QFont formFont("Courier New");
  formFont.setPixelSize(13);
  setFont(formFont);
  QFont controlFont("Arial");
  controlFont.setPixelSize(13);

  LabelLength = new QLabel("Length [mm]", this);
  LabelLength->setGeometry(4, 8, 76, 20);
  EditLength = new QLineEdit(this);
  EditLength->setObjectName("EditLength");
  EditLength->setToolTip("Length of line [mm]");
  EditLength->setGeometry(82, 6, 58, 22);
  LabelZL = new QLabel("ZL", this);
  LabelZL->setGeometry(4, 36, 76, 20);
  EditZL = new QLineEdit(this);
  EditZL->setObjectName("EditZL");
  EditZL->setToolTip("Ohms");
  EditZL->setGeometry(82, 34, 58, 22);
  CheckBoxShowLength = new QCheckBox("Show Length", this);
  CheckBoxShowLength->setObjectName("CheckBoxShowLength");
  CheckBoxShowLength->setToolTip("Display length of line");
  CheckBoxShowLength->setGeometry(4, 60, 136, 20);
  LabelLength->setBuddy(EditLength);
  LabelZL->setBuddy(EditZL);

  BBTOK = MakeDialogButton(this, "BBTOK", "&OK", QApplication::style()->standardIcon(QStyle::SP_DialogOkButton),
                           "Accept", {4, 86, 52, 25});
  BitBtn1 = MakeDialogButton(this, "BitBtn1", "", DeleteIcon(), "Delete line", {58, 86, 40, 25});
  BBTCancel = MakeDialogButton(this, "BBTCancel", "", CancelIcon(), "Don\u00B4t change", {100, 86, 40, 25});
  // Enter accepts: a name typed and confirmed must never delete the element. Delete stays one
  // click or Alt+D away.
  BBTOK->setDefault(true);
  BitBtn1->setShortcut(QKeySequence(Qt::ALT | Qt::Key_D));
  for (QWidget* control : std::initializer_list<QWidget*>{LabelLength, EditLength, LabelZL, EditZL, CheckBoxShowLength,
                                                          BBTOK, BitBtn1, BBTCancel})
    control->setFont(controlFont);

  setTabOrder(EditLength, EditZL);
  setTabOrder(EditZL, CheckBoxShowLength);
  setTabOrder(CheckBoxShowLength, BBTOK);
  setTabOrder(BBTOK, BBTCancel);
  setTabOrder(BBTCancel, BitBtn1);

  connect(BBTOK, &QPushButton::clicked, this, [this] { okClicked(); });
  connect(BitBtn1, &QPushButton::clicked, this, [this] { done(mrDelete); });
  connect(BBTCancel, &QPushButton::clicked, this, [this] { done(mrCancel); });
}

void TLineDlg::FormShow() {
  if (RemoveSpaces(EditZL->text().toStdString()) == "0") EditZL->setText(QString::number(FDefaultZL));
  if (RemoveSpaces(EditLength->text().toStdString()) == "0") EditLength->setText(QString::number(FDefaultLength));
  EditLength->setFocus();
}

void TLineDlg::showEvent(QShowEvent* Event) {
  QDialog::showEvent(Event);
  FormShow();
}

void TLineDlg::okClicked() {
  const auto length = CheckedWord(LenientInteger(RemoveSpaces(EditLength->text().toStdString())), "Length [mm]",
                                  EditLength, ReportError);
  if (!length) return;
  const auto impedance =
      CheckedWord(LenientInteger(RemoveSpaces(EditZL->text().toStdString())), "ZL", EditZL, ReportError);
  if (!impedance) return;
  FLength = *length;
  FImpedance = *impedance;
  done(mrOk);
}

void TLineDlg::reject() { done(mrCancel); }

}  // namespace busweave
