#pragma once

// Answers the program's questions as a test says: every dialog is shown, the test's script acts
// on it, and the script's answer is the dialog's result. A file dialog, warning or text prompt
// takes the next answer the test queued for it, else the standing answer set here; messages are
// collected. A question of a kind the test calls Unexpected fails the test, unless an answer was
// queued for it.

#include <gtest/gtest.h>

#include <QDialog>
#include <QPrinter>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "gui/Prompts.h"

namespace busweave::test {

template <typename TDialog = QDialog>
class ScriptedPrompts : public TPrompts {
 public:
  enum class TQuestion { Open, Save, Text, Warning, Dialog, Error, Message };

  // Standing answers.
  std::function<int(TDialog&)> OnDialog = [](TDialog&) { return 2; };
  std::optional<QString> SaveAnswer;
  std::optional<QFont> FontAnswer;
  TSaveChanges WarnAnswer = TSaveChanges::Discard;
  // The print dialog prints into this PDF file, after OnPrinter has set the printer up further,
  // in PrintLayout or else in the layout proposed; without a file the user cancels it.
  QString PrintFile;
  std::optional<TPrintLayout> PrintLayout;
  std::function<void(QPrinter&)> OnPrinter;

  // Answers taken one per question, before the standing ones.
  std::deque<std::optional<QString>> OpenAnswers, SaveAnswers, TextAnswers;
  std::deque<TSaveChanges> WarnAnswers;  // the unsaved changes questions
  std::set<TQuestion> Unexpected;

  std::vector<TSaveDialogRequest> SaveRequests;
  QStringList PrintProposals;  // the output file each print dialog proposed
  int Dialogs = 0;
  QStringList Errors;    // errors and information boxes, in order
  QStringList Informs;   // information boxes, as "Caption|Text"
  QStringList Warnings;  // the texts of the unsaved changes questions

  std::optional<QString> OpenFileName(QWidget*, const TOpenDialogRequest&) override {
    return take(OpenAnswers, TQuestion::Open, std::optional<QString>());
  }
  std::optional<QString> SaveFileName(QWidget*, const TSaveDialogRequest& Request) override {
    SaveRequests.push_back(Request);
    return take(SaveAnswers, TQuestion::Save, SaveAnswer);
  }
  std::optional<QString> AskText(QWidget*, const QString&, const QString&) override {
    return take(TextAnswers, TQuestion::Text, std::optional<QString>());
  }
  void ShowError(QWidget*, const QString& Message) override {
    check(TQuestion::Error);
    Errors << Message;
  }
  void Inform(QWidget*, const QString& Caption, const QString& Text) override {
    check(TQuestion::Message);
    Errors << Text;
    Informs << Caption + "|" + Text;
  }
  TSaveChanges AskSaveChanges(QWidget*, const QString& Text) override {
    Warnings << Text;
    return take(WarnAnswers, TQuestion::Warning, WarnAnswer);
  }
  std::optional<QFont> ChooseFont(QWidget*, const QFont&) override { return FontAnswer; }
  int ExecDialog(QDialog& Dialog) override {
    ++Dialogs;
    if (!check(TQuestion::Dialog)) return 2;
    Dialog.show();
    const int answer = OnDialog(static_cast<TDialog&>(Dialog));
    Dialog.hide();
    return answer;
  }
  std::optional<TPrintLayout> SetUpPrinter(QWidget*, QPrinter& Printer, TPrintLayout Layout,
                                           const QString& OutputFile) override {
    PrintProposals << OutputFile;
    if (PrintFile.isEmpty()) return std::nullopt;
    Printer.setOutputFormat(QPrinter::PdfFormat);
    Printer.setOutputFileName(PrintFile);
    if (OnPrinter) OnPrinter(Printer);
    return PrintLayout.value_or(Layout);
  }

 private:
  // False, and the test fails, when Kind is unexpected.
  bool check(TQuestion Kind) {
    if (!Unexpected.count(Kind)) return true;
    ADD_FAILURE() << "unexpected question (kind " << static_cast<int>(Kind) << ")";
    return false;
  }
  template <typename T>
  T take(std::deque<T>& Answers, TQuestion Kind, T Standing) {
    if (Answers.empty()) {
      check(Kind);
      return Standing;
    }
    // The answer is swapped into Standing: a fresh local here makes GCC 12 at -O3 warn falsely
    // (-Wmaybe-uninitialized) on an optional QString.
    std::swap(Standing, Answers.front());
    Answers.pop_front();
    return Standing;
  }
};

}  // namespace busweave::test
