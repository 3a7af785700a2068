#include "gui/Prompts.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QGroupBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "base/PathText.h"

namespace busweave {
namespace {

void setUpFileDialog(QFileDialog& Dialog, const QString& Filter, const QString& DefaultSuffix, const QString& Folder) {
  Dialog.setNameFilter(Filter);
  Dialog.setDefaultSuffix(DefaultSuffix);
  Dialog.setDirectory(Folder.isEmpty() ? QDir::currentPath() : Folder);
}

std::optional<QString> runFileDialog(QFileDialog& Dialog) {
  if (Dialog.exec() != QDialog::Accepted || Dialog.selectedFiles().isEmpty()) return std::nullopt;
  const QString chosen = Dialog.selectedFiles().first();
  // Like every file dialog of the program, a confirmed choice moves the current folder there.
  QDir::setCurrent(QFileInfo(chosen).absolutePath());
  return chosen;
}

}  // namespace

std::optional<QString> TDialogPrompts::SaveFileName(QWidget* Owner, const TSaveDialogRequest& Request) {
  QFileDialog dialog(Owner, Request.Title);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  setUpFileDialog(dialog, Request.Filter, Request.DefaultSuffix, Request.Folder);
  dialog.selectFile(QFileInfo(Request.FileName).fileName());
  return runFileDialog(dialog);
}

std::optional<QString> TDialogPrompts::OpenFileName(QWidget* Owner, const TOpenDialogRequest& Request) {
  QFileDialog dialog(Owner, Request.Title);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  setUpFileDialog(dialog, Request.Filter, Request.DefaultSuffix, Request.Folder);
  return runFileDialog(dialog);
}

void TDialogPrompts::Inform(QWidget* Owner, const QString& Caption, const QString& Text) {
  QMessageBox::information(Owner, Caption, Text);
}

std::unique_ptr<QMessageBox> MakeSaveChangesBox(QWidget* Owner, const QString& Text) {
  auto box = std::make_unique<QMessageBox>(QMessageBox::Warning, QApplication::applicationName(), Text,
                                           QMessageBox::NoButton, Owner);
  QPushButton* save = box->addButton("&Save", QMessageBox::AcceptRole);
  save->setObjectName("SaveButton");
  box->addButton("&Discard", QMessageBox::DestructiveRole)->setObjectName("DiscardButton");
  QPushButton* cancel = box->addButton("Cancel", QMessageBox::RejectRole);
  cancel->setObjectName("CancelButton");
  box->setDefaultButton(cancel);
  box->setEscapeButton(cancel);
  return box;
}

TSaveChanges SaveChangesAnswer(const QMessageBox& Box) {
  const QAbstractButton* clicked = Box.clickedButton();
  if (!clicked) return TSaveChanges::Cancel;
  if (clicked->objectName() == "SaveButton") return TSaveChanges::Save;
  if (clicked->objectName() == "DiscardButton") return TSaveChanges::Discard;
  return TSaveChanges::Cancel;
}

TSaveChanges TDialogPrompts::AskSaveChanges(QWidget* Owner, const QString& Text) {
  const std::unique_ptr<QMessageBox> box = MakeSaveChangesBox(Owner, Text);
  box->exec();
  return SaveChangesAnswer(*box);
}

void TDialogPrompts::ShowError(QWidget* Owner, const QString& Message) {
  QMessageBox::critical(Owner, QApplication::applicationName(), Message);
}

int TDialogPrompts::ExecDialog(QDialog& Dialog) { return Dialog.exec(); }

std::optional<QFont> TDialogPrompts::ChooseFont(QWidget* Owner, const QFont& Initial) {
  bool accepted = false;
  const QFont chosen = QFontDialog::getFont(&accepted, Initial, Owner);
  if (!accepted) return std::nullopt;
  return chosen;
}

std::optional<QString> TDialogPrompts::AskText(QWidget* Owner, const QString& Caption, const QString& Label) {
  bool accepted = false;
  const QString text = QInputDialog::getText(Owner, Caption, Label, QLineEdit::Normal, {}, &accepted);
  if (!accepted) return std::nullopt;
  return text;
}

std::optional<TPrintLayout> TDialogPrompts::SetUpPrinter(QWidget* Owner, QPrinter& Printer, TPrintLayout Layout,
                                                         const QString& OutputFile) {
  QPrintDialog dialog(&Printer, Owner);
  // The number of pages depends on the paper chosen here; any range can be asked for.
  dialog.setMinMax(1, 9999);
  auto* box = new QGroupBox("Layout");
  box->setObjectName("PrintLayout");
  auto* trueSize = new QRadioButton("&True size, across as many pages as it takes", box);
  trueSize->setObjectName("PrintTrueSize");
  auto* fitted = new QRadioButton("&Fit to one page", box);
  fitted->setObjectName("PrintFitToPage");
  (Layout == TPrintLayout::FitToPage ? fitted : trueSize)->setChecked(true);
  auto* layout = new QVBoxLayout(box);
  layout->addWidget(trueSize);
  layout->addWidget(fitted);
  // The layout stands under the printer's choice, where it is seen without opening the
  // dialog's folded options; a dialog laid out otherwise gets it as one of those options.
  if (auto* rows = qobject_cast<QBoxLayout*>(dialog.layout()))
    rows->insertWidget(1, box);
  else
    dialog.setOptionTabs({box});
  // Printing to a file proposes the document's folder, not the current one.
  if (auto* file = dialog.findChild<QLineEdit*>("filename");
      file && !OutputFile.isEmpty() && Printer.outputFileName().isEmpty())
    file->setText(OutputFile);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return fitted->isChecked() ? TPrintLayout::FitToPage : TPrintLayout::TrueSize;
}

QString WithDefaultSuffix(const QString& FileName, const QString& Suffix) {
  if (Suffix.isEmpty() || HasExtension(FileName.toStdString())) return FileName;
  return FileName + "." + Suffix;
}

std::optional<QString> AskSaveFileName(TPrompts& Prompts, QWidget* Owner, const QString& Title, const QString& Filter,
                                       const QString& DefaultSuffix, const std::string& Proposed) {
  TSaveDialogRequest request;
  request.Title = Title;
  request.Filter = Filter;
  request.DefaultSuffix = DefaultSuffix;
  request.Folder = QString::fromLocal8Bit(FolderOf(Proposed));
  request.FileName = QString::fromLocal8Bit(Proposed);
  const auto chosen = Prompts.SaveFileName(Owner, request);
  if (!chosen) return std::nullopt;
  return WithDefaultSuffix(*chosen, DefaultSuffix);
}

}  // namespace busweave
