#pragma once

// Answers the program's questions as a test says: every dialog is shown, the test's script acts
// on it, and the script's answer is the dialog's result. File dialogs give the answers set here,
// messages are collected.

#include <QDialog>
#include <QStringList>
#include <functional>
#include <optional>

#include "gui/Prompts.h"

namespace busweave::test {

template <typename TDialog = QDialog>
class ScriptedPrompts : public TPrompts {
 public:
  std::function<int(TDialog&)> OnDialog = [](TDialog&) { return 2; };
  std::optional<QString> OpenAnswer;
  std::optional<QString> SaveAnswer;
  std::optional<QFont> FontAnswer;
  bool WarnAnswer = true;  // OK

  TSaveDialogRequest LastRequest;  // of the save dialog
  int SaveDialogs = 0;
  int Dialogs = 0;
  QStringList Errors;  // errors and information boxes, in order

  std::optional<QString> OpenFileName(QWidget*, const TOpenDialogRequest&) override { return OpenAnswer; }
  std::optional<QString> SaveFileName(QWidget*, const TSaveDialogRequest& Request) override {
    LastRequest = Request;
    ++SaveDialogs;
    return SaveAnswer;
  }
  void ShowError(QWidget*, const QString& Message) override { Errors << Message; }
  void Inform(QWidget*, const QString&, const QString& Text) override { Errors << Text; }
  bool WarnOkAbort(QWidget*, const QString&) override { return WarnAnswer; }
  std::optional<QFont> ChooseFont(QWidget*, const QFont&) override { return FontAnswer; }
  int ExecDialog(QDialog& Dialog) override {
    ++Dialogs;
    Dialog.show();
    const int answer = OnDialog(static_cast<TDialog&>(Dialog));
    Dialog.hide();
    return answer;
  }
};

}  // namespace busweave::test
