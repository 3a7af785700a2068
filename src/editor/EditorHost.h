#pragma once

// What an editor needs of the main window: the mode buttons, the status bar panels and the
// prompts every command asks through. The main window implements it.

#include <QString>

#include "editor/EditorTypes.h"

namespace busweave {

class TPrompts;
class TSubForm;

class TEditorHost {
 public:
  virtual ~TEditorHost() = default;

  // Shows or hides the mode buttons; when shown, exactly the button of Mode is down.
  virtual void ShowModeButtons(bool Visible, TMode Mode) = 0;
  // Writes the pointer position into the status bar panels 1 and 2.
  virtual void ShowPosition(const QString& X, const QString& Y) = 0;
  virtual TPrompts& Prompts() = 0;
  // Writes a short note on what the last action did, or why it did nothing, into the status bar.
  virtual void ShowMessage(const QString& Text) { (void)Text; }
  // A document was saved under a new name (by Save As or before closing): for the recent files
  // and the titles that name its file.
  virtual void FileSavedAs(const QString& Path) { (void)Path; }
  // Runs the document options dialog for an editor (its "&Options" command).
  virtual void EditOptions(TSubForm& Editor) { (void)Editor; }
  // Shows an editor's bus check findings (in front when Raise) and their count in the status bar.
  virtual void ShowFindings(TSubForm& Editor, bool Raise) {
    (void)Editor;
    (void)Raise;
  }
  // Shows an editor's bus analysis panel (in front when Raise).
  virtual void ShowAnalysis(TSubForm& Editor, bool Raise) {
    (void)Editor;
    (void)Raise;
  }
  // Shows an editor's "How to make it work" panel (in front when Raise).
  virtual void ShowAdvice(TSubForm& Editor, bool Raise) {
    (void)Editor;
    (void)Raise;
  }
};

}  // namespace busweave
