#include "editor/NodeDialog.h"

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
#include "model/NameText.h"

namespace busweave {

TFKnoten::TFKnoten(QWidget* Owner)
    : QDialog(Owner, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint) {
  setWindowTitle("Node");
  setFixedSize(148, 117);
  QFont font("Arial");
  font.setPixelSize(13);
  setFont(font);

  CheckBoxName = new QCheckBox("&Name", this);
  CheckBoxName->setObjectName("CheckBoxName");
  CheckBoxName->setToolTip("Display name of the node");
  CheckBoxName->setGeometry(6, 8, 62, 20);
  EditName = new QLineEdit(this);
  EditName->setObjectName("EditName");
  EditName->setToolTip("name of the node");
  EditName->setMaxLength(255);
  EditName->setGeometry(68, 6, 74, 22);
  CheckBoxZl = new QCheckBox("&ZL", this);
  CheckBoxZl->setObjectName("CheckBoxZl");
  CheckBoxZl->setToolTip("Insert termination");
  CheckBoxZl->setGeometry(6, 36, 62, 20);
  EditZL = new QLineEdit(this);
  EditZL->setObjectName("EditZL");
  EditZL->setToolTip("Resistor [Ohms]");
  EditZL->setGeometry(68, 34, 44, 22);
  LabelZLUnit = new QLabel("ohms", this);
  LabelZLUnit->setObjectName("LabelZLUnit");
  LabelZLUnit->setGeometry(114, 36, 34, 20);
  LabelZLUnit->setBuddy(EditZL);
  CheckBoxQuelle = new QCheckBox("&Include source", this);
  CheckBoxQuelle->setObjectName("CheckBoxQuelle");
  CheckBoxQuelle->setToolTip("Insert CAN driver");
  CheckBoxQuelle->setGeometry(6, 62, 136, 20);

  BBTOK = MakeDialogButton(this, "BBTOK", "&OK", QApplication::style()->standardIcon(QStyle::SP_DialogOkButton),
                           "Accept", {4, 88, 52, 25});
  BitBtn1 = MakeDialogButton(this, "BitBtn1", "", DeleteIcon(), "Delete node", {60, 88, 40, 25});
  BBTCancel = MakeDialogButton(this, "BBTCancel", "", CancelIcon(), "Don\u00B4t change", {104, 88, 40, 25});
  // Enter accepts: a name typed and confirmed must never delete the element. Delete stays one
  // click or Alt+D away.
  BBTOK->setDefault(true);
  BitBtn1->setShortcut(QKeySequence(Qt::ALT | Qt::Key_D));

  setTabOrder(CheckBoxName, EditName);
  setTabOrder(EditName, CheckBoxZl);
  setTabOrder(CheckBoxZl, EditZL);
  setTabOrder(EditZL, CheckBoxQuelle);
  setTabOrder(CheckBoxQuelle, BBTOK);
  setTabOrder(BBTOK, BitBtn1);
  setTabOrder(BitBtn1, BBTCancel);

  for (QCheckBox* box : {CheckBoxName, CheckBoxZl, CheckBoxQuelle})
    connect(box, &QCheckBox::toggled, this, [this] { CheckBoxZlClick(); });
  connect(BBTOK, &QPushButton::clicked, this, [this] { okClicked(); });
  connect(BitBtn1, &QPushButton::clicked, this, [this] { done(mrDelete); });
  connect(BBTCancel, &QPushButton::clicked, this, [this] { done(mrCancel); });
}

void TFKnoten::showResistance(bool Show) {
  EditZL->setVisible(Show);
  LabelZLUnit->setVisible(Show);
}

void TFKnoten::CheckBoxZlClick() {
  showResistance(CheckBoxZl->isChecked());
  if (!CheckBoxZl->isChecked())
    EditZL->setText(QString::number(FDefaultNoZL));
  else if (!FHasZL)
    EditZL->setText(QString::number(FDefaultZL));
}

void TFKnoten::FormShow() {
  FHasZL = LenientInteger(EditZL->text().toStdString()) != FDefaultNoZL;
  showResistance(FHasZL);
  CheckBoxZl->setChecked(FHasZL);
  EditName->setFocus();
}

void TFKnoten::showEvent(QShowEvent* Event) {
  QDialog::showEvent(Event);
  FormShow();
}

void TFKnoten::okClicked() {
  // The resistance is checked before anything is accepted, so a bad value changes nothing.
  std::u32string rejected;
  if (!NameFromUtf8(EditName->text().toStdString(), FName, &rejected)) {
    if (ReportError)
      ReportError(QString("Name: a node name cannot hold %1 (names are Windows-1252 text).")
                      .arg(QString::fromStdU32String(rejected)));
    EditName->setFocus();
    return;
  }
  const std::string text = RemoveSpaces(EditZL->text().toStdString());
  const auto value = WholeInteger(text);
  if (!value) {
    if (ReportError) ReportError(QString("'%1' is not a valid integer value").arg(QString::fromStdString(text)));
    showResistance(true);
    EditZL->setFocus();
    EditZL->selectAll();
    return;
  }
  const auto word = CheckedWord(*value, "ZL (Resistor [Ohms])", EditZL, ReportError);
  if (!word) return;
  FResistance = *word;
  done(mrOk);
}

void TFKnoten::reject() { done(mrCancel); }

}  // namespace busweave
