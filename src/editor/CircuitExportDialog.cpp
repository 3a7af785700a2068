#include "editor/CircuitExportDialog.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>

namespace busweave {
namespace {

QPlainTextEdit* makeMemo(QWidget* Parent, const char* Name) {
  auto* memo = new QPlainTextEdit(Parent);
  memo->setObjectName(Name);
  memo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  return memo;
}

QPushButton* makeButton(QWidget* Parent, const char* Name, const QString& Caption, const QString& Hint, int Top) {
  auto* button = new QPushButton(Caption, Parent);
  button->setObjectName(Name);
  button->setToolTip(Hint);
  button->setAutoDefault(false);
  button->setGeometry(575, Top, 84, 27);
  return button;
}

// Page text travels as 8-bit characters; Latin-1 maps each byte to one character and back.
std::string toBytes(const QPlainTextEdit* Memo) { return Memo->toPlainText().toLatin1().toStdString(); }

void setBytes(QPlainTextEdit* Memo, const std::string& Text) {
  Memo->setPlainText(QString::fromLatin1(Text.data(), static_cast<qsizetype>(Text.size())));
}

}  // namespace

TTNBDlgParameter::TTNBDlgParameter(QWidget* Owner)
    : QDialog(Owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setWindowTitle("Circuit to be created");
  setFixedSize(665, 524);

  TNBParameter = new QTabWidget(this);
  TNBParameter->setObjectName("TNBParameter");
  TNBParameter->setGeometry(0, 0, 571, 524);
  MemoHeader = makeMemo(TNBParameter, "MemoHeader");
  MemoCANLines = makeMemo(TNBParameter, "MemoCANLines");
  MemoTrailer = makeMemo(TNBParameter, "MemoTrailer");
  MemoCANLines->setReadOnly(true);
  QPalette silver = MemoCANLines->palette();
  silver.setColor(QPalette::Base, QColor(0xC0, 0xC0, 0xC0));
  MemoCANLines->setPalette(silver);
  TNBParameter->addTab(MemoHeader, "&Header");
  TNBParameter->addTab(MemoCANLines, "&CAN network");
  TNBParameter->addTab(MemoTrailer, "&Trailer");
  TNBParameter->setCurrentIndex(1);

  OKBtn = makeButton(this, "OKBtn", "&OK", "Accept changes", 8);
  ExportBtn = makeButton(this, "ExportBtn", "&Export", "Create circuit", 41);
  CancelBtn = makeButton(this, "CancelBtn", "&Cancel", "Exit w/o changes", 74);
  connect(OKBtn, &QPushButton::clicked, this, [this] { done(1); });
  connect(ExportBtn, &QPushButton::clicked, this, [this] { done(ExportResult); });
  connect(CancelBtn, &QPushButton::clicked, this, [this] { done(2); });
}

void TTNBDlgParameter::reject() { done(2); }

std::string TTNBDlgParameter::HeaderText() const { return toBytes(MemoHeader); }
std::string TTNBDlgParameter::TrailerText() const { return toBytes(MemoTrailer); }
std::string TTNBDlgParameter::NetworkText() const { return toBytes(MemoCANLines); }
void TTNBDlgParameter::SetHeaderText(const std::string& Text) { setBytes(MemoHeader, Text); }
void TTNBDlgParameter::SetTrailerText(const std::string& Text) { setBytes(MemoTrailer, Text); }
void TTNBDlgParameter::SetNetworkText(const std::string& Text) { setBytes(MemoCANLines, Text); }

}  // namespace busweave
