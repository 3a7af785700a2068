#pragma once

// Stands in for the main window of an editor: records what the editor shows there (mode buttons,
// position, note) and answers its questions through ScriptedPrompts, or through prompts a test
// gives. What the docks would show goes to OnShowFindings, OnShowAnalysis and OnShowAdvice when
// a test sets them.

#include <QString>
#include <functional>

#include "ScriptedPrompts.h"
#include "editor/EditorHost.h"

namespace busweave::test {

class FakeEditorHost : public TEditorHost {
 public:
  FakeEditorHost() = default;
  // Answers every question through Answers, which must outlive the host.
  explicit FakeEditorHost(TPrompts& Answers) : FAnswers(&Answers) {}

  void ShowModeButtons(bool Visible, TMode Mode) override {
    ButtonsVisible = Visible;
    PressedMode = Mode;
  }
  void ShowPosition(const QString& NewX, const QString& NewY) override {
    X = NewX;
    Y = NewY;
    Position = X + " " + Y;
  }
  void ShowMessage(const QString& Text) override { Message = Text; }
  TPrompts& Prompts() override { return FAnswers ? *FAnswers : Scripted; }
  void ShowFindings(TSubForm& Editor, bool Raise) override {
    if (OnShowFindings) OnShowFindings(Editor, Raise);
  }
  void ShowAnalysis(TSubForm& Editor, bool Raise) override {
    if (OnShowAnalysis) OnShowAnalysis(Editor, Raise);
  }
  void ShowAdvice(TSubForm& Editor, bool Raise) override {
    if (OnShowAdvice) OnShowAdvice(Editor, Raise);
  }

  ScriptedPrompts<> Scripted;
  bool ButtonsVisible = false;
  TMode PressedMode = mNone;
  QString X, Y;      // the status bar's two position panels
  QString Position;  // both: "X:... Y:..."
  QString Message;
  std::function<void(TSubForm& Editor, bool Raise)> OnShowFindings;
  std::function<void(TSubForm& Editor, bool Raise)> OnShowAnalysis;
  std::function<void(TSubForm& Editor, bool Raise)> OnShowAdvice;

 private:
  TPrompts* FAnswers = nullptr;
};

}  // namespace busweave::test
