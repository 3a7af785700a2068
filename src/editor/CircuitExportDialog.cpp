#include "editor/CircuitExportDialog.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <utility>

#include "model/NameText.h"

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

// Page text is Windows-1252, as names are: every byte shows as its character and reads back.
std::string toBytes(const QPlainTextEdit* Memo) {
  std::string bytes;
  NameFromUtf8(Memo->toPlainText().toStdString(), bytes);
  return bytes;
}

void setBytes(QPlainTextEdit* Memo, const std::string& Text) {
  Memo->setPlainText(QString::fromStdString(NameToUtf8(Text)));
}

// The characters of a page that a circuit file cannot hold; empty when it can hold them all.
QString rejectedCharacters(const QPlainTextEdit* Memo) {
  std::string bytes;
  std::u32string rejected;
  NameFromUtf8(Memo->toPlainText().toStdString(), bytes, &rejected);
  return QString::fromStdU32String(rejected);
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
  connect(OKBtn, &QPushButton::clicked, this, [this] { finish(mrOk); });
  connect(ExportBtn, &QPushButton::clicked, this, [this] { finish(mrExport); });
  connect(CancelBtn, &QPushButton::clicked, this, [this] { done(mrCancel); });
}

void TTNBDlgParameter::reject() { done(mrCancel); }

void TTNBDlgParameter::finish(TModalResult Result) {
  // A character the circuit file cannot hold would be lost silently: the page stays open.
  for (auto [memo, page] : {std::pair{MemoHeader, "Header"}, std::pair{MemoTrailer, "Trailer"}}) {
    const QString rejected = rejectedCharacters(memo);
    if (rejected.isEmpty()) continue;
    TNBParameter->setCurrentWidget(memo);
    if (ReportError)
      ReportError(QString("%1: a circuit file cannot hold %2 (circuit text is Windows-1252).").arg(page, rejected));
    return;
  }
  done(Result);
}

std::string TTNBDlgParameter::HeaderText() const { return toBytes(MemoHeader); }
std::string TTNBDlgParameter::TrailerText() const { return toBytes(MemoTrailer); }
std::string TTNBDlgParameter::NetworkText() const { return toBytes(MemoCANLines); }
void TTNBDlgParameter::SetHeaderText(const std::string& Text) { setBytes(MemoHeader, Text); }
void TTNBDlgParameter::SetTrailerText(const std::string& Text) { setBytes(MemoTrailer, Text); }
void TTNBDlgParameter::SetNetworkText(const std::string& Text) { setBytes(MemoCANLines, Text); }

}  // namespace busweave
