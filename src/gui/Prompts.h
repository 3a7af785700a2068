#pragma once

// Every modal question the program asks goes through TPrompts: file dialogs, message boxes and
// the running of modal dialogs. The program uses TDialogPrompts; tests put in their own answers.

#include <QFont>
#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "gui/ModalResult.h"

class QDialog;
class QMessageBox;
class QPrinter;
class QWidget;

namespace busweave {

struct TSaveDialogRequest {
  QString Title;
  QString Filter;         // Qt form, e.g. "PSPICE CIRCUIT (*.cir)"
  QString DefaultSuffix;  // appended when the user types a name without extension
  QString Folder;         // starting folder; empty for the current one
  QString FileName;       // proposed name
};

struct TOpenDialogRequest {
  QString Title;
  QString Filter;
  QString DefaultSuffix;
  QString Folder;  // starting folder; empty for the current one
};

// How a document goes onto paper: at its true size, across as many pages as that takes, or
// scaled to fit one page.
enum class TPrintLayout { TrueSize, FitToPage };

// What to do with a document's unsaved changes before it closes.
enum class TSaveChanges { Save, Discard, Cancel };

class TPrompts {
 public:
  virtual ~TPrompts() = default;

  // The chosen existing file, or nothing when the user cancels.
  virtual std::optional<QString> OpenFileName(QWidget* Owner, const TOpenDialogRequest& Request) = 0;
  // The chosen file, or nothing when the user cancels.
  virtual std::optional<QString> SaveFileName(QWidget* Owner, const TSaveDialogRequest& Request) = 0;
  // Shows an error the way the application shows every failed command.
  virtual void ShowError(QWidget* Owner, const QString& Message) = 0;
  // An information box with an OK button.
  virtual void Inform(QWidget* Owner, const QString& Caption, const QString& Text) = 0;
  // A warning about unsaved changes with the buttons Save, Discard and Cancel; Cancel is the
  // default and the answer to Escape or the close box, so that no key press loses the changes.
  virtual TSaveChanges AskSaveChanges(QWidget* Owner, const QString& Text) = 0;
  // Runs a modal dialog and returns its result (a TModalResult for the program's own dialogs).
  virtual int ExecDialog(QDialog& Dialog) = 0;
  // A line of text the user types, e.g. a name to find; nothing when the user cancels.
  virtual std::optional<QString> AskText(QWidget* Owner, const QString& Caption, const QString& Label) {
    (void)Owner;
    (void)Caption;
    (void)Label;
    return std::nullopt;
  }
  // The font dialog; nothing when the user cancels.
  virtual std::optional<QFont> ChooseFont(QWidget* Owner, const QFont& Initial) {
    (void)Owner;
    (void)Initial;
    return std::nullopt;
  }
  // The print dialog: sets Printer up (printer or file, paper, pages) and asks for the layout,
  // proposing Layout, and OutputFile when the user prints to a file. The layout chosen, or
  // nothing when the user cancels.
  virtual std::optional<TPrintLayout> SetUpPrinter(QWidget* Owner, QPrinter& Printer, TPrintLayout Layout,
                                                   const QString& OutputFile) {
    (void)Owner;
    (void)Printer;
    (void)Layout;
    (void)OutputFile;
    return std::nullopt;
  }
};

// The real dialogs and message boxes.
class TDialogPrompts : public TPrompts {
 public:
  std::optional<QString> OpenFileName(QWidget* Owner, const TOpenDialogRequest& Request) override;
  void Inform(QWidget* Owner, const QString& Caption, const QString& Text) override;
  TSaveChanges AskSaveChanges(QWidget* Owner, const QString& Text) override;
  std::optional<QString> SaveFileName(QWidget* Owner, const TSaveDialogRequest& Request) override;
  void ShowError(QWidget* Owner, const QString& Message) override;
  int ExecDialog(QDialog& Dialog) override;
  std::optional<QFont> ChooseFont(QWidget* Owner, const QFont& Initial) override;
  std::optional<QString> AskText(QWidget* Owner, const QString& Caption, const QString& Label) override;
  std::optional<TPrintLayout> SetUpPrinter(QWidget* Owner, QPrinter& Printer, TPrintLayout Layout,
                                           const QString& OutputFile) override;
};

// The box AskSaveChanges shows, and the answer read from the button it was closed with.
std::unique_ptr<QMessageBox> MakeSaveChangesBox(QWidget* Owner, const QString& Text);
TSaveChanges SaveChangesAnswer(const QMessageBox& Box);

// A file name with the default suffix appended when it has no extension (a dot in a folder
// name does not count).
QString WithDefaultSuffix(const QString& FileName, const QString& Suffix);

// The save dialog of a command, proposing Proposed (a local 8-bit path) in its folder. The
// chosen name with DefaultSuffix added when it has no extension, or nothing when the user
// cancels.
std::optional<QString> AskSaveFileName(TPrompts& Prompts, QWidget* Owner, const QString& Title, const QString& Filter,
                                       const QString& DefaultSuffix, const std::string& Proposed);

}  // namespace busweave
